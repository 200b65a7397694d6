// Shared pieces of the vexlor command line: failures, the option parser, the
// program source, pictures, atomic output files, frame filtering and progress.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pixel/pixel.h"

namespace vexlor::cli {

// ---- Failures -------------------------------------------------------------

inline constexpr int kExitData = 1;   // bad input, unreadable or unwritable files
inline constexpr int kExitUsage = 2;  // bad command line

// A failure the user is told about in one line; main prints it and exits
// with its status.
struct Failure : std::runtime_error {
  int status;
  Failure(int s, const std::string& message) : std::runtime_error(message), status(s) {}
};

[[noreturn]] void FailUsage(const std::string& message);
[[noreturn]] void FailData(const std::string& message);
// "what: strerror(errno)" as a data failure.
[[noreturn]] void FailErrno(const std::string& what);

// ---- Command line ---------------------------------------------------------

// One option of a command: "--name" or "-x", with or without a value.
struct OptionSpec {
  std::string_view name;
  std::string_view value;  // placeholder shown in messages, empty for a flag
};

// A command line split into options and positional arguments.
struct Args {
  std::string command;
  std::vector<std::pair<std::string, std::string>> options;  // in order given
  std::vector<std::string> positional;

  bool Has(std::string_view name) const;
  // Value of the last occurrence of an option, or nullptr.
  const std::string* Value(std::string_view name) const;
};

// Splits argv by the command's options. An argument is an option when it
// starts with "--" or is one of the command's short options; "--" ends the
// options. Values follow as the next argument or as "--name=value".
Args ParseArgs(std::string_view command, std::span<const OptionSpec> options,
               std::span<char* const> argv);

// Typed option values: a usage failure names the option on a bad value.
int32_t Int32Option(const Args& args, std::string_view name, int32_t fallback);
int64_t CountOption(const Args& args, std::string_view name, int64_t fallback, int64_t max);

// Fails with "COMMAND takes ..." unless exactly `count` positional arguments
// remain; `what` names them for the message.
void ExpectPositional(const Args& args, size_t count, const char* what);

// ---- The user's program ---------------------------------------------------

// The program text: from -f FILE (or -f - for standard input) when given,
// else taken off the front of the positional arguments. A file's trailing
// line break is dropped; a NUL byte in it is a data failure.
std::string TakeProgram(Args& args);
std::string ReadProgramFile(const std::string& path);

// Fails when a program is longer than the filter's settings record holds.
void CheckProgramLength(std::string_view program);
// Fails when a program does not run (a statement without '=' or that does not
// compile): the filter would make every pixel black, which on the command
// line is a mistake to report, not a result. rand()'s generator is left as
// it was.
void CheckProgramRuns(std::string_view program);
inline constexpr const char* kProgramDoesNotRun =
    "the program does not run (a statement has no '=' or does not compile); 'vexlor check' "
    "shows where";
// The settings record for a program of an acceptable length.
FilterSettings MakeSettings(std::string_view program, bool clamp);

// ---- Pictures -------------------------------------------------------------

// Pixels of a picture, top line first, as packed 0x00RRGGBB values.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
};

// Pictures and frames hold at most this many pixels: 1 GiB per buffer.
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

enum class PictureFormat { Png, Ppm };

// Format named by a file name's extension (.png or .ppm, any case); a usage
// failure for any other.
PictureFormat FormatForName(const std::string& path);

// Decoders take a file's bytes; `name` appears in their failure messages.
Picture DecodePicture(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodePng(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodePpm(std::span<const uint8_t> bytes, const std::string& name);
// Encoders write 8-bit RGB; the pixels' top byte is dropped.
std::vector<uint8_t> EncodePng(const Picture& picture);
std::vector<uint8_t> EncodePpm(const Picture& picture);

Picture ReadPicture(const std::string& path);
void WritePicture(const std::string& path, const Picture& picture);

// Why width x height is not a size the tool handles, or nullptr when it is.
const char* PictureSizeProblem(int64_t width, int64_t height);

// ---- Files ----------------------------------------------------------------

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
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

// ---- Filtering ------------------------------------------------------------

struct RunOptions {
  int threads = 0;         // MapFrame's thread count, 0 = one per core
  bool reference = false;  // MapFrameReference instead of MapFrame
};
RunOptions RunOptionsFrom(const Args& args);

// Filters a picture stored top line first into dst (same size). The frame
// mapping sees it bottom line first, as the host lays out its bitmaps.
void FilterPixels(const FilterSettings& settings, const uint32_t* src, uint32_t* dst,
                  int32_t width, int32_t height, int32_t frame, const RunOptions& run);

// ---- Progress -------------------------------------------------------------

// Frames done and frames per second on one rewritten stderr line, when
// enabled (stderr is a terminal and --quiet was not given). The line is ended
// by Finish or, when a failure unwinds past it, by the destructor, so that
// the failure's message starts on a line of its own.
class Progress {
 public:
  explicit Progress(bool enabled, std::FILE* out = stderr);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();
  static Progress ForArgs(const Args& args);
  void FrameDone();
  void Finish();

 private:
  void Print();
  bool enabled_;
  std::FILE* out_;
  int64_t frames_ = 0;
  std::chrono::steady_clock::time_point start_, last_;
  bool printed_ = false;
  bool finished_ = false;
};

// ---- Commands -------------------------------------------------------------

// Each runs one command on its parsed arguments and returns the exit status.
int RunTest(Args& args);
int RunPixel(Args& args);
int RunApply(Args& args);
int RunStream(Args& args);
int RunCheck(Args& args);

// ---- Diagnosis ------------------------------------------------------------

// What check reports about one statement.
struct StatementReport {
  int number = 0;          // 1-based
  std::string_view text;   // the statement, without its ';'
  std::string assigns;     // name stored into, empty when nothing is
  bool newVariable = false;  // the statement creates the name it assigns
  std::string expression;  // what is compiled, after trimming and cutting
  std::vector<std::string> notes;  // parts of the statement that have no effect
  bool ran = true;                 // false after the failing statement
  bool fails = false;
  std::string error;       // why it fails
  size_t offset = 0;       // byte offset in text where the problem was found
  int column = 0;          // the same place as a 1-based column of characters
  std::string listing;     // postfix program, when compiled
};

struct ProgramReport {
  std::vector<StatementReport> statements;
  std::vector<std::string> notes;  // about the whole program
  bool runs = true;
};

// Diagnoses a program by splitting, registering and compiling it the way the
// statement runner does; whether it runs is the runner's own verdict.
ProgramReport CheckProgram(std::string_view text);
// The report as check prints it; `listing` adds each statement's program.
std::string FormatReport(const ProgramReport& report, bool listing);

}  // namespace vexlor::cli
