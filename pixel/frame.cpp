// Frame mapping: converts packed source pixels to channel values, runs the
// program, and packs the results into the destination, column by column.
#include <algorithm>
#include <cstring>

#include "engine/engine.h"
#include "pixel/frame_plan.h"
#include "pixel/pixel.h"

namespace vexlor {

void UnpackPixel(uint32_t p, float& rs, float& gs, float& bs) {
  rs = static_cast<float>((p & 0xFF0000u) * 0x1p-24);
  gs = static_cast<float>((p & 0xFF00u) * 0x1p-16);
  bs = static_cast<float>((p & 0xFFu) * 0x1p-8);
}

// ToInt32(v * 256): a NaN, an infinity or a huge value gives 0.
static int32_t ChannelValue(float v) { return ToInt32(static_cast<double>(v) * 256.0); }

uint32_t PackPixel(float rd, float gd, float bd, bool clamp) {
  int32_t r = ChannelValue(rd), g = ChannelValue(gd), b = ChannelValue(bd);
  if (clamp) {
    r = std::clamp(r, 0, 255);
    g = std::clamp(g, 0, 255);
    b = std::clamp(b, 0, 255);
    return static_cast<uint32_t>(r << 16 | g << 8 | b);
  }
  return static_cast<uint32_t>(r) * 65536u + static_cast<uint32_t>(g) * 256u +
         static_cast<uint32_t>(b);
}

std::string_view SettingsText(const FilterSettings& settings) {
  const char* end = std::find(settings.text, settings.text + kTextSize, '\0');
  return std::string_view(settings.text, static_cast<size_t>(end - settings.text));
}

void SetSettingsText(FilterSettings& settings, std::string_view text) {
  size_t n = std::min(text.size(), static_cast<size_t>(kMaxTextLength));
  std::memcpy(settings.text, text.data(), n);
  settings.text[n] = '\0';
}

void MapFrameReference(const FilterSettings& settings, ConstPixelView src, PixelView dst,
                       int32_t frame) {
  std::string_view text = SettingsText(settings);
  bool clamp = settings.clamp != 0;
  // The holders live for the whole frame: a failing program never writes
  // them, so every pixel of such a frame receives 0.
  float rd = 0.0f, gd = 0.0f, bd = 0.0f;
  for (int32_t x = 0; x < src.width; ++x) {
    for (int32_t y = 0; y < src.height; ++y) {
      float rs, gs, bs;
      UnpackPixel(src.Row(y)[x], rs, gs, bs);
      RunStatements(text, rs, gs, bs, frame, rd, gd, bd);
      dst.Row(y)[x] = PackPixel(rd, gd, bd, clamp);
    }
  }
}

void MapFrame(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
              int threads) {
  FrameOptions options;
  options.threads = threads;
  MapFrameWith(settings, src, dst, frame, options);
}

}  // namespace vexlor
