// Reading a video file through libavformat and libavcodec.
#include "cli/media/video/video_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/media/video/room.h"

extern "C" {
#include <libavutil/display.h>
}

namespace vexlor::cli {

namespace {

// Whether a stream is copied as packets: audio and subtitles.
bool IsCopied(const AVStream& s) {
  return s.codecpar->codec_type == AVMEDIA_TYPE_AUDIO ||
         s.codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
}

// The best video stream that is a moving picture (not cover art), or null.
AVStream* FindVideo(AVFormatContext* format) {
  int best = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (best >= 0 && !(format->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC))
    return format->streams[best];
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    AVStream* s = format->streams[i];
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
      return s;
  }
  return nullptr;
}

// Whether an opened file is a single still picture, read by an image
// demuxer (one file per frame), or text that the libraries would draw as
// a video (the tty demuxer takes any .txt file).
bool IsNotVideo(const AVFormatContext& format) {
  std::string name = format.iformat->name;
  return name == "image2" || name.ends_with("_pipe") || name == "tty";
}

// Fails for a raw YUV4MPEG2 stream whose header declares a frame size the
// tool does not take (the demuxer refuses it with an unrelated error code).
void CheckDeclaredSize(const std::string& path) {
  char head[256] = {};
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return;
  size_t got = std::fread(head, 1, sizeof head - 1, file);
  std::fclose(file);
  if (got < 10 || std::memcmp(head, "YUV4MPEG2 ", 10) != 0) return;
  long long width = 0, height = 0;
  for (char* token = std::strtok(head + 10, " \n"); token; token = std::strtok(nullptr, " \n")) {
    if (token[0] == 'W') width = std::atoll(token + 1);
    if (token[0] == 'H') height = std::atoll(token + 1);
  }
  if (const char* problem = PictureSizeProblem(width, height))
    FailData(path + ": declares frames of " + std::to_string(width) + "x" +
             std::to_string(height) + ": " + problem);
}

}  // namespace

VideoReader::VideoReader(const std::string& path, bool ignoreDamage)
    : path_(path), ignoreDamage_(ignoreDamage), packet_(av::NewPacket()) {
  av::Quiet();
  AVFormatContext* raw = nullptr;
  int status = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
  if (status == AVERROR(ENOENT) || status == AVERROR(EACCES) || status == AVERROR(EISDIR))
    FailData(path + ": cannot open: " + av::ErrorText(status));
  if (status < 0) CheckDeclaredSize(path);
  if (status < 0) FailData(path + ": not a video or picture file (" + av::ErrorText(status) + ")");
  format_.reset(raw);
  if (std::string_view(raw->iformat->name) == "tty")
    FailData(path + ": not a video or picture file (text)");
  if ((status = avformat_find_stream_info(raw, nullptr)) < 0)
    FailData(path + ": not a video file the tool can read (" + av::ErrorText(status) + ")");
  stream_ = FindVideo(raw);
  if (!stream_) FailData(path + ": has no video stream");
  const AVCodec* codec = avcodec_find_decoder(stream_->codecpar->codec_id);
  if (!codec)
    FailData(path + ": unsupported video codec " + avcodec_get_name(stream_->codecpar->codec_id));
  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_) throw std::bad_alloc();
  avcodec_parameters_to_context(decoder_.get(), stream_->codecpar);
  decoder_->pkt_timebase = stream_->time_base;
  decoder_->thread_count = 0;
  decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if ((status = avcodec_open2(decoder_.get(), codec, nullptr)) < 0)
    FailData(path + ": cannot decode its " + codec->name + " video (" + av::ErrorText(status) + ")");
  width_ = stream_->codecpar->width;
  height_ = stream_->codecpar->height;
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (raw->streams[i] != stream_ && !IsCopied(*raw->streams[i]))
      raw->streams[i]->discard = AVDISCARD_ALL;
}

