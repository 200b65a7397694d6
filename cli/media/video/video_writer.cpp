// Encoding and muxing through libavcodec and libavformat.
#include "cli/media/video/video_writer.h"

extern "C" {
#include <libavutil/display.h>
}

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vexlor::cli {

namespace {

// Whether a muxer's failure is the file's (a full disk, a quota, a size
// limit, a failing device) rather than the streams'.
bool WriteError(int status) {
  for (int error : {ENOSPC, EDQUOT, EFBIG, EIO})
    if (status == AVERROR(error)) return true;
  return false;
}

// The video encoder each container gets by default; any other extension
// gets its container's own default video encoder.
struct ContainerRow {
  const char* extension;
  const char* encoder;
};
constexpr ContainerRow kContainers[] = {
    {"mp4", "libx264"}, {"mov", "libx264"},    {"m4v", "libx264"}, {"mkv", "libx264"},
    {"webm", "libvpx-vp9"}, {"avi", "mpeg4"}, {"y4m", "wrapped_avframe"}, {"nut", "ffv1"},
};

// An encoder's pixel format and options unless --codec-option says
// otherwise: high quality, and formats that players accept.
struct EncoderRow {
  const char* encoder;
  const char* pixelFormat;  // nullptr: the encoder's nearest to bgr0
  const char* options;      // KEY=VALUE:KEY=VALUE
};
constexpr EncoderRow kEncoders[] = {
    {"libx264", "yuv420p", "crf=18:preset=medium"},
    // x265 logs on its own (not through FFmpeg's log): errors only.
    {"libx265", "yuv420p", "crf=20:preset=medium:x265-params=log-level=error"},
    {"libvpx-vp9", "yuv420p", "crf=20:b=0:row-mt=1"},
    // ffmpeg's -q:v 2: the finest quantiser that stays efficient.
    {"mpeg4", "yuv420p", "flags=+qscale:global_quality=236"},
    {"wrapped_avframe", "yuv444p", ""},
};

// What an encoder needs for a piece of a longer render (--frames) beyond a
// key frame forced at the piece's first frame: that key frame must be one
// that nothing before it is needed for (an IDR frame, not an open GOP's
// recovery point), and the GOPs closed. A fresh encoder starts with such a
// frame anyway; these make it explicit where the encoder has a way. The
// others need nothing (VP8 and VP9 have no alternate reference before their
// first frame, FFV1 and raw video are all key frames, MPEG-4 and MPEG-2
// refuse the closed-GOP flag while they detect scene changes).
struct PieceRow {
  const char* encoder;
  bool closedGop;       // AV_CODEC_FLAG_CLOSED_GOP
  const char* options;  // KEY=VALUE:KEY=VALUE
};
constexpr PieceRow kPieceOptions[] = {
    {"libx264", true, "forced-idr=1"},
    {"libx265", false, "forced-idr=1"},
};

// swscale's names of the colour matrices it converts RGB to YUV with.
struct MatrixRow {
  AVColorSpace space;
  const char* name;
};
constexpr MatrixRow kMatrices[] = {
    {AVCOL_SPC_BT709, "bt709"},         {AVCOL_SPC_FCC, "fcc"},
    {AVCOL_SPC_BT470BG, "bt470"},       {AVCOL_SPC_SMPTE170M, "smpte170m"},
    {AVCOL_SPC_SMPTE240M, "smpte240m"}, {AVCOL_SPC_BT2020_NCL, "bt2020"},
};

// The muxer for an output name, or null.
const AVOutputFormat* MuxerFor(const std::string& path) {
  const AVOutputFormat* muxer = av_guess_format(nullptr, ("x." + Extension(path)).c_str(), nullptr);
  return muxer && muxer->video_codec != AV_CODEC_ID_NONE ? muxer : nullptr;
}

const AVCodec* ChooseEncoder(const std::string& output, const std::string& name,
                             const AVOutputFormat& muxer) {
  if (!name.empty()) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
      FailUsage("--codec " + name + ": no such video encoder (ffmpeg -encoders lists them)");
    return codec;
  }
  for (const ContainerRow& row : kContainers)
    if (Extension(output) == row.extension)
      if (const AVCodec* codec = avcodec_find_encoder_by_name(row.encoder)) return codec;
  const AVCodec* codec = avcodec_find_encoder(muxer.video_codec);
  if (!codec) FailData(output + ": no encoder for its container's video codec");
  return codec;
}

const EncoderRow* EncoderDefaults(const AVCodec& codec) {
  for (const EncoderRow& row : kEncoders)
    if (std::string_view(codec.name) == row.encoder) return &row;
  return nullptr;
}

// The encoder's pixel format: --codec-option pix_fmt, else its row's, else
// the one of its formats nearest to bgr0, as ffmpeg's tool picks it.
AVPixelFormat ChoosePixelFormat(const AVCodec& codec, const std::string* given) {
  const EncoderRow* row = EncoderDefaults(codec);
  const char* name = given ? given->c_str() : row && row->pixelFormat ? row->pixelFormat : nullptr;
  if (name) {
    AVPixelFormat format = av_get_pix_fmt(name);
    if (format == AV_PIX_FMT_NONE) FailUsage("--codec-option pix_fmt=" + *given + ": no such pixel format");
    return format;
  }
  if (!codec.pix_fmts) return AV_PIX_FMT_BGR0;
  return avcodec_find_best_pix_fmt_of_list(codec.pix_fmts, AV_PIX_FMT_BGR0, 0, nullptr);
}

// Prints one line about the run on standard error, unless warnings are off.
void Say(const VideoJob& job, const std::string& line) {
  if (job.warnings) std::fprintf(stderr, "vexlor: warning: %s\n", line.c_str());
}

// Refuses a --codec-option whose value the encoder does not take (a usage
// failure, as an unknown option is); unknown options are left to the
// encoder's opening, which names them.
void CheckOptionValues(const VideoJob& job, AVCodecContext& enc) {
  for (const auto& [key, value] : job.options) {
    if (key == "pix_fmt" || key == "pixel_format") continue;
    int status = av_opt_set(&enc, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
    if (status < 0 && status != AVERROR_OPTION_NOT_FOUND)
      FailUsage("--codec-option " + key + "=" + value + ": " + enc.codec->name +
                " takes no such value for " + key);
  }
}

// The line said when a variable-rate input goes into a container that
// counts frames at a constant rate: its frames are shown evenly spaced, so
// the sound drifts against them where the input's gaps were.
std::string ConstantRateLine(const VideoJob& job, AVRational rate) {
  char fps[32];
  std::snprintf(fps, sizeof fps, "%g", av_q2d(rate));
  return job.input + " has a variable frame rate; a ." + Extension(job.output) +
         " file counts frames at a constant " + fps +
         " a second, so they are shown evenly spaced and the sound may drift out of step "
         "(.mkv and .mp4 keep the times)";
}

// Tags HEVC in MP4 and MOV as hvc1 (parameter sets in the sample
// description), which every player takes; hev1 is refused by some.
void TagHevc(const AVOutputFormat& muxer, AVStream& stream) {
  std::string_view name = muxer.name;
  if (stream.codecpar->codec_id == AV_CODEC_ID_HEVC && (name == "mp4" || name == "mov"))
    stream.codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
}

// Bits a channel of a pixel format (8 when unknown).
int DepthOf(int format) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(format));
  return desc ? desc->comp[0].depth : 8;
}

