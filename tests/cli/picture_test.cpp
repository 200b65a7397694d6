// Picture files: round trips, every PNG colour type, and the decoders'
// refusals of corrupt, truncated and unsupported input.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>

#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::NoisePicture;
using test::Rgb;

// Writes a PNG with libpng's simplified API in one of its formats.
std::vector<uint8_t> WritePng(int32_t width, int32_t height, png_uint_32 format,
                              const void* pixels, const void* colormap = nullptr,
                              int colormapEntries = 0) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = format;
  image.colormap_entries = static_cast<png_uint_32>(colormapEntries);
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, colormap));
  std::vector<uint8_t> out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, colormap));
  out.resize(size);
  return out;
}

Picture Decode(const std::vector<uint8_t>& bytes) { return DecodePicture(bytes, "x"); }

// The failure message of decoding bytes, or "" when they decode.
std::string DecodeFailure(const std::vector<uint8_t>& bytes) {
  try {
    Decode(bytes);
  } catch (const Failure& f) {
    EXPECT_EQ(f.status, kExitData);
    return f.what();
  }
  return "";
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PictureTest, PngAndPpmRoundTripKeepRgbAndDropTheTopByte) {
  for (auto [w, h] : {std::pair{1, 1}, {7, 3}, {3, 17}, {64, 48}}) {
    Picture p = NoisePicture(w, h, static_cast<uint32_t>(w * 31 + h));
    for (const std::vector<uint8_t>& bytes : {EncodePng(p), EncodePpm(p)}) {
      Picture back = Decode(bytes);
      EXPECT_EQ(back.width, w);
      EXPECT_EQ(back.height, h);
      EXPECT_EQ(back.pixels, Rgb(p.pixels));
    }
  }
}

TEST(PictureTest, PngColourTypesAllBecomeRgb) {
  // 2 x 2 pixels; gray value g becomes (g, g, g), alpha is dropped.
  const uint8_t gray[] = {0, 85, 170, 255};
  const std::vector<uint32_t> grayRgb = {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF};
  EXPECT_EQ(Decode(WritePng(2, 2, PNG_FORMAT_GRAY, gray)).pixels, grayRgb);
  const uint8_t grayAlpha[] = {0, 9, 85, 0, 170, 200, 255, 255};
  EXPECT_EQ(Decode(WritePng(2, 2, PNG_FORMAT_GA, grayAlpha)).pixels, grayRgb);
  const uint8_t rgb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 250, 251, 252};
  const std::vector<uint32_t> rgbPixels = {0x010203, 0x040506, 0x070809, 0xFAFBFC};
  EXPECT_EQ(Decode(WritePng(2, 2, PNG_FORMAT_RGB, rgb)).pixels, rgbPixels);
  const uint8_t rgba[] = {1, 2, 3, 0, 4, 5, 6, 77, 7, 8, 9, 200, 250, 251, 252, 255};
  EXPECT_EQ(Decode(WritePng(2, 2, PNG_FORMAT_RGBA, rgba)).pixels, rgbPixels);
  // A four-entry palette, stored with fewer than 8 bits per index.
  const uint8_t palette[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  const uint8_t indexes[] = {3, 2, 1, 0};
  EXPECT_EQ(Decode(WritePng(2, 2, PNG_FORMAT_RGB_COLORMAP, indexes, palette, 4)).pixels,
            (std::vector<uint32_t>{0x646E78, 0x46505A, 0x28323C, 0x0A141E}));
}

// Found by fuzzing: a palette's transparency became a fourth byte per pixel,
// written past the end of the 3-byte rows.
TEST(PictureTest, PaletteWithTransparencyBecomesRgb) {
  const uint8_t palette[] = {10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255, 1, 2, 3, 7};
  const uint8_t indexes[] = {3, 2, 1, 0, 0, 1};
  Picture p = Decode(WritePng(3, 2, PNG_FORMAT_RGBA_COLORMAP, indexes, palette, 4));
  EXPECT_EQ(p.pixels,
            (std::vector<uint32_t>{0x010203, 0x46505A, 0x28323C, 0x0A141E, 0x0A141E, 0x28323C}));
}

TEST(PictureTest, SixteenBitPngIsScaledToEightBits) {
  const uint16_t rgb[] = {0, 257 * 128, 65535, 257, 65535, 0};
  Picture p = Decode(WritePng(2, 1, PNG_FORMAT_LINEAR_RGB, rgb));
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{0x0080FF, 0x01FF00}));
}

TEST(PictureTest, PpmHeaderMayHaveCommentsAndAnyWhitespace) {
  Picture p = Decode(Text("P6 # made by hand\n2\t1\r\n# max\n255\n\x01\x02\x03\xfa\xfb\xfc"));
  EXPECT_EQ(p.width, 2);
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{0x010203, 0xFAFBFC}));
}

