// Hostile input to the command line: picture headers that lie about their
// size, streams that end early, sizes that overflow, program files of any
// bytes and depth, outputs that cannot be written and a disk that fills up.
// Each ends with one clear line on standard error, a non-zero exit, no
// partial output, and memory bounded by a declared size that was checked
// against the limits before anything was allocated.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "cli_test_util.h"

namespace vexlor::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // ASan reserves terabytes: no address-space limit
#else
constexpr bool kSanitized = false;
#endif

// The address space the binary takes before it reads anything (mostly the
// shared libraries it maps, FFmpeg's among them), found once in steps of
// 16 MiB: the limits of the tests come on top of it.
int BaselineMiB() {
  static const int baseline = [] {
    for (int mib = 16; mib <= 4096; mib += 16)
      if (RunShell("ulimit -v " + std::to_string(mib * 1024) +
                   "; exec \"$VEXLOR\" --version >/dev/null 2>&1")
              .status == 0)
        return mib;
    return 0;
  }();
  return baseline;
}

// An address-space limit for the binary, `mib` above what it takes to
// start and well below what a size it refused would have taken; nothing
// under an instrumented build.
std::string MemoryLimit(int mib) {
  return kSanitized ? "" : "ulimit -v " + std::to_string((BaselineMiB() + mib) * 1024) + "; ";
}

