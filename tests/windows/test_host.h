// A minimal host for the module under test: loads vexlor.vdf, hands it a
// recording FilterFunctions table, and drives its callbacks on guarded
// instance records and padded bottom-up bitmaps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_abi.h"
#include "host_script.h"
#include "pixel/pixel.h"

namespace vexlor::testhost {

// The size of the host's own v8 definition record: 22 pointer-sized slots
// (inst_data_size, an int, is padded to one on x86-64).
inline constexpr size_t kHostDefinitionSize = VEXLOR_AT(88, 176);

// The machine type in the module's PE header.
inline constexpr WORD kModuleMachine = VEXLOR_AT(IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64);

// What addFilter and removeFilter received, and the host's copy of the
// definition that addFilter hands back.
struct Recorder {
  int addCalls = 0;
  int removeCalls = 0;
  FilterModule* module = nullptr;
  int fdLen = 0;
  std::vector<uint8_t> received;                 // fd_len bytes of the module's definition
  alignas(8) uint8_t copy[kHostDefinitionSize] = {};  // the host's own record
  FilterDefinition* removed = nullptr;
  bool refuse = false;                     // addFilter returns null
};
Recorder& Recorded();

// The FilterFunctions table the test host passes: addFilter and removeFilter
// record into Recorded(); the other entries must never be called.
const FilterFunctions& HostFunctions();

// Full path of the file `name` in the test program's folder.
std::string BesideProgram(const char* name);
// Full path of vexlor.vdf, next to the test program.
std::string ModulePath();

// The loaded module with its two entry points.
struct LoadedModule {
  HMODULE handle = nullptr;
  FilterModuleInitProc init = nullptr;
  FilterModuleDeinitProc deinit = nullptr;
  FilterModule module{};

  bool Load();
  void Unload();
  // Calls Init2 with fresh recording; the host's copy of the definition.
  FilterDefinition* Register(int* result = nullptr);
  void Deregister();
};

// A 2049-byte instance record between two guard zones, as the host allocates
// it (zero-filled), with an activation that points at it.
class Instance {
 public:
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xA5;

  explicit Instance(FilterDefinition* def);
  FilterSettings& Settings() { return *reinterpret_cast<FilterSettings*>(&bytes_[kGuard]); }
  FilterActivation& Activation() { return fa_; }
  bool GuardsIntact() const;
  // Sets the record as a host would after loading it.
  void Set(uint8_t clamp, std::string_view text);
  std::string Text() { return std::string(Settings().text); }
  // A snapshot of the record's 2049 bytes.
  std::vector<uint8_t> Bytes();

  int Init();
  long Param();
  int Start();
  int End();
  int Run();
  int Configure(HWND parent);
  std::string Describe();
  // WriteScriptLine into a buffer of `maxlen` bytes; *written gets the result.
  std::string ScriptLine(int maxlen = 4096, bool* written = nullptr);

  FilterStateInfo state{};
  VFBitmap src{};
  VFBitmap dst{};

 private:
  FilterDefinition* def_;
  std::vector<uint8_t> bytes_;
  FilterActivation fa_{};
};

// A 32-bit bitmap in host layout: `data` points at the picture's last line
// and a positive pitch climbs to the line above; a negative pitch stores the
// lines top-down instead. Padding words hold a sentinel.
struct HostBitmap {
  static constexpr uint32_t kPad = 0xDEADBEEF;
  std::vector<uint32_t> memory;
  VFBitmap bitmap{};

  HostBitmap(int w, int h, int pitchBytes);
  uint32_t& At(int x, int row) { return bitmap.data[row * (bitmap.pitch / 4) + x]; }
  bool PaddingIntact() const;
  ConstPixelView ConstView() const {
    return {bitmap.data, bitmap.w, bitmap.h, static_cast<int32_t>(bitmap.pitch)};
  }
  PixelView View() { return {bitmap.data, bitmap.w, bitmap.h, static_cast<int32_t>(bitmap.pitch)}; }
};

// The x87 control word and MXCSR of the calling thread.
struct FpuState {
  uint16_t control;
  uint32_t mxcsr;
  bool operator==(const FpuState&) const = default;
};
void PrintTo(const FpuState& s, std::ostream* os);
FpuState ReadFpu();
void WriteFpu(FpuState state);
// Round toward zero, 53-bit x87 precision, flush-to-zero and
// denormals-are-zero: what a host may leave set. All exceptions masked.
inline constexpr FpuState kHostileFpu{0x0E7F, 0xFFC0};
// As kHostileFpu, with the invalid and divide-by-zero exceptions unmasked.
inline constexpr FpuState kTrappingFpu{0x0E7A, 0xFD40};
inline constexpr FpuState kDefaultFpu{0x037F, 0x1F80};

// Calls the script function `name` of the definition's script object,
// picking the overload whose signature matches the arguments, as the host
// does. False when no overload matches.
bool CallScript(FilterDefinition* def, Instance& inst, const char* name,
                const std::vector<ScriptArg>& args);

// Loads a saved script line into the instance as the host does: reads it by
// the host's rules and calls the function it names. False when the line does
// not read or no overload matches.
bool LoadScriptLine(FilterDefinition* def, Instance& inst, const std::string& line);

// A record as a host keeps it: the option byte (any value; a loaded record
// holds 0 or 1) and the program text.
struct SampleRecord {
  uint8_t clamp;
  std::string text;
};

// The records whose script lines the tests save and load, in a fixed order:
// empty texts, line breaks and tabs, the host's escape characters, hex digits
// after an escape, every byte but NUL, and texts of the field's full length.
// tests/windows/script_lines.txt holds their lines as the module saves them.
const std::vector<SampleRecord>& SampleRecords();

// The bytes a fresh instance holds once the line saved for `r` is loaded.
std::vector<uint8_t> LoadedBytes(const SampleRecord& r);

}  // namespace vexlor::testhost
