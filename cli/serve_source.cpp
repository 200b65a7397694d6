// Opening serve's INPUT: a video through the video reader, else a picture.
#include "cli/serve_source.h"

#include "cli/video.h"

namespace vexlor::cli {

namespace {

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

}  // namespace

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path) {
  if (IsVideoFile(path)) return std::make_unique<VideoSource>(path);
  return std::make_unique<PictureSource>(ReadPicture(path));
}

}  // namespace vexlor::cli
