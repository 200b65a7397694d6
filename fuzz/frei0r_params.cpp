// The frei0r plug-in's parameter setter and frame update on arbitrary
// values: any index, any string bytes, any double, any host time, in any
// order. A parameter reads back as it was set; settings that cannot be used
// leave the frame unchanged; a frame's pixels depend only on its time, not
// on the frames asked before it.
//
// Input: records, each starting with an operation byte
//   op % 4 == 0  set a string: index (op >> 2) % 7 - 1, a length byte, the
//                bytes (cut at a NUL as a C string is); skipped for a bool
//   op % 4 == 1  set a double: index (op >> 2) % 7 - 1, 8 bytes; skipped
//                unless the index is a bool's
//   op % 4 == 2  map a frame at the time in the next 8 bytes, then another
//                frame, then the first again
//   op % 4 == 3  read back every parameter
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "frei0r/params.h"
#include "fuzz.h"
#include "pixel/filter.h"

using namespace vexlor;
using namespace vexlor::frei0r;
using vexlor::fuzz::Expect;

namespace {

constexpr unsigned kW = 5, kH = 3;

// Reads the input front to back; past its end every byte is 0.
struct Reader {
  const uint8_t* p;
  size_t left;
  uint8_t Byte() { return left ? (--left, *p++) : 0; }
  double Double() {
    uint8_t b[8];
    for (uint8_t& x : b) x = Byte();
    double d;
    std::memcpy(&d, b, sizeof d);
    return d;
  }
};

// Whether the instance's settings, as the model holds them, filter frames.
bool Usable(const ParamValues& model) {
  if (!Resolve(model, TimeUnit::kSeconds).error.empty()) return false;
  return Filter(model.program, model.clamp).runs();
}

// Every parameter reads back as the model holds it.
void ReadBack(f0r_instance_t self, const ParamValues& model) {
  for (int i = 0; i < kParamCount; ++i) {
    if (kParams[i].type == ParamType::kBool) {
      double v = -1;
      f0r_get_param_value(self, &v, i);
      Expect(v == (model.clamp ? 1.0 : 0.0), "clamp reads back as set");
    } else {
      const char* text = nullptr;
      f0r_get_param_value(self, &text, i);
      const char* expected = nullptr;
      GetParam(model, i, &expected);
      Expect(text != nullptr && std::strcmp(text, expected) == 0, "a string reads back as set");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  f0r_instance_t self = f0r_construct(kW, kH);
  ParamValues model;
  std::vector<uint32_t> src(kW * kH), a(src.size()), b(src.size()), c(src.size());
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint32_t(i * 2654435761u + size);
  for (int records = 0; in.left && records < 64; ++records) {
    uint8_t op = in.Byte();
    int index = (op >> 2) % 7 - 1;
    switch (op % 4) {
      case 0: {
        std::string bytes(in.Byte(), '\0');
        for (char& ch : bytes) ch = char(in.Byte());
        const char* text = bytes.c_str();
        // A host hands each parameter its own type; out of range is ignored.
        if (index >= 0 && index < kParamCount && kParams[index].type != ParamType::kString) break;
        f0r_set_param_value(self, &text, index);
        SetParam(model, index, &text);
        break;
      }
      case 1: {
        double value = in.Double();
        if (index < 0 || index >= kParamCount || kParams[index].type != ParamType::kBool) break;
        f0r_set_param_value(self, &value, index);
        SetParam(model, index, &value);
        break;
      }
      case 2: {
        double time = in.Double();
        f0r_update(self, time, src.data(), a.data());
        f0r_update(self, time + 1, src.data(), b.data());
        f0r_update(self, time, src.data(), c.data());
        Expect(a == c, "a frame's pixels depend only on its time");
        if (!Usable(model)) Expect(a == src, "unusable settings leave the frame unchanged");
        break;
      }
      default:
        ReadBack(self, model);
    }
  }
  f0r_destruct(self);
  return 0;
}
