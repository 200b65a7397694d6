// PNG through libpng: any gray, gray+alpha, RGB, RGBA or palette picture
// in, 8-bit RGB out. Alpha is dropped on reading: the filter
// ignores a pixel's top byte.
//
// libpng reports errors by longjmp, so the functions that call setjmp hold no
// objects with destructors: everything they fill is owned by their callers.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "cli/media/picture.h"

namespace vexlor::cli {

namespace {

// What the libpng callbacks share with the code that set them up.
struct PngContext {
  std::span<const uint8_t> input;  // reading: the file's bytes
  size_t pos = 0;
  std::vector<uint8_t>* output = nullptr;  // writing: the encoded bytes
  char problem[200] = "";
};

PngContext& ContextOf(png_structp png) {
  return *static_cast<PngContext*>(png_get_error_ptr(png));
}

// Keeps the first problem: a read error that our own code did not describe
// already is libpng finding the data inconsistent.
void OnError(png_structp png, png_const_charp message) {
  PngContext& ctx = ContextOf(png);
  if (ctx.problem[0] == '\0')
    std::snprintf(ctx.problem, sizeof ctx.problem, ctx.output ? "%s" : "corrupt PNG (%s)", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, size_t n) {
  PngContext& ctx = ContextOf(png);
  if (ctx.input.size() - ctx.pos < n) {
    std::snprintf(ctx.problem, sizeof ctx.problem, "truncated PNG (the file ends early)");
    png_error(png, ctx.problem);
  }
  std::memcpy(out, ctx.input.data() + ctx.pos, n);
  ctx.pos += n;
}

void WriteBytes(png_structp png, png_bytep data, size_t n) {
  PngContext& ctx = ContextOf(png);
  try {
    ctx.output->insert(ctx.output->end(), data, data + n);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void FlushBytes(png_structp) {}

// Sets up the transformations that turn any PNG into 8-bit RGB rows. 16-bit
// channels are scaled to 8 bits with rounding (v * 255 / 65535). A palette's
// transparency (tRNS) becomes an alpha channel when the palette is expanded,
// so it is stripped like any other. False when the rows would still not be
// 3 bytes a pixel: they are never read into a buffer of another size.
bool ExpandToRgb(png_structp png, png_infop info) {
  int depth = png_get_bit_depth(png, info);
  int color = png_get_color_type(png, info);
  if (depth == 16) png_set_scale_16(png);
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if ((color & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_strip_alpha(png);
  if (!(color & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_channels(png, info) == 3 && png_get_bit_depth(png, info) == 8 &&
         png_get_rowbytes(png, info) == size_t{png_get_image_width(png, info)} * 3;
}

// The colour profile, gamma and text chunks read so far.
PictureMetadata ReadMetadata(png_structp png, png_infop info) {
  PictureMetadata metadata;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length))
    metadata.icc.assign(profile, profile + length);
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) metadata.gamma = uint32_t(gamma);
  png_textp texts = nullptr;
  int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i)
    metadata.texts.emplace_back(texts[i].key, texts[i].text ? texts[i].text : "");
  return metadata;
}

// Sets the chunks of what the picture carries: profile, gamma, text (as
// iTXt, UTF-8, when not plain ASCII).
void WriteMetadata(png_structp png, png_infop info, const PictureMetadata& metadata,
                   std::vector<png_text>& texts) {
  if (!metadata.icc.empty())
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, metadata.icc.data(),
                 static_cast<png_uint_32>(metadata.icc.size()));
  if (metadata.gamma > 0) png_set_gAMA_fixed(png, info, png_fixed_point(metadata.gamma));
  for (const auto& [key, text] : metadata.texts) {
    png_text t{};
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    t.compression = ascii ? PNG_TEXT_COMPRESSION_NONE : PNG_ITXT_COMPRESSION_NONE;
    t.key = const_cast<char*>(key.c_str());
    t.text = const_cast<char*>(text.c_str());
    (ascii ? t.text_length : t.itxt_length) = text.size();
    texts.push_back(t);
  }
  if (!texts.empty()) png_set_text(png, info, texts.data(), int(texts.size()));
}

// Decodes into rgb (3 bytes a pixel, top line first); rows is scratch space.
// Returns false with ctx.problem set.
bool ReadRgb(PngContext& ctx, Picture& picture, std::vector<uint8_t>& rgb,
             std::vector<png_bytep>& rows) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::snprintf(ctx.problem, sizeof ctx.problem, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &ctx, ReadBytes);
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);
  picture.depth = std::max(8, int{png_get_bit_depth(png, info)});
  uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  const char* sizeProblem = PictureSizeProblem(width, height);
  if (sizeProblem) std::snprintf(ctx.problem, sizeof ctx.problem, "%s", sizeProblem);
  bool ok = !sizeProblem;
  if (ok && !ExpandToRgb(png, info)) {
    std::snprintf(ctx.problem, sizeof ctx.problem, "unsupported PNG (it does not read as RGB)");
    ok = false;
  }
  if (ok) {
    picture.width = static_cast<int32_t>(width);
    picture.height = static_cast<int32_t>(height);
    rgb.resize(size_t{width} * height * 3);
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = rgb.data() + size_t{y} * width * 3;
    png_read_image(png, rows.data());
    png_read_end(png, info);
    picture.metadata = ReadMetadata(png, info);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return ok;
}

// Sets the row filters and zlib parameters of a compression level (see
// kPngFastestLevel). Chosen by measurement on 2560x1600 photographs: libpng's
// default (every filter tried on each row, zlib level 6) took 1.5 to 2.1 s a
// picture; run-length deflate after the sub or up filter takes 0.1 to 0.2 s
// and gives files of about the same size, where zlib's level 1 with the same
// filters is slower and larger.
void SetCompression(png_structp png, int level) {
  if (level <= 0) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 0);
  } else if (level == kPngFastestLevel) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
    png_set_compression_strategy(png, Z_RLE);
    png_set_compression_level(png, 1);
  } else {
    png_set_compression_level(png, level > kPngMaxLevel ? kPngMaxLevel : level);
  }
}

