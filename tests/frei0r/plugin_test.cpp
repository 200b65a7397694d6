// vexlor.so through its frei0r entry points, loaded as a host loads it:
// what it declares, its parameters, and frames that equal the core's Filter
// at the frame the host's time names, whatever the order of the frames.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "engine/engine.h"
#include "pixel/filter.h"

namespace {

// The module's entry points, resolved once.
struct Module {
  void* handle = dlopen(VEXLOR_FREI0R_MODULE, RTLD_NOW | RTLD_LOCAL);
  template <typename F>
  F* Get(const char* name) const {
    return reinterpret_cast<F*>(handle ? dlsym(handle, name) : nullptr);
  }
  decltype(&f0r_init) init = Get<int()>("f0r_init");
  decltype(&f0r_get_plugin_info) pluginInfo = Get<void(f0r_plugin_info_t*)>("f0r_get_plugin_info");
  decltype(&f0r_get_param_info) paramInfo = Get<void(f0r_param_info_t*, int)>("f0r_get_param_info");
  decltype(&f0r_construct) construct = Get<f0r_instance_t(unsigned, unsigned)>("f0r_construct");
  decltype(&f0r_destruct) destruct = Get<void(f0r_instance_t)>("f0r_destruct");
  decltype(&f0r_set_param_value) set =
      Get<void(f0r_instance_t, f0r_param_t, int)>("f0r_set_param_value");
  decltype(&f0r_get_param_value) get =
      Get<void(f0r_instance_t, f0r_param_t, int)>("f0r_get_param_value");
  decltype(&f0r_update) update =
      Get<void(f0r_instance_t, double, const uint32_t*, uint32_t*)>("f0r_update");
};

const Module& TheModule() {
  static Module module;
  return module;
}

// One instance, destroyed at the end of the scope.
class Instance {
 public:
  Instance(unsigned w, unsigned h) : m_(TheModule()), self_(m_.construct(w, h)) {}
  ~Instance() { m_.destruct(self_); }
  void Set(int index, const char* text) { m_.set(self_, &text, index); }
  void Set(int index, double value) { m_.set(self_, &value, index); }
  std::string GetString(int index) const {
    const char* text = nullptr;
    m_.get(self_, &text, index);
    return text ? text : "(null)";
  }
  double GetDouble(int index) const {
    double value = -1;
    m_.get(self_, &value, index);
    return value;
  }
  void Update(double time, const uint32_t* in, uint32_t* out) { m_.update(self_, time, in, out); }

