// BMP by hand: the Windows bitmap's uncompressed kinds in (8-bit palette,
// 24-bit, 32-bit with or without the standard bit fields; rows bottom-up or
// top-down), 24-bit bottom-up out, which every viewer reads.

#include "cli/media/picture.h"

namespace vexlor::cli {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER; later versions only add fields
constexpr uint32_t kBiRgb = 0, kBiBitfields = 3;

uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
         uint32_t{b[at + 3]} << 24;
}
uint16_t Le16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Bytes of one stored row: whole pixels padded to four bytes.
uint64_t RowBytes(int64_t width, int bits) { return (uint64_t(width) * uint64_t(bits) + 31) / 32 * 4; }

// The header fields a decoder needs, checked.
struct BmpLayout {
  int64_t width = 0, height = 0;
  bool topDown = false;
  int bits = 0;
  uint32_t dataOffset = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB, for 8 bits
};

// Reads and checks the headers; a data failure names what is not handled.
BmpLayout ReadLayout(std::span<const uint8_t> b, const std::string& name) {
  if (b.size() < kFileHeaderSize + kInfoHeaderSize) FailData(name + ": truncated BMP (the header is incomplete)");
  uint32_t infoSize = Le32(b, 14);
  if (infoSize < kInfoHeaderSize || kFileHeaderSize + uint64_t(infoSize) > b.size())
    FailData(name + ": unsupported BMP (an OS/2 or corrupt header)");
  BmpLayout l;
  l.dataOffset = Le32(b, 10);
  l.width = static_cast<int32_t>(Le32(b, 18));
  auto height = static_cast<int32_t>(Le32(b, 22));
  l.topDown = height < 0;
  l.height = l.topDown ? -int64_t{height} : height;
  l.bits = Le16(b, 28);
  uint32_t compression = Le32(b, 30);
  bool standardFields = compression == kBiBitfields && l.bits == 32 &&
                        kFileHeaderSize + kInfoHeaderSize + 12 <= b.size() &&
                        Le32(b, 54) == 0xFF0000 && Le32(b, 58) == 0xFF00 && Le32(b, 62) == 0xFF;
  if (!(compression == kBiRgb || standardFields) || !(l.bits == 8 || l.bits == 24 || l.bits == 32))
    FailData(name + ": unsupported BMP (" + std::to_string(l.bits) + "-bit, compression " +
             std::to_string(compression) + "; only uncompressed 8, 24 and 32-bit)");
  if (const char* problem = PictureSizeProblem(l.width, l.height)) FailData(name + ": " + problem);
  if (l.bits == 8) {
    uint32_t colours = Le32(b, 46);
    if (colours == 0 || colours > 256) colours = 256;
    size_t at = kFileHeaderSize + infoSize;
    if (at + colours * 4 > b.size()) FailData(name + ": truncated BMP (the palette is incomplete)");
    for (uint32_t i = 0; i < colours; ++i, at += 4)
      l.palette.push_back(uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 1]} << 8 | b[at]);
    l.palette.resize(256, 0);
  }
  if (l.dataOffset > b.size() || b.size() - l.dataOffset < RowBytes(l.width, l.bits) * uint64_t(l.height))
    FailData(name + ": truncated BMP (the pixels are incomplete)");
  return l;
}

}  // namespace

bool StartsLikeBmp(std::span<const uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

Picture DecodeBmp(std::span<const uint8_t> bytes, const std::string& name) {
  BmpLayout l = ReadLayout(bytes, name);
  Picture picture{static_cast<int32_t>(l.width), static_cast<int32_t>(l.height),
                  std::vector<uint32_t>(size_t(l.width * l.height))};
  uint64_t stride = RowBytes(l.width, l.bits);
  for (int64_t y = 0; y < l.height; ++y) {
    const uint8_t* row = bytes.data() + l.dataOffset + stride * uint64_t(l.topDown ? y : l.height - 1 - y);
    uint32_t* out = picture.pixels.data() + y * l.width;
    for (int64_t x = 0; x < l.width; ++x) {
      if (l.bits == 8) {
        out[x] = l.palette[row[x]];
      } else {
        const uint8_t* p = row + x * (l.bits / 8);
        out[x] = uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
      }
    }
  }
  return picture;
}

std::vector<uint8_t> EncodeBmp(const Picture& picture) {
  uint64_t stride = RowBytes(picture.width, 24);
  uint64_t dataSize = stride * uint64_t(picture.height);
  if (dataSize > UINT32_MAX - kFileHeaderSize - kInfoHeaderSize)
    FailData("cannot encode BMP: the picture is too large for the format (4 GiB)");
  std::vector<uint8_t> out(kFileHeaderSize + kInfoHeaderSize + dataSize, 0);
  uint8_t* h = out.data();
  h[0] = 'B';
  h[1] = 'M';
  PutLe32(h + 2, static_cast<uint32_t>(out.size()));
  PutLe32(h + 10, kFileHeaderSize + kInfoHeaderSize);
  PutLe32(h + 14, kInfoHeaderSize);
  PutLe32(h + 18, static_cast<uint32_t>(picture.width));
  PutLe32(h + 22, static_cast<uint32_t>(picture.height));
  PutLe16(h + 26, 1);   // planes
  PutLe16(h + 28, 24);  // bits per pixel
  PutLe32(h + 34, static_cast<uint32_t>(dataSize));
  PutLe32(h + 38, 2835);  // 72 dots per inch, in dots per metre
  PutLe32(h + 42, 2835);
  for (int32_t y = 0; y < picture.height; ++y) {
    uint8_t* row = h + kFileHeaderSize + kInfoHeaderSize + stride * uint64_t(picture.height - 1 - y);
    const uint32_t* in = picture.pixels.data() + size_t(y) * size_t(picture.width);
    for (int32_t x = 0; x < picture.width; ++x) {
      row[3 * x] = static_cast<uint8_t>(in[x]);
      row[3 * x + 1] = static_cast<uint8_t>(in[x] >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(in[x] >> 16);
    }
  }
  return out;
}

}  // namespace vexlor::cli
