// The frame digests of the module itself, driven as the host drives it: reads
// the native listing of tests/pixel/frame_digest.cpp ("DIGEST STATE CLAMP
// PROGRAM" lines) on standard input, has the module's runProc filter the same
// picture with each program and option at the same frame, and prints
// "DIGEST CLAMP PROGRAM" for each: the native listing without its generator
// state column must come out. Exit 1 when the module cannot be loaded or a
// line cannot be read.
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "test_host.h"

namespace vexlor::testhost {
namespace {

// The picture, frame and digest of the native listing.
constexpr int kSize = 256;
constexpr long kFrame = 3;

uint32_t PicturePixel(int x, int y) {
  return static_cast<uint32_t>(x << 16 | y << 8 | ((x * y) & 255));
}

// FNV-1a over the frame's words.
uint64_t Digest(const std::vector<uint32_t>& words) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t w : words) h = (h ^ w) * 1099511628211ull;
  return h;
}

// The module's frame of the picture. Each frame runs on a thread of its own,
// whose rand() generator starts at its first state, as the native listing
// sets it before each frame.
std::vector<uint32_t> ModuleFrame(FilterDefinition* def, int clamp, const std::string& program) {
  std::vector<uint32_t> src(kSize * kSize), dst(src.size());
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) src[static_cast<size_t>(y) * kSize + x] = PicturePixel(x, y);
  Instance inst(def);
  inst.Init();
  inst.Set(static_cast<uint8_t>(clamp), program);
  for (auto [bitmap, words] : {std::pair{&inst.src, &src}, std::pair{&inst.dst, &dst}}) {
    bitmap->data = words->data();
    bitmap->w = bitmap->h = kSize;
    bitmap->pitch = kSize * 4;
  }
  inst.state.lCurrentFrame = kFrame;
  std::thread([&] {
    inst.Param();
    inst.Start();
    inst.Run();
    inst.End();
  }).join();
  return dst;
}

int Main() {
  LoadedModule lib;
  FilterDefinition* def = lib.Load() ? lib.Register() : nullptr;
  if (!def) {
    std::fprintf(stderr, "module_digest: cannot load %s\n", ModulePath().c_str());
    return 1;
  }
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    uint64_t digest = 0;
    unsigned state = 0;
    int clamp = 0, start = -1;
    if (std::sscanf(line.c_str(), "%" SCNx64 " %x %d %n", &digest, &state, &clamp, &start) < 3 ||
        start < 0) {
      std::fprintf(stderr, "module_digest: not a digest line: %s\n", line.c_str());
      return 1;
    }
    std::string program = line.substr(static_cast<size_t>(start));
    std::printf("%016" PRIx64 " %d %s\n", Digest(ModuleFrame(def, clamp, program)), clamp,
                program.c_str());
  }
  lib.Deregister();
  lib.Unload();
  return 0;
}

}  // namespace
}  // namespace vexlor::testhost

int main() { return vexlor::testhost::Main(); }
