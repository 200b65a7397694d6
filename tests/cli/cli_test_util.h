// Helpers for the command-line tests: scratch directories, running the
// built binary, test pictures, and the host's view of a frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/base/args.h"
#include "cli/base/files.h"
#include "cli/base/program.h"
#include "cli/base/progress.h"
#include "cli/commands/command.h"
#include "cli/media/picture.h"
#include "engine/engine.h"
#include "explain/check.h"

namespace vexlor::test {

// A fresh directory, removed with everything in it at the end of the test.
struct ScratchDir {
  std::string path;
  ScratchDir();
  ~ScratchDir();
  std::string File(const std::string& name) const { return path + "/" + name; }
  std::vector<std::string> Names() const;  // sorted
};

struct RunResult {
  int status;
  std::string out, err;
};

// Runs the vexlor binary with args, feeding it input on standard input.
RunResult RunVexlor(const std::vector<std::string>& args, const std::string& input = "");

// Runs a shell script (sh -c) with no input; RunResult gets its exit status
// and what it wrote. "$VEXLOR" in the script is the binary.
RunResult RunShell(const std::string& script);
std::string ShellQuote(const std::string& s);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
std::string Bytes(const std::vector<uint8_t>& v);
// Lines joined, each ended by a line break, for comparing with printed text.
std::string Joined(const std::vector<std::string>& lines);

// A picture of pseudo-random pixels, top bytes included.
cli::Picture NoisePicture(int32_t width, int32_t height, uint32_t seed);

// Filters a top-line-first picture the way the host hands bitmaps to the
// filter: the picture is turned upside down into a bottom-up buffer, mapped
// with a positive pitch, and turned back.
std::vector<uint32_t> MapLikeHost(const std::string& program, bool clamp,
                                  const std::vector<uint32_t>& pixels, int32_t width,
                                  int32_t height, int32_t frame);

// The pixels with their top byte cleared, as an 8-bit RGB file keeps them.
std::vector<uint32_t> Rgb(std::vector<uint32_t> pixels);

}  // namespace vexlor::test
