// Ctrl-C and SIGTERM: the output being written is removed and the tool exits
// at once, so that a stopped run leaves nothing behind.
#pragma once

#include <string>

namespace vexlor::cli {

// Exit statuses after SIGINT and SIGTERM, as a shell reports a process killed
// by them.
inline constexpr int kExitInterrupt = 130;
inline constexpr int kExitTerminate = 143;

// Installs the handlers of SIGINT and SIGTERM: each removes the temporary
// file of the moment (if any), prints one line and exits 130 or 143.
void InstallSignalCleanup();

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
  // Gives the file the output's permissions and renames it onto the output.
  void Commit();

 private:
  std::string output_, path_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace vexlor::cli