TEST(PictureTest, CorruptTruncatedAndUnsupportedInputIsRefused) {
  std::vector<uint8_t> png = EncodePng(NoisePicture(16, 16, 5));
  std::vector<uint8_t> half(png.begin(), png.begin() + png.size() / 2);
  EXPECT_NE(DecodeFailure(half).find("truncated PNG"), std::string::npos);
  std::vector<uint8_t> noEnd(png.begin(), png.end() - 12);  // IEND chunk removed
  EXPECT_NE(DecodeFailure(noEnd).find("truncated PNG"), std::string::npos);
  std::vector<uint8_t> badCrc = png;
  badCrc[png.size() - 20] ^= 0xFF;  // inside the last IDAT chunk
  EXPECT_NE(DecodeFailure(badCrc).find("corrupt PNG"), std::string::npos);
  EXPECT_NE(DecodeFailure(Text("\x89PNG\r\n\x1a\n\0\0\0\rIHDR")).find("truncated"),
            std::string::npos);

  struct Case {
    std::string bytes, expected;
  } cases[] = {
      {"", "empty file"},
      {"GIF89a", "unsupported format (not a picture the tool reads"},
      {"P3\n2 2\n255\n0 0 0", "unsupported format P3"},
      {"P5\n2 2\n255\n0000", "unsupported format P5"},
      {"P6\n1 1\n65535\n012345", "unsupported PPM maxval 65535"},
      {"P6\n2 2\n255\n0123456789", "truncated PPM (10 of 12 bytes"},
      {"P6\n2 2\n255", "truncated PPM (the header"},
      {"P6\n2 x\n255\n", "corrupt PPM header"},
      {"P6\n1234567890 1\n255\n", "corrupt PPM header"},
      {"P6\n0 5\n255\n", "picture has no pixels"},
      {"P6\n100000 100000\n255\n", "too large"},
  };
  for (const Case& c : cases) {
    std::string message = DecodeFailure(Text(c.bytes));
    EXPECT_NE(message.find(c.expected), std::string::npos) << c.bytes << " gave: " << message;
    EXPECT_EQ(message.rfind("x: ", 0), 0u) << "the file is named first: " << message;
  }
}

// Found by fuzzing: the PPM reader named the format by its first two bytes
// even when the input had fewer.
TEST(PictureTest, PpmReaderRefusesInputShorterThanItsMagic) {
  for (const char* bytes : {"", "P"}) {
    try {
      DecodePpm(Text(bytes), "x");
      ADD_FAILURE() << bytes;
    } catch (const Failure& f) {
      EXPECT_NE(std::string(f.what()).find("unsupported format"), std::string::npos);
    }
  }
}

TEST(PictureTest, OutputFormatComesFromTheExtension) {
  EXPECT_EQ(FormatForName("a.png"), PictureFormat::Png);
  EXPECT_EQ(FormatForName("dir.ppm/A.PPM"), PictureFormat::Ppm);
  EXPECT_EQ(FormatForName("a.JPG"), PictureFormat::Jpeg);
  EXPECT_EQ(FormatForName("a.jpeg"), PictureFormat::Jpeg);
  EXPECT_EQ(FormatNamed("jpg"), PictureFormat::Jpeg);
  EXPECT_EQ(FormatNamed("PPM"), PictureFormat::Ppm);
  EXPECT_THROW(FormatNamed("gif"), Failure);
  for (const char* name : {"a.gif", "png", "a.png.tmp", "a", "dir.png/a"}) {
    try {
      FormatForName(name);
      ADD_FAILURE() << name;
    } catch (const Failure& f) {
      EXPECT_EQ(f.status, kExitUsage);
    }
  }
}

TEST(AtomicFileTest, ReplacesOnlyWhenCompleteAndLeavesNoTemporaryFile) {
  test::ScratchDir dir;
  std::string path = dir.File("out.ppm");
  test::WriteFile(path, "old");
  WriteFileAtomically(path, Text("new contents"));
  EXPECT_EQ(test::ReadFile(path), "new contents");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.ppm"});

  // A directory in the way: the rename fails and the temporary file goes.
  std::filesystem::create_directory(dir.File("sub.png"));
  EXPECT_THROW(WriteFileAtomically(dir.File("sub.png"), Text("x")), Failure);
  EXPECT_THROW(WriteFileAtomically(dir.File("missing/x.png"), Text("x")), Failure);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out.ppm", "sub.png"}));
}

TEST(ProgressTest, PrintsFramesOnlyWhenEnabled) {
  for (bool enabled : {false, true}) {
    std::FILE* out = std::tmpfile();
    {
      Progress progress(enabled, out);
      progress.FrameDone();
      progress.FrameDone();
    }  // an unfinished line is ended on destruction
    std::rewind(out);
    char buf[256] = "";
    size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    std::string text(buf, n);
    if (!enabled) {
      EXPECT_EQ(text, "");
    } else {
      EXPECT_NE(text.find("2 frames done"), std::string::npos) << text;
      EXPECT_EQ(text.back(), '\n');
    }
  }
}

}  // namespace
}  // namespace vexlor::cli
