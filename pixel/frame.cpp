// Frame mapping: converts packed source pixels to channel values, runs the
// program, and packs the results into the destination, column by column.
#include <algorithm>
#include <cstring>

#include "engine/engine.h"
#include "pixel/frame_plan.h"
#include "pixel/pixel.h"

namespace vexlor {

void UnpackPixel(uint32_t p, float& rs, float& gs, float& bs) {
  rs = static_cast<float>(ChannelValue(p, kChannelShift[0]));
  gs = static_cast<float>(ChannelValue(p, kChannelShift[1]));
  bs = static_cast<float>(ChannelValue(p, kChannelShift[2]));
}

// A float converts to double and back unchanged, so the terms of the
// channels' values are the values' own.
uint32_t PackPixel(float rd, float gd, float bd, bool clamp) {
  return ChannelTerm(rd, clamp, kChannelShift[0]) + ChannelTerm(gd, clamp, kChannelShift[1]) +
         ChannelTerm(bd, clamp, kChannelShift[2]);
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
                       int32_t frame, FrameReport* report) {
  std::string_view text = SettingsText(settings);
  bool clamp = settings.clamp != 0;
  int64_t carried = 0;
  // The holders live for the whole frame: a failing program never writes
  // them, so every pixel of such a frame receives 0.
  float rd = 0.0f, gd = 0.0f, bd = 0.0f;
  for (int32_t x = 0; x < src.width; ++x) {
    for (int32_t y = 0; y < src.height; ++y) {
      float rs, gs, bs;
      UnpackPixel(src.Row(y)[x], rs, gs, bs);
      RunStatements(text, rs, gs, bs, frame, rd, gd, bd);
      dst.Row(y)[x] = PackPixel(rd, gd, bd, clamp);
      carried += !clamp && (ChannelCarries(rd) || ChannelCarries(gd) || ChannelCarries(bd));
    }
  }
  if (report) report->carried = carried;
}

void MapFrame(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
              int threads, FrameReport* report) {
  FrameOptions options;
  options.threads = threads;
  MapFrameWith(settings, src, dst, frame, options, report);
}

}  // namespace vexlor