// Encodes picture into ctx.output; row is scratch space for one line.
bool WriteRgb(PngContext& ctx, const Picture& picture, int level, std::vector<uint8_t>& row,
              std::vector<png_text>& texts) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &ctx, WriteBytes, FlushBytes);
  SetCompression(png, level);
  png_set_IHDR(png, info, static_cast<uint32_t>(picture.width),
               static_cast<uint32_t>(picture.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  WriteMetadata(png, info, picture.metadata, texts);
  png_write_info(png, info);
  for (int32_t y = 0; y < picture.height; ++y) {
    PixelsToRgb(std::span(picture.pixels).subspan(size_t(y) * size_t(picture.width),
                                                  size_t(picture.width)),
                row.data());
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

Picture DecodePng(std::span<const uint8_t> bytes, const std::string& name) {
  PngContext ctx;
  ctx.input = bytes;
  Picture picture;
  std::vector<uint8_t> rgb;
  std::vector<png_bytep> rows;
  if (!ReadRgb(ctx, picture, rgb, rows)) FailData(name + ": " + ctx.problem);
  picture.pixels.resize(rgb.size() / 3);
  PixelsFromRgb(rgb.data(), picture.pixels);
  return picture;
}

std::vector<uint8_t> EncodePng(const Picture& picture, int level) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> row(size_t(picture.width) * 3);
  PngContext ctx;
  ctx.output = &out;
  std::vector<png_text> texts;
  if (!WriteRgb(ctx, picture, level, row, texts))
    FailData(std::string("cannot encode PNG: ") + ctx.problem);
  return out;
}

}  // namespace vexlor::cli
