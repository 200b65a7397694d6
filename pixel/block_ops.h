// The operations of the fast frame path, each run over a whole array of
// values at once. Every operation gives, element by element, the bits that the
// engine's handler gives for the same operands: the inlined ones call the
// same functions of engine/ops.h as the handlers, everything else calls the
// engine's own handler.
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
};

// One operation with its fixed parameters.
struct Kernel {
  BlockOp op;
  int argc;                       // operand count
  double factor = 0.0;            // kScale: the multiplier
  UnaryHandler unary = nullptr;   // kUnary
  BinaryHandler binary = nullptr; // kBinary
};

// Whether an instruction calls rand(), whose values the frame path draws
// from the generator itself.
bool IsRandCall(const Instruction& in);

// The kernel of a CallUnary, CallBinary or CallList instruction other than
// rand(), found through the identifier of the handler's row; false for a
// handler of no row.
bool KernelOf(const Instruction& in, Kernel& k);

// out[i] = op(args[0][i], args[1][i], ...) for i < n. out must not overlap
// any operand.
void RunKernel(const Kernel& k, double* out, const double* const* args, int n);

// What AddChannelTerms does with each value's channel code (ChannelCode, as
// unsigned: above 255 where the channel carries) besides adding its term.
enum class CodeUse : uint8_t {
  kNone,
  kStore,    // codes[i] = code
  kOr,       // codes[i] |= code
  kCount,    // counts the codes above 255
  kOrCount,  // counts the pixels whose codes[i] | code is above 255
  kAny,      // without memory: returns a value above 255 if a code carried, else at most 255
};

// out[i] += ChannelTerm(v[i], clamp, shift) for i < n, and the codes used as
// `use` says (always kNone with clamp). Returns the count of a counting use,
// kAny's value, else 0.
uint32_t AddChannelTerms(uint32_t* out, const double* v, int n, bool clamp, int shift,
                         uint32_t* codes = nullptr, CodeUse use = CodeUse::kNone);

// codes[i] |= ChannelCode(v[i]) (as unsigned) for i < n.
void OrChannelCodes(uint32_t* codes, const double* v, int n);

}  // namespace vexlor
