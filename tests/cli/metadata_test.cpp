// What pictures carry beside their pixels: the EXIF orientation applied as
// viewers apply it, and EXIF, XMP, colour profiles, gamma and text kept from
// input to output (or left out with --strip-metadata).
#include <gtest/gtest.h>

#include "cli_test_util.h"

namespace vexlor::cli {
namespace {

using test::RunResult;
using test::RunVexlor;
using test::ScratchDir;

// EXIF with one entry, the orientation, in either byte order.
std::vector<uint8_t> ExifWithOrientation(int orientation, bool bigEndian) {
  if (bigEndian)
    return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
            0, uint8_t(orientation), 0, 0, 0, 0, 0, 0};
  return {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
          uint8_t(orientation), 0, 0, 0, 0, 0, 0, 0};
}

// A colour profile libpng accepts: the header, one tag (the white point),
// and bytes that do not compress, since libpng refuses an iCCP chunk much
// shorter than a real profile makes.
std::vector<uint8_t> TinyIccProfile() {
  std::vector<uint8_t> p(1024, 0);
  for (size_t i = 164; i < p.size(); ++i) p[i] = uint8_t(i * 2654435761u >> 13);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
  };
  auto tag = [&](size_t at, const char* four) { std::copy(four, four + 4, p.begin() + long(at)); };
  put(0, uint32_t(p.size())), put(8, 0x02100000), tag(12, "mntr"), tag(16, "RGB "), tag(20, "XYZ ");
  tag(36, "acsp"), put(68, 0xF6D6), put(72, 0x10000), put(76, 0xD32D);
  put(128, 1), tag(132, "wtpt"), put(136, 144), put(140, 20);
  tag(144, "XYZ "), put(152, 0xF6D6), put(156, 0x10000), put(160, 0xD32D);
  return p;
}

Picture ReadBack(const std::string& path) {
  std::string b = test::ReadFile(path);
  return DecodePicture(std::vector<uint8_t>(b.begin(), b.end()), path);
}

TEST(MetadataTest, EachExifOrientationIsShownAsViewersShowIt) {
  // a b c
  // d e f   turned or mirrored by orientations 1 to 8.
  const std::vector<uint32_t> stored = {'a', 'b', 'c', 'd', 'e', 'f'};
  struct Case {
    int orientation, width;
    std::vector<uint32_t> shown;
  } cases[] = {
      {1, 3, {'a', 'b', 'c', 'd', 'e', 'f'}}, {2, 3, {'c', 'b', 'a', 'f', 'e', 'd'}},
      {3, 3, {'f', 'e', 'd', 'c', 'b', 'a'}}, {4, 3, {'d', 'e', 'f', 'a', 'b', 'c'}},
      {5, 2, {'a', 'd', 'b', 'e', 'c', 'f'}}, {6, 2, {'d', 'a', 'e', 'b', 'f', 'c'}},
      {7, 2, {'f', 'c', 'e', 'b', 'd', 'a'}}, {8, 2, {'c', 'f', 'b', 'e', 'a', 'd'}},
  };
  for (const Case& c : cases) {
    for (bool big : {false, true}) {
      Picture p{3, 2, stored};
      p.metadata.exif = ExifWithOrientation(c.orientation, big);
      EXPECT_EQ(ExifOrientation(p.metadata.exif), c.orientation);
      ApplyExifOrientation(p);
      EXPECT_EQ(p.width, c.width) << c.orientation;
      EXPECT_EQ(p.pixels, c.shown) << c.orientation << " " << big;
      EXPECT_EQ(p.metadata.exif, ExifWithOrientation(1, big)) << "the tag is reset";
    }
  }
  // Out of range or cut short: nothing is turned.
  EXPECT_EQ(ExifOrientation(ExifWithOrientation(9, false)), 1);
  std::vector<uint8_t> cut = ExifWithOrientation(6, true);
  cut.resize(14);
  EXPECT_EQ(ExifOrientation(cut), 1);
}

