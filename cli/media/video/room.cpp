// The video room's entry: the one symbol the tool looks up when it loads the
// module, handing out the room's services.
#include "cli/media/video/room.h"

#include <cstring>

#include "cli/base/modules.h"
#include "cli/media/video/video_reader.h"

namespace vexlor::cli {

namespace {

class Room final : public VideoRoom {
 public:
  bool IsVideoFile(const std::string& path) override { return cli::IsVideoFile(path); }
  void Probe(const std::string& path) override { ProbeVideo(path); }
  bool IsVideoName(const std::string& path) override { return cli::IsVideoName(path); }
  void Apply(const VideoJob& job) override { ApplyVideo(job); }
  std::unique_ptr<FrameSource> OpenFrames(const std::string& path) override {
    return std::make_unique<VideoFrames>(path);
  }
  FramePlan PlanFrames(const std::string& path) override {
    VideoReader reader(path, false);
    FrameIndex index = ScanFrames(reader);
    return {static_cast<int64_t>(index.times.size()), std::move(index.keys), index.complete};
  }
};

}  // namespace

}  // namespace vexlor::cli

VEXLOR_ROOM_ENTRY(video) {
  static vexlor::cli::Room room;
  return std::strcmp(version, VEXLOR_VERSION) == 0 ? static_cast<vexlor::cli::VideoRoom*>(&room)
                                                   : nullptr;
}
