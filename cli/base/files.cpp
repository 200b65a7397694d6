// Whole-file reads and atomic writes: an output file appears complete or not
// at all, and an existing one is replaced only by a finished new one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/base/files.h"
#include "cli/base/signals.h"

namespace vexlor::cli {

FileDescriptor::~FileDescriptor() {
  if (fd >= 0) ::close(fd);
}

namespace {

void WriteAll(int fd, std::span<const uint8_t> bytes, const std::string& what) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailErrno(what);
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
}

}  // namespace

std::vector<uint8_t> ReadDescriptor(int fd, const std::string& name, uint64_t limit,
                                    const char* kind, std::vector<uint8_t> bytes) {
  struct stat st;
  if (::fstat(fd, &st) != 0) FailErrno(name + ": cannot read");
  if (S_ISDIR(st.st_mode)) FailData(name + ": is a directory, not a file");
  std::string tooLarge =
      name + ": more than " + std::to_string(limit) + " bytes, too large for a " + kind;
  if (S_ISREG(st.st_mode) && uint64_t(st.st_size) > limit) FailData(tooLarge);
  if (S_ISREG(st.st_mode)) bytes.reserve(static_cast<size_t>(st.st_size));
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailErrno(name + ": cannot read");
    if (n == 0) break;
    if (bytes.size() + size_t(n) > limit) FailData(tooLarge);
    bytes.insert(bytes.end(), buf, buf + n);
  }
  return bytes;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const char* kind) {
  FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) FailErrno(path + ": cannot open");
  return ReadDescriptor(file.fd, path, limit, kind);
}

std::vector<uint8_t> ReadStandardInput(uint64_t limit, const char* kind) {
  return ReadDescriptor(STDIN_FILENO, "standard input", limit, kind);
}

void WriteStandardOutput(std::span<const uint8_t> bytes) {
  WriteAll(STDOUT_FILENO, bytes, "standard output: cannot write");
}

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  TemporaryFile file(path);
  WriteAll(file.fd(), bytes, path + ": cannot write");
  if (::fsync(file.fd()) != 0) FailErrno(path + ": cannot write");
  file.CloseDescriptor();
  file.Commit();
}

}  // namespace vexlor::cli
