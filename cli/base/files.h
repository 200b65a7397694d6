// Whole-file reads with a size limit, and atomic writes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/base/failure.h"

namespace vexlor::cli {

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
  explicit FileDescriptor(int descriptor) : fd(descriptor) {}
  int fd;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();
};

// The whole of a file, or of standard input. An endless or huge input (a
// device, a pipe, a file of any size) is refused once it passes `limit`
// bytes, as too large for the `kind` of file it should be.
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const char* kind);
std::vector<uint8_t> ReadStandardInput(uint64_t limit, const char* kind);
// The rest of an open descriptor after the `bytes` already read from it,
// likewise; `name` names it in failures.
std::vector<uint8_t> ReadDescriptor(int fd, const std::string& name, uint64_t limit,
                                    const char* kind, std::vector<uint8_t> bytes = {});
// No PNG or PPM picture of at most kMaxPixels pixels is larger, whatever its
// encoding (uncompressed 16-bit RGBA takes 2 GiB).
inline constexpr uint64_t kMaxPictureFileBytes = uint64_t{1} << 32;
// Programs hold 2047 characters; test and pixel run longer ones, up to this.
inline constexpr uint64_t kMaxProgramFileBytes = uint64_t{1} << 20;
// Writes bytes to a temporary file beside path and renames it into place once
// complete, so that path is either left as it was or holds all of bytes.
// A signal meanwhile removes the temporary file (see cli/signals.h).
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);
// Writes all of bytes to standard output.
void WriteStandardOutput(std::span<const uint8_t> bytes);

}  // namespace vexlor::cli
