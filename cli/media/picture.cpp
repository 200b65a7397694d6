// Picture files: format detection, binary PPM (P6, maxval 255), and reading
// and writing by file name or through standard input and output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "cli/base/files.h"
#include "cli/media/picture.h"
#include "cli/media/tiff.h"

namespace vexlor::cli {

namespace {

constexpr uint8_t kPngMagic[] = {0x89, 'P', 'N', 'G'};
constexpr uint8_t kJpegMagic[] = {0xFF, 0xD8, 0xFF};

bool StartsWith(std::span<const uint8_t> bytes, std::span<const uint8_t> magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

bool StartsLikePng(std::span<const uint8_t> b) { return StartsWith(b, kPngMagic); }
bool StartsLikeJpeg(std::span<const uint8_t> b) { return StartsWith(b, kJpegMagic); }
bool StartsLikePpm(std::span<const uint8_t> b) {
  return b.size() >= 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7';
}
bool StartsLikeTiff(std::span<const uint8_t> b) {
  constexpr uint8_t kLittle[] = {'I', 'I', 42, 0}, kBig[] = {'M', 'M', 0, 42};
  return StartsWith(b, kLittle) || StartsWith(b, kBig);
}

// The picture formats: how a file's first bytes and its name tell each, and
// its decoder and encoder. The first extension is the one messages name.
struct FormatEntry {
  PictureFormat format;
  std::string_view extensions[2];
  bool (*starts)(std::span<const uint8_t>);
  Picture (*decode)(std::span<const uint8_t>, const std::string&);
  std::vector<uint8_t> (*encode)(const Picture&, const PictureSettings&);
};
constexpr FormatEntry kFormats[] = {
    {PictureFormat::Png, {"png"}, StartsLikePng, DecodePng,
     [](const Picture& p, const PictureSettings& s) { return EncodePng(p, s.pngLevel); }},
    {PictureFormat::Ppm, {"ppm"}, StartsLikePpm, DecodePpm,
     [](const Picture& p, const PictureSettings&) { return EncodePpm(p); }},
    {PictureFormat::Jpeg, {"jpg", "jpeg"}, StartsLikeJpeg, DecodeJpeg,
     [](const Picture& p, const PictureSettings& s) { return EncodeJpeg(p, s.quality); }},
    {PictureFormat::Tiff, {"tif", "tiff"}, StartsLikeTiff,
     [](std::span<const uint8_t> b, const std::string& n) { return Tiff().Decode(b, n); },
     [](const Picture& p, const PictureSettings&) { return Tiff().Encode(p); }},
    {PictureFormat::Bmp, {"bmp"}, StartsLikeBmp, DecodeBmp,
     [](const Picture& p, const PictureSettings&) { return EncodeBmp(p); }},
    {PictureFormat::Webp, {"webp"}, StartsLikeWebp, DecodeWebp,
     [](const Picture& p, const PictureSettings& s) { return EncodeWebp(p, s.quality); }},
};

const FormatEntry* FindFormat(const std::string& name) {
  for (const FormatEntry& f : kFormats)
    for (std::string_view extension : f.extensions)
      if (!extension.empty() && name == extension) return &f;
  return nullptr;
}

const FormatEntry& EntryOf(PictureFormat format) {
  for (const FormatEntry& f : kFormats)
    if (f.format == format) return f;
  return kFormats[0];
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

std::string PictureExtensions() {
  std::string list;
  for (const FormatEntry& f : kFormats)
    for (std::string_view extension : f.extensions)
      if (!extension.empty()) list += (list.empty() ? "" : ", ") + std::string(extension);
  return list;
}

bool IsPictureName(const std::string& path) { return FindFormat(Extension(path)) != nullptr; }

PictureFormat FormatForName(const std::string& path) {
  std::string extension = Extension(path);
  if (const FormatEntry* f = FindFormat(extension)) return f->format;
  if (extension.empty())
    FailUsage(path + ": no extension to tell the picture format by (known: " +
              PictureExtensions() + ")");
  FailUsage(path + ": no picture format for ." + extension + " (known: " + PictureExtensions() +
            ")");
}

PictureFormat FormatNamed(const std::string& name) {
  if (const FormatEntry* f = FindFormat(Lower(name))) return f->format;
  FailUsage("--format: '" + name + "' is no picture format (known: " + PictureExtensions() + ")");
}

bool IsPictureBytes(std::span<const uint8_t> bytes) {
  for (const FormatEntry& f : kFormats)
    if (f.starts(bytes)) return true;
  return false;
}

// Reads up to size bytes of fd into head, fewer only at its end.
size_t ReadHead(int fd, uint8_t* head, size_t size, const std::string& path) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, head + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailErrno(path + ": cannot read");
    if (n == 0) break;
    got += size_t(n);
  }
  return got;
}

std::optional<Picture> ReadIfPicture(const std::string& path, bool keepOrientationTag) {
  FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) FailErrno(path + ": cannot open");
  struct stat st;
  if (::fstat(file.fd, &st) != 0) FailErrno(path + ": cannot read");
  if (S_ISDIR(st.st_mode)) FailData(path + ": is a directory, not a file");
  uint8_t head[kPictureMagicBytes];
  size_t got = ReadHead(file.fd, head, sizeof head, path);
  bool starts = IsPictureBytes(std::span(head, got));
  if (!starts && S_ISREG(st.st_mode)) return std::nullopt;
  if (!starts)
    FailData(path + ": not a picture, and a video must be a regular file: a pipe or FIFO can "
                    "be read only once; save it to a file first");
  Picture picture = DecodePicture(ReadDescriptor(file.fd, path, kMaxPictureFileBytes, "picture",
                                                 std::vector<uint8_t>(head, head + got)),
                                  path);
  if (!keepOrientationTag) ApplyExifOrientation(picture);
  return picture;
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
  // A PNG signature cut short is still read as PNG, to say it is truncated.
  if (std::equal(bytes.begin(), bytes.begin() + std::min(bytes.size(), sizeof kPngMagic),
                 kPngMagic))
    return DecodePng(bytes, name);
  for (const FormatEntry& f : kFormats)
    if (f.starts(bytes)) return f.decode(bytes, name);
  FailData(name + ": unsupported format (not a picture the tool reads: " + PictureExtensions() +
           ")");
}

std::vector<uint8_t> EncodePicture(const Picture& picture, PictureFormat format,
                                   const PictureSettings& settings) {
  return EntryOf(format).encode(picture, settings);
}

Picture ReadPicture(const std::string& path, bool keepOrientationTag) {
  Picture picture =
      path == "-"
          ? DecodePicture(ReadStandardInput(kMaxPictureFileBytes, "picture"), "standard input")
          : DecodePicture(ReadWholeFile(path, kMaxPictureFileBytes, "picture"), path);
  if (!keepOrientationTag) ApplyExifOrientation(picture);
  return picture;
}

void WritePicture(const std::string& path, const Picture& picture,
                  const PictureSettings& settings) {
  WritePicture(path, picture, FormatForName(path), settings);
}

void WritePicture(const std::string& path, const Picture& picture, PictureFormat format,
                  const PictureSettings& settings) {
  std::vector<uint8_t> bytes = EncodePicture(picture, format, settings);
  if (path == "-") WriteStandardOutput(bytes);
  else WriteFileAtomically(path, bytes);
}

}  // namespace vexlor::cli