// The encoder's format like `chosen` (same components and chroma
// subsampling) but as deep as the input, up to its depth; `chosen` when the
// input is 8-bit or the encoder has no deeper one (x264, x265 and VP9 have
// 10-bit ones).
AVPixelFormat DeeperFormat(const AVCodec& codec, AVPixelFormat chosen, int depth) {
  const AVPixFmtDescriptor* want = av_pix_fmt_desc_get(chosen);
  if (depth <= 8 || !want || !codec.pix_fmts) return chosen;
  AVPixelFormat best = chosen;
  int bestDepth = DepthOf(chosen);
  for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*f);
    if (!d || d->nb_components != want->nb_components || d->log2_chroma_w != want->log2_chroma_w ||
        d->log2_chroma_h != want->log2_chroma_h || (d->flags & ~AV_PIX_FMT_FLAG_BE) != (want->flags & ~AV_PIX_FMT_FLAG_BE))
      continue;
    int bits = d->comp[0].depth;
    if (bits > bestDepth && bits <= depth) best = *f, bestDepth = bits;
  }
  return best;
}

// Says how a deeper input is written, and leaves out an HDR transfer tag
// (PQ, HLG) that an 8-bit output would claim falsely.
void SayDepth(const VideoJob& job, const AVStream& in, AVPixelFormat target, AVCodecContext& enc) {
  int depth = DepthOf(in.codecpar->format), written = DepthOf(target);
  bool hdr = in.codecpar->color_trc == AVCOL_TRC_SMPTE2084 || in.codecpar->color_trc == AVCOL_TRC_ARIB_STD_B67;
  if (hdr && written < 10) {
    enc.color_trc = AVCOL_TRC_UNSPECIFIED;
    Say(job, job.input + " is HDR (" + av_color_transfer_name(in.codecpar->color_trc) +
                 "); the output is " + std::to_string(written) +
                 "-bit, so its HDR transfer tag is left out (--codec libx265 writes 10 bits)");
  }
  if (depth > 8)
    Say(job, job.input + " has " + std::to_string(depth) +
                 "-bit video; it is filtered at 8 bits a channel and written as " +
                 std::to_string(written) + "-bit (" + av_get_pix_fmt_name(target) + ")");
}

