// The signal thread: the stop signals are blocked in every thread but the
// one that waits for them with sigwait, so the cleanup runs as ordinary code
// under the same lock that guards the temporary file's name and its rename.
#include "cli/base/signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "cli/base/failure.h"

namespace vexlor::cli {

const int kStopSignals[kStopSignalCount] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,
                                            SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2,
                                            SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF};

namespace {

// What a signal finds: the temporary file of the moment, whether an output
// was renamed into place, and the stop handler (and whether it is running);
// all under `mutex`.
struct SignalState {
  std::mutex mutex;
  std::condition_variable stopped;
  std::string temporary;
  bool committed = false;
  const std::function<void(int)>* stop = nullptr;
  bool stopping = false;
  bool installed = false;
} g_signals;

void Say(const char* text) {
  ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

// Ends the process for a stop signal: the output is left as it was (its
// temporary file removed) or, once renamed into place, complete.
[[noreturn]] void Stop(int signal) {
  std::lock_guard lock(g_signals.mutex);
  if (::isatty(STDERR_FILENO) == 1) Say("\r\033[K");
  Say("vexlor: interrupted");
  if (!g_signals.temporary.empty()) {
    ::unlink(g_signals.temporary.c_str());
    Say("; the output was not written\n");
  } else if (g_signals.committed) {
    Say("; the output had already been written\n");
    ::_exit(0);
  } else {
    Say("\n");
  }
  ::_exit(ExitStatusFor(signal));
}

// Waits for the stop signals for the rest of the process.
void Wait(sigset_t set) {
  pthread_setname_np(pthread_self(), "vexlor-signals");
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    std::unique_lock lock(g_signals.mutex);
    if (const std::function<void(int)>* stop = g_signals.stop) {
      g_signals.stop = nullptr;  // a second signal ends the process
      g_signals.stopping = true;
      lock.unlock();
      (*stop)(signal);
      lock.lock();
      g_signals.stopping = false;
      g_signals.stopped.notify_all();
      continue;
    }
    lock.unlock();
    Stop(signal);
  }
}

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

// Only the signals left at their default action are taken: one the parent
// ignores stays ignored.
void InstallSignalCleanup() {
  std::lock_guard lock(g_signals.mutex);
  if (g_signals.installed) return;
  g_signals.installed = true;
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kStopSignals) {
    struct sigaction now {};
    if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) sigaddset(&set, signal);
  }
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(Wait, set).detach();
}

StopHandler::StopHandler(std::function<void(int)> stop) : stop_(std::move(stop)) {
  std::lock_guard lock(g_signals.mutex);
  g_signals.stop = &stop_;
}

// A stop that is running finishes before what it uses goes away.
StopHandler::~StopHandler() {
  std::unique_lock lock(g_signals.mutex);
  if (g_signals.stop == &stop_) g_signals.stop = nullptr;
  g_signals.stopped.wait(lock, [] { return !g_signals.stopping; });
}

TemporaryFile::TemporaryFile(const std::string& output) : output_(output) {
  std::string name = output + ".vexlor-XXXXXX";
  std::lock_guard lock(g_signals.mutex);
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    // The usual cause, said plainly: the folder named in OUTPUT is not there.
    int error = errno;
    std::string folder = std::filesystem::path(output).parent_path().string();
    std::error_code ignored;
    if (error == ENOENT && !std::filesystem::exists(folder.empty() ? "." : folder, ignored))
      FailData(output + ": the folder " + folder + " does not exist");
    errno = error;
    FailErrno(output + ": cannot create a file beside it");
  }
  path_ = name;
  g_signals.temporary = name;
  g_signals.committed = false;
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (committed_) return;
  std::lock_guard lock(g_signals.mutex);
  ::unlink(path_.c_str());
  g_signals.temporary.clear();
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
  std::lock_guard lock(g_signals.mutex);
  if (::rename(path_.c_str(), output_.c_str()) != 0) FailErrno(output_ + ": cannot replace");
  committed_ = true;
  g_signals.temporary.clear();
  g_signals.committed = true;
}

}  // namespace vexlor::cli
