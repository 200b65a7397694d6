// The test host: the module's view of a host, recorded for the tests.
#include "test_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vexlor::testhost {

Recorder& Recorded() {
  static Recorder recorder;
  return recorder;
}

// Copies the module's definition as the host does: zero-fill, copy what fits,
// then link it to the module.
static FilterDefinition* __cdecl AddFilter(FilterModule* module, FilterDefinition* def,
                                           int fdLen) {
  Recorder& r = Recorded();
  ++r.addCalls;
  r.module = module;
  r.fdLen = fdLen;
  r.received.assign(reinterpret_cast<uint8_t*>(def), reinterpret_cast<uint8_t*>(def) + fdLen);
  if (r.refuse) return nullptr;
  std::memset(r.copy, 0, sizeof r.copy);
  std::memcpy(r.copy, def, std::min<size_t>(fdLen, sizeof r.copy));
  auto* copy = reinterpret_cast<FilterDefinition*>(r.copy);
  copy->module = module;
  copy->next = copy->prev = nullptr;
  return copy;
}

static void __cdecl RemoveFilter(FilterDefinition* def) {
  ++Recorded().removeCalls;
  Recorded().removed = def;
}

// The services the module has no business calling end the test run loudly.
[[noreturn]] static void Unexpected(const char* what) {
  std::fprintf(stderr, "module called host service %s\n", what);
  std::abort();
}
static bool __cdecl IsFpuEnabled() { Unexpected("isFPUEnabled"); }
static bool __cdecl IsMmxEnabled() { Unexpected("isMMXEnabled"); }
static void __cdecl InitVTables(FilterVTbls*) { Unexpected("InitVTables"); }
static void __cdecl ExceptOutOfMemory() { Unexpected("ExceptOutOfMemory"); }
static void __cdecl Except(const char*, ...) { Unexpected("Except"); }
static long __cdecl GetCpuFlags() { Unexpected("getCPUFlags"); }
static long __cdecl GetHostVersionInfo(char*, int) { Unexpected("getHostVersionInfo"); }

const FilterFunctions& HostFunctions() {
  static const FilterFunctions functions = {
      AddFilter,         RemoveFilter, IsFpuEnabled, IsMmxEnabled,      InitVTables,
      ExceptOutOfMemory, Except,       GetCpuFlags,  GetHostVersionInfo};
  return functions;
}

std::string BesideProgram(const char* name) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

std::string ModulePath() { return BesideProgram("vexlor.vdf"); }

bool LoadedModule::Load() {
  handle = LoadLibraryA(ModulePath().c_str());
  if (!handle) return false;
  init = reinterpret_cast<FilterModuleInitProc>(
      reinterpret_cast<void*>(GetProcAddress(handle, "VirtualdubFilterModuleInit2")));
  deinit = reinterpret_cast<FilterModuleDeinitProc>(
      reinterpret_cast<void*>(GetProcAddress(handle, "VirtualdubFilterModuleDeinit")));
  module = FilterModule{nullptr, nullptr, handle, reinterpret_cast<void*>(init),
                        reinterpret_cast<void*>(deinit)};
  return init && deinit;
}

void LoadedModule::Unload() {
  if (handle) FreeLibrary(handle);
  handle = nullptr;
}

FilterDefinition* LoadedModule::Register(int* result) {
  Recorded() = Recorder{};
  int version = 6, compatible = 6;
  int r = init(&module, &HostFunctions(), &version, &compatible);
  if (result) *result = r;
  return r == 0 ? reinterpret_cast<FilterDefinition*>(Recorded().copy) : nullptr;
}

void LoadedModule::Deregister() { deinit(&module, &HostFunctions()); }

Instance::Instance(FilterDefinition* def)
    : def_(def), bytes_(kGuard + sizeof(FilterSettings) + kGuard, kGuardByte) {
  std::fill_n(&bytes_[kGuard], sizeof(FilterSettings), 0);
  fa_.filter = def;
  fa_.filter_data = &bytes_[kGuard];
  fa_.src = &src;
  fa_.dst = &dst;
  fa_.pfsi = &state;
}

bool Instance::GuardsIntact() const {
  auto isGuard = [](uint8_t b) { return b == kGuardByte; };
  return std::all_of(bytes_.begin(), bytes_.begin() + kGuard, isGuard) &&
         std::all_of(bytes_.end() - kGuard, bytes_.end(), isGuard);
}

void Instance::Set(uint8_t clamp, std::string_view text) {
  Settings().clamp = clamp;
  std::memset(Settings().text, 0, kTextSize);
  SetSettingsText(Settings(), text);
}

std::vector<uint8_t> Instance::Bytes() {
  auto p = reinterpret_cast<const uint8_t*>(&Settings());
  return std::vector<uint8_t>(p, p + sizeof(FilterSettings));
}

int Instance::Init() { return def_->initProc(&fa_, &HostFunctions()); }
long Instance::Param() { return def_->paramProc(&fa_, &HostFunctions()); }
int Instance::Start() { return def_->startProc(&fa_, &HostFunctions()); }
int Instance::End() { return def_->endProc(&fa_, &HostFunctions()); }
int Instance::Run() { return def_->runProc(&fa_, &HostFunctions()); }
int Instance::Configure(HWND parent) { return def_->configProc(&fa_, &HostFunctions(), parent); }

std::string Instance::Describe() {
  char buf[256];
  std::memset(buf, 0x5A, sizeof buf);
  def_->stringProc(&fa_, &HostFunctions(), buf);
  return std::string(buf, strnlen(buf, sizeof buf));
}

