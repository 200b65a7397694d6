// Drives vexlor.vdf the way the host does: loading, registration, every
// callback on guarded records, frames against the core's reference mapping,
// and the script line read back through the host's literal rules.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>

#include "host_script.h"
#include "test_host.h"

namespace vexlor::testhost {
namespace {

class ModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Load()) << ModulePath();
    def = lib.Register();
    ASSERT_NE(def, nullptr);
  }
  void TearDown() override {
    lib.Deregister();
    lib.Unload();
  }
  LoadedModule lib;
  FilterDefinition* def = nullptr;
};

// ---- Module image -----------------------------------------------------------

// The PE headers of this target's kind (PE32 or PE32+).
const IMAGE_NT_HEADERS* NtHeaders(HMODULE h) {
  auto base = reinterpret_cast<const uint8_t*>(h);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

// Names in the export directory of the loaded image.
std::vector<std::string> ExportedNames(HMODULE h) {
  auto base = reinterpret_cast<const uint8_t*>(h);
  const auto& dir = NtHeaders(h)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto names = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
  std::vector<std::string> out;
  for (DWORD i = 0; i < exp->NumberOfNames; ++i)
    out.emplace_back(reinterpret_cast<const char*>(base + names[i]));
  if (exp->NumberOfFunctions != exp->NumberOfNames) out.push_back("<unnamed export>");
  return out;
}

// DLL names in the import directory of the loaded image, lower case.
std::vector<std::string> ImportedDlls(HMODULE h) {
  auto base = reinterpret_cast<const uint8_t*>(h);
  const auto& dir = NtHeaders(h)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> out;
  for (auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name; ++imp) {
    std::string name(reinterpret_cast<const char*>(base + imp->Name));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.push_back(name);
  }
  return out;
}

TEST(ModuleImage, ExportsExactlyTheTwoUndecoratedEntryPoints) {
  LoadedModule lib;
  ASSERT_TRUE(lib.Load()) << ModulePath();
  EXPECT_EQ(ExportedNames(lib.handle),
            (std::vector<std::string>{"VirtualdubFilterModuleDeinit",
                                      "VirtualdubFilterModuleInit2"}));
  EXPECT_EQ(GetProcAddress(lib.handle, "_VirtualdubFilterModuleInit2"), nullptr);
  EXPECT_EQ(GetProcAddress(lib.handle, "VirtualdubFilterModuleInit2@16"), nullptr);
  EXPECT_EQ(NtHeaders(lib.handle)->FileHeader.Machine, kModuleMachine);
  lib.Unload();
}

TEST(ModuleImage, ImportsSystemDllsOnly) {
  LoadedModule lib;
  ASSERT_TRUE(lib.Load());
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "msvcrt.dll",
                                        "gdi32.dll", "advapi32.dll"};
  for (const std::string& dll : ImportedDlls(lib.handle))
    EXPECT_TRUE(system.count(dll)) << "imports " << dll;
  lib.Unload();
}

// Newer hosts load, register, deregister and unload the module repeatedly.
TEST(ModuleImage, SurvivesRepeatedLoadCycles) {
  for (int cycle = 0; cycle < 3; ++cycle) {
    LoadedModule lib;
    ASSERT_TRUE(lib.Load());
    FilterDefinition* def = lib.Register();
    ASSERT_NE(def, nullptr) << "cycle " << cycle;
    Instance inst(def);
    inst.Set(0, "rd=rs;");
    EXPECT_EQ(inst.Describe(), " [rd=rs;] ");
    lib.Deregister();
    EXPECT_EQ(Recorded().removed, def);
    lib.Unload();
  }
}

