#include "cli/serve/frame_cache.h"

#include <algorithm>

namespace vexlor::cli {

FrameCache::FrameCache(FrameSource& source, size_t budgetBytes) : source_(source) {
  size_t frameBytes = size_t(std::max(1, source.width())) * size_t(std::max(1, source.height())) *
                      sizeof(uint32_t);
  keep_ = std::clamp<size_t>(budgetBytes / frameBytes, 2, 64);
  back_ = std::min<int64_t>(8, int64_t(keep_ / 2));
}

// The kept frame at index, marked as used now; null when not kept.
std::shared_ptr<const Picture> FrameCache::Find(int64_t index) {
  for (Kept& k : kept_)
    if (k.index == index) {
      k.used = ++uses_;
      return k.picture;
    }
  return nullptr;
}

// Keeps a frame, dropping the least recently used one when full.
void FrameCache::Keep(int64_t index, std::shared_ptr<const Picture> picture) {
  if (kept_.size() >= keep_)
    kept_.erase(std::min_element(kept_.begin(), kept_.end(),
                                 [](const Kept& a, const Kept& b) { return a.used < b.used; }));
  kept_.push_back({index, std::move(picture), ++uses_});
}

std::shared_ptr<const Picture> FrameCache::Get(int64_t index) {
  if (auto found = Find(index)) return found;
  // Decoding reaches the frame from the source's place when that is on the
  // way, else from the key frame before it; of the frames it passes, those
  // within back() of the frame are kept.
  int64_t key = source_.KeyBefore(index);
  bool onTheWay = last_ >= 0 && last_ < index && last_ + 1 >= key;
  int64_t from = std::max(onTheWay ? last_ + 1 : key, index - back_);
  std::shared_ptr<const Picture> picture;
  for (int64_t i = from; i <= index; ++i) {
    if (i < index && Find(i)) continue;
    picture = std::make_shared<const Picture>(source_.Frame(i));
    last_ = i;
    Keep(i, picture);
  }
  return picture;
}

}  // namespace vexlor::cli
