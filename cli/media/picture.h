// Pictures: pixels held top line first, and their files (PNG, PPM, JPEG, TIFF,
// BMP, WebP).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/base/failure.h"
#include "pixel/pixel.h"

namespace vexlor::cli {

// What a picture file says beside its pixels, carried from the input to an
// output that holds it: the colour profile into JPEG and PNG, EXIF and XMP
// into JPEG, gamma and text into PNG.
struct PictureMetadata {
  std::vector<uint8_t> icc;   // ICC colour profile
  std::vector<uint8_t> exif;  // EXIF as a TIFF structure ("II*" or "MM*" first)
  std::vector<uint8_t> xmp;   // the XMP packet
  uint32_t gamma = 0;         // PNG gAMA, times 100000; 0 for none
  std::vector<std::pair<std::string, std::string>> texts;  // PNG text chunks
};

// Pixels of a picture, top line first, as packed 0x00RRGGBB values.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  int depth = 8;  // bits a channel of the file read; the pixels hold 8
  PictureMetadata metadata = {};

  // The pixels as a view, top line first (rows of width * 4 bytes).
  ConstPixelView View() const { return {pixels.data(), width, height, width * 4}; }
  PixelView View() { return {pixels.data(), width, height, width * 4}; }
};

// Pixels from RGB bytes (three a pixel, as PNG, PPM and JPEG hold them) and
// back: pixels[i] = 0x00RRGGBB of rgb[3i .. 3i+2].
void PixelsFromRgb(const uint8_t* rgb, std::span<uint32_t> pixels);
void PixelsToRgb(std::span<const uint32_t> pixels, uint8_t* rgb);

// Pictures and frames hold at most this many pixels: 1 GiB per buffer.
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

enum class PictureFormat { Png, Ppm, Jpeg, Tiff, Bmp, Webp };

// A file name's extension without its dot, in lower case ("" for none).
std::string Extension(const std::string& path);
// The extensions of the picture formats, as "png, ppm, ..." for messages.
std::string PictureExtensions();
// Format named by a file name's extension (.png, .jpg, .tif, ..., any case);
// a usage failure for any other.
PictureFormat FormatForName(const std::string& path);
// Whether a file name's extension is one of a picture format.
bool IsPictureName(const std::string& path);
// Format named by --format's value (an extension); a usage failure for any
// other.
PictureFormat FormatNamed(const std::string& name);
// Whether bytes start like a picture file the tool reads.
bool IsPictureBytes(std::span<const uint8_t> bytes);
// IsPictureBytes needs at most this many first bytes (WebP's RIFF header).
inline constexpr size_t kPictureMagicBytes = 12;
// The picture a file holds, read whole, or nothing when it does not start like
// one (a video, for the video room to open again). Each file is opened once: a
// FIFO, a pipe or a process substitution can be read only once, so one that
// holds no picture is refused with the reason. A data failure also when the
// file cannot be read or is a directory.
std::optional<Picture> ReadIfPicture(const std::string& path, bool keepOrientationTag = false);

// Decoders take a file's bytes; `name` appears in their failure messages.
Picture DecodePicture(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodePng(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodePpm(std::span<const uint8_t> bytes, const std::string& name);
// PNG compression levels: 0 stores the rows uncompressed, 1 is the fastest
// compression (run-length deflate of rows filtered by their left or upper
// neighbour: on photographs about as small as level 6, ten times faster),
// 2 to 9 are zlib's levels on rows filtered as libpng chooses, slower and
// smaller as they rise.
inline constexpr int kPngStoredLevel = 0;
inline constexpr int kPngFastestLevel = 1;
inline constexpr int kPngMaxLevel = 9;
inline constexpr int kPngDefaultLevel = kPngFastestLevel;

// How pictures are written: PNG's compression level, and the quality of the
// lossy formats (JPEG, WebP) from 1 to 100, 0 for each format's default
// (JPEG 95, WebP lossless).
struct PictureSettings {
  int pngLevel = kPngDefaultLevel;
  int quality = 0;
};
inline constexpr int kLosslessQuality = 0;

Picture DecodeJpeg(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodeBmp(std::span<const uint8_t> bytes, const std::string& name);
Picture DecodeWebp(std::span<const uint8_t> bytes, const std::string& name);
bool StartsLikeBmp(std::span<const uint8_t> bytes);
bool StartsLikeWebp(std::span<const uint8_t> bytes);
// Encoders write 8-bit RGB; the pixels' top byte is dropped.
std::vector<uint8_t> EncodePng(const Picture& picture, int level = kPngDefaultLevel);
std::vector<uint8_t> EncodePpm(const Picture& picture);
std::vector<uint8_t> EncodeJpeg(const Picture& picture, int quality = 0);
std::vector<uint8_t> EncodeBmp(const Picture& picture);
// quality 1 to 100 for lossy WebP, kLosslessQuality for lossless.
std::vector<uint8_t> EncodeWebp(const Picture& picture, int quality);
std::vector<uint8_t> EncodePicture(const Picture& picture, PictureFormat format,
                                   const PictureSettings& settings = {});

// The EXIF orientation (1 to 8; 1 for none or an unreadable one).
int ExifOrientation(std::span<const uint8_t> exif);
// Turns the pixels as the EXIF orientation asks, as viewers show them, and
// sets the tag to 1 (upright) so that the picture is not turned twice.
void ApplyExifOrientation(Picture& picture);
// JPEG's metadata segments (APP1 EXIF and XMP, APP2 ICC) read from a file and
// put into an encoded one after its first segment.
PictureMetadata ReadJpegMetadata(std::span<const uint8_t> bytes);
std::vector<uint8_t> AddJpegMetadata(std::vector<uint8_t> jpeg, const PictureMetadata& metadata);

// Reads a picture file, or standard input for "-"; a JPEG's EXIF orientation
// is applied unless keepOrientationTag.
Picture ReadPicture(const std::string& path, bool keepOrientationTag = false);
// Writes a picture in the format of its extension, or to standard output in
// `format` for "-".
void WritePicture(const std::string& path, const Picture& picture,
                  const PictureSettings& settings = {});
void WritePicture(const std::string& path, const Picture& picture, PictureFormat format,
                  const PictureSettings& settings = {});

// Why width x height is not a size the tool handles, or nullptr when it is.
const char* PictureSizeProblem(int64_t width, int64_t height);

}  // namespace vexlor::cli