// The filter that converts bgr0 to a YUV format with the colour matrix and
// range the output is tagged with, or "" for swscale's defaults.
std::string ColourFilter(const AVCodecParameters& in, AVPixelFormat target) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(target);
  if (!desc || (desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->nb_components < 3) return "";
  std::string options;
  for (const MatrixRow& row : kMatrices)
    if (in.color_space == row.space) options = std::string("out_color_matrix=") + row.name;
  if (in.color_range == AVCOL_RANGE_JPEG)
    options += std::string(options.empty() ? "" : ":") + "out_range=pc";
  return options.empty() ? "" : "scale=" + options;
}

// Muxers that keep a video's rotation (the display matrix, as the track's
// matrix). FFmpeg 5.1's Matroska, WebM, AVI and the rest drop it.
constexpr std::string_view kRotatingMuxers[] = {"mov", "mp4", "ipod", "ismv", "3gp", "3g2", "psp", "f4v"};

// How the frames of a rotated input are turned upright for a container that
// cannot keep the rotation, as players would show them: the filter, whether
// it swaps width and height, and its words for the run's line.
struct Upright {
  std::string filter;  // "" when nothing is to be turned
  bool swapsSize = false;
  std::string words;
};

// The turn a stream's display matrix asks for, as ffmpeg's own tool turns
// frames for showing: quarter turns (mirrored where the matrix mirrors) and
// half turns; nothing for a container that keeps the matrix, or for none.
Upright UprightFor(const AVStream& in, const AVOutputFormat& muxer) {
  if (std::ranges::find(kRotatingMuxers, std::string_view(muxer.name)) != std::end(kRotatingMuxers))
    return {};
  size_t size = 0;
  const auto* matrix = reinterpret_cast<const int32_t*>(
      av_stream_get_side_data(&in, AV_PKT_DATA_DISPLAYMATRIX, &size));
  if (!matrix || size < 9 * sizeof(int32_t)) return {};
  double theta = -std::round(av_display_rotation_get(matrix));
  theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
  if (std::fabs(theta - 90) < 1)
    return {matrix[3] > 0 ? "transpose=cclock_flip" : "transpose=clock", true, "a quarter turn clockwise"};
  if (std::fabs(theta - 270) < 1)
    return {matrix[3] < 0 ? "transpose=clock_flip" : "transpose=cclock", true,
            "a quarter turn anticlockwise"};
  if (std::fabs(theta - 180) < 1) {
    std::string filter = std::string(matrix[0] < 0 ? "hflip" : "") +
                         (matrix[0] < 0 && matrix[4] < 0 ? "," : "") + (matrix[4] < 0 ? "vflip" : "");
    return {filter, false, "a half turn"};
  }
  return {};
}