// The run failed with `status` and one line on standard error that mentions
// `mention`.
void ExpectRefused(const RunResult& r, int status, const std::string& mention) {
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_EQ(r.err.rfind("vexlor: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// ---- PNG files with any header ----------------------------------------------

std::string Be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

std::string Chunk(const std::string& type, const std::string& data) {
  return Be32(uint32_t(data.size())) + type + data + Be32(Crc32(type + data));
}

// A PNG that declares width x height (8-bit RGB) and carries one stored
// deflate block of 10 zero bytes: far too little data for any large size.
std::string PngDeclaring(uint32_t width, uint32_t height) {
  std::string ihdr = Be32(width) + Be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
  std::string zlib("\x78\x01\x01\x0a\x00\xf5\xff", 7);
  zlib += std::string(10, '\0') + Be32(0x000A0001);  // Adler-32 of ten zeros
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr) + Chunk("IDAT", zlib) +
         Chunk("IEND", "");
}

// Runs apply on a picture file holding `bytes`, under a memory limit, into an
// existing output that must be left as it was.
RunResult ApplyTo(const ScratchDir& dir, const std::string& name, const std::string& bytes,
                  int memoryMiB) {
  WriteFile(dir.File(name), bytes);
  WriteFile(dir.File("out.png"), "keep me");
  RunResult r = RunShell(MemoryLimit(memoryMiB) + "exec \"$VEXLOR\" apply 'rd=rs;gd=gs;bd=bs;' " +
                         ShellQuote(dir.File(name)) + " " + ShellQuote(dir.File("out.png")));
  EXPECT_EQ(ReadFile(dir.File("out.png")), "keep me") << name;
  return r;
}

TEST(HostileInputTest, PictureHeadersThatLieAreRefusedBeforeAllocating) {
  struct Case {
    std::string name, bytes, mention;
  } cases[] = {
      {"a.ppm", "P6", "truncated PPM (the header is incomplete)"},
      {"b.ppm", "P6\n4 4\n255", "truncated PPM (the header is incomplete)"},
      {"c.ppm", "P6\n0 0\n255\n", "picture has no pixels"},
      {"d.ppm", "P6\n999999999 999999999\n255\n", "too large (more than 268435456 pixels)"},
      {"e.ppm", "P6\n16385 16384\n255\n", "too large"},
      {"f.ppm", "P6\n4294967297 1\n255\n", "corrupt PPM header"},
      // Within the limits: the data is counted before anything is allocated.
      {"g.ppm", "P6\n16384 16384\n255\n0123456789ab", "truncated PPM (12 of 805306368 bytes"},
      {"a.png", PngDeclaring(4, 4).substr(0, 20), "truncated PNG"},
      {"b.png", PngDeclaring(0, 0), "corrupt PNG (Invalid IHDR data)"},
      {"c.png", PngDeclaring(0x80000000u, 1), "corrupt PNG"},
      {"d.png", PngDeclaring(65535, 65535), "too large"},
      {"e.png", PngDeclaring(0x7FFFFFFF, 0x7FFFFFFF), "too large"},
      {"f.png", PngDeclaring(16385, 16384), "too large"},
  };
  ScratchDir dir;
  for (const Case& c : cases) ExpectRefused(ApplyTo(dir, c.name, c.bytes, 128), 1, c.mention);
}

TEST(HostileInputTest, PngDataShortOfItsDeclaredSizeUsesOnlyThatSize) {
  // 4096 x 4096 pixels take 48 MiB as RGB: the declared size, no more.
  ScratchDir dir;
  ExpectRefused(ApplyTo(dir, "in.png", PngDeclaring(4096, 4096), 192), 1,
                "corrupt PNG (Not enough image data)");
}

// ---- Streams ------------------------------------------------------------------

TEST(HostileInputTest, StreamSizesThatOverflowAreUsageErrors) {
  const char* sizes[] = {"4294967296x1", "99999999999999999999x1", "65536x65536",
                         "16385x16384",  "268435457x1",            "1x-1",
                         "0x0",          "x",                      "0x10"};
  for (const char* size : sizes) {
    RunResult r = RunShell(MemoryLimit(64) + "exec \"$VEXLOR\" stream --size " +
                           ShellQuote(size) + " 'rd=1;' </dev/null");
    ExpectRefused(r, 2, std::string("--size"));
    EXPECT_EQ(r.out, "") << size;
  }
}

TEST(HostileInputTest, StreamEndingInsideItsFirstFrameWritesNothing) {
  RunResult r = RunVexlor({"stream", "--size", "2x2", "rd=1;gd=1;bd=1;"}, "12345");
  ExpectRefused(r, 1, "standard input ends inside frame 1 (5 of its 16 bytes) after 0 complete "
                      "frames");
  EXPECT_EQ(r.out, "");
}

TEST(HostileInputTest, StreamToAFullDeviceIsAWriteError) {
  RunResult r = RunShell(
      "printf 0123456789abcdef | \"$VEXLOR\" stream --size 2x2 'rd=1;gd=1;bd=1;' >/dev/full");
  ExpectRefused(r, 1, "standard output: cannot write: No space left on device");
}

// ---- Program files --------------------------------------------------------------

TEST(HostileInputTest, ProgramFilesWithNulBytesAreRefusedByEveryCommand) {
  ScratchDir dir;
  WriteFile(dir.File("nul.txt"), std::string("rd=1;\0gd=1;", 11));
  for (std::vector<std::string> args :
       {std::vector<std::string>{"stream", "--size", "2x2"}, {"check"}, {"test"}, {"pixel"}}) {
    args.insert(args.end(), {"-f", dir.File("nul.txt")});
    RunResult r = RunVexlor(args, std::string(16, 'x'));
    ExpectRefused(r, 1, "nul.txt: NUL byte at offset 5");
    EXPECT_EQ(r.out, "") << args[0];
  }
}

TEST(HostileInputTest, BytesAbove0x7FFailWhereTheFilterFailsOnThem) {
  ScratchDir dir;
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(NoisePicture(3, 2, 4))));
  // An invalid character in an expression: the program does not run.
  WriteFile(dir.File("bad.txt"), "rd=1;gd=\xff;bd=\xc3\xa9;");
  WriteFile(dir.File("out.png"), "keep me");
  // apply and stream say why under their one line, as check does.
  const std::string why = "\nstatement 2: gd=\xff\n  error at column 4: invalid expression "
                          "(invalid character \"\xff\")\n    gd=\xff\n       ^\n";
  RunResult r = RunVexlor({"apply", "-f", dir.File("bad.txt"), dir.File("in.ppm"),
                           dir.File("out.png")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("vexlor: the program does not run", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir.File("out.png")), "keep me");
  r = RunVexlor({"stream", "--size", "3x2", "-f", dir.File("bad.txt")}, std::string(24, 'x'));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  r = RunVexlor({"check", "-f", dir.File("bad.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("error at column 4: invalid expression (invalid character \"\xff\")"),
            std::string::npos) << r.out;
  EXPECT_EQ(RunVexlor({"test", "-f", dir.File("bad.txt")}).out, "Error in expression !\n");
  ExpectRefused(RunVexlor({"pixel", "-f", dir.File("bad.txt")}), 1, "the program does not run");

  // In a name or after the last ';' they have no effect, as in the filter.
  WriteFile(dir.File("dead.txt"), "rd=gs;\xc3\xa9t\xc3\xa9=1;gd=rs;bd=bs;\xff\xfe");
  r = RunVexlor({"apply", "--exact-text", "--lenient", "-f", dir.File("dead.txt"),
                 dir.File("in.ppm"), dir.File("out.png")});
  EXPECT_EQ(r.status, 0) << r.err;
  // Without --lenient they are refused as parts that do nothing.
  r = RunVexlor({"apply", "--exact-text", "-f", dir.File("dead.txt"), dir.File("in.ppm"),
                 dir.File("out.png")});
  EXPECT_EQ(r.status, 1) << r.err;
}

TEST(HostileInputTest, ProgramsTooLongOrTooDeepEndWithAMessage) {
  ScratchDir dir;
  std::string huge;
  for (int i = 0; i < 200000; ++i) huge += "rd=1;";
  WriteFile(dir.File("huge.txt"), huge);
  std::string deep = "rd=" + std::string(200000, '(') + "1" + std::string(200000, ')') + ";";
  WriteFile(dir.File("deep.txt"), deep);
  for (const char* name : {"huge.txt", "deep.txt"}) {
    for (const char* command : {"apply", "check"}) {
      std::vector<std::string> args = {command, "-f", dir.File(name)};
      if (args[0] == "apply") args.insert(args.end(), {dir.File("in.ppm"), dir.File("o.ppm")});
      ExpectRefused(RunVexlor(args), 1, "characters long; the filter's settings record holds");
    }
  }
  // test and pixel run any length, as the statement runner does: the nesting
  // bound keeps the deepest program from exhausting the stack.
  EXPECT_EQ(RunVexlor({"test", "-f", dir.File("deep.txt")}).out, "Error in expression !\n");
  ExpectRefused(RunVexlor({"pixel", "-f", dir.File("deep.txt")}), 1, "the program does not run");
  // Within the record's length the bound never speaks: check shows the
  // program's own fault, the first ')' missing after the 1 in column 2004.
  RunResult r = RunVexlor({"check", "rd=" + std::string(2000, '(') + "1;"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("error at column 2005: \")\" expected"), std::string::npos) << r.out;
}

TEST(HostileInputTest, EndlessOrHugeInputsAreCutOffAtTheirLimit) {
  ExpectRefused(RunVexlor({"pixel", "-f", "/dev/zero"}), 1,
                "/dev/zero: more than 1048576 bytes, too large for a program");
  ExpectRefused(RunShell("yes | exec \"$VEXLOR\" check -f -"), 1,
                "standard input: more than 1048576 bytes, too large for a program");
  // A sparse file: its size alone refuses it, before a byte is read.
  ScratchDir dir;
  WriteFile(dir.File("huge.png"), "\x89PNG");
  std::filesystem::resize_file(dir.File("huge.png"), (uint64_t{5} << 30));
  ExpectRefused(
      RunVexlor({"apply", "rd=1;gd=1;bd=1;", dir.File("huge.png"), dir.File("out.png")}), 1,
      "huge.png: more than 4294967296 bytes, too large for a picture");
}

// A FIFO, a pipe and a process substitution can be read only once: a picture
// in one is read whole, once; a video is refused at once with the reason,
// not waited on or called an unknown format.
TEST(HostileInputTest, InputsThatCanBeReadOnlyOnceAreReadOnce) {
  ScratchDir dir;
  cli::Picture picture = NoisePicture(5, 4, 9);
  WriteFile(dir.File("in.png"), Bytes(cli::EncodePng(picture)));
  std::string expected = Bytes(cli::EncodePng(picture));
  std::string q = ShellQuote(dir.path);
  RunResult fifo = RunShell("cd " + q + " && mkfifo f && { cat in.png > f & } && " +
                            "\"$VEXLOR\" apply 'rd=rs;gd=gs;bd=bs;' f out.png");
  EXPECT_EQ(fifo.status, 0) << fifo.err;
  EXPECT_EQ(ReadFile(dir.File("out.png")), expected);
  RunResult substituted = RunShell("cd " + q + " && exec bash -c '\"$0\" apply " +
                                   "\"rd=rs;gd=gs;bd=bs;\" <(cat in.png) sub.png' \"$VEXLOR\"");
  EXPECT_EQ(substituted.status, 0) << substituted.err;
  EXPECT_EQ(ReadFile(dir.File("sub.png")), expected);
  // Not a picture: refused without a second open that would wait forever.
  RunResult video = RunShell("cd " + q + " && exec bash -c '\"$0\" apply " +
                             "\"rd=rs;gd=gs;bd=bs;\" <(printf \"%040d\" 0) v.mkv' \"$VEXLOR\"");
  EXPECT_EQ(video.status, 1);
  EXPECT_NE(video.err.find("a video must be a regular file: a pipe or FIFO can be read only "
                           "once; save it to a file first"),
            std::string::npos)
      << video.err;
  EXPECT_EQ(video.err.find('\n'), video.err.size() - 1) << video.err;
}

// ---- Outputs that cannot be written -----------------------------------------------

TEST(HostileInputTest, AnUnwritableDirectoryGetsNoFile) {
  ScratchDir dir;
  WriteFile(dir.File("in.ppm"), Bytes(cli::EncodePpm(NoisePicture(3, 2, 4))));
  // The superuser may write anywhere but into /proc.
  std::string target = "/proc/self/out.png";
  if (::geteuid() != 0) {
    std::filesystem::create_directory(dir.File("ro"));
    std::filesystem::permissions(dir.File("ro"), std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec);
    target = dir.File("ro/out.png");
  }
  ExpectRefused(RunVexlor({"apply", "rd=1;gd=1;bd=1;", dir.File("in.ppm"), target}), 1,
                "out.png: cannot create a file beside it");
  EXPECT_FALSE(std::filesystem::exists(target));
}

// A picture whose PNG takes about 120 KB, as does its copy: noise does not
// compress.
std::string NoisePng() { return Bytes(cli::EncodePng(NoisePicture(200, 200, 9))); }

TEST(HostileInputTest, AWriteCutShortLeavesTheOutputAsItWas) {
  // A file size limit makes the writes fail part way, as a full disk does.
  ScratchDir dir;
  WriteFile(dir.File("in.png"), NoisePng());
  WriteFile(dir.File("out.png"), "keep me");
  RunResult r = RunShell("trap '' XFSZ; ulimit -f 64; exec \"$VEXLOR\" apply 'rd=rs;gd=gs;bd=bs;' " +
                         ShellQuote(dir.File("in.png")) + " " + ShellQuote(dir.File("out.png")));
  ExpectRefused(r, 1, "out.png: cannot write: File too large");
  EXPECT_EQ(ReadFile(dir.File("out.png")), "keep me");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.png", "out.png"}));
}

// Runs `apply` from IN to OUT on a 64 KiB file system of its own, mounted in
// a private namespace, where OUT held "keep me" and `fill` KiB were taken;
// RunResult's out has OUT's bytes then the file system's names. Skips where
// no private mount namespace or tmpfs can be had.
RunResult ApplyOnASmallDisk(const std::string& in, const std::string& out, int fill) {
  ScratchDir dir;
  std::string small = ShellQuote(dir.path);
  std::string script = "mount -t tmpfs -o size=64k vexlor " + small + " || exit 99\n" +
                       "cd " + small + " && printf 'keep me' >" + out + "\n" +
                       "head -c " + std::to_string(fill) + "k /dev/zero >fill\n" +
                       "\"$VEXLOR\" apply --quiet 'rd=rs;gd=gs;bd=bs;' " + ShellQuote(in) + " " +
                       out + "\nstatus=$?\ncat " + out + "; echo; rm fill; ls -A\nexit $status";
  return RunShell("exec unshare -rm sh -c " + ShellQuote("VEXLOR=\"$0\"\n" + script) +
                  " \"$VEXLOR\"");
}

TEST(HostileInputTest, AFullFileSystemLeavesTheOutputAsItWas) {
  if (RunShell("unshare -rm true").status != 0)
    GTEST_SKIP() << "no private mount namespace here (unshare -rm)";
  ScratchDir dir;
  WriteFile(dir.File("in.png"), NoisePng());
  RunResult r = ApplyOnASmallDisk(dir.File("in.png"), "out.png", 0);
  if (r.status == 99) GTEST_SKIP() << "no tmpfs mount here: " << r.err;
  ExpectRefused(r, 1, "out.png: cannot write: No space left on device");
  EXPECT_EQ(r.out, "keep me\nout.png\n");
  // A video, with the disk full from the start and part way: the disk is
  // named, not the container.
  std::string clip = dir.File("in.mkv");
  RunShell("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -t 4 -c:v ffv1 " +
           ShellQuote(clip));
  for (int fill : {56, 0}) {
    r = ApplyOnASmallDisk(clip, "out.mp4", fill);
    EXPECT_EQ(r.status, 1) << fill;
    EXPECT_NE(r.err.find("out.mp4: cannot write: No space left on device"), std::string::npos)
        << fill << ": " << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.out, "keep me\nout.mp4\n");
  }
}

}  // namespace
}  // namespace vexlor::test
