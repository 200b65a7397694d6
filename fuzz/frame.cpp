// Differential: MapFrame (the filter's path, on any thread count) against
// MapFrameReference (the literal per-pixel path) on arbitrary programs and
// small frames of any layout. Every destination word, the padding around the
// frame and the rand() generator's state afterwards must be equal.
//
// Input: a 16-byte header, then the program text (cut to what the settings
// record holds).
//   0      clamp option byte          1-4   frame number
//   5-8    generator state             9     width - 1 (0..7)
//   10     height - 1 (0..7)           11    bit 0: source bottom-up, bit 1:
//   12     thread count (0..3)               destination bottom-up, bits 2-3:
//   13-15  seed of the source pixels         padding pixels per row
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "fuzz.h"
#include "pixel/pixel.h"

using namespace vexlor;
using vexlor::fuzz::Expect;

namespace {

constexpr size_t kHeader = 16;
constexpr uint32_t kUntouched = 0xDEADBEEF;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// A frame buffer with `pad` spare pixels after each row, and a view of it
// stored top-down or bottom-up.
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
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  FilterSettings settings{};
  settings.clamp = data[0];
  int32_t frame = static_cast<int32_t>(Le32(data + 1));
  uint32_t state = Le32(data + 5);
  int32_t width = data[9] % 8 + 1, height = data[10] % 8 + 1;
  int32_t pad = (data[11] >> 2) % 4;
  int threads = data[12] % 4;
  uint32_t seed = data[13] | data[14] << 8 | uint32_t(data[15]) << 16;
  size_t textSize = std::min(size - kHeader, size_t(kMaxTextLength));
  std::memcpy(settings.text, data + kHeader, textSize);

  Frame src(width, height, pad, data[11] & 1, 0);
  for (uint32_t& p : src.pixels) {
    seed = seed * 1664525u + 1013904223u;
    p = seed ^ (seed >> 15);
  }
  Frame expected(width, height, pad, data[11] & 2, kUntouched);
  Frame actual = expected;

  RandSetState(state);
  MapFrameReference(settings, src.View<const uint32_t>(src.pixels.data()),
                    expected.View(expected.pixels.data()), frame);
  uint32_t expectedState = RandState();
  RandSetState(state);
  MapFrame(settings, src.View<const uint32_t>(src.pixels.data()),
           actual.View(actual.pixels.data()), frame, threads);
  Expect(actual.pixels == expected.pixels, "MapFrame and MapFrameReference wrote different words");
  Expect(RandState() == expectedState, "MapFrame left the generator in another state");
  return 0;
}
