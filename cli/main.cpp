// vexlor command line: runs the filter's program outside the host, on single
// pixels, pictures and videos, and diagnoses programs. The commands are in
// cli/commands/, one file each.
#include "cli/commands/command.h"

int main(int argc, char** argv) { return vexlor::cli::RunCommandLine(argc, argv); }