int64_t VideoReader::FrameCount(bool& estimated) const {
  estimated = false;
  if (stream_->nb_frames > 0) return stream_->nb_frames;
  estimated = true;
  AVRational rate = stream_->avg_frame_rate.num > 0 ? stream_->avg_frame_rate
                                                    : stream_->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) return 0;
  double seconds = stream_->duration != AV_NOPTS_VALUE
                       ? double(stream_->duration) * av_q2d(stream_->time_base)
                   : format_->duration != AV_NOPTS_VALUE ? double(format_->duration) / AV_TIME_BASE
                                                         : 0.0;
  return static_cast<int64_t>(seconds * av_q2d(rate) + 0.5);
}

namespace {

// The video stream's duration in seconds as a Matroska file states it in a
// tag, or -1. (Other containers' durations count frames that may never
// come: an AVI file's index is a frame or two longer than its frames.)
double StatedDuration(const AVStream& s) {
  const AVDictionaryEntry* tag = av_dict_get(s.metadata, "DURATION", nullptr, 0);
  int h = 0, m = 0;
  double sec = 0;
  if (tag && std::sscanf(tag->value, "%d:%d:%lf", &h, &m, &sec) == 3) return h * 3600.0 + m * 60.0 + sec;
  return -1;
}

}  // namespace

bool VideoReader::EndsEarly() const {
  // MP4 and QuickTime files list every frame in their index.
  if (std::string_view(format_->iformat->name).starts_with("mov"))
    return stream_->nb_frames > 0 && packets_ < stream_->nb_frames;
  double stated = StatedDuration(*stream_);
  if (stated <= 0 || lastTime_ == INT64_MIN) return false;
  // The last frame shown ends a frame's time after its time stamp; a file
  // whose frames stop well before its stated end was cut.
  AVRational rate = stream_->avg_frame_rate.num > 0 ? stream_->avg_frame_rate : AVRational{25, 1};
  double frame = 1.0 / av_q2d(rate);
  double start = stream_->start_time != AV_NOPTS_VALUE ? double(stream_->start_time) : 0.0;
  double end = (double(lastTime_) - start) * av_q2d(stream_->time_base) + frame;
  return end < stated - std::max(2 * frame, 0.1);
}

void VideoReader::Damaged(const std::string& what, int64_t frame, int code) {
  FailData(path_ + ": " + what + " at frame " + std::to_string(frame) +
           (code ? " (" + av::ErrorText(code) + ")" : std::string()) +
           "; --ignore-damage goes on past damaged frames");
}

