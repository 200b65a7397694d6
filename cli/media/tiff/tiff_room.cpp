// The TIFF room: libtiff reading from and writing to memory, and the entry
// point the tool looks up when it loads vexlor-tiff.so.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/base/modules.h"
#include "cli/media/tiff.h"

namespace vexlor::cli {

namespace {

// A file in memory that libtiff reads or writes through its client calls.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  uint64_t pos = 0;
};

MemoryFile& FileOf(thandle_t h) { return *static_cast<MemoryFile*>(h); }

tmsize_t Read(thandle_t h, void* buffer, tmsize_t size) {
  MemoryFile& f = FileOf(h);
  uint64_t n = f.pos >= f.bytes.size() ? 0 : std::min<uint64_t>(uint64_t(size), f.bytes.size() - f.pos);
  std::memcpy(buffer, f.bytes.data() + f.pos, n);
  f.pos += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t Write(thandle_t h, void* buffer, tmsize_t size) {
  MemoryFile& f = FileOf(h);
  if (f.pos + uint64_t(size) > f.bytes.size()) f.bytes.resize(f.pos + uint64_t(size));
  std::memcpy(f.bytes.data() + f.pos, buffer, size_t(size));
  f.pos += uint64_t(size);
  return size;
}

toff_t Seek(thandle_t h, toff_t offset, int whence) {
  MemoryFile& f = FileOf(h);
  uint64_t base = whence == SEEK_CUR ? f.pos : whence == SEEK_END ? f.bytes.size() : 0;
  f.pos = base + offset;
  return f.pos;
}

int Close(thandle_t) { return 0; }
toff_t Size(thandle_t h) { return FileOf(h).bytes.size(); }
int Map(thandle_t, void**, toff_t*) { return 0; }
void Unmap(thandle_t, void*, toff_t) {}

// libtiff's last error, for the one-line failure; its warnings are dropped.
thread_local std::string lastError;

void KeepError(const char*, const char* format, va_list ap) {
  char text[256];
  std::vsnprintf(text, sizeof text, format, ap);
  lastError = text;
}

// Owns an open TIFF.
struct TiffFile {
  TIFF* tif;
  ~TiffFile() {
    if (tif) TIFFClose(tif);
  }
};

TIFF* Open(MemoryFile& file, const char* mode) {
  TIFFSetErrorHandler(KeepError);
  TIFFSetWarningHandler(nullptr);
  lastError.clear();
  return TIFFClientOpen("tiff", mode, &file, Read, Write, Seek, Close, Size, Map, Unmap);
}

class Room final : public TiffRoom {
 public:
  Picture Decode(std::span<const uint8_t> bytes, const std::string& name) override {
    MemoryFile file{{bytes.begin(), bytes.end()}};
    TiffFile in{Open(file, "rm")};
    if (!in.tif) FailData(name + ": corrupt TIFF (" + lastError + ")");
    uint32_t width = 0, height = 0;
    uint16_t bits = 8;
    TIFFGetField(in.tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in.tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(in.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    if (const char* problem = PictureSizeProblem(width, height)) FailData(name + ": " + problem);
    std::vector<uint32_t> rgba(size_t(width) * height);
    if (!TIFFReadRGBAImageOriented(in.tif, width, height, rgba.data(), ORIENTATION_TOPLEFT, 0))
      FailData(name + ": unsupported or corrupt TIFF (" + lastError + ")");
    Picture picture{int32_t(width), int32_t(height), std::vector<uint32_t>(rgba.size())};
    picture.depth = bits;
    for (size_t i = 0; i < rgba.size(); ++i)
      picture.pixels[i] = TIFFGetR(rgba[i]) << 16 | TIFFGetG(rgba[i]) << 8 | TIFFGetB(rgba[i]);
    return picture;
  }

  std::vector<uint8_t> Encode(const Picture& picture) override {
    MemoryFile file;
    {
      TiffFile out{Open(file, "w")};
      if (!out.tif) FailData("cannot encode TIFF (" + lastError + ")");
      TIFFSetField(out.tif, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width));
      TIFFSetField(out.tif, TIFFTAG_IMAGELENGTH, uint32_t(picture.height));
      TIFFSetField(out.tif, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(out.tif, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(out.tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      TIFFSetField(out.tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
      TIFFSetField(out.tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
      TIFFSetField(out.tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      TIFFSetField(out.tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
      TIFFSetField(out.tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(out.tif, 0));
      std::vector<uint8_t> row(size_t(picture.width) * 3);
      for (int32_t y = 0; y < picture.height; ++y) {
        PixelsToRgb(std::span(picture.pixels).subspan(size_t(y) * size_t(picture.width),
                                                      size_t(picture.width)),
                    row.data());
        if (TIFFWriteScanline(out.tif, row.data(), uint32_t(y), 0) < 0)
          FailData("cannot encode TIFF (" + lastError + ")");
      }
    }  // closing writes the directory
    return std::move(file.bytes);
  }
};

}  // namespace

}  // namespace vexlor::cli

VEXLOR_ROOM_ENTRY(tiff) {
  static vexlor::cli::Room room;
  return std::strcmp(version, VEXLOR_VERSION) == 0 ? static_cast<vexlor::cli::TiffRoom*>(&room)
                                                   : nullptr;
}
