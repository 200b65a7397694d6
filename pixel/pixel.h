// vexlor pixel program: the statement runner that executes the user's
// assignments for one pixel, and frame mapping over whole bitmaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "pixel/statements.h"

namespace vexlor {

// ---- Instance settings ----------------------------------------------------

inline constexpr int kTextSize = 2048;  // program text bytes, terminator included
inline constexpr int kMaxTextLength = kTextSize - 1;
// Every text the field holds nests less deeply than the compiler's bound.
static_assert(kMaxNesting > kMaxTextLength, "a settings text may nest a level per character");

// The per-instance record the host allocates, stores and copies as plain
// bytes: the clamp option ("Verify 0-1 limits") and the program text.
struct FilterSettings {
  uint8_t clamp;
  char text[kTextSize];
};
static_assert(sizeof(FilterSettings) == 2049, "the host stores exactly 2049 bytes");

// The program text of a record, never read past the text field even when a
// record lacks its terminator.
std::string_view SettingsText(const FilterSettings& settings);
// Replaces the program text, cut to its first 2047 characters.
void SetSettingsText(FilterSettings& settings, std::string_view text);

// The host's escaping of a string literal: a backslash before '"' and '\',
// and \xhh for every byte that is not printable ASCII.
std::string ScriptEscape(std::string_view text);
// The whole script line the host saves for a record:
// Config("<escaped text>", <0 or 1>).
std::string ScriptLine(const FilterSettings& settings);

// ---- Statement runner -----------------------------------------------------

// Runs the program for one pixel. Returns false when a statement has no '='
// or does not compile; the outputs are then left unwritten. Variables read
// before the program assigns them (rd, gd, bd and new names) start at 0.
bool RunStatements(std::string_view text, float rs, float gs, float bs, int32_t frame, float& rd,
                   float& gd, float& bd);

// The configuration dialog's test: runs the program on rs = gs = bs = 0.5 at
// frame 100 and returns the message the user is shown; `runs`, when given,
// receives whether the program ran.
std::string TestMessage(std::string_view text, bool* runs = nullptr);

// ---- Frame mapping --------------------------------------------------------

// A non-owning view of 32-bit packed pixels (0x??RRGGBB) with a signed byte
// pitch: row y starts y * (pitch >> 2) pixels from data.
template <typename Pixel>
struct ImageView {
  Pixel* data;
  int32_t width;
  int32_t height;
  int32_t pitch;
  Pixel* Row(int32_t y) const { return data + static_cast<ptrdiff_t>(y) * (pitch >> 2); }
  // A view of writable pixels is also one of read-only pixels.
  operator ImageView<const Pixel>() const
    requires(!std::is_const_v<Pixel>)
  {
    return {data, width, height, pitch};
  }
};
using PixelView = ImageView<uint32_t>;
using ConstPixelView = ImageView<const uint32_t>;

// Bit position of each channel in a packed pixel: red, green, blue.
inline constexpr int kChannelShift[3] = {16, 8, 0};

// A source channel's value, channel / 256 (exact in float and in double), of
// the channel at `shift` in a packed pixel.
inline double ChannelValue(uint32_t p, int shift) {
  return static_cast<double>((p >> shift) & 0xFFu) * 0x1p-8;
}

// An output channel value as the integer that packing adds: rounded to
// single precision, scaled by 256 and converted with ToInt32.
inline int32_t ChannelCode(double v) {
  return ToInt32(static_cast<double>(static_cast<float>(v)) * 256.0);
}

// The destination bits of one output channel value: its code, limited to
// 0..255 with clamp, and shifted to the channel's place. The three channels' terms add
// up, modulo 2^32, to the packed pixel.
inline uint32_t ChannelTerm(double v, bool clamp, int shift) {
  int32_t c = ChannelCode(v);
  if (clamp) c = c < 0 ? 0 : c > 255 ? 255 : c;
  return static_cast<uint32_t>(c) << shift;
}

// Whether an output channel value, packed without the clamp option, leaves
// 0..255 and so carries into (or borrows from) the bits above its own.
inline bool ChannelCarries(double v) { return static_cast<uint32_t>(ChannelCode(v)) > 255u; }

// What the mapping of a frame found besides its pixels, the same on every
// path.
struct FrameReport {
  // Pixels with at least one output channel that carried (ChannelCarries);
  // always 0 with the clamp option.
  int64_t carried = 0;
};

// Channel values of a packed source pixel's red, green and blue.
void UnpackPixel(uint32_t p, float& rs, float& gs, float& bs);
// Packs output channel values into a pixel: limited to 0..255 each with the
// clamp option, else added with carries modulo 2^32.
uint32_t PackPixel(float rd, float gd, float bd, bool clamp);

// The straightforward frame mapping: the whole program runs through
// RunStatements for every pixel, column by column. The fast path must match
// it bit for bit.
// Given a report, it receives what the frame's mapping found (the fast path
// counts only then).
void MapFrameReference(const FilterSettings& settings, ConstPixelView src, PixelView dst,
                       int32_t frame, FrameReport* report = nullptr);

// Frame mapping as the filter runs it, on up to `threads` threads (0: one per
// core). dst has src's width and height. The result does not depend on the
// thread count. Calls go through one FrameMapper for the process
// (pixel/frame_plan.h), which keeps the plan, the colour memo and the threads
// from one frame to the next.
void MapFrame(const FilterSettings& settings, ConstPixelView src, PixelView dst, int32_t frame,
              int threads = 0, FrameReport* report = nullptr);

}  // namespace vexlor
