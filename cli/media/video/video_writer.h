// Writing a video file: the filtered frames encoded, the copied streams'
// packets as they were, into a temporary file renamed into place at the end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/base/signals.h"
#include "cli/media/video/audio_transcoder.h"
#include "cli/media/video/room.h"
#include "cli/media/video/video_av.h"
#include "cli/media/video/video_reader.h"

namespace vexlor::cli {

class VideoWriter {
 public:
  // Sets up OUTPUT for job: its container by extension, the encoder (the
  // container's usual one, or --codec) with the input's size, aspect ratio,
  // colour tags and frame rate, the video stream's side data (rotation) and
  // a copy of each audio and subtitle stream; fails before any frame is
  // read when a stream or option does not fit. Time stamps out are the
  // input's less `shift` (in the video stream's time base).
  VideoWriter(const VideoJob& job, const VideoReader& reader, int64_t shift);
  ~VideoWriter();
  // Encodes a filtered frame shown at `time` (the input video stream's time
  // base, AV_NOPTS_VALUE when unknown).
  void Write(const Picture& picture, int64_t time);
  // Time stamps from here on are less `shift` (the video stream's time base).
  void SetShift(int64_t shift) { shift_ = shift == AV_NOPTS_VALUE ? 0 : shift; }
  // Writes a packet of an input stream if that stream is copied.
  void Copy(AVPacket* packet);
  // Flushes the encoder, ends the file and renames it onto OUTPUT.
  void Finish();

 private:
  // What the encoder was opened with that the frames' conversion needs.
  struct EncoderChoice {
    AVPixelFormat target = AV_PIX_FMT_NONE;  // the encoder's pixel format
    std::string colour;                      // the colour filter into it ("" for none)
    AVRational pictureAspect{0, 1};          // the input's pixel aspect, before turning
  };
  // Opens the encoder for the job's codec and options, sized for frames
  // turned a quarter when swapsSize.
  EncoderChoice OpenEncoder(const VideoJob& job, const AVOutputFormat& muxer, bool swapsSize);
  // The encoded video stream, with the input's metadata and side data (the
  // display matrix only when displayMatrix).
  void AddVideoStream(const VideoJob& job, const AVOutputFormat& muxer, bool displayMatrix);
  // The audio and subtitle streams, copied or re-encoded, and the
  // container's metadata.
  void AddCopiedStreams(const VideoJob& job, const AVOutputFormat& muxer);
  // The temporary file beside OUTPUT, opened and its header written.
  void OpenFile(const VideoJob& job);
  void Encode(AVFrame* frame);
  // Says once, when a frame's time strays more than a frame and a half from
  // where a constant-rate container shows it, that the times are not kept.
  void SayDrift(int64_t time);
  // Adds input stream `index` to the output: copied when the container holds
  // it (and no --audio-codec asks otherwise), sound re-encoded when not.
  void AddCopiedStream(const VideoJob& job, const AVOutputFormat& muxer, unsigned index);
  void Mux(AVPacket* packet);
  std::string output_;
  const VideoReader& reader_;
  int64_t shift_;
  std::unique_ptr<TemporaryFile> file_;
  av::Output format_;
  av::Codec encoder_;
  AVStream* stream_ = nullptr;
  std::unique_ptr<av::Converter> converter_;
  std::vector<int> mapping_;  // input stream -> output stream, -1 for none
  std::vector<std::unique_ptr<AudioTranscoder>> transcoders_;  // by input stream, or null
  bool constantRate_ = false;  // the container counts frames, not times
  int64_t written_ = 0;        // frames sent to the encoder
  int64_t lastPts_ = INT64_MIN;
  bool headerWritten_ = false;
  bool piece_ = false;  // a --frames range: its first frame is a key frame
  std::string driftLine_;  // said at the first drift, then cleared
};

}  // namespace vexlor::cli
