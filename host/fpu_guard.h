// Keeps the host's floating-point environment intact around the module's
// arithmetic, and runs that arithmetic in a fixed environment of its own.
#pragma once

#include <cstdint>

namespace vexlor {

// Saves the x87 control word and MXCSR, and restores both, sticky flags
// included, when it goes out of scope; changes nothing meanwhile. For calls
// into system code, which may leave flags set in MXCSR (x86-64 code computes
// with SSE).
class FpuKeeper {
 public:
  FpuKeeper() {
    __asm__ volatile("fnstcw %0" : "=m"(savedControl_));
    __asm__ volatile("stmxcsr %0" : "=m"(savedMxcsr_));
  }
  ~FpuKeeper() {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(savedControl_));
    __asm__ volatile("ldmxcsr %0" : : "m"(savedMxcsr_));
  }
  FpuKeeper(const FpuKeeper&) = delete;
  FpuKeeper& operator=(const FpuKeeper&) = delete;

 private:
  uint16_t savedControl_;
  uint32_t savedMxcsr_;
};

// As FpuKeeper, and meanwhile selects round-to-nearest, full x87 precision,
// all exceptions masked and no flush-to-zero, so the results neither depend
// on the host's settings nor trap on 1/0 or NaN.
class FpuGuard : FpuKeeper {
 public:
  static constexpr uint16_t kControlWord = 0x037F;
  static constexpr uint32_t kMxcsr = 0x1F80;

  FpuGuard() {
    uint16_t cw = kControlWord;
    uint32_t csr = kMxcsr;
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw));
    __asm__ volatile("ldmxcsr %0" : : "m"(csr));
  }
};

}  // namespace vexlor