VideoEvent VideoReader::Next(bool packets) {
  VideoEvent event;
  for (;;) {
    av::Frame frame = av::NewFrame();
    int status = avcodec_receive_frame(decoder_.get(), frame.get());
    if (status == 0) {
      int64_t number = numbering_ ? numbering_->NumberOf(TimeOf(*frame)) : known_ ? frames_ : -1;
      bool leading = numbering_ && number < numberedFrom_;
      if ((frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) && !ignoreDamage_ &&
          !leading)
        Damaged("damaged data", number >= 0 ? number : frames_, 0);
      if (!sized_) {
        width_ = frame->width;
        height_ = frame->height;
        if (const char* problem = PictureSizeProblem(width_, height_))
          FailData(path_ + ": " + problem);
        sized_ = true;
      } else if (frame->width != width_ || frame->height != height_) {
        FailData(path_ + ": the frame size changes from " + std::to_string(width_) + "x" +
                 std::to_string(height_) + " to " + std::to_string(frame->width) + "x" +
                 std::to_string(frame->height) + " at frame " + std::to_string(frames_) +
                 "; the tool filters videos of one size");
      }
      if (TimeOf(*frame) != AV_NOPTS_VALUE) lastTime_ = std::max(lastTime_, TimeOf(*frame));
      event.kind = VideoEvent::kFrame;
      event.index = number;
      event.frame = std::move(frame);
      ++frames_;
      return event;
    }
    if (status == AVERROR_EOF) {
      if (known_ && !ignoreDamage_ && EndsEarly())
        FailData(path_ + ": truncated: the file ends at frame " + std::to_string(frames_) +
                 (stream_->nb_frames > 0 ? " of its " + std::to_string(stream_->nb_frames) : "") +
                 "; --ignore-damage keeps the frames before");
      return event;
    }
    if (status != AVERROR(EAGAIN)) {
      if (!ignoreDamage_) Damaged("damaged data", frames_, status);
      continue;
    }
    if (draining_) return event;
    status = av_read_frame(format_.get(), packet_.get());
    if (status == AVERROR_EOF || (status < 0 && ignoreDamage_)) {
      draining_ = true;
      avcodec_send_packet(decoder_.get(), nullptr);
      continue;
    }
    if (status < 0) Damaged("cannot read on", packets_, status);
    if (packet_->stream_index != stream_->index) {
      if (packets) {
        event.kind = VideoEvent::kPacket;
        event.packet = av::NewPacket();
        av_packet_move_ref(event.packet.get(), packet_.get());
        return event;
      }
      av_packet_unref(packet_.get());
      continue;
    }
    // Packets come in decoding order, one frame each: the frame a damaged
    // packet holds is about its number (decoded frames come some behind).
    int64_t number = packets_++;
    if ((packet_->flags & AV_PKT_FLAG_CORRUPT) && !ignoreDamage_)
      Damaged("damaged or cut data", number, 0);
    decoder_->skip_frame = packet_->pts != AV_NOPTS_VALUE && packet_->pts < skipBefore_
                               ? AVDISCARD_NONREF
                               : AVDISCARD_DEFAULT;
    status = avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (status < 0 && status != AVERROR(EAGAIN) && !ignoreDamage_)
      Damaged("damaged data", number, status);
  }
}

Picture VideoReader::ToPicture(AVFrame* frame) {
  if (!converter_)
    converter_ = std::make_unique<av::Converter>(*frame, stream_->time_base,
                                                 frame->sample_aspect_ratio, AV_PIX_FMT_BGR0, "");
  av::Frame bgr0 = converter_->Convert(frame);
  return av::PictureFromBgr0(*bgr0);
}

void VideoReader::Seek(int64_t time) {
  int status = av_seek_frame(format_.get(), stream_->index, time, AVSEEK_FLAG_BACKWARD);
  if (status < 0) FailData(path_ + ": cannot seek: " + av::ErrorText(status));
  avcodec_flush_buffers(decoder_.get());
  draining_ = false;
  known_ = false;
}

bool VideoReader::SeekToKey(int64_t time) {
  AVFormatContext* format = format_.get();
  if (av_seek_frame(format, stream_->index, time, AVSEEK_FLAG_BACKWARD) < 0) return false;
  bool landed = false;
  while (av_read_frame(format, packet_.get()) >= 0) {
    bool video = packet_->stream_index == stream_->index;
    if (video)
      landed = (packet_->flags & AV_PKT_FLAG_KEY) && packet_->pts != AV_NOPTS_VALUE &&
               packet_->pts <= time;
    av_packet_unref(packet_.get());
    if (video) break;
  }
  if (!landed) return false;
  Seek(time);  // the same seek again, now known to land on a key frame
  return true;
}

void ProbeVideo(const std::string& path) { VideoReader reader(path, false); }

bool IsVideoFile(const std::string& path) {
  av::Quiet();
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
  av::Input format(raw);
  if (IsNotVideo(*raw) || avformat_find_stream_info(raw, nullptr) < 0) return false;
  return FindVideo(raw) != nullptr;
}

// ---- Frames numbered from their packets ------------------------------------

int64_t FrameIndex::NumberOf(int64_t time) const {
  auto it = std::lower_bound(times.begin(), times.end(), time);
  return it != times.end() && *it == time ? it - times.begin() : -1;
}

