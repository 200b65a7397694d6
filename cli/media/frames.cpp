// Opening a file as frames: a picture read once, or a video's frames through
// the video room.
#include "cli/media/frames.h"

#include "cli/media/video.h"

namespace vexlor::cli {

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path) {
  if (path == "-") return std::make_unique<PictureSource>(ReadPicture(path));
  if (std::optional<Picture> picture = ReadIfPicture(path))
    return std::make_unique<PictureSource>(std::move(*picture));
  return Video().OpenFrames(path);
}

}  // namespace vexlor::cli
