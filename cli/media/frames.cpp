// Opening a file as frames: a picture read once, or a video's frames through
// the video room.
#include "cli/media/frames.h"

#include "cli/media/video.h"

namespace vexlor::cli {

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path) {
  if (path == "-" || StartsLikePicture(path))
    return std::make_unique<PictureSource>(ReadPicture(path));
  return Video().OpenFrames(path);
}

}  // namespace vexlor::cli
