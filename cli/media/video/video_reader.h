// Reading a video file: its video stream decoded frame by frame in
// presentation order, with the packets of its other streams in between.
#pragma once

#include <string>
#include <vector>

#include "cli/media/video/video_av.h"

namespace vexlor::cli {

// What VideoReader::Next found.
struct VideoEvent {
  enum Kind { kFrame, kPacket, kEnd } kind = kEnd;
  av::Frame frame;    // kFrame: as decoded
  int64_t index = 0;  // kFrame: the frame's index in the stream, from 0
  av::Packet packet;  // kPacket: a packet of an audio or subtitle stream
};

// The frames of a video stream as its packets tell them, without decoding:
// each frame's time stamp in presentation order and which are key frames.
// A frame's number is its place among the time stamps, as a run that decodes
// every frame from the start counts it.
struct FrameIndex {
  std::vector<int64_t> times;  // presentation time stamps, ascending
  std::vector<int64_t> keys;   // the key frames' numbers, ascending (none if not complete)
  // Every packet has a time stamp of its own, so that numbers are certain.
  bool complete = true;
  // The number of the frame shown at `time`, or -1 when no frame is.
  int64_t NumberOf(int64_t time) const;
  // The last key frame at or before frame `number` (0 when there is none).
  int64_t KeyBefore(int64_t number) const;
};

class VideoReader {
 public:
  // Opens a file and its video stream's decoder (on its own threads). Fails
  // with one line when the file is not a media file, has no video stream or
  // one of a codec the libraries cannot decode.
  VideoReader(const std::string& path, bool ignoreDamage);

  AVFormatContext* format() const { return format_.get(); }
  AVStream* stream() const { return stream_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  // The number of frames: the container's count, else estimated from the
  // duration and frame rate (`estimated` says which); 0 when neither is known.
  int64_t FrameCount(bool& estimated) const;

  // The next frame, or packet of another stream when `packets` (audio and
  // subtitles only), or the end. A damaged or truncated file, or a frame of
  // another size than the first, is a failure naming the frame; with
  // ignoreDamage a damaged frame is skipped instead.
  VideoEvent Next(bool packets);
  // A decoded frame as the filter sees it (the bytes of ffmpeg's bgr0).
  Picture ToPicture(AVFrame* frame);
  // A frame's time stamp in the stream's time base (AV_NOPTS_VALUE if none).
  static int64_t TimeOf(const AVFrame& frame) { return frame.best_effort_timestamp; }
  // Goes to the key frame at or before `time` (stream time base); the next
  // frames are decoded from there and their indices are unknown (-1).
  void Seek(int64_t time);
  // Seeks as Seek does, when the container lands there on a key frame shown
  // at or before `time`; false (the reader then stands anywhere) when it
  // cannot seek or lands elsewhere, as MPEG-TS may.
  bool SeekToKey(int64_t time);
  // Numbers the frames decoded from here on by their time stamps in `index`
  // (which must outlive the reader's use), so that a seek keeps them. Frames
  // before number `from` may lean on frames before the seek (an open GOP's
  // leading frames): damage there is not the file's, and is not reported.
  void NumberBy(const FrameIndex& index, int64_t from) {
    numbering_ = &index;
    numberedFrom_ = from;
  }
  // Frames whose packets are stamped before `time` (stream time base) and
  // that no other frame refers to are not decoded from now on: a reader
  // going to a later frame skips their work. INT64_MIN decodes every frame.
  void SkipBefore(int64_t time) { skipBefore_ = time; }

 private:
  [[noreturn]] void Damaged(const std::string& what, int64_t frame, int code);
  // Whether the frames stop before the count or duration the file states.
  bool EndsEarly() const;
  std::string path_;
  bool ignoreDamage_;
  av::Input format_;
  AVStream* stream_ = nullptr;
  av::Codec decoder_;
  av::Packet packet_;
  std::unique_ptr<av::Converter> converter_;
  int32_t width_ = 0, height_ = 0;
  int64_t frames_ = 0;   // frames decoded
  int64_t packets_ = 0;  // video packets read
  int64_t lastTime_ = INT64_MIN;  // the latest frame time stamp seen
  bool sized_ = false;   // width_ and height_ come from a decoded frame
  bool draining_ = false;
  bool known_ = true;  // frames_ is the index of the next frame
  const FrameIndex* numbering_ = nullptr;
  int64_t numberedFrom_ = 0;
  int64_t skipBefore_ = INT64_MIN;
};

// Reads every packet of the reader's video stream (demuxing only) into an
// index; the reader must Seek before it decodes again.
FrameIndex ScanFrames(VideoReader& reader);

}  // namespace vexlor::cli
