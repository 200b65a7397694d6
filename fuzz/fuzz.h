// Shared by the fuzz targets: broken invariants stop the run with a message,
// so that libFuzzer keeps the input that broke them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vexlor::fuzz {

[[noreturn]] inline void Fault(const char* what) {
  std::fprintf(stderr, "fuzz fault: %s\n", what);
  std::abort();
}

inline void Expect(bool ok, const char* what) {
  if (!ok) Fault(what);
}

// Whether two floats hold the same bits (NaNs included).
inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace vexlor::fuzz
