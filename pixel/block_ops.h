// The operations of the fast frame path, each run over a whole array of
// values at once. Every operation gives, element by element, the bits that the
// engine's handler gives for the same operands: the inlined ones are exactly
// rounded IEEE operations, everything else calls the engine's own handler.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace vexlor {

enum class BlockOp : uint8_t {
  // Inlined operators and functions.
  kAdd, kSub, kMul, kDiv, kEq, kNe, kLt, kLe, kGt, kGe,
  kNeg, kSqr, kScale, kSqrt, kAbs, kFloor, kCeil, kNot,
  // Any other one- or two-argument handler, called per element.
  kUnary, kBinary,
  // List functions, which the engine runs on its single value stack.
  kIf, kMax, kMin, kSum, kMed,
  // Values that are no operation of their operands.
  kConstant, kInput, kRand, kGather, kGatherPair,
};

// One operation with its fixed parameters.
struct Kernel {
  BlockOp op;
  int argc;                     // operand count
  double factor;                // kScale: the multiplier
  UnaryHandler unary;           // kUnary
  BinaryHandler binary;         // kBinary
};

// The kernel of a CallUnary, CallBinary or CallList instruction, recognised
// by its handler among the rows of the engine's tables; false for a handler
// of no row.
bool KernelOf(const Instruction& in, Kernel& k);

// out[i] = op(args[0][i], args[1][i], ...) for i < n, for the operations from
// kAdd to kMed. out must not overlap any operand.
void RunKernel(const Kernel& k, double* out, const double* const* args, int n);

// The destination bits of one output channel value: rounded to single
// precision, scaled by 256, converted with ToInt32, limited to 0..255 with
// clamp, and shifted to the channel's place (16 red, 8 green, 0 blue). The
// three channels' terms add up, modulo 2^32, to PackPixel's word.
uint32_t ChannelTerm(double v, bool clamp, int shift);

// out[i] += ChannelTerm(v[i], clamp, shift) for i < n.
void AddChannelTerms(uint32_t* out, const double* v, int n, bool clamp, int shift);

}  // namespace vexlor
