// The colour memo's table: allocated zeroed (every tag empty) and cleared
// whenever the generations run out.
#include "pixel/colour_memo.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vexlor {

static_assert(sizeof(std::atomic<uint64_t>) == 8 && std::atomic<uint64_t>::is_always_lock_free,
              "a memo entry is one lock-free 64-bit value");

void ColourMemo::Free::operator()(Entry* p) const { std::free(p); }

// calloc hands out zeroed pages, which the system maps only once touched: a
// memo that sees few colours costs little memory.
std::unique_ptr<ColourMemo::Entry[], ColourMemo::Free> ColourMemo::Allocate(int bits) {
  return std::unique_ptr<Entry[], Free>(
      static_cast<Entry*>(std::calloc(size_t(1) << bits, sizeof(Entry))));
}

ColourMemo::ColourMemo(int bits)
    : bits_(std::clamp(bits, kMinBits, kMaxBits)), entries_(Allocate(bits_)) {}

int ColourMemo::BitsFor(int64_t pixels) {
  int bits = kMinBits;
  while (bits < kMaxBits && (int64_t(1) << bits) < pixels / 8) ++bits;
  return bits;
}

void ColourMemo::GrowFor(int64_t stored) {
  if (!usable() || bits_ == kMaxBits || stored <= int64_t(entries() / 2)) return;
  int bits = bits_;
  while (bits < kMaxBits && (int64_t(1) << bits) < 2 * stored) ++bits;
  if (auto larger = Allocate(bits)) {
    entries_ = std::move(larger);
    bits_ = bits;
    generation_ = 1;
  }
}

// When the generations run out the table is had afresh rather than cleared:
// the system zeroes only the pages that are used again.
void ColourMemo::NewGeneration() {
  if (!usable()) return;
  if (++generation_ <= kLastGeneration) return;
  generation_ = 1;
  if (auto fresh = Allocate(bits_)) entries_ = std::move(fresh);
  else std::memset(static_cast<void*>(entries_.get()), 0, entries() * sizeof(Entry));
}

}  // namespace vexlor