int64_t FrameIndex::KeyBefore(int64_t number) const {
  auto it = std::upper_bound(keys.begin(), keys.end(), number);
  return it == keys.begin() ? 0 : *(it - 1);
}

FrameIndex ScanFrames(VideoReader& reader) {
  FrameIndex index;
  std::vector<int64_t> keyTimes;
  AVFormatContext* format = reader.format();
  av::Packet packet = av::NewPacket();
  while (av_read_frame(format, packet.get()) >= 0) {
    if (packet->stream_index == reader.stream()->index) {
      if (packet->pts == AV_NOPTS_VALUE) index.complete = false;
      int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      index.times.push_back(time);
      if (packet->flags & AV_PKT_FLAG_KEY) keyTimes.push_back(time);
    }
    av_packet_unref(packet.get());
  }
  std::sort(index.times.begin(), index.times.end());
  // Two frames at one time cannot be told apart by it.
  if (std::adjacent_find(index.times.begin(), index.times.end()) != index.times.end())
    index.complete = false;
  if (!index.complete) return index;  // key frames cannot be numbered either
  for (int64_t time : keyTimes)
    if (int64_t number = index.NumberOf(time); number >= 0) index.keys.push_back(number);
  std::sort(index.keys.begin(), index.keys.end());
  return index;
}

// ---- The editor's random access ---------------------------------------------

namespace {

// How far a player turns a stream's frames, clockwise in degrees (0, 90, 180
// or 270), from its display matrix, whose angle is counterclockwise.
int Rotation(const AVStream& stream) {
  const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (!matrix) return 0;
  double angle = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(angle)) return 0;
  int quarter = static_cast<int>(std::lround(angle / 90.0));
  return ((quarter % 4) + 4) % 4 * 90;
}

}  // namespace

VideoFrames::VideoFrames(const std::string& path)
    : reader_(std::make_unique<VideoReader>(path, true)) {
  // The frames' time stamps in presentation order and the key frames, where
  // decoding can start: one scan of the packets, without decoding.
  index_ = ScanFrames(*reader_);
  reader_->Seek(index_.times.empty() ? 0 : index_.times.front());
  const AVStream& stream = *reader_->stream();
  rotation_ = Rotation(stream);
  AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
  frameRate_ = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

int64_t VideoFrames::KeyBefore(int64_t index) const { return index_.KeyBefore(index); }

VideoFrames::~VideoFrames() = default;

int64_t VideoFrames::count() const { return static_cast<int64_t>(index_.times.size()); }
int32_t VideoFrames::width() const { return reader_->width(); }
int32_t VideoFrames::height() const { return reader_->height(); }

Picture VideoFrames::Frame(int64_t index) {
  if (index < 0 || index >= count())
    FailData("frame " + std::to_string(index) + " is not in the video (it has " +
             std::to_string(count()) + " frames)");
  int64_t want = index_.times[size_t(index)];
  // Decoding on from the reader's place reaches the frame without a seek
  // when that place lies between the frame's key frame and the frame.
  bool onTheWay = next_ >= 0 && next_ <= index && next_ >= KeyBefore(index);
  if (!onTheWay) reader_->Seek(want);
  // The frames before it are only decoded for those that refer to them.
  reader_->SkipBefore(want);
  for (;;) {
    VideoEvent event = reader_->Next(false);
    if (event.kind == VideoEvent::kEnd) {
      reader_->SkipBefore(INT64_MIN);
      next_ = -1;
      FailData("frame " + std::to_string(index) + " is missing");
    }
    int64_t time = VideoReader::TimeOf(*event.frame);
    if (time != AV_NOPTS_VALUE && time < want) continue;
    reader_->SkipBefore(INT64_MIN);
    next_ = index + 1;
    return reader_->ToPicture(event.frame.get());
  }
}

}  // namespace vexlor::cli
