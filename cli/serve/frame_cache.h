// The editor's decoded source frames, kept so that stepping a frame back or
// forth and playing cost no seek: a video's decoder only goes forward from a
// key frame, so the frames just before one asked for are decoded with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "cli/media/frames.h"

namespace vexlor::cli {

class FrameCache {
 public:
  // Keeps as many frames as fit in budgetBytes (at least 2, at most 64).
  FrameCache(FrameSource& source, size_t budgetBytes);

  // The frame at index (0 <= index < count). On a miss, the frames up to
  // back() before it that decoding passes anyway are kept too; the least
  // recently used go first when the cache is full.
  std::shared_ptr<const Picture> Get(int64_t index);

  size_t capacity() const { return keep_; }
  // How many frames before a frame asked for are kept with it.
  int64_t back() const { return back_; }

 private:
  struct Kept {
    int64_t index;
    std::shared_ptr<const Picture> picture;
    uint64_t used;  // when it was last asked for
  };
  std::shared_ptr<const Picture> Find(int64_t index);
  void Keep(int64_t index, std::shared_ptr<const Picture> picture);

  FrameSource& source_;
  size_t keep_;
  int64_t back_;
  std::vector<Kept> kept_;
  uint64_t uses_ = 0;
  int64_t last_ = -1;  // the frame the source decoded last, -1 none
};

}  // namespace vexlor::cli