TEST(ModuleImage, LoadingAndRegisteringKeepTheFloatingPointState) {
  WriteFpu(kHostileFpu);
  LoadedModule lib;
  bool loaded = lib.Load();
  FpuState afterLoad = ReadFpu();
  FilterDefinition* def = loaded ? lib.Register() : nullptr;
  FpuState afterInit = ReadFpu();
  if (def) lib.Deregister();
  lib.Unload();
  FpuState afterUnload = ReadFpu();
  WriteFpu(kDefaultFpu);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(afterLoad, kHostileFpu);
  EXPECT_EQ(afterInit, kHostileFpu);
  EXPECT_EQ(afterUnload, kHostileFpu);
}

// ---- Registration ----------------------------------------------------------

// Slot k of a definition record: every field takes one pointer-sized slot,
// at 4 * k on 32-bit x86 and 8 * k on x86-64.
uintptr_t Slot(const std::vector<uint8_t>& bytes, size_t k) {
  uintptr_t v;
  std::memcpy(&v, &bytes.at(k * sizeof v), sizeof v);
  return v;
}

TEST_F(ModuleTest, RegistersVersion8CompatibleWith4) {
  LoadedModule other;
  ASSERT_TRUE(other.Load());
  Recorded() = Recorder{};
  int version = 6, compatible = 6;
  EXPECT_EQ(other.init(&other.module, &HostFunctions(), &version, &compatible), 0);
  EXPECT_EQ(version, 8);
  EXPECT_EQ(compatible, 4);
  EXPECT_EQ(Recorded().addCalls, 1);
  EXPECT_EQ(Recorded().module, &other.module);
  EXPECT_EQ(Recorded().fdLen, static_cast<int>(kHostDefinitionSize));
  other.Deregister();
  other.Unload();
}

TEST_F(ModuleTest, RefusedRegistrationReturns1AndKeepsTheVersions) {
  Recorded() = Recorder{};
  Recorded().refuse = true;
  int version = 1234, compatible = 5678;
  EXPECT_EQ(lib.init(&lib.module, &HostFunctions(), &version, &compatible), 1);
  EXPECT_EQ(version, 1234);
  EXPECT_EQ(compatible, 5678);
  EXPECT_EQ(Recorded().addCalls, 1);
  lib.Deregister();
  EXPECT_EQ(Recorded().removed, nullptr);
  def = lib.Register();  // for TearDown
}

TEST_F(ModuleTest, DeinitRemovesTheHostsCopy) {
  lib.Deregister();
  EXPECT_EQ(Recorded().removeCalls, 1);
  EXPECT_EQ(Recorded().removed, def);
  def = lib.Register();
}

// Reads the definition the module handed over by raw offset, independently of
// the record declarations.
TEST_F(ModuleTest, DefinitionFieldsAtTheirOffsets) {
  const std::vector<uint8_t>& d = Recorded().received;
  ASSERT_EQ(d.size(), kHostDefinitionSize);
  auto base = reinterpret_cast<uintptr_t>(lib.handle);
  uintptr_t end = base + NtHeaders(lib.handle)->OptionalHeader.SizeOfImage;
  auto inImage = [&](size_t k) { return Slot(d, k) >= base && Slot(d, k) < end; };
  auto text = [&](size_t k) { return std::string(reinterpret_cast<const char*>(Slot(d, k))); };

  for (size_t k : {0, 1, 2, 6}) EXPECT_EQ(Slot(d, k), 0u) << "slot " << k;
  EXPECT_EQ(text(3), "vexlor");
  EXPECT_EQ(text(4), "add any effect that can vbe expressed");
  EXPECT_EQ(text(5), "Quillmere");
  int32_t instSize;
  std::memcpy(&instSize, &d[7 * sizeof(void*)], 4);
  EXPECT_EQ(instSize, 2049);
  for (size_t k : {8, 10, 11, 12, 13, 14, 15, 16, 17}) EXPECT_TRUE(inImage(k)) << "slot " << k;
  EXPECT_EQ(Slot(d, 9), 0u) << "deinitProc";
  EXPECT_EQ(Slot(d, 14), Slot(d, 15)) << "start and end share one callback";
  for (size_t k : {18, 19, 20, 21}) EXPECT_EQ(Slot(d, k), 0u) << "slot " << k;
}

