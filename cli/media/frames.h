// Frames by index: the one frame of a picture, or the frames of a video
// (the editor shows any of them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/media/picture.h"

namespace vexlor::cli {

// Frames by index, top line first, as packed 0x00RRGGBB pixels. A picture is
// one frame; a video decodes only the frame asked for.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual int64_t count() const = 0;
  virtual int32_t width() const = 0;
  virtual int32_t height() const = 0;
  virtual bool video() const = 0;
  // The frame at index, 0 <= index < count(); a data failure when it cannot
  // be decoded.
  virtual Picture Frame(int64_t index) = 0;
};

// The one frame of a picture file, read once.
class PictureSource : public FrameSource {
 public:
  explicit PictureSource(Picture picture) : picture_(std::move(picture)) {}
  int64_t count() const override { return 1; }
  int32_t width() const override { return picture_.width; }
  int32_t height() const override { return picture_.height; }
  bool video() const override { return false; }
  Picture Frame(int64_t) override { return picture_; }

 private:
  Picture picture_;
};

// Opens INPUT as a picture when it starts like one, else as a video (the
// video room is loaded only then); a data failure names the file when
// neither works.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path);

}  // namespace vexlor::cli
