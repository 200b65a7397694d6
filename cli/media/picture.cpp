// Picture files: format detection, binary PPM (P6, maxval 255), and reading
// and writing by file name or through standard input and output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "cli/base/files.h"
#include "cli/media/picture.h"

namespace vexlor::cli {

namespace {

constexpr uint8_t kPngMagic[] = {0x89, 'P', 'N', 'G'};
constexpr uint8_t kJpegMagic[] = {0xFF, 0xD8, 0xFF};

bool StartsWith(std::span<const uint8_t> bytes, std::span<const uint8_t> magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

// Formats by extension and by --format's names.
struct FormatName {
  const char* name;
  PictureFormat format;
};
constexpr FormatName kFormatNames[] = {
    {"png", PictureFormat::Png},
    {"ppm", PictureFormat::Ppm},
    {"jpg", PictureFormat::Jpeg},
    {"jpeg", PictureFormat::Jpeg},
};

const FormatName* FindFormat(const std::string& name) {
  for (const FormatName& f : kFormatNames)
    if (name == f.name) return &f;
  return nullptr;
}

// Reads the P6 header's fields: whitespace and '#' comments between them,
// exactly one whitespace byte after the last.
struct PpmHeaderReader {
  std::span<const uint8_t> bytes;
  size_t pos = 2;  // after "P6"

  bool IsSpace(uint8_t c) const { return c == ' ' || (c >= '\t' && c <= '\r'); }

  void SkipSpaceAndComments() {
    while (pos < bytes.size()) {
      if (bytes[pos] == '#')
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      else if (IsSpace(bytes[pos])) ++pos;
      else break;
    }
  }

  // A decimal field of at most 9 digits, or -1.
  int64_t Number() {
    SkipSpaceAndComments();
    int64_t value = 0;
    size_t start = pos;
    while (pos < bytes.size() && pos - start < 10 && std::isdigit(bytes[pos]))
      value = value * 10 + (bytes[pos++] - '0');
    bool ok = pos > start && pos - start <= 9 && (pos == bytes.size() || IsSpace(bytes[pos]));
    return ok ? value : -1;
  }
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

const char* PictureSizeProblem(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) return "picture has no pixels";
  if (width > kMaxPixels || height > kMaxPixels || width * height > kMaxPixels)
    return "picture is too large (more than 268435456 pixels)";
  return nullptr;
}

std::string Extension(const std::string& path) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && slash > dot)) return "";
  return Lower(path.substr(dot + 1));
}

bool IsPictureName(const std::string& path) { return FindFormat(Extension(path)) != nullptr; }

PictureFormat FormatForName(const std::string& path) {
  if (const FormatName* f = FindFormat(Extension(path))) return f->format;
  FailUsage(path + ": unknown picture format; the name must end in .png, .ppm, .jpg or .jpeg");
}

PictureFormat FormatNamed(const std::string& name) {
  if (const FormatName* f = FindFormat(Lower(name))) return f->format;
  FailUsage("--format: '" + name + "' is not png, ppm or jpg");
}

bool IsPictureBytes(std::span<const uint8_t> bytes) {
  return StartsWith(bytes, kPngMagic) || StartsWith(bytes, kJpegMagic) ||
         (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7');
}

bool StartsLikePicture(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) FailErrno(path + ": cannot open");
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    FailData(path + ": is a directory, not a file");
  }
  uint8_t head[8];
  ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  if (n < 0) FailErrno(path + ": cannot read");
  return IsPictureBytes(std::span(head, size_t(n)));
}


void PixelsFromRgb(const uint8_t* rgb, std::span<uint32_t> pixels) {
  for (uint32_t& p : pixels) {
    p = uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
    rgb += 3;
  }
}

void PixelsToRgb(std::span<const uint32_t> pixels, uint8_t* rgb) {
  for (uint32_t p : pixels) {
    rgb[0] = static_cast<uint8_t>(p >> 16);
    rgb[1] = static_cast<uint8_t>(p >> 8);
    rgb[2] = static_cast<uint8_t>(p);
    rgb += 3;
  }
}

Picture DecodePpm(std::span<const uint8_t> bytes, const std::string& name) {
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6')
    FailData(name + ": unsupported format " +
             std::string(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 2)) +
             " (only binary PPM, P6)");
  PpmHeaderReader header{bytes};
  int64_t width = header.Number(), height = header.Number(), maxval = header.Number();
  if (width < 0 || height < 0 || maxval < 0 || header.pos >= bytes.size())
    FailData(name + (header.pos >= bytes.size() ? ": truncated PPM (the header is incomplete)"
                                                : ": corrupt PPM header"));
  if (maxval != 255)
    FailData(name + ": unsupported PPM maxval " + std::to_string(maxval) + " (only 255)");
  if (const char* problem = PictureSizeProblem(width, height)) FailData(name + ": " + problem);
  std::span<const uint8_t> data = bytes.subspan(header.pos + 1);
  size_t need = static_cast<size_t>(width * height * 3);
  if (data.size() < need)
    FailData(name + ": truncated PPM (" + std::to_string(data.size()) + " of " +
             std::to_string(need) + " bytes of pixels)");
  Picture picture{static_cast<int32_t>(width), static_cast<int32_t>(height), {}};
  picture.pixels.resize(need / 3);
  PixelsFromRgb(data.data(), picture.pixels);
  return picture;
}

std::vector<uint8_t> EncodePpm(const Picture& picture) {
  std::string header = "P6\n" + std::to_string(picture.width) + " " +
                       std::to_string(picture.height) + "\n255\n";
  std::vector<uint8_t> out(header.begin(), header.end());
  out.resize(header.size() + picture.pixels.size() * 3);
  PixelsToRgb(picture.pixels, out.data() + header.size());
  return out;
}

Picture DecodePicture(std::span<const uint8_t> bytes, const std::string& name) {
  if (bytes.empty()) FailData(name + ": empty file");
  if (std::equal(bytes.begin(), bytes.begin() + std::min(bytes.size(), sizeof kPngMagic),
                 kPngMagic))
    return DecodePng(bytes, name);
  if (StartsWith(bytes, kJpegMagic)) return DecodeJpeg(bytes, name);
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7')
    return DecodePpm(bytes, name);
  FailData(name + ": unsupported format (not a PNG, PPM or JPEG picture)");
}

std::vector<uint8_t> EncodePicture(const Picture& picture, PictureFormat format, int pngLevel) {
  switch (format) {
    case PictureFormat::Png: return EncodePng(picture, pngLevel);
    case PictureFormat::Ppm: return EncodePpm(picture);
    case PictureFormat::Jpeg: return EncodeJpeg(picture);
  }
  return {};
}

Picture ReadPicture(const std::string& path) {
  if (path == "-")
    return DecodePicture(ReadStandardInput(kMaxPictureFileBytes, "picture"), "standard input");
  return DecodePicture(ReadWholeFile(path, kMaxPictureFileBytes, "picture"), path);
}

void WritePicture(const std::string& path, const Picture& picture, int pngLevel) {
  WritePicture(path, picture, FormatForName(path), pngLevel);
}

void WritePicture(const std::string& path, const Picture& picture, PictureFormat format,
                  int pngLevel) {
  std::vector<uint8_t> bytes = EncodePicture(picture, format, pngLevel);
  if (path == "-") WriteStandardOutput(bytes);
  else WriteFileAtomically(path, bytes);
}

}  // namespace vexlor::cli
