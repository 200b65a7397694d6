// Picture metadata: JPEG's APP segments read and written, and the EXIF
// orientation found, applied to the pixels and reset.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "cli/media/picture.h"

namespace vexlor::cli {

namespace {

constexpr uint8_t kApp1 = 0xE1, kApp2 = 0xE2, kSos = 0xDA;
constexpr std::string_view kExifId{"Exif\0\0", 6};
constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccId{"ICC_PROFILE\0", 12};
constexpr size_t kMaxSegment = 65533;  // a segment's payload after its length field
constexpr uint16_t kOrientationTag = 0x0112;

bool HasId(std::span<const uint8_t> payload, std::string_view id) {
  return payload.size() >= id.size() && std::equal(id.begin(), id.end(), payload.begin());
}

// Where the EXIF orientation's value is (two bytes in the EXIF's byte
// order), or 0 when there is none.
size_t OrientationAt(std::span<const uint8_t> exif, bool& bigEndian) {
  if (exif.size() < 8) return 0;
  bigEndian = exif[0] == 'M';
  auto u16 = [&](size_t at) {
    return bigEndian ? uint32_t(exif[at] << 8 | exif[at + 1]) : uint32_t(exif[at + 1] << 8 | exif[at]);
  };
  auto u32 = [&](size_t at) {
    return bigEndian ? u16(at) << 16 | u16(at + 2) : u16(at + 2) << 16 | u16(at);
  };
  if (!((exif[0] == 'I' && exif[1] == 'I') || (exif[0] == 'M' && exif[1] == 'M')) || u16(2) != 42)
    return 0;
  size_t ifd = u32(4);
  if (ifd > exif.size() - 2) return 0;
  size_t count = u16(ifd);
  for (size_t i = 0; i < count; ++i) {
    size_t entry = ifd + 2 + 12 * i;
    if (entry + 12 > exif.size()) return 0;
    if (u16(entry) == kOrientationTag && u16(entry + 2) == 3 /* SHORT */) return entry + 8;
  }
  return 0;
}

// A segment: marker, length, payload.
void PutSegment(std::vector<uint8_t>& out, uint8_t marker, std::string_view id,
                std::span<const uint8_t> payload) {
  size_t length = 2 + id.size() + payload.size();
  out.insert(out.end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length)});
  out.insert(out.end(), id.begin(), id.end());
  out.insert(out.end(), payload.begin(), payload.end());
}

}  // namespace

int ExifOrientation(std::span<const uint8_t> exif) {
  bool big = false;
  size_t at = OrientationAt(exif, big);
  if (at == 0) return 1;
  int value = big ? exif[at] << 8 | exif[at + 1] : exif[at + 1] << 8 | exif[at];
  return value >= 1 && value <= 8 ? value : 1;
}

void ApplyExifOrientation(Picture& picture) {
  int orientation = ExifOrientation(picture.metadata.exif);
  if (orientation == 1) return;
  const int64_t w = picture.width, h = picture.height;
  bool swaps = orientation >= 5;
  int64_t outW = swaps ? h : w, outH = swaps ? w : h;
  std::vector<uint32_t> out(picture.pixels.size());
  for (int64_t y = 0; y < outH; ++y) {
    for (int64_t x = 0; x < outW; ++x) {
      // The stored pixel (sx, sy) that shows at (x, y).
      int64_t sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;                      // mirrored
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;      // half turn
        case 4: sy = h - 1 - y; break;                      // mirrored upside down
        case 5: sx = y, sy = x; break;                      // transposed
        case 6: sx = y, sy = h - 1 - x; break;              // turned clockwise
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;      // transversed
        case 8: sx = w - 1 - y, sy = x; break;              // turned anticlockwise
      }
      out[size_t(y * outW + x)] = picture.pixels[size_t(sy * w + sx)];
    }
  }
  picture.pixels = std::move(out);
  picture.width = int32_t(outW);
  picture.height = int32_t(outH);
  bool big = false;
  size_t at = OrientationAt(picture.metadata.exif, big);
  picture.metadata.exif[at] = big ? 0 : 1;
  picture.metadata.exif[at + 1] = big ? 1 : 0;
}

PictureMetadata ReadJpegMetadata(std::span<const uint8_t> bytes) {
  PictureMetadata metadata;
  std::vector<std::vector<uint8_t>> iccChunks;
  size_t pos = 2;  // after SOI
  while (pos + 4 <= bytes.size() && bytes[pos] == 0xFF && bytes[pos + 1] != kSos) {
    uint8_t marker = bytes[pos + 1];
    size_t length = size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
    if (length < 2 || pos + 2 + length > bytes.size()) break;
    std::span<const uint8_t> payload = bytes.subspan(pos + 4, length - 2);
    if (marker == kApp1 && HasId(payload, kExifId) && metadata.exif.empty())
      metadata.exif.assign(payload.begin() + kExifId.size(), payload.end());
    else if (marker == kApp1 && HasId(payload, kXmpId) && metadata.xmp.empty())
      metadata.xmp.assign(payload.begin() + kXmpId.size(), payload.end());
    else if (marker == kApp2 && HasId(payload, kIccId) && payload.size() > kIccId.size() + 2) {
      // Chunks numbered from 1 of a count; kept in their numbers' order.
      size_t number = payload[kIccId.size()], count = payload[kIccId.size() + 1];
      if (number >= 1 && number <= count) {
        iccChunks.resize(std::max(iccChunks.size(), count));
        iccChunks[number - 1].assign(payload.begin() + kIccId.size() + 2, payload.end());
      }
    }
    pos += 2 + length;
  }
  for (const auto& chunk : iccChunks) metadata.icc.insert(metadata.icc.end(), chunk.begin(), chunk.end());
  return metadata;
}

std::vector<uint8_t> AddJpegMetadata(std::vector<uint8_t> jpeg, const PictureMetadata& metadata) {
  std::vector<uint8_t> segments;
  if (!metadata.exif.empty() && metadata.exif.size() <= kMaxSegment - kExifId.size())
    PutSegment(segments, kApp1, kExifId, metadata.exif);
  if (!metadata.xmp.empty() && metadata.xmp.size() <= kMaxSegment - kXmpId.size())
    PutSegment(segments, kApp1, kXmpId, metadata.xmp);
  size_t chunk = kMaxSegment - kIccId.size() - 2;
  size_t count = (metadata.icc.size() + chunk - 1) / chunk;
  for (size_t i = 0; i < count && count <= 255; ++i) {
    std::span<const uint8_t> part = std::span(metadata.icc).subspan(
        i * chunk, std::min(chunk, metadata.icc.size() - i * chunk));
    std::vector<uint8_t> payload = {uint8_t(i + 1), uint8_t(count)};
    payload.insert(payload.end(), part.begin(), part.end());
    PutSegment(segments, kApp2, kIccId, payload);
  }
  if (segments.empty() || jpeg.size() < 4) return jpeg;
  // After SOI and the JFIF segment (APP0), which readers expect first.
  size_t at = 2;
  if (jpeg[2] == 0xFF && jpeg[3] == 0xE0) at += 2 + (size_t(jpeg[4]) << 8 | jpeg[5]);
  jpeg.insert(jpeg.begin() + long(at), segments.begin(), segments.end());
  return jpeg;
}

}  // namespace vexlor::cli
