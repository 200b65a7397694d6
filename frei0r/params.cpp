// The plug-in's parameter table and the reading of its values.
#include "frei0r/params.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vexlor::frei0r {

// GStreamer makes each name a property (lower case, other characters '-'):
// program, clamp, frame-rate, time-unit, max-threads. The numbers are
// strings because hosts show frei0r doubles as 0 to 1.
const ParamInfo kParams[kParamCount] = {
    {"program", ParamType::kString,
     "vexlor program: assignments ended by ';' that set each pixel's red, green and blue "
     "(rd gd bd) from its own (rs gs bs, 0 to 255/256) and the frame number fr, e.g. "
     "rd=rs;gd=gs;bd=bs;"},
    {"clamp", ParamType::kBool,
     "Verify 0-1 limits: each output channel is limited to 0..255 (off: a value beyond carries "
     "into the neighbouring channel)"},
    {"frame rate", ParamType::kString,
     "Frames per second of the video, which turn the host's time into the frame number fr: a "
     "number or a fraction such as 30000/1001"},
    {"time unit", ParamType::kString,
     "What the host's time counts: auto (milliseconds in ffmpeg, seconds in other hosts), s or "
     "ms"},
    {"max threads", ParamType::kString, "Most threads that map a frame: 0 for one per core"},
};

namespace {

// The instance's string member for a string parameter, else null.
template <typename Values>
auto* StringOf(Values& values, int index) {
  decltype(&values.program) strings[kParamCount] = {&values.program, nullptr, &values.frameRate,
                                                    &values.timeUnit, &values.maxThreads};
  return strings[index];
}

// The whole of `text` as a finite double, or nothing.
std::optional<double> WholeNumber(std::string_view text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The spellings of each time unit.
struct UnitName {
  const char* name;
  TimeUnit unit;
};
constexpr UnitName kUnitNames[] = {
    {"auto", TimeUnit::kAuto},         {"s", TimeUnit::kSeconds},
    {"seconds", TimeUnit::kSeconds},   {"ms", TimeUnit::kMilliseconds},
    {"milliseconds", TimeUnit::kMilliseconds},
};

}  // namespace

bool SetParam(ParamValues& values, int index, const void* param) {
  if (index < 0 || index >= kParamCount || param == nullptr) return false;
  if (index == kClamp) {
    bool on = *static_cast<const double*>(param) >= 0.5;  // a NaN is off
    bool changed = on != values.clamp;
    values.clamp = on;
    return changed;
  }
  const char* text = *static_cast<const char* const*>(param);
  std::string& held = *StringOf(values, index);
  std::string_view given = text ? std::string_view(text) : std::string_view();
  if (held == given) return false;
  held.assign(given);
  return true;
}

void GetParam(const ParamValues& values, int index, void* param) {
  if (index < 0 || index >= kParamCount || param == nullptr) return;
  if (index == kClamp) {
    *static_cast<double*>(param) = values.clamp ? 1.0 : 0.0;
    return;
  }
  *static_cast<const char**>(param) = StringOf(values, index)->c_str();
}

std::optional<double> ParseFrameRate(std::string_view text) {
  size_t slash = text.find('/');
  std::optional<double> rate;
  if (slash == std::string_view::npos) {
    rate = WholeNumber(text);
  } else {
    std::optional<double> num = WholeNumber(text.substr(0, slash));
    std::optional<double> den = WholeNumber(text.substr(slash + 1));
    if (num && den && *den != 0) rate = *num / *den;
  }
  if (!rate || !std::isfinite(*rate) || *rate <= 0) return std::nullopt;
  return rate;
}

std::optional<TimeUnit> ParseTimeUnit(std::string_view text) {
  for (const UnitName& u : kUnitNames)
    if (text == u.name) return u.unit;
  return std::nullopt;
}

std::optional<int> ParseThreadCap(std::string_view text) {
  int threads = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), threads);
  if (ec != std::errc() || end != text.data() + text.size() || threads < 0 ||
      threads > kMaxThreadCap)
    return std::nullopt;
  return threads;
}

Resolved Resolve(const ParamValues& values, TimeUnit autoUnit) {
  Resolved r;
  std::optional<double> rate = ParseFrameRate(values.frameRate);
  std::optional<TimeUnit> unit = ParseTimeUnit(values.timeUnit);
  std::optional<int> threads = ParseThreadCap(values.maxThreads);
  if (!rate)
    r.error = "frame rate '" + values.frameRate +
              "' is not a positive number or fraction such as 25 or 30000/1001";
  else if (!unit)
    r.error = "time unit '" + values.timeUnit + "' is not auto, s or ms";
  else if (!threads)
    r.error = "max threads '" + values.maxThreads + "' is not a whole number from 0 to " +
              std::to_string(kMaxThreadCap);
  if (!r.error.empty()) return r;
  r.timing = {*rate, *unit == TimeUnit::kAuto ? autoUnit : *unit};
  r.threads = *threads;
  return r;
}

int32_t FrameNumber(double time, const FrameTiming& timing) {
  double frames = time * timing.rate;
  if (timing.unit == TimeUnit::kMilliseconds) frames /= 1000.0;
  if (std::isnan(frames)) return 0;
  frames = std::round(frames);
  if (frames <= INT32_MIN) return INT32_MIN;
  if (frames >= INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(frames);
}

}  // namespace vexlor::frei0r