TEST_F(ModuleTest, ScriptObjectDeclaresConfigWithTwoOverloads) {
  const CScriptObject* obj = def->script_obj;
  EXPECT_EQ(obj->Lookup, nullptr);
  EXPECT_EQ(obj->obj_list, nullptr);
  const ScriptFunctionDef* f = obj->func_list;
  ASSERT_NE(f[0].func_ptr, nullptr);
  EXPECT_STREQ(f[0].name, "Config");
  EXPECT_STREQ(f[0].arg_list, "0si");
  ASSERT_NE(f[1].func_ptr, nullptr);
  EXPECT_EQ(f[1].name, nullptr);
  EXPECT_STREQ(f[1].arg_list, "0s");
  EXPECT_EQ(f[2].func_ptr, nullptr);
  EXPECT_EQ(f[2].name, nullptr);
  EXPECT_EQ(f[2].arg_list, nullptr);
}

// ---- Instance callbacks --------------------------------------------------------

TEST_F(ModuleTest, InitClearsTheRecord) {
  Instance inst(def);
  inst.Set(9, "left over");
  EXPECT_EQ(inst.Init(), 0);
  EXPECT_EQ(inst.Settings().clamp, 0);
  EXPECT_EQ(inst.Text(), "");
  EXPECT_TRUE(inst.GuardsIntact());
}

TEST_F(ModuleTest, ParamAsksForSeparateBuffersAndLeavesTheDestinationAlone) {
  Instance inst(def);
  HostBitmap src(6, 4, 32), dst(6, 4, 32);
  inst.src = src.bitmap;
  inst.dst = dst.bitmap;
  VFBitmap before = inst.dst;
  EXPECT_EQ(inst.Param(), FILTERPARAM_SWAP_BUFFERS);
  EXPECT_EQ(std::memcmp(&before, &inst.dst, sizeof before), 0);
}

TEST_F(ModuleTest, StartAndEndSucceedInAnyOrder) {
  Instance inst(def);
  inst.Init();
  EXPECT_EQ(inst.End(), 0);  // without start
  EXPECT_EQ(inst.Start(), 0);
  EXPECT_EQ(inst.End(), 0);
  EXPECT_EQ(inst.End(), 0);  // twice
  EXPECT_TRUE(inst.GuardsIntact());
}

// ---- Frames ----------------------------------------------------------------------

// Runs the filter on a bitmap in host layout and compares every pixel with the
// core's reference mapping of the same frame; padding stays untouched.
void ExpectRunMatchesReference(FilterDefinition* def, uint8_t clamp, const char* program,
                               int w, int h, int pitch, long frame) {
  SCOPED_TRACE(testing::Message() << program << " clamp " << int(clamp) << " " << w << "x" << h
                                  << " pitch " << pitch << " frame " << frame);
  HostBitmap src(w, h, pitch), dst(w, h, pitch), want(w, h, pitch);
  uint32_t seed = 12345;
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) src.At(x, row) = seed = seed * 1103515245u + 12345u;
  Instance inst(def);
  inst.Init();
  inst.Set(clamp, program);
  inst.src = src.bitmap;
  inst.dst = dst.bitmap;
  inst.state.lCurrentFrame = frame;
  inst.Param();
  inst.Start();
  EXPECT_EQ(inst.Run(), 0);
  inst.End();
  MapFrameReference(inst.Settings(), src.ConstView(), want.View(), static_cast<int32_t>(frame));
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(dst.At(x, row), want.At(x, row)) << "at " << x << "," << row;
  EXPECT_TRUE(dst.PaddingIntact());
  EXPECT_TRUE(inst.GuardsIntact());
}

