// Following one pixel through the program, through the statement runner's
// own loop, so that the values are the ones the frame mapping computes.
#include "pixel/trace.h"

namespace vexlor {

PixelTrace TraceStatements(std::string_view text, bool clamp, float rs, float gs, float bs,
                           int32_t frame) {
  PixelTrace t;
  t.rs = rs;
  t.gs = gs;
  t.bs = bs;
  t.frame = frame;
  t.runs = RunStatementsTraced(text, rs, gs, bs, frame, t.rd, t.gd, t.bd, &t.statements);
  if (!t.runs) return t;
  t.packed = PackPixel(t.rd, t.gd, t.bd, clamp);
  const float outputs[3] = {t.rd, t.gd, t.bd};
  for (int c = 0; c < 3; ++c) t.carries[c] = !clamp && ChannelCarries(outputs[c]);
  return t;
}

}  // namespace vexlor
