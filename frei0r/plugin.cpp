// vexlor as a frei0r filter plug-in (vexlor.so) for ffmpeg, MLT and
// GStreamer: the frei0r entry points, an instance per host filter, and the
// mapping of each frame through the core's Filter.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/params.h"
#include "pixel/filter.h"

namespace vexlor::frei0r {
namespace {

// rand()'s generator state before a run's first pixel, as in the host.
constexpr uint32_t kRandStart = 1;

// The engine has one state for the process and rand() is per thread: every
// compilation and frame mapping of every instance runs under this lock, and
// the generator is set before each frame.
std::mutex gCore;

// One filter in a host: its size, its parameters and the Filter compiled
// for them.
struct Instance {
  uint32_t width = 0;
  uint32_t height = 0;
  ParamValues values;
  // The Filter and what it was compiled from; null until the first frame.
  std::unique_ptr<Filter> filter;
  std::string compiledProgram;
  bool compiledClamp = false;
  int compiledThreads = 0;
  // The last problem reported (with its program), so that each is said once.
  std::string reported;
  bool slicesReported = false;
  // Calls of f0r_update in progress: more than one means the host maps
  // parts of a frame at once (MLT's threads property).
  std::atomic<int> inFlight{0};
  bool overlapped = false;
  std::vector<uint32_t> scratch;  // the source when the host maps in place
};

// Counts a call of f0r_update in progress on an instance while it lives.
class InFlight {
 public:
  explicit InFlight(Instance& self) : self_(self), overlaps_(self.inFlight.fetch_add(1) > 0) {}
  ~InFlight() { self_.inFlight.fetch_sub(1); }
  bool overlaps() const { return overlaps_; }

