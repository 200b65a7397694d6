// Re-encoding sound through libavcodec and libavfilter.
#include "cli/media/video/audio_transcoder.h"

#include <string_view>

namespace vexlor::cli {

namespace {

// The sound encoder of the containers whose own default is not what players
// take best, and the bit rate a channel gets from each encoder: both well
// above where listeners hear a difference.
struct AudioRow {
  const char* muxer;
  const char* encoder;
};
constexpr AudioRow kAudioEncoders[] = {
    {"webm", "libopus"}, {"mp4", "aac"}, {"mov", "aac"}, {"ipod", "aac"}, {"matroska", "libopus"},
};
struct RateRow {
  const char* encoder;
  int64_t bitsPerChannel;
};
constexpr RateRow kBitRates[] = {{"libopus", 80000}, {"opus", 80000}, {"aac", 128000},
                                 {"libmp3lame", 160000}, {"libvorbis", 112000}};
constexpr int64_t kDefaultBitsPerChannel = 128000;

// The sample rate the encoder takes nearest above `rate` (48 kHz for Opus).
int SampleRateFor(const AVCodec& codec, int rate) {
  if (!codec.supported_samplerates) return rate;
  int best = 0;
  for (const int* r = codec.supported_samplerates; *r; ++r)
    if (*r == rate) return rate;
    else if (*r > rate && (best == 0 || *r < best)) best = *r;
  return best ? best : codec.supported_samplerates[0];
}

void Check(int status, const std::string& what) {
  if (status < 0) FailData(what + " (" + av::ErrorText(status) + ")");
}

}  // namespace

const AVCodec* AudioEncoderFor(const AVOutputFormat& muxer, const std::string& chosen) {
  if (!chosen.empty()) {
    const AVCodec* codec = avcodec_find_encoder_by_name(chosen.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO)
      FailUsage("--audio-codec " + chosen + ": no such audio encoder (ffmpeg -encoders lists them)");
    return codec;
  }
  for (const AudioRow& row : kAudioEncoders)
    if (std::string_view(muxer.name) == row.muxer)
      if (const AVCodec* codec = avcodec_find_encoder_by_name(row.encoder)) return codec;
  return muxer.audio_codec == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(muxer.audio_codec);
}

AudioTranscoder::AudioTranscoder(const AVStream& in, const AVCodec& encoder, AVFormatContext& out) {
  const AVCodec* decoder = avcodec_find_decoder(in.codecpar->codec_id);
  if (!decoder) FailData(std::string("no decoder for the sound (") + avcodec_get_name(in.codecpar->codec_id) + ")");
  decoder_.reset(avcodec_alloc_context3(decoder));
  if (!decoder_) throw std::bad_alloc();
  Check(avcodec_parameters_to_context(decoder_.get(), in.codecpar), "cannot read the sound");
  decoder_->pkt_timebase = in.time_base;
  decoderBase_ = in.time_base;
  Check(avcodec_open2(decoder_.get(), decoder, nullptr), "cannot start the sound decoder");
  if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&decoder_->ch_layout, decoder_->ch_layout.nb_channels);

  encoder_.reset(avcodec_alloc_context3(&encoder));
  if (!encoder_) throw std::bad_alloc();
  AVCodecContext& enc = *encoder_;
  enc.sample_rate = SampleRateFor(encoder, decoder_->sample_rate);
  enc.sample_fmt = encoder.sample_fmts ? encoder.sample_fmts[0] : decoder_->sample_fmt;
  av_channel_layout_copy(&enc.ch_layout, &decoder_->ch_layout);
  int64_t perChannel = kDefaultBitsPerChannel;
  for (const RateRow& row : kBitRates)
    if (std::string_view(encoder.name) == row.encoder) perChannel = row.bitsPerChannel;
  enc.bit_rate = perChannel * enc.ch_layout.nb_channels;
  enc.time_base = {1, enc.sample_rate};
  if (out.oformat->flags & AVFMT_GLOBALHEADER) enc.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(avcodec_open2(&enc, &encoder, nullptr),
        std::string("cannot start the ") + encoder.name + " encoder for the sound");

  stream_ = avformat_new_stream(&out, nullptr);
  if (!stream_) throw std::bad_alloc();
  avcodec_parameters_from_context(stream_->codecpar, &enc);
  stream_->time_base = enc.time_base;
  stream_->disposition = in.disposition;

