// The dialog template and the logo as the module carries them, read from the
// loaded image byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "test_host.h"

namespace vexlor::testhost {
namespace {

constexpr WORD kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
static_assert(kFrench == 1036);

// The bytes of a resource in the French language; empty when it is missing.
std::vector<uint8_t> ResourceBytes(HMODULE h, LPCSTR type, int id) {
  HRSRC res = FindResourceExA(h, type, MAKEINTRESOURCEA(id), kFrench);
  if (!res) return {};
  auto data = static_cast<const uint8_t*>(LockResource(LoadResource(h, res)));
  return std::vector<uint8_t>(data, data + SizeofResource(h, res));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD lang, LONG_PTR out) {
  reinterpret_cast<std::set<WORD>*>(out)->insert(lang);
  return TRUE;
}

// Every language in which the module carries the resource.
std::set<WORD> ResourceLanguages(HMODULE h, LPCSTR type, int id) {
  std::set<WORD> langs;
  EnumResourceLanguagesA(h, type, MAKEINTRESOURCEA(id), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&langs));
  return langs;
}

// Walks a standard (not extended) dialog template.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<uint8_t>& b) : b_(b) {}
  WORD Word() {
    WORD w = b_.at(pos_) | b_.at(pos_ + 1) << 8;
    pos_ += 2;
    return w;
  }
  DWORD Dword() {
    DWORD lo = Word();
    return lo | static_cast<DWORD>(Word()) << 16;
  }
  short Short() { return static_cast<short>(Word()); }
  // A string or, after 0xFFFF, an ordinal written as "#n"; ASCII texts only.
  std::string StringOrOrdinal() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string s;
    for (WORD c = first; c != 0; c = Word()) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }
  size_t Remaining() const { return b_.size() - pos_; }

 private:
  const std::vector<uint8_t>& b_;
  size_t pos_ = 0;
};

struct Control {
  WORD id;
  std::string cls;  // ordinal of the predefined class
  DWORD style;
  short x, y, cx, cy;
  std::string text;
};

const char kHelp[] =
    "Enter your expression here. Separate assignations with ';'. Variable defined : rs, gs, bs "
    "(source, between 0 and 1), fr : frame.\nYou must assign rd, gd and bd.\nExample : "
    "rd=rs;gd=gs;bd=bs;";
const char kFunctions[] =
    "rand(0), fabs(1), acos(1), asin(1), atan(1), cos(1), cosh(1), deg(1), exp(1), fac(1), "
    "log(1), log10(1), rad(1), round(1), sin(1), sinh(1), sqr(1), sqrt(1), tan(1), tanh(1), "
    "trunc(1), floor(1), ceil(1), not(1)";
const char kOperators[] =
    "+(2), -(2), *(2), /(2), ^(2), %(2), >(2), >=(2), <(2), <=(2), ==(2), !=(2), &&(2), |(2), "
    "~(2), if(3), min(n), max(n), sum(n), med(n) ";

// Class ordinals: 0x80 button, 0x81 edit, 0x82 static.
const Control kControls[] = {
    {1, "#128", 0x50010001, 191, 210, 50, 14, "OK"},
    {2, "#128", 0x50010000, 129, 210, 50, 14, "Cancel"},
    {1000, "#129", 0x50810004, 15, 69, 214, 49, ""},
    {0xFFFF, "#130", 0x5000100E, 205, 13, 36, 33, "#102"},
    {0xFFFF, "#128", 0x50000007, 7, 7, 234, 123, "Expression"},
    {0xFFFF, "#130", 0x50020000, 17, 22, 157, 45, kHelp},
    {1001, "#128", 0x50010000, 7, 210, 50, 14, "Parse (test)"},
    {1002, "#128", 0x50010003, 7, 135, 62, 10, "Verify 0-1 limits"},
    {0xFFFF, "#128", 0x50000007, 7, 147, 234, 58, "Functions"},
    {0xFFFF, "#130", 0x50020000, 17, 159, 213, 24, kFunctions},
    {0xFFFF, "#130", 0x50020000, 17, 183, 217, 17, kOperators},
};

class ResourceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(lib.Load()); }
  void TearDown() override { lib.Unload(); }
  LoadedModule lib;
};

TEST_F(ResourceTest, DialogTemplate101) {
  EXPECT_EQ(ResourceLanguages(lib.handle, RT_DIALOG, 101), std::set<WORD>{kFrench});
  std::vector<uint8_t> bytes = ResourceBytes(lib.handle, RT_DIALOG, 101);
  ASSERT_FALSE(bytes.empty());
  TemplateReader r(bytes);
  EXPECT_EQ(r.Dword(), 0x80C800C0u) << "style";
  EXPECT_EQ(r.Dword(), 0u) << "extended style";
  WORD count = r.Word();
  ASSERT_EQ(count, 11);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 0);
  EXPECT_EQ(r.Short(), 248);
  EXPECT_EQ(r.Short(), 231);
  EXPECT_EQ(r.StringOrOrdinal(), "") << "menu";
  EXPECT_EQ(r.StringOrOrdinal(), "") << "class";
  EXPECT_EQ(r.StringOrOrdinal(), "Vexlor by Quillmere");
  EXPECT_EQ(r.Word(), 8) << "font size";
  EXPECT_EQ(r.StringOrOrdinal(), "MS Sans Serif");
  for (const Control& want : kControls) {
    SCOPED_TRACE(want.text.substr(0, 20));
    r.AlignDword();
    EXPECT_EQ(r.Dword(), want.style);
    EXPECT_EQ(r.Dword(), 0u) << "extended style";
    EXPECT_EQ(r.Short(), want.x);
    EXPECT_EQ(r.Short(), want.y);
    EXPECT_EQ(r.Short(), want.cx);
    EXPECT_EQ(r.Short(), want.cy);
    EXPECT_EQ(r.Word(), want.id);
    EXPECT_EQ(r.StringOrOrdinal(), want.cls);
    EXPECT_EQ(r.StringOrOrdinal(), want.text);
    EXPECT_EQ(r.Word(), 0) << "creation data";
  }
  EXPECT_LT(r.Remaining(), 4u);
}

TEST_F(ResourceTest, LogoBitmap102) {
  EXPECT_EQ(ResourceLanguages(lib.handle, RT_BITMAP, 102), std::set<WORD>{kFrench});
  std::vector<uint8_t> bytes = ResourceBytes(lib.handle, RT_BITMAP, 102);
  ASSERT_EQ(bytes.size(), 3768u);
  BITMAPINFOHEADER h;
  std::memcpy(&h, bytes.data(), sizeof h);
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 52);
  EXPECT_EQ(h.biHeight, 52);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 8);
  EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(h.biSizeImage, 2704u);
  EXPECT_EQ(h.biClrUsed, 0u);
  // A drawn picture, not an empty one.
  std::set<uint8_t> used(bytes.begin() + 40 + 1024, bytes.end());
  EXPECT_GE(used.size(), 8u);
  HBITMAP bmp = LoadBitmapA(lib.handle, MAKEINTRESOURCEA(102));
  EXPECT_NE(bmp, nullptr);
  if (bmp) DeleteObject(bmp);
}

// The version resource that the file's properties show: the fixed numbers
// and the texts both carry the project's version.
TEST_F(ResourceTest, VersionInfo) {
  EXPECT_EQ(ResourceLanguages(lib.handle, RT_VERSION, 1), std::set<WORD>{kFrench});
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(VEXLOR_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(lib.handle, path, MAX_PATH), 0u);
  DWORD unused = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &unused);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, major << 16 | minor);
  EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  const auto* translation = static_cast<const WORD*>(value);
  EXPECT_EQ(translation[0], kFrench);
  EXPECT_EQ(translation[1], 1252);
  for (const char* key : {"FileVersion", "ProductVersion"}) {
    std::string query = std::string("\\StringFileInfo\\040C04E4\\") + key;
    ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), &value, &length)) << key;
    EXPECT_STREQ(static_cast<const char*>(value), VEXLOR_VERSION) << key;
  }
}

}  // namespace
}  // namespace vexlor::testhost