 private:
  Instance& self_;
  bool overlaps_;
};

// The unit of the host's time for "auto": ffmpeg's frei0r filter, which
// lives in libavfilter (or in a static ffmpeg binary), passes milliseconds;
// MLT and GStreamer pass seconds, as frei0r asks.
TimeUnit HostTimeUnit(const void* caller) {
  Dl_info info{};
  if (caller == nullptr || dladdr(caller, &info) == 0 || info.dli_fname == nullptr)
    return TimeUnit::kSeconds;
  std::string_view path = info.dli_fname;
  std::string_view name = path.substr(path.find_last_of('/') + 1);
  if (name.starts_with("libavfilter.") || name == "ffmpeg") return TimeUnit::kMilliseconds;
  return TimeUnit::kSeconds;
}

// Says something about an instance on standard error, once until it
// changes: `key` tells the cases apart (a program's text with its verdict).
void ReportOnce(Instance& self, const std::string& key, const std::string& line) {
  if (self.reported == key) return;
  self.reported = key;
  std::fprintf(stderr, "vexlor: %s\n", line.c_str());
}

// The instance's Filter for its program, clamp option and thread cap,
// compiled again only when one of them changed.
Filter& CompiledFilter(Instance& self, int threads) {
  const ParamValues& v = self.values;
  if (!self.filter || self.compiledProgram != v.program || self.compiledClamp != v.clamp ||
      self.compiledThreads != threads) {
    FilterRun run;
    run.threads = threads;
    run.countCarries = false;
    self.filter = std::make_unique<Filter>(v.program, v.clamp, run);
    self.compiledProgram = v.program;
    self.compiledClamp = v.clamp;
    self.compiledThreads = threads;
  }
  return *self.filter;
}

// Why a program cannot filter, or empty when it can.
std::string VerdictProblem(const Filter& filter, const std::string& program) {
  switch (filter.verdict()) {
    case Filter::Verdict::kRuns:
      return {};
    case Filter::Verdict::kFails:
      return "the program does not run (a statement has no '=' or does not compile); "
             "'vexlor check' shows where";
    case Filter::Verdict::kTooLong:
      return "the program is " + std::to_string(program.size()) +
             " characters long; the filter's settings record holds at most " +
             std::to_string(kMaxTextLength);
  }
  return {};
}

constexpr const char* kNoStatement =
    "the program has no statement (each statement ends with ';'): every pixel is black "
    "(MLT reads a text with '=' as keyframes: give the program as 0=\"PROGRAM\")";

// Whether the core can address a frame of this size (its pitch in bytes is
// a 32-bit number).
bool FitsCore(uint32_t width, uint32_t height) {
  return width <= INT32_MAX / 4 && height <= INT32_MAX;
}

// Maps one frame: rand() set to where a whole run stands at the frame, the
// rows bottom line first as the core expects, the source's alpha kept.
void MapFrame(Instance& self, Filter& filter, int32_t frame, const uint32_t* in, uint32_t* out) {
  size_t pixels = size_t(self.width) * self.height;
  if (in == out) {
    self.scratch.assign(in, in + pixels);
    in = self.scratch.data();
  }
  int32_t w = int32_t(self.width), h = int32_t(self.height);
  ConstPixelView src{in, w, h, w * 4};
  PixelView dst{out, w, h, w * 4};
  // Frames before a negative one wrap modulo 2^64, a multiple of the
  // generator's period, so they step it back.
  filter.StartRand(kRandStart, uint64_t(int64_t(frame)) * uint64_t(pixels));
  filter.Map(src, dst, frame);
  // Byte 3 is the host's alpha: the core writes carries there, the host
  // wants the source's transparency.
  for (size_t i = 0; i < pixels; ++i) out[i] = (out[i] & 0x00FFFFFFu) | (in[i] & 0xFF000000u);
}

// Filters one frame of an instance, or copies it through when the
// parameters or the program cannot be used (said once on standard error).
void Update(Instance& self, double time, TimeUnit autoUnit, const uint32_t* in, uint32_t* out) {
  InFlight call(self);
  std::lock_guard lock(gCore);
  if (call.overlaps()) self.overlapped = true;
  size_t bytes = size_t(self.width) * self.height * 4;
  Resolved resolved = Resolve(self.values, autoUnit);
  std::string problem = resolved.error, key = problem;
  if (problem.empty() && !FitsCore(self.width, self.height))
    key = problem = "frames of " + std::to_string(self.width) + "x" +
                    std::to_string(self.height) + " pixels are too large";
  Filter* filter = nullptr;
  if (problem.empty()) {
    filter = &CompiledFilter(self, resolved.threads);
    problem = VerdictProblem(*filter, self.values.program);
    key = problem + '\n' + self.values.program;
  }
  if (!problem.empty()) {
    ReportOnce(self, key, problem + ": frames are left unchanged");
    if (in != out) std::memmove(out, in, bytes);
    return;
  }
  // A text without ';' runs and assigns nothing; in MLT it is what is left of
  // a program read as keyframes.
  if (self.values.program.find(';') == std::string::npos)
    ReportOnce(self, key, kNoStatement);
  else
    self.reported.clear();  // a failing program set later is said again
  if (self.overlapped && filter->randCalls() > 0 && !self.slicesReported) {
    self.slicesReported = true;
    std::fprintf(stderr,
                 "vexlor: the host maps parts of a frame at once (MLT's threads property): "
                 "rand() follows each part, not the whole frame; leave threads unset\n");
  }
  MapFrame(self, *filter, FrameNumber(time, resolved.timing), in, out);
}

}  // namespace
}  // namespace vexlor::frei0r

using namespace vexlor::frei0r;

extern "C" {

int f0r_init() { return 1; }

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "vexlor";
  info->author = "the vexlor developers";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_BGRA8888;  // 0xAARRGGBB words, the core's layout
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = VEXLOR_VERSION_MAJOR;
  info->minor_version = VEXLOR_VERSION_MINOR;
  info->num_params = kParamCount;
  info->explanation =
      "Per-pixel expression filter: a short program sets each pixel's red, green and blue "
      "from its own and the frame number";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  if (info == nullptr || index < 0 || index >= kParamCount) return;
  info->name = kParams[index].name;
  info->type = static_cast<int>(kParams[index].type);
  info->explanation = kParams[index].explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  auto* self = new Instance;
  self->width = width;
  self->height = height;
  return self;
}

void f0r_destruct(f0r_instance_t instance) {
  std::lock_guard lock(gCore);  // the Filter's threads stop under the core's lock
  delete static_cast<Instance*>(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  if (instance == nullptr) return;
  std::lock_guard lock(gCore);
  SetParam(static_cast<Instance*>(instance)->values, index, param);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  if (instance == nullptr) return;
  std::lock_guard lock(gCore);
  GetParam(static_cast<Instance*>(instance)->values, index, param);
}

// ffmpeg passes milliseconds where the other hosts pass seconds: the caller's
// library tells which, for the "auto" time unit.
void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                uint32_t* outframe) {
  if (instance == nullptr || inframe == nullptr || outframe == nullptr) return;
  Update(*static_cast<Instance*>(instance), time, HostTimeUnit(__builtin_return_address(0)),
         inframe, outframe);
}

}  // extern "C"