TEST_F(ModuleTest, RunMatchesTheReferenceMapping) {
  struct Case {
    uint8_t clamp;
    const char* program;
  };
  const Case cases[] = {
      {0, "rd=rs;gd=gs;bd=bs;"},
      {0, "rd=rs*2;gd=gs-0.5;bd=bs*bs+fr/256;"},
      {1, "rd=rs*2;gd=gs-0.5;bd=bs*bs+fr/256;"},
      {1, "x=fr%7;rd=x/7;gd=1/3*3;bd=if(rs>gs,rs,gs);"},
      {0, "rd=sqrt(rs)+sin(gs*pi);gd=exp(bs)-1;bd=fac(5)/fr;"},
      {0, "rd 0.5;"},
  };
  for (const Case& c : cases) {
    ExpectRunMatchesReference(def, c.clamp, c.program, 7, 5, 40, 1234);
    ExpectRunMatchesReference(def, c.clamp, c.program, 7, 5, -32, -5);
  }
}

TEST_F(ModuleTest, RunOnEmptyFramesWritesNothing) {
  ExpectRunMatchesReference(def, 0, "rd=1;", 0, 3, 16, 0);
  ExpectRunMatchesReference(def, 0, "rd=1;", 3, 0, 16, 0);
  ExpectRunMatchesReference(def, 1, "rd=1;", 1, 1, 8, 0);
}

// The offsets at which the host puts what runProc reads, written down from
// the host's layouts apart from the record declarations: in the activation,
// filter_data, dst, src and pfsi; in a bitmap, data, w, h and pitch (on
// x86-64 eight bytes at 40, not a four-byte long at 36).
struct RawLayout {
  size_t activation, filterData, dst, src, pfsi;
  size_t bitmap, data, w, h, pitch;
};
constexpr RawLayout kRaw = VEXLOR_AT((RawLayout{48, 4, 8, 12, 40, 48, 4, 16, 20, 24}),
                                     (RawLayout{80, 8, 16, 24, 64, 88, 8, 28, 32, 40}));

// Writes a value of type T at byte `at` of a raw record.
template <typename T>
void Put(std::vector<uint8_t>& record, size_t at, T value) {
  std::memcpy(&record.at(at), &value, sizeof value);
}

// A bitmap record built byte by byte; the rest holds a filler that no field
// may be read from.
std::vector<uint8_t> RawBitmap(HostBitmap& b) {
  std::vector<uint8_t> raw(kRaw.bitmap, 0xCC);
  Put(raw, kRaw.data, b.bitmap.data);
  Put(raw, kRaw.w, int32_t{b.bitmap.w});
  Put(raw, kRaw.h, int32_t{b.bitmap.h});
  Put(raw, kRaw.pitch, b.bitmap.pitch);  // pointer-sized on both targets
  return raw;
}

// runProc on an activation and bitmaps laid out byte by byte at the host's
// offsets, with a negative pitch (its upper half all ones on x86-64): the
// module reads each field where the host puts it.
TEST_F(ModuleTest, RunReadsTheHostsRecordsAtTheirOffsets) {
  const int w = 5, h = 3, pitch = -24;
  HostBitmap src(w, h, pitch), dst(w, h, pitch), want(w, h, pitch);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) src.At(x, row) = 0x00102030u * (x + 1) + 0x00050000u * row;
  Instance inst(def);
  inst.Set(0, "rd=gs;gd=bs*2;bd=rs+fr/256;");
  FilterStateInfo state{};
  state.lCurrentFrame = 9;
  std::vector<uint8_t> srcRaw = RawBitmap(src), dstRaw = RawBitmap(dst);
  std::vector<uint8_t> fa(kRaw.activation, 0xCC);
  Put(fa, 0, def);
  Put(fa, kRaw.filterData, static_cast<void*>(&inst.Settings()));
  Put(fa, kRaw.dst, dstRaw.data());
  Put(fa, kRaw.src, srcRaw.data());
  Put(fa, kRaw.pfsi, &state);
  EXPECT_EQ(def->runProc(reinterpret_cast<FilterActivation*>(fa.data()), &HostFunctions()), 0);
  MapFrameReference(inst.Settings(), src.ConstView(), want.View(), 9);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) EXPECT_EQ(dst.At(x, row), want.At(x, row)) << x << "," << row;
  EXPECT_TRUE(dst.PaddingIntact());
}

