// Videos as the tool sees them: what it asks of the video room (cli/video/),
// which is loaded with the FFmpeg libraries only when a command meets a video.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/media/frames.h"
#include "pixel/filter.h"

namespace vexlor::cli {

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
  Filter* filter = nullptr;  // the program, compiled; its tally counts the frames
  FrameRange range;
  std::optional<uint32_t> randSeed;
  std::string codec;                                         // "" for the extension's own
  std::vector<std::pair<std::string, std::string>> options;  // --codec-option KEY=VALUE
  bool audio = true;                                         // copy audio and subtitles
  std::string audioCodec;  // --audio-codec: every sound stream re-encoded with it
  bool ignoreDamage = false;                                 // go on past damaged frames
  bool progress = false;
  bool metadata = true;  // copy the container's and streams' metadata
  bool warnings = true;  // lines about what the run changed (--no-warnings: none)
  // Called on the filtering thread after each frame is mapped, with its index.
  std::function<void(int64_t)> frameDone;
};
// A video's frames as its packets tell them, for planning ranges.
struct FramePlan {
  int64_t count = 0;          // frames in the video stream
  std::vector<int64_t> keys;  // the key frames' numbers, ascending
  bool numbered = true;       // every packet has a time stamp (--frames seeks)
};

// What the video room does for the tool.
class VideoRoom {
 public:
  // Whether a file is a video (by content: a media file with a video stream
  // that is not a single still picture such as PNG or JPEG).
  virtual bool IsVideoFile(const std::string& path) = 0;
  // Opens a file as a video, failing with its one-line reason when it is not
  // one the tool reads (not a media file, no video stream, unknown codec).
  virtual void Probe(const std::string& path) = 0;
  // Whether a file name's extension names a container that holds video.
  virtual bool IsVideoName(const std::string& path) = 0;
  // Filters a whole video, or the job's range of it, into OUTPUT.
  virtual void Apply(const VideoJob& job) = 0;
  // A video's frames by index, decoding only what is asked for.
  virtual std::unique_ptr<FrameSource> OpenFrames(const std::string& path) = 0;
  // A video's frame count and key frames, read from its packets without
  // decoding; fails with one line when the file is not a video.
  virtual FramePlan PlanFrames(const std::string& path) = 0;

 protected:
  ~VideoRoom() = default;
};

// The video room, loaded at the first call; when it cannot be, a failure
// names the module and what to do.
VideoRoom& Video();

}  // namespace vexlor::cli