AVRational FrameRate(const AVStream& s) {
  if (s.avg_frame_rate.num > 0 && s.avg_frame_rate.den > 0) return s.avg_frame_rate;
  if (s.r_frame_rate.num > 0 && s.r_frame_rate.den > 0) return s.r_frame_rate;
  return {25, 1};
}

}  // namespace

namespace {

bool IsPixelFormatKey(const std::string& key) { return key == "pix_fmt" || key == "pixel_format"; }

// The value of --codec-option pix_fmt=..., or nullptr.
const std::string* PixelFormatOption(const VideoJob& job) {
  const std::string* found = nullptr;
  for (const auto& [key, value] : job.options)
    if (IsPixelFormatKey(key)) found = &value;
  return found;
}

}  // namespace

namespace {

// Whether the job renders a piece of the video rather than all of it.
bool IsPiece(const VideoJob& job) { return job.range.first > 0 || job.range.last != INT64_MAX; }

// Sets up a piece's encoder from its row so that pieces join with a stream
// copy. The user's --codec-option still wins.
void ClosePieceStart(const AVCodec& codec, AVCodecContext& enc, AVDictionary** options) {
  for (const PieceRow& row : kPieceOptions) {
    if (std::string_view(codec.name) != row.encoder) continue;
    if (row.closedGop) enc.flags |= AV_CODEC_FLAG_CLOSED_GOP;
    av_dict_parse_string(options, row.options, "=", ":", AV_DICT_DONT_OVERWRITE);
  }
}

}  // namespace

bool IsVideoName(const std::string& path) { return !IsPictureName(path) && MuxerFor(path); }

VideoWriter::VideoWriter(const VideoJob& job, const VideoReader& reader, int64_t shift)
    : output_(job.output), reader_(reader), shift_(shift) {
  const AVOutputFormat* muxer = MuxerFor(job.output);
  if (!muxer) FailData(job.output + ": no video container is written with that extension");
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, muxer, nullptr, nullptr) < 0) throw std::bad_alloc();
  format_.reset(raw);
  // Streams this muxer marks experimental (FLAC or Opus in MP4) are copied
  // too: players read them.
  format_->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
  const AVStream& in = *reader.stream();
  Upright upright = UprightFor(in, *muxer);
  if (!upright.filter.empty())
    Say(job, job.output + ": a ." + Extension(job.output) +
                 " file keeps no rotation; the frames are turned upright (" + upright.words +
                 "), as players show the input");
  EncoderChoice choice = OpenEncoder(job, *muxer, upright.swapsSize);
  // The display matrix goes with the stream unless the frames were turned.
  AddVideoStream(job, *muxer, upright.filter.empty());
  AddCopiedStreams(job, *muxer);
  OpenFile(job);

  AVFrame like{};
  like.width = reader.width();
  like.height = reader.height();
  like.format = AV_PIX_FMT_BGR0;
  std::string middle = upright.filter;
  if (!choice.colour.empty()) middle += (middle.empty() ? "" : ",") + choice.colour;
  converter_ = std::make_unique<av::Converter>(like, in.time_base, choice.pictureAspect,
                                               choice.target, middle);
}

