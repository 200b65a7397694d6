// Runs many vexlor command lines in one process, each as a fresh process
// would run it (rand()'s generator at its first state), so that the checks
// that run the tool thousands of times do not pay a start for each: the
// sanitized build starts slowly. Each request on standard input is a
// command line: "N\n", then N arguments, each as "LENGTH\n" and its bytes.
// Each answer on standard output is "STATUS OUTLENGTH ERRLENGTH\n", then the
// command's standard output and standard error.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands/command.h"
#include "engine/engine.h"

namespace {

// Reads "NUMBER\n" from standard input; false at the end.
bool ReadNumber(size_t& n) { return std::scanf("%zu", &n) == 1 && std::getchar() == '\n'; }

// The bytes written to `fd` since it was emptied, and empties it again.
std::string Take(int fd) {
  std::string bytes(size_t(::lseek(fd, 0, SEEK_END)), '\0');
  if (!bytes.empty()) (void)::pread(fd, bytes.data(), bytes.size(), 0);
  (void)::ftruncate(fd, 0);
  ::lseek(fd, 0, SEEK_SET);
  return bytes;
}

void WriteAll(int fd, const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n <= 0) std::_Exit(3);
    at += size_t(n);
  }
}

}  // namespace

int main() {
  int answers = ::dup(STDOUT_FILENO);
  int out = ::memfd_create("stdout", 0), err = ::memfd_create("stderr", 0);
  ::dup2(out, STDOUT_FILENO);
  ::dup2(err, STDERR_FILENO);
  for (size_t argc; ReadNumber(argc);) {
    std::vector<std::string> words{"vexlor"};
    for (size_t i = 0, length; i < argc && ReadNumber(length); ++i) {
      words.emplace_back(length, '\0');
      if (length && std::fread(words.back().data(), 1, length, stdin) != length) return 2;
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    vexlor::RandSetState(vexlor::kRandFirstState);
    int status = vexlor::cli::RunCommandLine(static_cast<int>(words.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    std::string o = Take(out), e = Take(err);
    WriteAll(answers, std::to_string(status) + " " + std::to_string(o.size()) + " " +
                          std::to_string(e.size()) + "\n" + o + e);
  }
  return 0;
}
