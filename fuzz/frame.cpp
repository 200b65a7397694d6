// Differential: the fast frame path (a FrameMapper kept across inputs, any
// division of the work, with and without the colour memo) against
// MapFrameReference (the literal per-pixel path) on arbitrary programs and
// small frames of any layout, one frame or two in a row. Every destination
// word, the padding around the frame and the rand() generator's state
// afterwards must be equal.
//
// Input: a 16-byte header, then the program text (cut to what the settings
// record holds).
//   0      clamp option byte
//   1-4    frame number                5-8   generator state
//   9      width - 1 (mod 16)          10    height - 1 (mod 16)
//   11     layout: bit 0 source bottom-up, bit 1 destination bottom-up,
//          bits 2-3 padding pixels per row, bit 4 map in place, bit 5 the
//          memo always (else where it pays), bit 6 pixels of four colours
//          only, bit 7 a second frame (the same number or the next) after
//          the first
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

  options.memo = layout & 32 ? MemoUse::kAlways : MemoUse::kAuto;
  // One mapper for every input, as a video filter keeps one: its plan and
  // memo outlive a frame, and a new program must not find the old words.
  static FrameMapper mapper;
  int32_t pad = (layout >> 2) & 3;
  for (int round = 0; round < (layout & 128 ? 2 : 1); ++round) {
    Frame src(width, height, pad, layout & 1, 0);
    for (uint32_t& p : src.pixels) {
      seed = seed * 1664525u + 1013904223u;
      p = layout & 64 ? 0x00405060u * ((seed >> 20) & 3) : seed ^ (seed >> 15);
    }
    bool inPlace = layout & 16;
    Frame expected(width, height, pad, inPlace ? src.bottomUp : layout & 2, kUntouched);
    Frame actual = inPlace ? src : expected;
    if (inPlace)  // the padding of the expected frame is what the source held
      expected.pixels = src.pixels;

    int32_t number = round == 0 ? frame : frame + int32_t(seed & 1) * (frame < INT32_MAX);
    RandSetState(state);
    MapFrameReference(settings, src.In(), expected.Out(), number);
    uint32_t expectedState = RandState();
    RandSetState(state);
    mapper.Map(settings, inPlace ? actual.In() : src.In(), actual.Out(), number, options);
    Expect(actual.pixels == expected.pixels, "the fast path and the reference wrote different words");
    Expect(RandState() == expectedState, "the fast path left the generator in another state");
  }
  return 0;
}