VideoWriter::EncoderChoice VideoWriter::OpenEncoder(const VideoJob& job,
                                                    const AVOutputFormat& muxer, bool swapsSize) {
  // Encoder options: the encoder's defaults, then the user's.
  const AVCodec* codec = ChooseEncoder(job.output, job.codec, muxer);
  const AVStream& in = *reader_.stream();
  EncoderChoice choice;
  choice.target = ChoosePixelFormat(*codec, PixelFormatOption(job));
  if (!PixelFormatOption(job))
    choice.target = DeeperFormat(*codec, choice.target, DepthOf(in.codecpar->format));
  AVDictionary* options = nullptr;
  // Freed however this ends: a refused option value fails part way.
  struct FreeOnExit {
    AVDictionary*& dictionary;
    ~FreeOnExit() { av_dict_free(&dictionary); }
  } freeOptions{options};
  if (const EncoderRow* row = EncoderDefaults(*codec))
    av_dict_parse_string(&options, row->options, "=", ":", 0);
  for (const auto& [key, value] : job.options)
    if (!IsPixelFormatKey(key)) av_dict_set(&options, key.c_str(), value.c_str(), 0);

  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) throw std::bad_alloc();
  AVCodecContext& enc = *encoder_;
  piece_ = IsPiece(job);
  if (piece_) ClosePieceStart(*codec, enc, &options);
  enc.width = swapsSize ? reader_.height() : reader_.width();
  enc.height = swapsSize ? reader_.width() : reader_.height();
  enc.pix_fmt = choice.target;
  enc.sample_aspect_ratio = in.sample_aspect_ratio.num > 0 ? in.sample_aspect_ratio
                                                            : in.codecpar->sample_aspect_ratio;
  choice.pictureAspect = enc.sample_aspect_ratio;
  if (swapsSize && enc.sample_aspect_ratio.num > 0)
    enc.sample_aspect_ratio = av_inv_q(enc.sample_aspect_ratio);
  enc.framerate = FrameRate(in);
  // AVI and YUV4MPEG count frames rather than keep times; MPEG-4 part 2
  // takes time bases of at most 65535 ticks a second.
  std::string_view muxerName = muxer.name;
  constantRate_ = (muxer.flags & AVFMT_NOTIMESTAMPS) || muxerName == "avi" ||
                  muxerName == "yuv4mpegpipe" ||
                  (codec->id == AV_CODEC_ID_MPEG4 && in.time_base.den > 65535);
  enc.time_base = constantRate_ ? av_inv_q(enc.framerate) : in.time_base;
  if (constantRate_ && job.warnings) driftLine_ = ConstantRateLine(job, enc.framerate);
  choice.colour = ColourFilter(*in.codecpar, choice.target);
  enc.color_primaries = in.codecpar->color_primaries;
  enc.color_trc = in.codecpar->color_trc;
  if (!choice.colour.empty() || in.codecpar->color_space == AVCOL_SPC_RGB) {
    enc.colorspace = in.codecpar->color_space;
    enc.color_range = in.codecpar->color_range;
  }
  enc.chroma_sample_location = in.codecpar->chroma_location;
  SayDepth(job, in, choice.target, enc);
  enc.thread_count = 0;
  if (muxer.flags & AVFMT_GLOBALHEADER) enc.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  CheckOptionValues(job, enc);
  int status = avcodec_open2(&enc, codec, &options);
  if (status >= 0 && av_dict_count(options) > 0)
    FailUsage("--codec-option " + std::string(av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX)->key) +
              ": " + codec->name + " has no such option");
  if (status < 0)
    FailData(std::string("cannot start the ") + codec->name + " encoder for " + job.output + " (" +
             av::ErrorText(status) + "; see --codec and --codec-option)");
  return choice;
}

void VideoWriter::AddVideoStream(const VideoJob& job, const AVOutputFormat& muxer,
                                 bool displayMatrix) {
  const AVStream& in = *reader_.stream();
  const AVCodecContext& enc = *encoder_;
  stream_ = avformat_new_stream(format_.get(), nullptr);
  if (!stream_) throw std::bad_alloc();
  avcodec_parameters_from_context(stream_->codecpar, &enc);
  TagHevc(muxer, *stream_);
  stream_->time_base = enc.time_base;
  stream_->avg_frame_rate = enc.framerate;
  stream_->sample_aspect_ratio = enc.sample_aspect_ratio;
  stream_->disposition = in.disposition;
  if (job.metadata) av_dict_copy(&stream_->metadata, in.metadata, 0);
  av_dict_set(&stream_->metadata, "encoder", nullptr, 0);
  // Side data such as the display matrix: players turn the output as the
  // input.
  for (int i = 0; i < in.nb_side_data; ++i) {
    if (!displayMatrix && in.side_data[i].type == AV_PKT_DATA_DISPLAYMATRIX) continue;
    uint8_t* data = av_stream_new_side_data(stream_, in.side_data[i].type, in.side_data[i].size);
    if (!data) throw std::bad_alloc();
    std::memcpy(data, in.side_data[i].data, in.side_data[i].size);
  }
}

