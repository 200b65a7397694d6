// The frei0r plug-in's parameters: their table as the hosts list them, the
// values an instance holds, and what those values mean for a frame (the
// frame number from the host's time, the thread cap). Kept apart from the
// entry points so that tests and the fuzz target reach them directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexlor::frei0r {

// The parameters in the order hosts number them (ffmpeg's filter_params,
// MLT's indexes).
enum Param : int { kProgram, kClamp, kFrameRate, kTimeUnit, kMaxThreads, kParamCount };

// frei0r's parameter types used here (frei0r.h's F0R_PARAM_BOOL and
// F0R_PARAM_STRING).
enum class ParamType : int { kBool = 0, kString = 4 };

struct ParamInfo {
  const char* name;
  ParamType type;
  const char* explanation;
};

// Name, type and explanation of each parameter, indexed by Param.
extern const ParamInfo kParams[kParamCount];

// The program a new instance runs: every pixel as it is.
inline constexpr const char* kDefaultProgram = "rd=rs;gd=gs;bd=bs;";

// What the host's time counts.
enum class TimeUnit { kAuto, kSeconds, kMilliseconds };

// An instance's parameter values as the host last set them; the strings are
// kept as given and read by Resolve.
struct ParamValues {
  std::string program = kDefaultProgram;
  bool clamp = false;
  std::string frameRate = "25";
  std::string timeUnit = "auto";
  std::string maxThreads = "0";
};

// Stores a value the host hands over for parameter `index`: for a bool a
// double (on from 0.5 up), for a string a NUL-terminated text (null counts
// as empty). An index out of range is ignored. Returns whether the value
// changed.
bool SetParam(ParamValues& values, int index, const void* param);

// Writes parameter `index` where the host asks for it: a double for a bool,
// for a string a pointer to the instance's own copy (valid until the next
// set). An index out of range writes nothing.
void GetParam(const ParamValues& values, int index, void* param);

// The parameters turned into what a frame needs.
struct FrameTiming {
  double rate;    // frames per second, finite and positive
  TimeUnit unit;  // never kAuto: Resolve's caller decides that
};
struct Resolved {
  FrameTiming timing{25.0, TimeUnit::kSeconds};
  int threads = 0;    // 0: one per core
  std::string error;  // why the values cannot be used; empty when they can
};
// Reads the frame rate, time unit and thread cap; `autoUnit` is the unit
// that "auto" stands for in this host.
Resolved Resolve(const ParamValues& values, TimeUnit autoUnit);

// Frames per second from "25", "29.97" or "30000/1001"; nothing for anything
// else or a rate that is not finite and positive.
std::optional<double> ParseFrameRate(std::string_view text);
// "auto", "s" or "seconds", "ms" or "milliseconds".
std::optional<TimeUnit> ParseTimeUnit(std::string_view text);
// A whole number of threads from 0 (one per core) to kMaxThreadCap.
inline constexpr int kMaxThreadCap = 1024;
std::optional<int> ParseThreadCap(std::string_view text);

// The frame number of the host's time: time in seconds times the rate,
// rounded to the nearest frame and limited to the 32-bit range (a NaN time
// is frame 0).
int32_t FrameNumber(double time, const FrameTiming& timing);

}  // namespace vexlor::frei0r
