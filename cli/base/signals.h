// Signals that stop the tool: the output being written is removed and the
// tool exits, so that a stopped run leaves nothing behind; one thread takes
// them all, so that no thread is stopped in the middle of its work.
#pragma once

#include <functional>
#include <string>

namespace vexlor::cli {

// The signals that end a process unless it handles them (a hang-up, an
// interrupt, quit, termination, a broken pipe, alarms, the user signals, CPU
// and file size limits). A signal its parent set to be ignored (nohup's
// SIGHUP, a shell's `trap '' XFSZ`) stays ignored.
inline constexpr int kStopSignalCount = 12;
extern const int kStopSignals[kStopSignalCount];

// The exit status after a stop signal, as a shell reports a process killed
// by it: 128 + its number (130 for SIGINT, 143 for SIGTERM).
constexpr int ExitStatusFor(int signal) { return 128 + signal; }
inline constexpr int kExitInterrupt = 130;
inline constexpr int kExitTerminate = 143;

// Blocks the stop signals in the calling thread, which must be the first
// (every thread started later inherits the mask), and starts the one thread
// that takes them: it removes the temporary file of the moment (if any),
// prints one line and exits with ExitStatusFor(signal); after the output was
// renamed into place it exits 0 and says so. A write to a closed pipe or past
// the file size limit is then an error of that write, not a signal. Calls
// after the first do nothing.
void InstallSignalCleanup();

// While one exists, a stop signal calls `stop` on the signal thread instead
// of ending the process (the editor's server stops between requests); a
// second signal then ends the process as usual.
class StopHandler {
 public:
  explicit StopHandler(std::function<void(int signal)> stop);
  StopHandler(const StopHandler&) = delete;
  StopHandler& operator=(const StopHandler&) = delete;
  ~StopHandler();

 private:
  std::function<void(int)> stop_;
};

// A temporary file beside an output file that a signal removes: created on
// construction, renamed onto the output by Commit, removed on destruction
// when not committed. Only one exists at a time.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& output);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();
  const std::string& path() const { return path_; }
  // The open descriptor, until CloseDescriptor; -1 after.
  int fd() const { return fd_; }
  // Closes the descriptor, reporting a write error as a failure.
  void CloseDescriptor();
  // Gives the file the output's permissions and renames it onto the output;
  // a signal is then taken either before (the output as it was) or after
  // (the output complete), never in between.
  void Commit();

 private:
  std::string output_, path_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace vexlor::cli
