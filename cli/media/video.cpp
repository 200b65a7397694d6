// Videos as the tool sees them: --frames' range, and the video room.
#include "cli/media/video.h"

#include "cli/base/modules.h"

namespace vexlor::cli {

FrameRange ParseFrameRange(const std::string& text) {
  auto bad = [&] {
    FailUsage("--frames: '" + text + "' is not FIRST-LAST or FIRST- (frame numbers from 0)");
  };
  size_t dash = text.find('-');
  if (dash == std::string::npos || dash == 0) bad();
  auto number = [&](const std::string& s) {
    if (s.empty() || s.size() > 15 || s.find_first_not_of("0123456789") != std::string::npos) bad();
    return std::stoll(s);
  };
  FrameRange range;
  range.first = number(text.substr(0, dash));
  if (dash + 1 < text.size()) range.last = number(text.substr(dash + 1));
  if (range.last < range.first) FailUsage("--frames " + text + ": LAST comes before FIRST");
  if (range.first > INT32_MAX) FailUsage("--frames " + text + ": frame numbers end at 2147483647");
  return range;
}

VideoRoom& Video() {
  static VideoRoom* room = static_cast<VideoRoom*>(LoadRoom("video", "videos"));
  return *room;
}

}  // namespace vexlor::cli
