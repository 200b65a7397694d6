// Video files: telling them from pictures, reading their frames as the
// filter sees them, and `apply` on a whole video.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/filter.h"
#include "cli/picture.h"

namespace vexlor::cli {

// Whether a file is a video (by content: a media file with a video stream
// that is not a single still picture such as PNG or JPEG).
bool IsVideoFile(const std::string& path);
// Opens a file as a video, failing with its one-line reason when it is not
// one the tool reads (not a media file, no video stream, unknown codec).
void ProbeVideo(const std::string& path);
// Whether a file name's extension names a container that holds video.
bool IsVideoName(const std::string& path);

class VideoReader;

// Random access to a video's frames for the editor: decodes only what is
// asked for (a seek to the nearest key frame before, then decoding forward;
// the next frame after the last one asked for is decoded without seeking).
// Failure on bad input.
class VideoFrames {
 public:
  explicit VideoFrames(const std::string& path);
  ~VideoFrames();
  // The number of frames, counted from the packets when the file is opened.
  int64_t count() const;
  int32_t width() const;
  int32_t height() const;
  // Frame `index` from 0, top line first, 0x00RRGGBB: the pixels apply
  // filters.
  Picture Frame(int64_t index);

 private:
  std::unique_ptr<VideoReader> reader_;
  std::vector<int64_t> times_;  // each frame's time stamp, in presentation order
  int64_t next_ = -1;           // the index the reader would decode next, -1 unknown
};

// Input frames FIRST to LAST, inclusive.
struct FrameRange {
  int64_t first = 0;
  int64_t last = INT64_MAX;
};
// Parses --frames' FIRST-LAST or FIRST-.
FrameRange ParseFrameRange(const std::string& text);

// Everything `apply` needs to filter a video.
struct VideoJob {
  std::string input, output;
  FilterSettings settings;
  RunOptions run;
  FrameRange range;
  std::optional<uint32_t> randSeed;
  std::string codec;                                         // "" for the extension's own
  std::vector<std::pair<std::string, std::string>> options;  // --codec-option KEY=VALUE
  bool audio = true;                                         // copy audio and subtitles
  bool ignoreDamage = false;                                 // go on past damaged frames
  bool progress = false;
};
// Returns what the frames' filtering gave.
FilterTally ApplyVideo(const VideoJob& job);

// rand()'s calls for each pixel of a program (they are the same for every
// pixel and frame): counted by running the program once.
uint64_t RandCallsPerPixel(std::string_view program);

}  // namespace vexlor::cli
