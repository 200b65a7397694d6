// JPEG through libjpeg-turbo's TurboJPEG interface: any baseline or
// progressive JPEG in (gray or colour), 8-bit RGB out at high quality.
#include <turbojpeg.h>

#include <memory>

#include "cli/media/picture.h"

namespace vexlor::cli {

namespace {

// Owns a TurboJPEG handle.
struct JpegHandle {
  tjhandle handle;
  ~JpegHandle() {
    if (handle) tjDestroy(handle);
  }
};

// Quality and chroma sampling of the pictures we write: close to lossless,
// with full colour resolution, since a filtered picture is often filtered
// again.
constexpr int kJpegQuality = 95;
constexpr int kJpegSampling = TJSAMP_444;

}  // namespace

Picture DecodeJpeg(std::span<const uint8_t> bytes, const std::string& name) {
  JpegHandle jpeg{tjInitDecompress()};
  if (!jpeg.handle) FailData(name + ": cannot start the JPEG decoder");
  int width = 0, height = 0, sampling = 0, colorspace = 0;
  if (tjDecompressHeader3(jpeg.handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                          &width, &height, &sampling, &colorspace) != 0)
    FailData(name + ": corrupt JPEG (" + tjGetErrorStr2(jpeg.handle) + ")");
  if (width <= 0 || height <= 0) FailData(name + ": corrupt JPEG (the header is incomplete)");
  if (const char* problem = PictureSizeProblem(width, height)) FailData(name + ": " + problem);
  std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
  // A damaged picture decodes with a warning; that is bad input as well.
  if (tjDecompress2(jpeg.handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                    rgb.data(), width, 0, height, TJPF_RGB, 0) != 0)
    FailData(name + ": " +
             (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK
                  ? std::string("unsupported JPEG (CMYK colours)")
                  : "corrupt JPEG (" + std::string(tjGetErrorStr2(jpeg.handle)) + ")"));
  Picture picture{width, height, std::vector<uint32_t>(size_t(width) * size_t(height))};
  PixelsFromRgb(rgb.data(), picture.pixels);
  picture.metadata = ReadJpegMetadata(bytes);
  return picture;
}

std::vector<uint8_t> EncodeJpeg(const Picture& picture, int quality) {
  JpegHandle jpeg{tjInitCompress()};
  if (!jpeg.handle) FailData("cannot start the JPEG encoder");
  std::vector<uint8_t> rgb(picture.pixels.size() * 3);
  PixelsToRgb(picture.pixels, rgb.data());
  unsigned char* out = nullptr;
  unsigned long size = 0;
  int status = tjCompress2(jpeg.handle, rgb.data(), picture.width, 0, picture.height, TJPF_RGB,
                           &out, &size, kJpegSampling, quality > 0 ? quality : kJpegQuality, TJFLAG_ACCURATEDCT);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(out, tjFree);
  if (status != 0) FailData(std::string("cannot encode JPEG: ") + tjGetErrorStr2(jpeg.handle));
  return AddJpegMetadata(std::vector<uint8_t>(out, out + size), picture.metadata);
}

}  // namespace vexlor::cli
