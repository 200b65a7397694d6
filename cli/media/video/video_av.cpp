// FFmpeg helpers shared by the video reader and writer.
#include "cli/media/video/video_av.h"

#include <bit>
#include <cstring>

namespace vexlor::cli::av {

static_assert(std::endian::native == std::endian::little,
              "bgr0 bytes are read as packed 0x00RRGGBB values");

Frame NewFrame() {
  Frame f(av_frame_alloc());
  if (!f) throw std::bad_alloc();
  return f;
}

Packet NewPacket() {
  Packet p(av_packet_alloc());
  if (!p) throw std::bad_alloc();
  return p;
}

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = "";
  av_strerror(code, text, sizeof text);
  return text;
}

bool SetupReadable(const AVCodecParameters& parameters) {
  const AVCodec* decoder = avcodec_find_decoder(parameters.codec_id);
  if (!decoder) return true;
  Codec context(avcodec_alloc_context3(decoder));
  if (!context) throw std::bad_alloc();
  if (avcodec_parameters_to_context(context.get(), &parameters) < 0) return false;
  context->thread_count = 1;
  return avcodec_open2(context.get(), decoder, nullptr) >= 0;
}

void Quiet() { av_log_set_level(AV_LOG_QUIET); }

Converter::Converter(const AVFrame& like, AVRational timeBase, AVRational aspect,
                     AVPixelFormat target, const std::string& middle)
    : graph_(avfilter_graph_alloc()) {
  if (!graph_) throw std::bad_alloc();
  // ffmpeg's tool passes "flags=bicubic" to the scalers a graph inserts.
  graph_->scale_sws_opts = av_strdup("flags=bicubic");
  // The scalers split each frame among the cores (0: one thread per core),
  // as ffmpeg's tool does; a slice's rows come out as one thread makes them.
  graph_->nb_threads = 0;
  if (aspect.num <= 0 || aspect.den <= 0) aspect = {0, 1};
  std::string args = "video_size=" + std::to_string(like.width) + "x" +
                     std::to_string(like.height) + ":pix_fmt=" + std::to_string(like.format) +
                     ":time_base=" + std::to_string(timeBase.num) + "/" +
                     std::to_string(timeBase.den) + ":pixel_aspect=" + std::to_string(aspect.num) +
                     "/" + std::to_string(aspect.den);
  int status = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in",
                                            args.c_str(), nullptr, graph_.get());
  if (status >= 0)
    status = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out",
                                          nullptr, nullptr, graph_.get());
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  if (status >= 0 && outputs && inputs) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    std::string chain = (middle.empty() ? "" : middle + ",") + "format=pix_fmts=" +
                        av_get_pix_fmt_name(target);
    status = avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &inputs, &outputs, nullptr);
  }
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  if (status >= 0) status = avfilter_graph_config(graph_.get(), nullptr);
  if (status < 0)
    FailData(std::string("cannot convert video frames from ") +
             (av_get_pix_fmt_name(AVPixelFormat(like.format)) ?: "an unknown pixel format") +
             " to " + av_get_pix_fmt_name(target) + ": " + ErrorText(status));
}

Frame Converter::Convert(AVFrame* in) {
  int status = av_buffersrc_add_frame_flags(source_, in, AV_BUFFERSRC_FLAG_KEEP_REF);
  Frame out = NewFrame();
  if (status >= 0) status = av_buffersink_get_frame(sink_, out.get());
  if (status < 0) FailData("cannot convert a video frame: " + ErrorText(status));
  return out;
}

Picture PictureFromBgr0(const AVFrame& frame) {
  Picture picture{frame.width, frame.height,
                  std::vector<uint32_t>(size_t(frame.width) * size_t(frame.height))};
  for (int y = 0; y < frame.height; ++y)
    std::memcpy(picture.pixels.data() + size_t(y) * size_t(frame.width),
                frame.data[0] + ptrdiff_t(y) * frame.linesize[0], size_t(frame.width) * 4);
  return picture;
}

Frame Bgr0FromPicture(const Picture& picture) {
  Frame frame = NewFrame();
  frame->format = AV_PIX_FMT_BGR0;
  frame->width = picture.width;
  frame->height = picture.height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(frame->data[0] + ptrdiff_t(y) * frame->linesize[0],
                picture.pixels.data() + size_t(y) * size_t(picture.width),
                size_t(picture.width) * 4);
  return frame;
}

}  // namespace vexlor::cli::av
