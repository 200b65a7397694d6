// Sound re-encoded for a container that cannot hold the input's codec: the
// input stream's packets decoded, converted to what the encoder takes (sample
// format, rate, frame size) through libavfilter, encoded and handed back as
// packets of the output stream.
#pragma once

#include <functional>
#include <string>

#include "cli/media/video/video_av.h"

namespace vexlor::cli {

// The encoder a container gets sound in when it cannot hold the input's:
// `chosen` (--audio-codec) when given, else the container's usual one (Opus
// for WebM, AAC for MP4 and MOV). A usage failure for an unknown name.
const AVCodec* AudioEncoderFor(const AVOutputFormat& muxer, const std::string& chosen);

class AudioTranscoder {
 public:
  using Sink = std::function<void(AVPacket*)>;
  // Sets up decoding of `in` and encoding into a new stream of `out`, at a
  // bit rate that does not audibly lose; fails in one line when either codec
  // cannot start.
  AudioTranscoder(const AVStream& in, const AVCodec& encoder, AVFormatContext& out);
  ~AudioTranscoder();
  AVStream* stream() const { return stream_; }
  // Bits a second the encoder was given.
  int64_t bitRate() const;
  // Decodes a packet (time stamps in `from`), and passes every packet the
  // encoder makes to `sink`, in the output stream's time base.
  void Send(AVPacket* packet, AVRational from, const Sink& sink);
  // Drains the decoder, the converter and the encoder into `sink`.
  void Finish(const Sink& sink);

 private:
  void Filter(AVFrame* frame, const Sink& sink);
  void Encode(AVFrame* frame, const Sink& sink);
  av::Codec decoder_, encoder_;
  av::Graph graph_;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sinkFilter_ = nullptr;
  AVStream* stream_ = nullptr;
  AVRational decoderBase_{0, 1};
};

}  // namespace vexlor::cli
