// WebP through libwebp's simple interface: still pictures in (lossy or
// lossless, alpha dropped), lossless or lossy at a given quality out.
#include <webp/decode.h>
#include <webp/encode.h>

#include <memory>

#include "cli/media/picture.h"

namespace vexlor::cli {

namespace {

// Frees what libwebp allocated.
struct WebpFree {
  void operator()(uint8_t* p) const { WebPFree(p); }
};
using WebpBytes = std::unique_ptr<uint8_t, WebpFree>;

}  // namespace

bool StartsLikeWebp(std::span<const uint8_t> bytes) {
  return bytes.size() >= 12 && std::equal(bytes.begin(), bytes.begin() + 4, "RIFF") &&
         std::equal(bytes.begin() + 8, bytes.begin() + 12, "WEBP");
}

Picture DecodeWebp(std::span<const uint8_t> bytes, const std::string& name) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
    FailData(name + ": corrupt WebP (the header is incomplete)");
  if (features.has_animation) FailData(name + ": unsupported WebP (animated; only still pictures)");
  if (const char* problem = PictureSizeProblem(features.width, features.height))
    FailData(name + ": " + problem);
  int width = 0, height = 0;
  WebpBytes rgb(WebPDecodeRGB(bytes.data(), bytes.size(), &width, &height));
  if (!rgb) FailData(name + ": corrupt WebP (the picture does not decode)");
  Picture picture{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
  PixelsFromRgb(rgb.get(), picture.pixels);
  return picture;
}

std::vector<uint8_t> EncodeWebp(const Picture& picture, int quality) {
  if (picture.width > WEBP_MAX_DIMENSION || picture.height > WEBP_MAX_DIMENSION)
    FailData("cannot encode WebP: the picture is larger than 16383 pixels a side");
  std::vector<uint8_t> rgb(picture.pixels.size() * 3);
  PixelsToRgb(picture.pixels, rgb.data());
  uint8_t* out = nullptr;
  int stride = picture.width * 3;
  size_t size = quality == kLosslessQuality
                    ? WebPEncodeLosslessRGB(rgb.data(), picture.width, picture.height, stride, &out)
                    : WebPEncodeRGB(rgb.data(), picture.width, picture.height, stride,
                                    static_cast<float>(quality), &out);
  WebpBytes owned(out);
  if (size == 0) FailData("cannot encode WebP");
  return std::vector<uint8_t>(out, out + size);
}

}  // namespace vexlor::cli