#if defined(_WIN64)
// The host's pitch is eight bytes on x86-64; one beyond the core's 32 bits
// (no real frame's) leaves the destination untouched instead of being cut
// and writing other rows.
TEST_F(ModuleTest, RunLeavesAFrameWithAPitchBeyond32BitsAlone) {
  HostBitmap src(4, 2, 16), dst(4, 2, 16);
  Instance inst(def);
  inst.Set(1, "rd=1;gd=1;bd=1;");
  inst.src = src.bitmap;
  inst.dst = dst.bitmap;
  for (ptrdiff_t huge : {ptrdiff_t{16} + (ptrdiff_t{1} << 32), -(ptrdiff_t{1} << 40)}) {
    inst.dst.pitch = huge;
    EXPECT_EQ(inst.Run(), 0);
    inst.dst.pitch = 16;
    inst.src.pitch = huge;
    EXPECT_EQ(inst.Run(), 0);
    inst.src.pitch = 16;
  }
  for (int row = 0; row < 2; ++row)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.At(x, row), 0u);
  EXPECT_TRUE(dst.PaddingIntact());
}
#endif

// A host may run with other rounding, precision and flush-to-zero settings, or
// with exceptions unmasked: every callback leaves them as they were, and the
// pixels do not depend on them.
TEST_F(ModuleTest, CallbacksKeepTheHostsFloatingPointState) {
  HostBitmap src(4, 3, 16), dst(4, 3, 16), want(4, 3, 16);
  for (int row = 0; row < 3; ++row)
    for (int x = 0; x < 4; ++x) src.At(x, row) = 0x00402010u * (x + 1) + row;
  Instance inst(def);
  inst.src = src.bitmap;
  inst.dst = dst.bitmap;
  inst.state.lCurrentFrame = 3;
  // 1/3*3 is 1 when rounded to nearest and just below 1 toward zero; the
  // square root of a negative number and log(0) trap when unmasked.
  const char* program = "rd=1/3*3;gd=sqrt(0-rs)+rs;bd=log(0)+gs;";
  inst.Set(0, program);
  MapFrameReference(inst.Settings(), src.ConstView(), want.View(), 3);

  for (FpuState host : {kHostileFpu, kTrappingFpu}) {
    SCOPED_TRACE(testing::Message() << std::hex << host.control << " " << host.mxcsr);
    std::vector<std::pair<const char*, FpuState>> seen;
    auto check = [&](const char* what, auto&& call) {
      WriteFpu(host);
      call();
      FpuState after = ReadFpu();
      WriteFpu(kDefaultFpu);
      seen.emplace_back(what, after);
    };
    check("param", [&] { inst.Param(); });
    check("start", [&] { inst.Start(); });
    check("run", [&] { inst.Run(); });
    check("end", [&] { inst.End(); });
    check("describe", [&] { inst.Describe(); });
    check("script line", [&] { inst.ScriptLine(); });
    check("config", [&] { CallScript(def, inst, "Config", {{true, program, 0}, {false, "", 0}}); });
    check("init", [&] { inst.Init(); });
    for (auto& [what, after] : seen) EXPECT_EQ(after, host) << what;
    for (int row = 0; row < 3; ++row)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.At(x, row), want.At(x, row));
    inst.Set(0, program);
  }
}

// ---- Summary text ------------------------------------------------------------------

TEST_F(ModuleTest, SummaryShowsTheFirst128Characters) {
  Instance inst(def);
  inst.Init();
  EXPECT_EQ(inst.Describe(), " [] ");
  inst.Set(1, "rd=rs;gd=gs;bd=bs;");
  EXPECT_EQ(inst.Describe(), " [rd=rs;gd=gs;bd=bs;] ");
  std::string t128(128, 'a'), t2047(2047, 'b');
  t128.back() = 'z';
  inst.Set(0, t128);
  EXPECT_EQ(inst.Describe(), " [" + t128 + "] ");
  inst.Set(0, t2047);
  EXPECT_EQ(inst.Describe(), " [" + t2047.substr(0, 128) + "] ");
  EXPECT_EQ(inst.Text(), t2047) << "the record is not cut";
  EXPECT_TRUE(inst.GuardsIntact());
}