TEST(MetadataTest, JpegSegmentsRoundTripAndAProfileSpansSeveralChunks) {
  Picture p = test::NoisePicture(8, 8, 2);
  p.metadata.exif = ExifWithOrientation(1, false);
  p.metadata.xmp = {'<', 'x', '/', '>'};
  p.metadata.icc.resize(150000);  // three APP2 chunks
  for (size_t i = 0; i < p.metadata.icc.size(); ++i) p.metadata.icc[i] = uint8_t(i * 7 + i / 251);
  Picture back = DecodePicture(EncodeJpeg(p), "x");
  EXPECT_EQ(back.metadata.exif, p.metadata.exif);
  EXPECT_EQ(back.metadata.xmp, p.metadata.xmp);
  EXPECT_EQ(back.metadata.icc, p.metadata.icc);
}

TEST(MetadataTest, ApplyTurnsAnExifRotatedJpegAndKeepsItsMetadata) {
  ScratchDir dir;
  // Portrait content stored landscape, tagged "turn 90 degrees clockwise".
  Picture stored = test::NoisePicture(6, 4, 11);
  stored.metadata.exif = ExifWithOrientation(6, false);
  stored.metadata.icc = TinyIccProfile();
  stored.metadata.xmp = {'<', 'x', '/', '>'};
  test::WriteFile(dir.File("phone.jpg"), test::Bytes(EncodeJpeg(stored)));
  const char* same = "rd=rs;gd=gs;bd=bs;";

  ASSERT_EQ(RunVexlor({"apply", same, dir.File("phone.jpg"), dir.File("up.jpg")}).status, 0);
  Picture up = ReadBack(dir.File("up.jpg"));
  EXPECT_EQ(up.width, 4);
  EXPECT_EQ(up.height, 6);
  EXPECT_EQ(up.metadata.exif, ExifWithOrientation(1, false));
  EXPECT_EQ(up.metadata.icc, stored.metadata.icc);
  EXPECT_EQ(up.metadata.xmp, stored.metadata.xmp);
  // The profile goes into a PNG too.
  ASSERT_EQ(RunVexlor({"apply", same, dir.File("phone.jpg"), dir.File("up.png")}).status, 0);
  EXPECT_EQ(ReadBack(dir.File("up.png")).metadata.icc, stored.metadata.icc);

  ASSERT_EQ(RunVexlor({"apply", "--keep-orientation-tag", same, dir.File("phone.jpg"),
                       dir.File("kept.jpg")}).status, 0);
  Picture kept = ReadBack(dir.File("kept.jpg"));
  EXPECT_EQ(kept.width, 6);
  EXPECT_EQ(ExifOrientation(kept.metadata.exif), 6);

  ASSERT_EQ(RunVexlor({"apply", "--strip-metadata", same, dir.File("phone.jpg"),
                       dir.File("bare.jpg")}).status, 0);
  Picture bare = ReadBack(dir.File("bare.jpg"));
  EXPECT_EQ(bare.width, 4) << "turned all the same";
  EXPECT_TRUE(bare.metadata.exif.empty() && bare.metadata.icc.empty() && bare.metadata.xmp.empty());
}

TEST(MetadataTest, PngProfileGammaAndTextAreKept) {
  ScratchDir dir;
  Picture in = test::NoisePicture(5, 5, 4);
  in.metadata.icc = TinyIccProfile();
  in.metadata.gamma = 45455;
  in.metadata.texts = {{"Title", "sunset"}, {"Comment", "caf\xc3\xa9"}};
  test::WriteFile(dir.File("in.png"), test::Bytes(EncodePng(in)));
  ASSERT_EQ(RunVexlor({"apply", "rd=gs;gd=rs;bd=bs;", dir.File("in.png"), dir.File("out.png")})
                .status, 0);
  Picture out = ReadBack(dir.File("out.png"));
  EXPECT_EQ(out.metadata.icc, in.metadata.icc);
  EXPECT_EQ(out.metadata.gamma, 45455u);
  EXPECT_EQ(out.metadata.texts, in.metadata.texts);
  ASSERT_EQ(RunVexlor({"apply", "--strip-metadata", "rd=gs;gd=rs;bd=bs;", dir.File("in.png"),
                       dir.File("bare.png")}).status, 0);
  Picture bare = ReadBack(dir.File("bare.png"));
  EXPECT_TRUE(bare.metadata.icc.empty() && bare.metadata.texts.empty() && bare.metadata.gamma == 0);
}

}  // namespace
}  // namespace vexlor::cli
