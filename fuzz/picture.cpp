// The picture readers on arbitrary bytes (PNG, PPM, BMP, WebP, TIFF through
// its room): each either refuses the bytes with a data failure or gives a
// picture whose size matches its pixels, and which the lossless writers and
// readers then carry through unchanged. The same bytes as EXIF and as a
// JPEG's segments go through the metadata parsers, which must stay inside
// them.
#include <cstdint>
#include <span>

#include "cli/media/picture.h"
#include "fuzz.h"

using namespace vexlor;
using namespace vexlor::cli;
using vexlor::fuzz::Expect;

namespace {

using Reader = Picture (*)(std::span<const uint8_t>, const std::string&);
using Writer = std::vector<uint8_t> (*)(const Picture&);

// Pictures are bounded at 2^28 pixels, and a PNG header alone can declare
// that much: reading such a header allocates the declared size before the
// data is found missing. Bounded, but slow to fuzz; the command-line tests
// cover the largest sizes.
constexpr uint64_t kFuzzPixels = uint64_t{1} << 22;

bool DeclaresHugePng(std::span<const uint8_t> b) {
  if (b.size() < 24 || b[0] != 0x89 || b[1] != 'P') return false;
  auto be32 = [&](size_t at) {
    return uint64_t{b[at]} << 24 | uint64_t{b[at + 1]} << 16 | uint64_t{b[at + 2]} << 8 | b[at + 3];
  };
  return be32(16) * be32(20) > kFuzzPixels;
}

// The same for a TIFF's first directory (width and length tags, SHORT or
// LONG): libtiff is handed a raster of the declared size.
bool DeclaresHugeTiff(std::span<const uint8_t> b) {
  if (b.size() < 8 || !((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M'))) return false;
  bool big = b[0] == 'M';
  auto u16 = [&](size_t at) -> uint64_t {
    return big ? uint64_t(b[at]) << 8 | b[at + 1] : uint64_t(b[at + 1]) << 8 | b[at];
  };
  auto u32 = [&](size_t at) { return big ? u16(at) << 16 | u16(at + 2) : u16(at + 2) << 16 | u16(at); };
  uint64_t ifd = u32(4), width = 0, length = 0;
  if (ifd + 2 > b.size()) return false;
  for (uint64_t i = 0, n = u16(ifd); i < n && ifd + 2 + 12 * (i + 1) <= b.size(); ++i) {
    size_t entry = ifd + 2 + 12 * i;
    uint64_t value = u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8);
    if (u16(entry) == 256) width = value;
    if (u16(entry) == 257) length = value;
  }
  return width * length > kFuzzPixels;
}

// Decodes with one reader; false when it refuses the bytes as bad data.
bool Decode(Reader reader, std::span<const uint8_t> bytes, Picture& out) {
  try {
    out = reader(bytes, "input");
    return true;
  } catch (const Failure& f) {
    Expect(f.status == kExitData, "a reader failed with a status other than bad data");
    Expect(std::string_view(f.what()).starts_with("input: "), "a failure does not name the file");
    return false;
  }
}

void ExpectWellFormed(const Picture& p) {
  Expect(p.width > 0 && p.height > 0, "a picture without pixels was accepted");
  Expect(p.pixels.size() == size_t(p.width) * size_t(p.height), "size and pixels disagree");
  for (uint32_t px : p.pixels) Expect(px <= 0xFFFFFFu, "a pixel has a top byte");
}

void ExpectRoundTrip(const Picture& p) {
  // PNG at its stored, fastest and zlib-compressed levels: each writes rows
  // differently, and each must read back the same pixels.
  const std::pair<Writer, Reader> kFormats[] = {
      {[](const Picture& q) { return EncodePng(q, kPngStoredLevel); }, DecodePng},
      {[](const Picture& q) { return EncodePng(q, kPngFastestLevel); }, DecodePng},
      {[](const Picture& q) { return EncodePng(q, 6); }, DecodePng},
      {EncodePpm, DecodePpm},
      {EncodeBmp, DecodeBmp},
      {[](const Picture& q) { return EncodeWebp(q, kLosslessQuality); }, DecodeWebp}};
  for (auto [encode, decode] : kFormats) {
    if (decode == DecodeWebp && (p.width > 16383 || p.height > 16383)) continue;
    std::vector<uint8_t> bytes = encode(p);
    Picture back;
    Expect(Decode(decode, bytes, back), "a written picture was refused");
    Expect(back.width == p.width && back.height == p.height && back.pixels == p.pixels,
           "a written picture read back differently");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  if (DeclaresHugePng(bytes) || DeclaresHugeTiff(bytes)) return 0;
  for (Reader reader : {DecodePicture, DecodePng, DecodePpm, DecodeBmp, DecodeWebp}) {
    Picture p;
    if (!Decode(reader, bytes, p)) continue;
    ExpectWellFormed(p);
    ExpectRoundTrip(p);
  }
  Picture turned{2, 3, {1, 2, 3, 4, 5, 6}};
  turned.metadata.exif.assign(bytes.begin(), bytes.end());
  ApplyExifOrientation(turned);
  Expect(turned.pixels.size() == 6 && turned.width * turned.height == 6,
         "an EXIF orientation lost pixels");
  ReadJpegMetadata(bytes);
  return 0;
}