// ---- Script line and "Config" ---------------------------------------------------

TEST_F(ModuleTest, ScriptLineQuotesTheWholeTextAndTheOption) {
  Instance inst(def);
  inst.Init();
  EXPECT_EQ(inst.ScriptLine(), "Config(\"\", 0)");
  inst.Set(0, "rd=rs;gd=gs;bd=bs;");
  EXPECT_EQ(inst.ScriptLine(), "Config(\"rd=rs;gd=gs;bd=bs;\", 0)");
  inst.Set(7, "a\"b\\c\nd\x7f\xe9");
  EXPECT_EQ(inst.ScriptLine(), "Config(\"a\\\"b\\\\c\\x0ad\\x7f\\xe9\", 1)");
  std::string t200(200, 'q');
  inst.Set(0, t200);
  EXPECT_EQ(inst.ScriptLine(), "Config(\"" + t200 + "\", 0)");
}

TEST_F(ModuleTest, ScriptLineIsWholeOrEmpty) {
  Instance inst(def);
  inst.Set(1, "rd=rs;");
  const std::string line = "Config(\"rd=rs;\", 1)";
  const int fits = static_cast<int>(line.size()) + 1;
  bool written = false;
  EXPECT_EQ(inst.ScriptLine(fits, &written), line);
  EXPECT_TRUE(written);
  EXPECT_EQ(inst.ScriptLine(fits - 1, &written), "");
  EXPECT_FALSE(written);
  EXPECT_EQ(inst.ScriptLine(1, &written), "");
  EXPECT_FALSE(written);
  EXPECT_EQ(inst.ScriptLine(0, &written), "");
  EXPECT_FALSE(written);
  // 2047 bytes that each need \xhh do not fit the host's 4096 bytes.
  inst.Set(0, std::string(2047, '\xe9'));
  EXPECT_EQ(inst.ScriptLine(4096, &written), "");
  EXPECT_FALSE(written);
}

TEST_F(ModuleTest, ConfigSetsTextAndOption) {
  Instance inst(def);
  inst.Init();
  ASSERT_TRUE(CallScript(def, inst, "Config", {{true, "rd=rs; gd=gs;", 0}, {false, "", 1}}));
  EXPECT_EQ(inst.Text(), "rd=rs; gd=gs;");
  EXPECT_EQ(inst.Settings().clamp, 1);
  ASSERT_TRUE(CallScript(def, inst, "Config", {{true, "  rd=1;\ngd=1;", 0}, {false, "", 0}}));
  EXPECT_EQ(inst.Text(), "  rd=1;\ngd=1;");
  EXPECT_EQ(inst.Settings().clamp, 0);
  ASSERT_TRUE(CallScript(def, inst, "Config", {{true, "", 0}, {false, "", -7}}));
  EXPECT_EQ(inst.Text(), "");
  EXPECT_EQ(inst.Settings().clamp, 1);
  EXPECT_TRUE(inst.GuardsIntact());
}

TEST_F(ModuleTest, ConfigWithTextAloneKeepsTheOption) {
  Instance inst(def);
  inst.Set(1, "old");
  ASSERT_TRUE(CallScript(def, inst, "Config", {{true, "rd=gs;", 0}}));
  EXPECT_EQ(inst.Text(), "rd=gs;");
  EXPECT_EQ(inst.Settings().clamp, 1);
  EXPECT_FALSE(CallScript(def, inst, "Config", {{false, "", 1}, {false, "", 1}}))
      << "no integer-only overload";
}

