// The commands of the vexlor tool, one function each.
#pragma once

#include "cli/base/args.h"

namespace vexlor::cli {

// Each runs one command on its parsed arguments and returns the exit status.
int RunTest(Args& args);
int RunPixel(Args& args);
int RunApply(Args& args);
int RunStream(Args& args);
int RunCheck(Args& args);
int RunServe(Args& args);

}  // namespace vexlor::cli