void VideoWriter::AddCopiedStreams(const VideoJob& job, const AVOutputFormat& muxer) {
  AVFormatContext* input = reader_.format();
  mapping_.assign(input->nb_streams, -1);
  transcoders_.resize(input->nb_streams);
  for (unsigned i = 0; i < input->nb_streams && job.audio; ++i) AddCopiedStream(job, muxer, i);
  if (job.metadata) av_dict_copy(&format_->metadata, input->metadata, 0);
  av_dict_set(&format_->metadata, "encoder", nullptr, 0);
}

void VideoWriter::OpenFile(const VideoJob& job) {
  file_ = std::make_unique<TemporaryFile>(job.output);
  file_->CloseDescriptor();
  // The muxer reopens its file by name to move the index to the front.
  std::string url = "file:" + file_->path();
  av_freep(&format_->url);
  format_->url = av_strdup(url.c_str());
  int status = avio_open(&format_->pb, url.c_str(), AVIO_FLAG_WRITE);
  if (status < 0) FailData(job.output + ": cannot write: " + av::ErrorText(status));
  AVDictionary* muxOptions = nullptr;
  std::string ext = Extension(job.output);
  if (ext == "mp4" || ext == "mov" || ext == "m4v")
    av_dict_set(&muxOptions, "movflags", "+faststart", 0);
  status = avformat_write_header(format_.get(), &muxOptions);
  av_dict_free(&muxOptions);
  if (status < 0 && WriteError(status))
    FailData(job.output + ": cannot write: " + av::ErrorText(status));
  if (status < 0)
    FailData(job.output + ": cannot start the file (" + av::ErrorText(status) +
             "); a stream may not fit its container: try another extension or --no-audio");
  headerWritten_ = true;
}

VideoWriter::~VideoWriter() = default;

void VideoWriter::AddCopiedStream(const VideoJob& job, const AVOutputFormat& muxer, unsigned i) {
  const AVStream& s = *reader_.format()->streams[i];
  AVMediaType type = s.codecpar->codec_type;
  if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE) return;
  // A muxer that cannot say holds a stream of a kind it has a default codec
  // for.
  int holds = avformat_query_codec(&muxer, s.codecpar->codec_id, FF_COMPLIANCE_NORMAL);
  AVCodecID usual = type == AVMEDIA_TYPE_AUDIO ? muxer.audio_codec : muxer.subtitle_codec;
  bool fits = !(holds == 0 || (holds < 0 && usual == AV_CODEC_ID_NONE));
  std::string what = job.input + ": its stream " + std::to_string(i) + " (" +
                     av_get_media_type_string(type) + ", " +
                     avcodec_get_name(s.codecpar->codec_id) + ")";
  if (type == AVMEDIA_TYPE_AUDIO && (!fits || !job.audioCodec.empty())) {
    const AVCodec* encoder = AudioEncoderFor(muxer, job.audioCodec);
    if (encoder) {
      transcoders_[i] = std::make_unique<AudioTranscoder>(s, *encoder, *format_);
      AVStream* out = transcoders_[i]->stream();
      if (job.metadata) av_dict_copy(&out->metadata, s.metadata, 0);
      mapping_[i] = out->index;
      if (!fits)
        Say(job, what + " cannot go into a ." + Extension(job.output) + " file; it is encoded as " +
                     encoder->name + " at " + std::to_string(transcoders_[i]->bitRate() / 1000) +
                     " kb/s");
      return;
    }
  }
  if (!fits)
    FailData(what + " cannot go into a ." + Extension(job.output) +
             " file; choose another OUTPUT extension (.mkv holds most) or --no-audio");
  if (!job.ignoreDamage && !av::SetupReadable(*s.codecpar))
    FailData(what + " is damaged: its decoder cannot read the stream's setup; --no-audio leaves "
                    "it out, --ignore-damage copies it as it is");
  AVStream* copy = avformat_new_stream(format_.get(), nullptr);
  if (!copy) throw std::bad_alloc();
  avcodec_parameters_copy(copy->codecpar, s.codecpar);
  copy->codecpar->codec_tag = 0;
  copy->time_base = s.time_base;
  copy->disposition = s.disposition;
  if (job.metadata) av_dict_copy(&copy->metadata, s.metadata, 0);
  mapping_[i] = copy->index;
}

