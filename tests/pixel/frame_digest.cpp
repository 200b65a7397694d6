// Prints a digest of the frames that a fixed set of programs makes from a
// fixed picture. The test command runs it natively and under wine and
// compares the two listings: the command-line tool and the plug-in module
// must give the same pixels.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/engine.h"
#include "pixel/pixel.h"

namespace {

constexpr const char* kPrograms[] = {
    "rd=rs;gd=gs;bd=bs;",
    "rd=rs*0.5;gd=gs;bd=bs;",
    "rd=1-rs;gd=(gs+bs)/2;bd=max(rs,gs,bs)-min(rs,gs,bs);",
    "rd=rs*3-1;gd=gs*gs*4;bd=0-bs;",
    "rd=trunc(rs*7)/7;gd=round(gs*3)/3;bd=floor(bs*5)/5+ceil(rs)*0.1;",
    "rd=(rs*255|gs*255)/255;gd=(rs*255&bs*255)/255;bd=(gs*255~bs*255)/255;",
    "rd=if(rs>gs,rs,gs);gd=(rs<=bs)+(gs==bs)*0.5;bd=not(rs)+(gs!=bs)*0.25;",
    "rd=sqr(rs)+sqrt(gs)*0.1;gd=abs(rs-gs);bd=med(rs,gs,bs)+sum(rs,gs)*0.1;",
    "rd=deg(rs)/60;gd=rad(gs*100);bd=fac(bs*8)/40320;",
    "rd=rs%0.3*3;gd=fr/10;bd=pi/e-1;",
    "rd=rand();gd=rand()*rs;bd=rand()*bs;",
    "t=rs*2;u=t*gs;rd=u;gd=t-u;bd=t*t;",
    "rd=sin(rs*pi);gd=cos(gs*pi);bd=tan(bs);",
    "rd=exp(rs)-1;gd=log(gs+1);bd=log10(bs*9+1);",
    "rd=rs^gs;gd=sqrt(gs);bd=atan(bs*4)/1.4;",
    "rd=sinh(rs);gd=cosh(gs)-1;bd=tanh(bs*3);",
    "rd=asin(rs);gd=acos(gs)/2;bd=rs^0.45;",
    "x=sin(rs*10+fr)*0.5+0.5;rd=x;gd=x*gs;bd=exp(0-bs*3);",
    "rd=1/0;gd=0-1/0;bd=sqrt(0-1);",
    "rd=(;",
};

constexpr int kSize = 256;

// FNV-1a over the frame's words.
uint64_t Digest(const std::vector<uint32_t>& words) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t w : words) h = (h ^ w) * 1099511628211ull;
  return h;
}

}  // namespace

int main() {
  using namespace vexlor;
  std::vector<uint32_t> src(kSize * kSize), dst(src.size());
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) src[size_t(y) * kSize + x] = uint32_t(x << 16 | y << 8 | ((x * y) & 255));
  for (const char* program : kPrograms)
    for (int clamp = 0; clamp < 2; ++clamp) {
      FilterSettings settings{};
      settings.clamp = uint8_t(clamp);
      SetSettingsText(settings, program);
      RandSetState(1);
      MapFrame(settings, {src.data(), kSize, kSize, kSize * 4}, {dst.data(), kSize, kSize, kSize * 4}, 3);
      std::printf("%016llx %08x %d %s\n", static_cast<unsigned long long>(Digest(dst)), RandState(),
                  clamp, program);
    }
  return 0;
}
