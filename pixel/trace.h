// One pixel followed through the program: the value each statement assigned,
// in order, and the pixel packed from the outputs. The editor shows it when
// the user asks why a pixel has its colour.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "pixel/pixel.h"

namespace vexlor {

// One statement as it ran for the pixel.
struct TracedStatement {
  std::string_view text;        // the statement, up to its ';'
  std::string_view name;        // the name left of '=', trimmed
  std::string_view expression;  // the expression as the compiler took it
  bool assigns = false;         // the name took the value (false: no effect)
  bool newVariable = false;     // the name is the program's own
  double value = 0;             // what the expression gave
};

// What the program made of one pixel.
struct PixelTrace {
  bool runs = false;  // false: a statement has no '=' or does not compile
  float rs = 0, gs = 0, bs = 0;
  int32_t frame = 0;
  std::vector<TracedStatement> statements;  // those that ran, in order
  float rd = 0, gd = 0, bd = 0;             // the outputs as they are packed
  uint32_t packed = 0;                      // the output pixel, 0x??RRGGBB
  bool carries[3] = {};                     // each output channel left 0..255 (without clamp)
};

// The statement runner (RunStatements) with each statement recorded into
// `trace` when given.
bool RunStatementsTraced(std::string_view text, float rs, float gs, float bs, int32_t frame,
                         float& rd, float& gd, float& bd, std::vector<TracedStatement>* trace);

// Runs a program on one pixel's channel values as the statement runner does,
// recording each statement's value. rand() goes on from this thread's
// generator, exactly as the pixel's run in a frame would call it.
PixelTrace TraceStatements(std::string_view text, bool clamp, float rs, float gs, float bs,
                           int32_t frame);

}  // namespace vexlor