 private:
  const Module& m_;
  f0r_instance_t self_;
};

constexpr int kW = 19, kH = 13;

// A frame of varied pixels with varied alpha.
std::vector<uint32_t> Picture(uint32_t seed) {
  std::vector<uint32_t> p(size_t(kW) * kH);
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t((i + seed) * 2654435761u);
  return p;
}

// The core's frame `frame` of a program, rand() where a whole run stands,
// with the source's alpha: what the plug-in must give.
std::vector<uint32_t> Expected(const std::vector<uint32_t>& src, const char* program, bool clamp,
                               int32_t frame) {
  vexlor::Filter filter(program, clamp);
  std::vector<uint32_t> out(src.size());
  filter.StartRand(vexlor::kRandFirstState, uint64_t(frame) * src.size());
  filter.Map({src.data(), kW, kH, kW * 4}, {out.data(), kW, kH, kW * 4}, frame);
  for (size_t i = 0; i < out.size(); ++i) out[i] = (out[i] & 0xFFFFFFu) | (src[i] & 0xFF000000u);
  return out;
}

const char* kRandProgram = "n=rand();rd=rs+n;gd=gs*fr/7;bd=bs-rand();";

TEST(Frei0rModule, DeclaresAFilterWithItsParameters) {
  const Module& m = TheModule();
  ASSERT_NE(m.handle, nullptr) << dlerror();
  ASSERT_TRUE(m.init && m.pluginInfo && m.paramInfo && m.construct && m.destruct && m.set &&
              m.get && m.update);
  EXPECT_EQ(m.init(), 1);
  f0r_plugin_info_t info{};
  m.pluginInfo(&info);
  EXPECT_STREQ(info.name, "vexlor");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
  EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
  ASSERT_EQ(info.num_params, 5);
  struct Expect {
    const char* name;
    int type;
  } params[] = {{"program", F0R_PARAM_STRING}, {"clamp", F0R_PARAM_BOOL},
                {"frame rate", F0R_PARAM_STRING}, {"time unit", F0R_PARAM_STRING},
                {"max threads", F0R_PARAM_STRING}};
  for (int i = 0; i < info.num_params; ++i) {
    f0r_param_info_t p{};
    m.paramInfo(&p, i);
    EXPECT_STREQ(p.name, params[i].name);
    EXPECT_EQ(p.type, params[i].type);
    ASSERT_NE(p.explanation, nullptr);
    EXPECT_GT(std::strlen(p.explanation), 20u);
  }
  // Only the entry points are exported: the core stays inside.
  EXPECT_EQ(dlsym(m.handle, "_ZN6vexlor6FilterD1Ev"), nullptr);
}

TEST(Frei0rModule, ParametersStartAtDefaultsAndAreCopied) {
  Instance in(kW, kH);
  EXPECT_EQ(in.GetString(0), "rd=rs;gd=gs;bd=bs;");
  EXPECT_EQ(in.GetDouble(1), 0.0);
  EXPECT_EQ(in.GetString(2), "25");
  EXPECT_EQ(in.GetString(3), "auto");
  EXPECT_EQ(in.GetString(4), "0");
  char text[] = "rd=0;gd=0;bd=0;";
  in.Set(0, text);
  text[3] = '1';  // the host's buffer is its own
  EXPECT_EQ(in.GetString(0), "rd=0;gd=0;bd=0;");
  in.Set(0, static_cast<const char*>(nullptr));
  EXPECT_EQ(in.GetString(0), "");
  in.Set(1, 0.5);
  EXPECT_EQ(in.GetDouble(1), 1.0);
  in.Set(1, 0.49);
  EXPECT_EQ(in.GetDouble(1), 0.0);
  in.Set(1, std::nan(""));
  EXPECT_EQ(in.GetDouble(1), 0.0);
  in.Set(5, "ignored");
  in.Set(-1, "ignored");
  EXPECT_EQ(in.GetString(2), "25");
}

// Frames asked in any order equal the whole run's frames; the time unit and
// the rate turn each host's time into the same frame number.
TEST(Frei0rModule, FramesDependOnTheFrameNotTheOrder) {
  std::vector<uint32_t> src = Picture(7), out(src.size());
  struct Case {
    const char* rate;
    const char* unit;
    double perFrame;  // the host's time of frame 1
  } cases[] = {{"25", "s", 0.04}, {"25", "ms", 40.0}, {"30000/1001", "auto", 1001.0 / 30000},
               {"29.97", "seconds", 1 / 29.97}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + c.unit);
    Instance in(kW, kH);
    in.Set(0, kRandProgram);
    in.Set(2, c.rate);
    in.Set(3, c.unit);
    for (int32_t frame : {3, 0, 2, 250000, 2}) {
      in.Update(frame * c.perFrame, src.data(), out.data());
      EXPECT_EQ(out, Expected(src, kRandProgram, false, frame)) << "frame " << frame;
    }
  }
}

TEST(Frei0rModule, ClampInPlaceAndThreadCap) {
  std::vector<uint32_t> src = Picture(3), out = src;
  Instance in(kW, kH);
  in.Set(0, "rd=rs*3;gd=-gs;bd=bs+rand();");
  in.Set(1, 1.0);
  in.Set(4, "1");
  in.Update(0.2, out.data(), out.data());  // the host's frame filtered in place
  EXPECT_EQ(out, Expected(src, "rd=rs*3;gd=-gs;bd=bs+rand();", true, 5));
}

