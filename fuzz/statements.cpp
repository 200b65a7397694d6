// RunStatements on arbitrary bytes of any length, and the check command's
// diagnosis of the same text, which must agree with the runner's verdict.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "explain/check.h"
#include "engine/engine.h"
#include "fuzz.h"
#include "pixel/pixel.h"

using namespace vexlor;
using vexlor::fuzz::Expect;
using vexlor::fuzz::SameBits;

namespace {

struct Outputs {
  bool ok;
  float rd, gd, bd;
};

// One run from a fixed generator state; the outputs start at a value that
// shows when a failing run writes them.
Outputs Run(std::string_view text) {
  RandSetState(12345);
  Outputs o{false, -7.0f, -7.0f, -7.0f};
  o.ok = RunStatements(text, 0.5f, 0.25f, 1.0f / 256, 7, o.rd, o.gd, o.bd);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Outputs first = Run(text);
  uint32_t state = RandState();
  if (!first.ok)
    Expect(first.rd == -7.0f && first.gd == -7.0f && first.bd == -7.0f,
           "a failing program wrote its outputs");
  // Nothing of one run may leak into the next.
  Outputs again = Run(text);
  Expect(again.ok == first.ok && SameBits(again.rd, first.rd) && SameBits(again.gd, first.gd) &&
             SameBits(again.bd, first.bd) && RandState() == state,
         "the same program gave different results");

  ProgramReport report = CheckProgram(text);
  bool anyFails = std::any_of(report.statements.begin(), report.statements.end(),
                              [](const StatementReport& r) { return r.fails; });
  Expect(report.runs == first.ok, "check's verdict differs from the runner's");
  Expect(report.runs != anyFails, "check blames a statement of a program that runs, or none");
  for (const StatementReport& r : report.statements)
    Expect(r.offset <= r.text.size(), "check's error column lies outside its statement");
  FormatReport(report, true);
  TestMessage(text);
  return 0;
}
