// vexlor command line: runs the filter's program outside the host, on single
// pixels, pictures and videos, and diagnoses programs. The commands are in
// cli/commands/, one file each.
#include "cli/commands/command.h"

int main(int argc, char** argv) { return vexlor::cli::RunCommandLine(argc, argv); }

#if defined(__SANITIZE_ADDRESS__)
// libx265 keeps an allocation of its own until the process ends; not ours to
// free, so the leak checker of the sanitized build passes it over.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
