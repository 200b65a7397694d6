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
  // How far a player turns the frames to show them upright, clockwise in
  // degrees: 0, 90, 180 or 270 (a video's display matrix; the pixels
  // filtered are the stored frame's, as apply filters them).
  virtual int rotation() const { return 0; }
  // Frames per second as the video states it; 0 for a picture or when the
  // video states none.
  virtual double frameRate() const { return 0; }
  // The frame that decoding starts from to reach frame `index` (its key
  // frame); a cache that wants the frames before `index` asks for them from
  // there, in order, each without a new seek.
  virtual int64_t KeyBefore(int64_t index) const { return index; }
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