TEST_F(ModuleTest, ConfigCutsLongTextsTo2047Characters) {
  Instance inst(def);
  std::string t3000;
  for (int i = 0; i < 3000; ++i) t3000 += static_cast<char>('a' + i % 26);
  ASSERT_TRUE(CallScript(def, inst, "Config", {{true, t3000, 0}, {false, "", 1}}));
  EXPECT_EQ(inst.Text(), t3000.substr(0, 2047));
  ASSERT_TRUE(CallScript(def, inst, "Config", {{true, t3000, 0}}));
  EXPECT_EQ(inst.Text(), t3000.substr(0, 2047));
  EXPECT_TRUE(inst.GuardsIntact());
}

// Saves each sample record as the host does, reads the line back by the
// host's rules, runs it on a fresh instance, and expects the same record.
TEST_F(ModuleTest, ScriptLineRoundTripsTheRecord) {
  for (const SampleRecord& r : SampleRecords()) {
    SCOPED_TRACE(testing::Message() << "text of " << r.text.size() << " bytes, clamp "
                                    << int(r.clamp));
    Instance saved(def);
    saved.Set(r.clamp, r.text);
    bool written = false;
    std::string line = saved.ScriptLine(4096, &written);
    ASSERT_TRUE(written);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    Instance loaded(def);
    loaded.Init();
    ASSERT_TRUE(LoadScriptLine(def, loaded, line)) << line;
    EXPECT_EQ(loaded.Bytes(), LoadedBytes(r));
  }
}

// The lines the other build saves are the fixed list in script_lines.txt:
// this build saves every sample record as exactly that line, and loads each
// line to that record, byte for byte.
TEST_F(ModuleTest, FixedScriptLinesSaveAndLoadAlike) {
  std::ifstream file(BesideProgram("script_lines.txt"), std::ios::binary);
  ASSERT_TRUE(file) << "script_lines.txt";
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), SampleRecords().size());
  for (size_t k = 0; k < lines.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "line " << k + 1);
    const SampleRecord& r = SampleRecords()[k];
    Instance saved(def);
    saved.Set(r.clamp, r.text);
    EXPECT_EQ(saved.ScriptLine(), lines[k]);
    Instance loaded(def);
    loaded.Init();
    ASSERT_TRUE(LoadScriptLine(def, loaded, lines[k]));
    EXPECT_EQ(loaded.Bytes(), LoadedBytes(r));
  }
}

// The test host's reader follows the host's rules, not the module's writer.
TEST(HostScriptReader, FollowsTheHostsLiteralRules) {
  ScriptCall call;
  ASSERT_TRUE(ParseScriptCall(R"(Config("a\tb\x41\q\"\\", -0x1f))", call));
  EXPECT_EQ(call.name, "Config");
  ASSERT_EQ(call.args.size(), 2u);
  EXPECT_EQ(call.args[0].text, "a\tbAq\"\\");
  EXPECT_EQ(call.args[1].value, -31);
  ASSERT_TRUE(ParseScriptCall(R"(Config("ab\x00cd"))", call));
  EXPECT_EQ(call.args[0].text, "ab");
  EXPECT_FALSE(ParseScriptCall("Config(rd=rs;gd=gs;bd=bs;)", call));
  EXPECT_FALSE(ParseScriptCall("Config(\"a\nb\", 0)", call));
  EXPECT_FALSE(ParseScriptCall(R"(Config("\x4", 0))", call));
  EXPECT_FALSE(ParseScriptCall(R"(Config("a", 0);)", call));
  // Found by fuzzing: long digit strings overflowed the reader's integer.
  ASSERT_TRUE(ParseScriptCall(R"(Config("a", 0xFFFFFFFF))", call));
  EXPECT_EQ(call.args[1].value, -1);
  EXPECT_FALSE(ParseScriptCall(R"(Config("a", 4294967296))", call));
  EXPECT_FALSE(ParseScriptCall(R"(Config("a", 99999999999999999999999))", call));
}

}  // namespace
}  // namespace vexlor::testhost
