// Opening serve's INPUT: the video adapter, when the build has the video
// reader, and the picture case.
#include "cli/serve_source.h"

#include <unistd.h>

#if __has_include("cli/video.h")
#include "cli/video.h"
#define VEXLOR_SERVE_VIDEO 1
#endif

namespace vexlor::cli {

namespace {

#ifdef VEXLOR_SERVE_VIDEO
// A video's frames through the video reader, which seeks to the nearest key
// frame and decodes forward to the frame asked for.
class VideoSource : public FrameSource {
 public:
  explicit VideoSource(const std::string& path) : frames_(path) {}
  int64_t count() const override { return frames_.count(); }
  int32_t width() const override { return frames_.width(); }
  int32_t height() const override { return frames_.height(); }
  bool video() const override { return true; }
  Picture Frame(int64_t index) override { return frames_.Frame(index); }

 private:
  VideoFrames frames_;
};
#endif

}  // namespace

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path) {
#ifdef VEXLOR_SERVE_VIDEO
  if (IsVideoFile(path)) return std::make_unique<VideoSource>(path);
  return std::make_unique<PictureSource>(ReadPicture(path));
#else
  try {
    return std::make_unique<PictureSource>(ReadPicture(path));
  } catch (const Failure& failure) {
    if (failure.status != kExitData || ::access(path.c_str(), R_OK) != 0) throw;
    // A video is not a picture either: say why this build cannot take it.
    throw Failure(failure.status, std::string(failure.what()) + " (" + kNoVideoSupport + ")");
  }
#endif
}

}  // namespace vexlor::cli
