// The FFmpeg libraries as the video commands use them: owning pointers,
// error texts, and the pixel format conversions ffmpeg's own tool makes.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <memory>
#include <string>

#include "cli/base/failure.h"
#include "cli/media/picture.h"

namespace vexlor::cli::av {

struct FreeFrame {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct FreePacket {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FreeCodec {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FreeGraph {
  void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct CloseInput {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// An output context and the file it writes to.
struct FreeOutput {
  void operator()(AVFormatContext* f) const {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  }
};
struct FreeDictionary {
  void operator()(AVDictionary* d) const { av_dict_free(&d); }
};
using Frame = std::unique_ptr<AVFrame, FreeFrame>;
using Output = std::unique_ptr<AVFormatContext, FreeOutput>;
using Packet = std::unique_ptr<AVPacket, FreePacket>;
using Codec = std::unique_ptr<AVCodecContext, FreeCodec>;
using Graph = std::unique_ptr<AVFilterGraph, FreeGraph>;
using Input = std::unique_ptr<AVFormatContext, CloseInput>;

Frame NewFrame();
Packet NewPacket();

// The libraries' text for an error code.
std::string ErrorText(int code);

// Whether a decoder of the stream's codec reads the stream's setup (its
// extradata: a Vorbis stream's setup header, AAC's configuration). A stream
// copied as it is whose setup no decoder can read would give a file no player
// opens. True when there is no decoder to ask.
bool SetupReadable(const AVCodecParameters& parameters);

// Silences the libraries' own logging: failures are reported in one line by
// the caller, in its words.
void Quiet();

// A pixel format conversion through libavfilter's graph, built as ffmpeg's
// tool builds it for a change of pixel format: a buffer source, an optional
// filter, a format filter and a sink, with swscale's flags set to ffmpeg's
// default for the scalers it inserts (bicubic).
class Converter {
 public:
  // Frames of `frameLike`'s size and format and the time base `timeBase` in;
  // frames of `target` out. `middle` is a filter description put before the
  // format filter ("" for none).
  Converter(const AVFrame& frameLike, AVRational timeBase, AVRational aspect, AVPixelFormat target,
            const std::string& middle);
  // Converts one frame; the result is owned by the caller.
  Frame Convert(AVFrame* in);

 private:
  Graph graph_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

// A converted bgr0 frame as a picture, top line first (bgr0's bytes B, G, R,
// 0 are the packed value 0x00RRGGBB on a little-endian machine).
Picture PictureFromBgr0(const AVFrame& frame);
// A picture as a new bgr0 frame.
Frame Bgr0FromPicture(const Picture& picture);

}  // namespace vexlor::cli::av