void VideoWriter::Write(const Picture& picture, int64_t time) {
  av::Frame frame = av::Bgr0FromPicture(picture);
  frame->pts = time;
  av::Frame converted = converter_->Convert(frame.get());
  const AVStream& in = *reader_.stream();
  if (constantRate_) SayDrift(time);
  int64_t pts = constantRate_ || time == AV_NOPTS_VALUE
                    ? written_
                    : av_rescale_q(time - shift_, in.time_base, encoder_->time_base);
  if (time == AV_NOPTS_VALUE && !constantRate_)
    pts = av_rescale_q(written_, av_inv_q(encoder_->framerate), encoder_->time_base);
  // Encoders refuse time stamps that do not increase.
  if (pts <= lastPts_) pts = lastPts_ + 1;
  lastPts_ = pts;
  converted->pts = pts;
  // A piece's first frame is a key frame whatever the encoder would choose.
  converted->pict_type = piece_ && written_ == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  ++written_;
  Encode(converted.get());
}

void VideoWriter::SayDrift(int64_t time) {
  if (driftLine_.empty() || time == AV_NOPTS_VALUE) return;
  const AVStream& in = *reader_.stream();
  AVRational frame = av_inv_q(encoder_->framerate);
  int64_t counted = av_rescale_q(written_, frame, in.time_base);
  int64_t slack = av_rescale_q(1, frame, in.time_base) * 3 / 2;
  if (std::abs(time - shift_ - counted) <= slack) return;
  std::fprintf(stderr, "vexlor: warning: %s\n", driftLine_.c_str());
  driftLine_.clear();
}

void VideoWriter::Encode(AVFrame* frame) {
  int status = avcodec_send_frame(encoder_.get(), frame);
  if (status < 0) FailData(output_ + ": the encoder failed (" + av::ErrorText(status) + ")");
  av::Packet packet = av::NewPacket();
  while ((status = avcodec_receive_packet(encoder_.get(), packet.get())) == 0) {
    packet->stream_index = stream_->index;
    av_packet_rescale_ts(packet.get(), encoder_->time_base, stream_->time_base);
    Mux(packet.get());
  }
  if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
    FailData(output_ + ": the encoder failed (" + av::ErrorText(status) + ")");
}

void VideoWriter::Copy(AVPacket* packet) {
  int out = mapping_[size_t(packet->stream_index)];
  if (out < 0) return;
  AVRational from = reader_.format()->streams[packet->stream_index]->time_base;
  int64_t shift = av_rescale_q(shift_, reader_.stream()->time_base, from);
  if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
  if (packet->dts != AV_NOPTS_VALUE) packet->dts -= shift;
  if (const auto& sound = transcoders_[size_t(packet->stream_index)]) {
    sound->Send(packet, from, [this](AVPacket* p) { Mux(p); });
    return;
  }
  av_packet_rescale_ts(packet, from, format_->streams[out]->time_base);
  packet->stream_index = out;
  packet->pos = -1;
  Mux(packet);
}

void VideoWriter::Mux(AVPacket* packet) {
  int status = av_interleaved_write_frame(format_.get(), packet);
  if (status < 0) FailData(output_ + ": cannot write: " + av::ErrorText(status));
}

void VideoWriter::Finish() {
  Encode(nullptr);
  for (const auto& sound : transcoders_)
    if (sound) sound->Finish([this](AVPacket* p) { Mux(p); });
  int status = av_write_trailer(format_.get());
  if (status >= 0) status = avio_closep(&format_->pb);
  if (status < 0) FailData(output_ + ": cannot write: " + av::ErrorText(status));
  file_->Commit();
}

}  // namespace vexlor::cli
