// Differential: the fast frame path (MapFrameWith, any division of the work)
// against MapFrameReference (the literal per-pixel path) on arbitrary
// programs and small frames of any layout. Every destination word, the
// padding around the frame and the rand() generator's state afterwards must
// be equal.
//
// Input: a 16-byte header, then the program text (cut to what the settings
// record holds).
//   0      clamp option byte
//   1-4    frame number                5-8   generator state
//   9      width - 1 (mod 16)          10    height - 1 (mod 16)
//   11     layout: bit 0 source bottom-up, bit 1 destination bottom-up,
//          bits 2-3 padding pixels per row, bit 4 map in place
//   12     work: bits 0-1 threads, bit 2 two-channel tables, bits 3-7 pixels
//          per block - 1
//   13-15  seed of the source pixels
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "fuzz.h"
#include "pixel/frame_plan.h"
#include "pixel/pixel.h"

using namespace vexlor;
using vexlor::fuzz::Expect;

namespace {

constexpr size_t kHeader = 16;
constexpr uint32_t kUntouched = 0xDEADBEEF;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// A frame buffer with `pad` spare pixels after each row, seen top-down or
// bottom-up.
struct Frame {
  std::vector<uint32_t> pixels;
  int32_t width, height, stride;
  bool bottomUp;

  Frame(int32_t w, int32_t h, int32_t pad, bool up, uint32_t fill)
      : pixels(size_t(w + pad) * h, fill), width(w), height(h), stride(w + pad), bottomUp(up) {}

  template <typename Pixel>
  ImageView<Pixel> View(Pixel* data) const {
    if (!bottomUp) return {data, width, height, stride * 4};
    return {data + ptrdiff_t(height - 1) * stride, width, height, -stride * 4};
  }
  ConstPixelView In() const { return View<const uint32_t>(pixels.data()); }
  PixelView Out() { return View(pixels.data()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  FilterSettings settings{};
  settings.clamp = data[0];
  int32_t frame = static_cast<int32_t>(Le32(data + 1));
  uint32_t state = Le32(data + 5);
  int32_t width = data[9] % 16 + 1, height = data[10] % 16 + 1;
  uint8_t layout = data[11], work = data[12];
  uint32_t seed = data[13] | data[14] << 8 | uint32_t(data[15]) << 16;
  std::memcpy(settings.text, data + kHeader, std::min(size - kHeader, size_t(kMaxTextLength)));

  FrameOptions options;
  options.threads = work & 3;
  options.minPixelsPerThread = 1;
  options.minPixelsForPairTables = work & 4 ? 0 : INT64_MAX;
  options.blockPixels = (work >> 3) + 1;

  int32_t pad = (layout >> 2) & 3;
  Frame src(width, height, pad, layout & 1, 0);
  for (uint32_t& p : src.pixels) {
    seed = seed * 1664525u + 1013904223u;
    p = seed ^ (seed >> 15);
  }
  bool inPlace = layout & 16;
  Frame expected(width, height, pad, inPlace ? src.bottomUp : layout & 2, kUntouched);
  Frame actual = inPlace ? src : expected;
  if (inPlace)  // the padding of the expected frame is what the source held
    expected.pixels = src.pixels;

  RandSetState(state);
  MapFrameReference(settings, src.In(), expected.Out(), frame);
  uint32_t expectedState = RandState();
  RandSetState(state);
  MapFrameWith(settings, inPlace ? actual.In() : src.In(), actual.Out(), frame, options);
  Expect(actual.pixels == expected.pixels, "the fast path and the reference wrote different words");
  Expect(RandState() == expectedState, "the fast path left the generator in another state");
  return 0;
}
