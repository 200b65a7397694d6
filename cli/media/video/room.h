// The video room's services, which cli/video/room.cpp hands to the tool
// through the VideoRoom interface (cli/media/video.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/media/video.h"
#include "cli/media/video/video_reader.h"

namespace vexlor::cli {

class VideoReader;

// Whether a file is a video (by content: a media file with a video stream
// that is not a single still picture such as PNG or JPEG).
bool IsVideoFile(const std::string& path);
// Opens a file as a video, failing with its one-line reason when it is not
// one the tool reads (not a media file, no video stream, unknown codec).
void ProbeVideo(const std::string& path);
// Whether a file name's extension names a container that holds video.
bool IsVideoName(const std::string& path);
// Filters a video into OUTPUT as the job says; the job's filter tallies the
// frames.
void ApplyVideo(const VideoJob& job);

// Random access to a video's frames for the editor: decodes only what is
// asked for (a seek to the nearest key frame before, then decoding forward;
// a frame ahead of the decoder's place and after the key frame it needs is
// decoded without seeking). Failure on bad input.
class VideoFrames : public FrameSource {
 public:
  explicit VideoFrames(const std::string& path);
  ~VideoFrames();
  // The number of frames, counted from the packets when the file is opened.
  int64_t count() const override;
  int32_t width() const override;
  int32_t height() const override;
  bool video() const override { return true; }
  int rotation() const override { return rotation_; }
  double frameRate() const override { return frameRate_; }
  int64_t KeyBefore(int64_t index) const override;
  // Frame `index` from 0, top line first, 0x00RRGGBB: the pixels apply
  // filters.
  Picture Frame(int64_t index) override;

 private:
  std::unique_ptr<VideoReader> reader_;
  FrameIndex index_;  // the frames' time stamps and key frames
  int64_t next_ = -1;           // the index the reader would decode next, -1 unknown
  int rotation_ = 0;
  double frameRate_ = 0;
};

}  // namespace vexlor::cli