  // abuffer -> aformat (the encoder's format, rate and channels) -> abuffersink.
  graph_.reset(avfilter_graph_alloc());
  if (!graph_) throw std::bad_alloc();
  char layout[128];
  av_channel_layout_describe(&decoder_->ch_layout, layout, sizeof layout);
  std::string args = "time_base=" + std::to_string(in.time_base.num) + "/" +
                     std::to_string(in.time_base.den) + ":sample_rate=" +
                     std::to_string(decoder_->sample_rate) + ":sample_fmt=" +
                     av_get_sample_fmt_name(decoder_->sample_fmt) + ":channel_layout=" + layout;
  av_channel_layout_describe(&enc.ch_layout, layout, sizeof layout);
  std::string format = std::string("sample_fmts=") + av_get_sample_fmt_name(enc.sample_fmt) +
                       ":sample_rates=" + std::to_string(enc.sample_rate) + ":channel_layouts=" + layout;
  AVFilterContext* convert = nullptr;
  int status = avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "in",
                                            args.c_str(), nullptr, graph_.get());
  if (status >= 0)
    status = avfilter_graph_create_filter(&convert, avfilter_get_by_name("aformat"), "format",
                                          format.c_str(), nullptr, graph_.get());
  if (status >= 0)
    status = avfilter_graph_create_filter(&sinkFilter_, avfilter_get_by_name("abuffersink"), "out",
                                          nullptr, nullptr, graph_.get());
  if (status >= 0) status = avfilter_link(source_, 0, convert, 0);
  if (status >= 0) status = avfilter_link(convert, 0, sinkFilter_, 0);
  if (status >= 0) status = avfilter_graph_config(graph_.get(), nullptr);
  Check(status, "cannot convert the sound for its encoder");
  if (!(encoder.capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc.frame_size > 0)
    av_buffersink_set_frame_size(sinkFilter_, unsigned(enc.frame_size));
}

AudioTranscoder::~AudioTranscoder() = default;

int64_t AudioTranscoder::bitRate() const { return encoder_->bit_rate; }

void AudioTranscoder::Send(AVPacket* packet, AVRational from, const Sink& sink) {
  av_packet_rescale_ts(packet, from, decoderBase_);
  int status = avcodec_send_packet(decoder_.get(), packet);
  // A damaged sound packet is dropped, as players drop it.
  if (status == AVERROR_INVALIDDATA) return;
  Check(status, "cannot decode the sound");
  av::Frame frame = av::NewFrame();
  while ((status = avcodec_receive_frame(decoder_.get(), frame.get())) == 0) {
    frame->pts = frame->best_effort_timestamp;
    Filter(frame.get(), sink);
    av_frame_unref(frame.get());
  }
  if (status != AVERROR(EAGAIN) && status != AVERROR_EOF && status != AVERROR_INVALIDDATA)
    Check(status, "cannot decode the sound");
}

void AudioTranscoder::Filter(AVFrame* frame, const Sink& sink) {
  Check(av_buffersrc_add_frame_flags(source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF),
        "cannot convert the sound");
  av::Frame out = av::NewFrame();
  int status;
  while ((status = av_buffersink_get_frame(sinkFilter_, out.get())) == 0) {
    if (out->pts != AV_NOPTS_VALUE)
      out->pts = av_rescale_q(out->pts, av_buffersink_get_time_base(sinkFilter_), encoder_->time_base);
    Encode(out.get(), sink);
    av_frame_unref(out.get());
  }
  if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) Check(status, "cannot convert the sound");
}

void AudioTranscoder::Encode(AVFrame* frame, const Sink& sink) {
  Check(avcodec_send_frame(encoder_.get(), frame), "cannot encode the sound");
  av::Packet packet = av::NewPacket();
  int status;
  while ((status = avcodec_receive_packet(encoder_.get(), packet.get())) == 0) {
    packet->stream_index = stream_->index;
    av_packet_rescale_ts(packet.get(), encoder_->time_base, stream_->time_base);
    sink(packet.get());
  }
  if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) Check(status, "cannot encode the sound");
}

void AudioTranscoder::Finish(const Sink& sink) {
  avcodec_send_packet(decoder_.get(), nullptr);
  av::Frame frame = av::NewFrame();
  while (avcodec_receive_frame(decoder_.get(), frame.get()) == 0) {
    frame->pts = frame->best_effort_timestamp;
    Filter(frame.get(), sink);
    av_frame_unref(frame.get());
  }
  Filter(nullptr, sink);
  Encode(nullptr, sink);
}

}  // namespace vexlor::cli
