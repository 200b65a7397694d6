// Ctrl-C and SIGTERM handling: the handler may only call async-signal-safe
// functions, so the temporary file's name waits for it in static storage,
// set and cleared with the signals blocked.
#include "cli/base/signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "cli/base/failure.h"

namespace vexlor::cli {

namespace {

// The registered temporary file; empty when none.
char g_temporary[4096];
// Whether standard error is a terminal, where a progress line may be open.
bool g_terminal = false;

void Say(const char* text) {
  ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void OnSignal(int signal) {
  if (g_terminal) Say("\r\033[K");
  Say("vexlor: interrupted");
  if (g_temporary[0] != '\0') {
    ::unlink(g_temporary);
    Say("; the output was not written");
  }
  Say("\n");
  ::_exit(signal == SIGINT ? kExitInterrupt : kExitTerminate);
}

// Blocks SIGINT and SIGTERM for its lifetime, so that the registered name
// and the files on disk change together.
struct SignalsBlocked {
  sigset_t old;
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &old);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

// Permission bits for a new file: those of the file it replaces, else the
// usual 0666 less the umask.
mode_t OutputMode(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void InstallSignalCleanup() {
  g_terminal = ::isatty(STDERR_FILENO) == 1;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

TemporaryFile::TemporaryFile(const std::string& output) : output_(output) {
  std::string name = output + ".vexlor-XXXXXX";
  if (name.size() >= sizeof g_temporary) FailData(output + ": name too long");
  SignalsBlocked blocked;
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) FailErrno(output + ": cannot create a file beside it");
  path_ = name;
  std::memcpy(g_temporary, name.c_str(), name.size() + 1);
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (committed_) return;
  SignalsBlocked blocked;
  ::unlink(path_.c_str());
  g_temporary[0] = '\0';
}

void TemporaryFile::CloseDescriptor() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) FailErrno(output_ + ": cannot write");
}

void TemporaryFile::Commit() {
  if (::chmod(path_.c_str(), OutputMode(output_)) != 0)
    FailErrno(output_ + ": cannot set permissions");
  SignalsBlocked blocked;
  if (::rename(path_.c_str(), output_.c_str()) != 0) FailErrno(output_ + ": cannot replace");
  committed_ = true;
  g_temporary[0] = '\0';
}

}  // namespace vexlor::cli
