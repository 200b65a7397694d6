// Pictures: pixels held top line first, and their PNG and PPM files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/failure.h"

namespace vexlor::cli {

// Pixels of a picture, top line first, as packed 0x00RRGGBB values.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
};

// Pictures and frames hold at most this many pixels: 1 GiB per buffer.
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

enum class PictureFormat { Png, Ppm };

// Format named by a file name's extension (.png or .ppm, any case); a usage
// failure for any other.
PictureFormat FormatForName(const std::string& path);

// Decoders take a file's bytes; `name` appears in their failure messages.
Picture DecodePicture(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodePng(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodePpm(std::span<const uint8_t> bytes, const std::string& name);
// Encoders write 8-bit RGB; the pixels' top byte is dropped. A fast PNG holds
// the same pixels uncompressed, for a preview that must come quickly.
enum class PngCompression { Small, Fast };
std::vector<uint8_t> EncodePng(const Picture& picture,
                               PngCompression compression = PngCompression::Small);
std::vector<uint8_t> EncodePpm(const Picture& picture);

Picture ReadPicture(const std::string& path);
void WritePicture(const std::string& path, const Picture& picture);

// Why width x height is not a size the tool handles, or nullptr when it is.
const char* PictureSizeProblem(int64_t width, int64_t height);

}  // namespace vexlor::cli
