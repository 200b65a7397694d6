// Frame mapping: unpacking, both packings, visiting order and view layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "pixel/pixel.h"

namespace vexlor {
namespace {

FilterSettings Settings(const char* text, bool clamp) {
  FilterSettings s{};
  s.clamp = clamp ? 1 : 0;
  std::strncpy(s.text, text, kMaxTextLength);
  return s;
}

// Maps a single pixel and returns the destination word.
uint32_t MapOne(const char* text, bool clamp, uint32_t src = 0) {
  uint32_t dst = 0xDEADBEEF;
  MapFrameReference(Settings(text, clamp), {&src, 1, 1, 4}, {&dst, 1, 1, 4}, 0);
  return dst;
}

TEST(Pixel, UnpackIsChannelOver256) {
  float r, g, b;
  UnpackPixel(0xFF804020u, r, g, b);
  EXPECT_EQ(r, 0.5f);
  EXPECT_EQ(g, 0.25f);
  EXPECT_EQ(b, 0.125f);
  UnpackPixel(0x00FFFFFFu, r, g, b);
  EXPECT_EQ(r, 255.0f / 256);
  EXPECT_EQ(b, 255.0f / 256);
}

TEST(Pixel, TypicalPixel) {
  EXPECT_EQ(MapOne("rd=gs;gd=rs;bd=bs*2;", false, 0x00804020u), 0x00408040u);
}

TEST(Pixel, ClampedPacking) {
  EXPECT_EQ(MapOne("rd=1;gd=0;bd=0;", true), 0x00FF0000u);
  EXPECT_EQ(MapOne("rd=0-0.1;gd=0;bd=0;", true), 0x00000000u);
  EXPECT_EQ(MapOne("rd=0.999;gd=0;bd=0;", true), 0x00FF0000u);
  EXPECT_EQ(MapOne("rd=0;gd=0.99999999;bd=5;", true), 0x0000FFFFu);
  EXPECT_EQ(MapOne("rd=0/0-0/0;gd=1e30;bd=0-1e30;", true), 0x00000000u);
}

TEST(Pixel, WrappedPacking) {
  EXPECT_EQ(MapOne("rd=1;gd=0;bd=0;", false), 0x01000000u);
  EXPECT_EQ(MapOne("rd=0;gd=1;bd=0;", false), 0x00010000u);
  EXPECT_EQ(MapOne("rd=0;gd=0;bd=0-1/256;", false), 0xFFFFFFFFu);
  EXPECT_EQ(MapOne("rd=0;gd=0.99999999;bd=0;", false), 0x00010000u);
  EXPECT_EQ(MapOne("rd=0/0-0/0;gd=0;bd=0;", false), 0x00000000u);
  EXPECT_EQ(MapOne("rd=200;gd=0;bd=0;", false), (200u * 256u) << 16);
}

TEST(Pixel, IdentityClearsTheTopByte) {
  for (bool clamp : {false, true}) {
    EXPECT_EQ(MapOne("rd=rs;gd=gs;bd=bs;", clamp, 0xAB123456u), 0x00123456u);
    EXPECT_EQ(MapOne("rd=rs;gd=gs;bd=bs;", clamp, 0xFFFFFFFFu), 0x00FFFFFFu);
  }
}

TEST(Pixel, FailingProgramWritesZero) {
  for (bool clamp : {false, true}) {
    EXPECT_EQ(MapOne("rd=(;", clamp, 0x00FFFFFFu), 0u);
    EXPECT_EQ(MapOne("rd 1;", clamp, 0x00FFFFFFu), 0u);
  }
}

// A width x height frame in a buffer with `pad` spare pixels per row, laid
// bottom-up (negative pitch) when flip is set.
struct Frame {
  std::vector<uint32_t> buf;
  int width, height, stride;
  bool flip;
  Frame(int w, int h, int pad, bool flip_, uint32_t fill)
      : buf(size_t(w + pad) * h + 1, fill), width(w), height(h), stride(w + pad), flip(flip_) {}
  uint32_t* Base() { return flip ? buf.data() + size_t(stride) * (height - 1) : buf.data(); }
  PixelView View() { return {Base(), width, height, (flip ? -stride : stride) * 4}; }
  ConstPixelView CView() { return {Base(), width, height, (flip ? -stride : stride) * 4}; }
};

TEST(Frame, LayoutsSweep) {
  const int sizes[][2] = {{1, 1}, {3, 1}, {1, 3}, {7, 5}, {16, 9}};
  for (auto& sz : sizes)
    for (int pad : {0, 1, 3})
      for (bool flip : {false, true}) {
        Frame src(sz[0], sz[1], pad, flip, 0x77777777u), dst(sz[0], sz[1], pad, !flip, 0x55555555u);
        for (int y = 0; y < sz[1]; ++y)
          for (int x = 0; x < sz[0]; ++x) src.View().Row(y)[x] = 0xFF000000u | (x * 31 + y * 7919);
        MapFrameReference(Settings("rd=bs;gd=gs;bd=rs;", false), src.CView(), dst.View(), 0);
        for (int y = 0; y < sz[1]; ++y) {
          for (int x = 0; x < sz[0]; ++x) {
            uint32_t p = src.View().Row(y)[x];
            uint32_t want = (p & 0xFF) << 16 | (p & 0xFF00) | (p >> 16 & 0xFF);
            ASSERT_EQ(dst.View().Row(y)[x], want) << sz[0] << "x" << sz[1] << " pad " << pad;
          }
          for (int x = sz[0]; x < sz[0] + pad; ++x)  // padding untouched
            ASSERT_EQ(dst.View().Row(y)[x], 0x55555555u);
        }
      }
}

TEST(Frame, ZeroSizesWriteNothing) {
  Frame src(4, 4, 0, false, 0x00FFFFFFu), dst(4, 4, 0, false, 0x12345678u);
  for (auto wh : {std::pair{0, 4}, std::pair{4, 0}, std::pair{0, 0}}) {
    ConstPixelView s = src.CView();
    PixelView d = dst.View();
    s.width = d.width = wh.first;
    s.height = d.height = wh.second;
    MapFrameReference(Settings("rd=1;gd=1;bd=1;", true), s, d, 0);
  }
  for (uint32_t p : dst.buf) EXPECT_EQ(p, 0x12345678u);
}

TEST(Frame, RandRunsColumnByColumn) {
  RandSetState(1);
  Frame src(2, 2, 0, false, 0), dst(2, 2, 0, false, 0);
  MapFrameReference(Settings("rd=rand();gd=rd;bd=rd;", true), src.CView(), dst.View(), 0);
  // Outputs 41, 18467, 6334, 26500 in the order (0,0), (0,1), (1,0), (1,1).
  auto channel = [](int out) { return uint32_t(ToInt32(float(out * kRandScale) * 256.0)); };
  auto grey = [&](int out) { uint32_t c = channel(out); return c << 16 | c << 8 | c; };
  EXPECT_EQ(dst.View().Row(0)[0], grey(41));
  EXPECT_EQ(dst.View().Row(1)[0], grey(18467));
  EXPECT_EQ(dst.View().Row(0)[1], grey(6334));
  EXPECT_EQ(dst.View().Row(1)[1], grey(26500));
}

TEST(Frame, FrameNumberReachesTheProgram) {
  uint32_t src = 0, dst = 0;
  MapFrameReference(Settings("rd=fr/256;gd=0;bd=0;", false), {&src, 1, 1, 4}, {&dst, 1, 1, 4}, 7);
  EXPECT_EQ(dst, 7u << 16);
}

}  // namespace
}  // namespace vexlor