std::string Instance::ScriptLine(int maxlen, bool* written) {
  std::vector<char> buf(static_cast<size_t>(std::max(maxlen, 0)) + 64, 0x5A);
  bool r = def_->fssProc(&fa_, &HostFunctions(), buf.data(), maxlen);
  if (written) *written = r;
  // Nothing past the given length may change.
  for (size_t i = static_cast<size_t>(std::max(maxlen, 0)); i < buf.size(); ++i)
    if (buf[i] != 0x5A) return "<written past maxlen>";
  if (maxlen <= 0) return buf[0] == 0x5A ? "" : "<written into an empty buffer>";
  if (std::find(buf.begin(), buf.begin() + maxlen, '\0') == buf.begin() + maxlen)
    return "<unterminated>";
  return std::string(buf.data());
}

HostBitmap::HostBitmap(int w, int h, int pitchBytes) {
  int words = std::abs(pitchBytes) / 4;
  memory.assign(static_cast<size_t>(words) * std::max(h, 1), kPad);
  bitmap.depth = 32;
  bitmap.w = w;
  bitmap.h = h;
  bitmap.pitch = pitchBytes;
  bitmap.modulo = std::abs(pitchBytes) - w * 4;
  bitmap.size = static_cast<ptrdiff_t>(memory.size() * 4);
  bitmap.data = pitchBytes >= 0 ? memory.data() : memory.data() + (h - 1) * words;
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) At(x, row) = 0;
}

bool HostBitmap::PaddingIntact() const {
  auto words = static_cast<int>(std::abs(bitmap.pitch) / 4);
  for (size_t i = 0; i < memory.size(); ++i)
    if (static_cast<int>(i % words) >= bitmap.w && memory[i] != kPad) return false;
  return true;
}

FpuState ReadFpu() {
  FpuState s;
  __asm__ volatile("fnstcw %0" : "=m"(s.control));
  __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
  return s;
}

void PrintTo(const FpuState& s, std::ostream* os) {
  *os << std::hex << "{x87 " << s.control << ", mxcsr " << s.mxcsr << "}" << std::dec;
}

void WriteFpu(FpuState s) {
  __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(s.control));
  __asm__ volatile("ldmxcsr %0" : : "m"(s.mxcsr));
}

// The overload of `name` whose signature lists the arguments' kinds.
static ScriptFunctionPtr FindOverload(const CScriptObject* obj, const char* name,
                                      const std::string& kinds) {
  const char* current = nullptr;
  for (const ScriptFunctionDef* f = obj->func_list; f->func_ptr || f->name || f->arg_list; ++f) {
    if (f->name) current = f->name;
    if (current && std::strcmp(current, name) == 0 && f->arg_list && f->arg_list[0] == '0' &&
        kinds == f->arg_list + 1)
      return f->func_ptr;
  }
  return nullptr;
}

bool CallScript(FilterDefinition* def, Instance& inst, const char* name,
                const std::vector<ScriptArg>& args) {
  std::string kinds;
  for (const ScriptArg& a : args) kinds += a.isString ? 's' : 'i';
  ScriptFunctionPtr fn = FindOverload(def->script_obj, name, kinds);
  if (!fn) return false;
  std::vector<CScriptValue> argv(args.size());
  std::vector<std::unique_ptr<char*>> handles;
  for (size_t k = 0; k < args.size(); ++k) {
    argv[k].type = args[k].isString ? T_STR : T_INT;
    if (args[k].isString) {
      handles.push_back(std::make_unique<char*>(strdup(args[k].text.c_str())));
      argv[k].u.s = handles.back().get();
    } else {
      argv[k].u.i = args[k].value;
    }
  }
  fn(nullptr, &inst.Activation(), argv.data(), static_cast<int>(argv.size()));
  // The host frees argument strings right after the call: scribble over them
  // first so that a kept pointer shows.
  for (auto& h : handles) {
    std::memset(*h, 'X', std::strlen(*h));
    std::free(*h);
  }
  return true;
}

bool LoadScriptLine(FilterDefinition* def, Instance& inst, const std::string& line) {
  ScriptCall call;
  return ParseScriptCall(line, call) && CallScript(def, inst, call.name.c_str(), call.args);
}

const std::vector<SampleRecord>& SampleRecords() {
  static const std::vector<SampleRecord> records = [] {
    std::string allBytes, high, escapes, plain2047;
    for (int c = 1; c < 256; ++c) allBytes += static_cast<char>(c);
    for (int c = 0x80; c < 256; ++c) high += static_cast<char>(c);
    for (int i = 0; i < 511; ++i) escapes += "\"\\\n;"[i % 4];
    for (int i = 0; i < 2047; ++i) plain2047 += "rd=gs*0.5;"[i % 10];
    std::string mixed2047 = plain2047;
    for (size_t i = 0; i < mixed2047.size(); i += 5) mixed2047[i] = "\"\\\x01\xff"[i % 4];
    return std::vector<SampleRecord>{
        {0, ""},
        {1, ""},
        {0, "rd=rs;gd=gs;bd=bs;"},
        {5, "rd=rs;\r\ngd=gs;\tbd=bs;"},
        {1, "say \"hi\" \\ \\x41 \\\\\""},
        {0, "\x01" "ab\x7f" "7f\x1f" "ff"},  // hex digits after \xhh
        {1, allBytes},
        {0, high},
        {1, escapes},
        {0, plain2047},
        {1, mixed2047},
    };
  }();
  return records;
}

std::vector<uint8_t> LoadedBytes(const SampleRecord& r) {
  FilterSettings settings{};
  settings.clamp = r.clamp ? 1 : 0;
  SetSettingsText(settings, r.text);
  auto p = reinterpret_cast<const uint8_t*>(&settings);
  return std::vector<uint8_t>(p, p + sizeof settings);
}

}  // namespace vexlor::testhost
