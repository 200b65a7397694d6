// The script line: a settings record goes through WriteScriptLine, the
// host's literal rules and the "Config" script function, and must come back
// as the same program and option; its filter-list summary stays within the
// most it may write. The input itself, read as a script line, must never
// make "Config" write past the record.
//
// Input: byte 0 is the record's option byte, byte 1 the size of the buffer
// the host offers (in 64-byte steps; 0 = the host's 4096), the rest the
// record's text field, which may lack its terminator.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz.h"
#include "host/glue.h"
#include "tests/windows/host_script.h"

using namespace vexlor;
using vexlor::fuzz::Expect;
using vexlor::testhost::ParseScriptCall;
using vexlor::testhost::ScriptArg;
using vexlor::testhost::ScriptCall;

namespace {

constexpr int kHostBuffer = 4096;

// The script function the host would pick for these arguments, by signature.
ScriptFunctionPtr FindConfig(const std::string& name, const std::vector<ScriptArg>& args) {
  std::string kinds = "0";
  for (const ScriptArg& a : args) kinds += a.isString ? 's' : 'i';
  bool named = false;
  for (const ScriptFunctionDef* f = kScriptFunctions; f->func_ptr; ++f) {
    if (f->name) named = name == f->name;
    if (named && kinds == f->arg_list) return f->func_ptr;
  }
  return nullptr;
}

// Runs a parsed call on a record the way the host does: strings behind
// handles that are freed right after the call. False when no overload fits.
bool CallScript(const ScriptCall& call, FilterSettings& settings) {
  ScriptFunctionPtr fn = FindConfig(call.name, call.args);
  if (!fn) return false;
  FilterActivation fa{};
  fa.filter_data = &settings;
  std::vector<CScriptValue> argv(call.args.size());
  std::vector<std::unique_ptr<char[]>> texts;
  std::vector<char*> handles(call.args.size());
  for (size_t k = 0; k < call.args.size(); ++k) {
    const ScriptArg& a = call.args[k];
    argv[k].type = a.isString ? T_STR : T_INT;
    if (!a.isString) {
      argv[k].u.i = a.value;
      continue;
    }
    texts.emplace_back(new char[a.text.size() + 1]);
    std::memcpy(texts.back().get(), a.text.c_str(), a.text.size() + 1);
    handles[k] = texts.back().get();
    argv[k].u.s = &handles[k];
  }
  fn(nullptr, &fa, argv.data(), static_cast<int>(argv.size()));
  return true;
}

// The filter-list summary, into a buffer of exactly the most it writes: " ["
// and 128 characters of the program, "] " and the terminator.
void ExpectSummaryFits(const FilterSettings& settings) {
  FilterSettings copy = settings;
  FilterActivation fa{};
  fa.filter_data = &copy;
  std::unique_ptr<char[]> buf(new char[133]);
  DescribeSettings(&fa, nullptr, buf.get());
  std::string_view summary(buf.get());
  Expect(summary.size() <= 132 && summary.starts_with(" [") && summary.ends_with("] "),
         "the summary is not \" [program] \"");
}

// Saves the record into a buffer of exactly maxlen bytes (so that a write
// past it shows) and, when the whole line fits, loads it into a fresh record.
void ExpectRoundTrip(const FilterSettings& saved, int maxlen) {
  FilterSettings copy = saved;
  FilterActivation fa{};
  fa.filter_data = &copy;
  std::unique_ptr<char[]> buf(new char[maxlen]);
  bool written = WriteScriptLine(&fa, nullptr, buf.get(), maxlen);
  std::string line = ScriptLine(saved);
  Expect(std::memcmp(&copy, &saved, sizeof saved) == 0, "saving changed the record");
  if (!written) {
    Expect(line.size() >= size_t(maxlen) && buf[0] == '\0', "a line that fits was not written");
    return;
  }
  Expect(std::string_view(buf.get()) == line, "the written line is not the whole line");
  Expect(line.find_first_of("\r\n") == std::string::npos, "the line holds a line break");
  ScriptCall call;
  Expect(ParseScriptCall(line, call), "the host cannot read the line");
  FilterSettings loaded{};
  std::memset(loaded.text, 'Z', sizeof loaded.text);
  loaded.clamp = 0x5A;
  Expect(CallScript(call, loaded), "no Config overload takes the line's arguments");
  // A record whose text fills the whole field, without its terminator, can
  // only come back as its first 2047 characters.
  Expect(SettingsText(loaded) == SettingsText(saved).substr(0, kMaxTextLength),
         "the program came back different");
  Expect(loaded.clamp == (saved.clamp ? 1 : 0), "the option came back different");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  FilterSettings saved{};
  saved.clamp = data[0];
  int maxlen = data[1] ? data[1] * 64 - 1 : kHostBuffer;
  std::memcpy(saved.text, data + 2, std::min(size - 2, sizeof saved.text));
  ExpectRoundTrip(saved, maxlen);
  ExpectSummaryFits(saved);

  ScriptCall call;
  if (ParseScriptCall(std::string_view(reinterpret_cast<const char*>(data), size), call)) {
    FilterSettings target{};
    if (CallScript(call, target)) {
      size_t n = SettingsText(target).size();
      Expect(n <= size_t(kMaxTextLength) && target.text[n] == '\0',
             "Config left the text unterminated or too long");
    }
  }
  return 0;
}
