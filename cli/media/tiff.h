// TIFF pictures, through libtiff in the module vexlor-tiff.so: libtiff brings
// a handful of compression libraries of its own, so the tool maps them only
// when a command meets a TIFF file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/media/picture.h"

namespace vexlor::cli {

// What the TIFF room does for the tool.
class TiffRoom {
 public:
  // Any TIFF libtiff turns into RGBA (the first picture of the file), as
  // 8-bit RGB top line first; a data failure names what is wrong.
  virtual Picture Decode(std::span<const uint8_t> bytes, const std::string& name) = 0;
  // 8-bit RGB, deflate-compressed with the horizontal predictor.
  virtual std::vector<uint8_t> Encode(const Picture& picture) = 0;

 protected:
  ~TiffRoom() = default;
};

// The TIFF room, loaded at the first call.
TiffRoom& Tiff();

}  // namespace vexlor::cli