// Several instances on several threads at once: the one engine is shared
// safely and each instance keeps its own program.
TEST(Frei0rModule, InstancesOnThreadsKeepTheirPrograms) {
  const char* programs[] = {kRandProgram, "rd=gs;gd=bs;bd=rs*fr;", "rd=rand();gd=rand();bd=0;"};
  constexpr int kFrames = 20;
  std::vector<uint32_t> src = Picture(11);
  // The test's own core has one state too: the expected frames first, on
  // this thread.
  std::vector<std::vector<uint32_t>> expected[3];
  for (int t = 0; t < 3; ++t)
    for (int32_t frame = 0; frame < kFrames; ++frame)
      expected[t].push_back(Expected(src, programs[t], false, frame));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(3, 0);
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      Instance in(kW, kH);
      in.Set(0, programs[t]);
      std::vector<uint32_t> out(src.size());
      for (int32_t frame = 0; frame < kFrames; ++frame) {
        in.Update(frame / 25.0, src.data(), out.data());
        mismatches[t] += out != expected[t][frame];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(3, 0));
}

// What an instance writes to standard error while mapping the frames.
std::string Stderr(Instance& in, const std::vector<uint32_t>& src, std::vector<uint32_t>& out,
                   int frames) {
  testing::internal::CaptureStderr();
  for (int f = 0; f < frames; ++f) in.Update(f / 25.0, src.data(), out.data());
  return testing::internal::GetCapturedStderr();
}

// A program or setting that cannot be used passes frames through unchanged
// and is said once; a new one is said again.
TEST(Frei0rModule, UnusableSettingsLeaveFramesUnchangedAndSaySoOnce) {
  std::vector<uint32_t> src = Picture(5), out(src.size());
  Instance in(kW, kH);
  in.Set(0, "rd=rs;gd=sine(gs);bd=bs;");
  EXPECT_EQ(Stderr(in, src, out, 3),
            "vexlor: the program does not run (a statement has no '=' or does not compile); "
            "'vexlor check' shows where: frames are left unchanged\n");
  EXPECT_EQ(out, src);
  in.Set(0, "rd 1;");
  EXPECT_NE(Stderr(in, src, out, 2).find("does not run"), std::string::npos);
  std::string longest = "rd=rs;" + std::string(2048 - 6, ' ');
  in.Set(0, longest.c_str());
  EXPECT_EQ(Stderr(in, src, out, 2),
            "vexlor: the program is 2048 characters long; the filter's settings record holds at "
            "most 2047: frames are left unchanged\n");
  in.Set(0, "rd=rs;gd=gs;bd=bs;");
  in.Set(2, "0");
  EXPECT_NE(Stderr(in, src, out, 2).find("vexlor: frame rate '0' is not"), std::string::npos);
  EXPECT_EQ(out, src);
  in.Set(2, "25");
  in.Set(0, "rd=rs");  // no statement: black, but not silently
  EXPECT_NE(Stderr(in, src, out, 2).find("the program has no statement"), std::string::npos);
  EXPECT_EQ(out[0] & 0xFFFFFFu, 0u);
  in.Set(0, "rd=rs;gd=sine(gs);bd=bs;");  // said again after a program that ran
  EXPECT_NE(Stderr(in, src, out, 1).find("does not run"), std::string::npos);
}

TEST(Frei0rModule, EmptyFramesAreHarmless) {
  for (auto [w, h] : {std::pair{0u, 0u}, {5u, 0u}, {0u, 7u}}) {
    Instance in(w, h);
    uint32_t pixel = 0x12345678, out = 0;
    in.Set(0, kRandProgram);
    in.Update(1.0, &pixel, &out);
    EXPECT_EQ(out, 0u);
  }
}

}  // namespace
