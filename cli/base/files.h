// Whole-file reads with a size limit, and atomic writes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cli/base/failure.h"

namespace vexlor::cli {

// The whole of a file, or of standard input. An endless or huge input (a
// device, a pipe, a file of any size) is refused once it passes `limit`
// bytes, as too large for the `kind` of file it should be.
std::vector<uint8_t> ReadWholeFile(const std::string& path, uint64_t limit, const char* kind);
std::vector<uint8_t> ReadStandardInput(uint64_t limit, const char* kind);
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
