// The colour memo's table: allocated zeroed (every tag empty) and cleared
// whenever the generations run out.
#include "pixel/colour_memo.h"

#include <cstdlib>
#include <cstring>

namespace vexlor {

static_assert(sizeof(std::atomic<uint64_t>) == 8 && std::atomic<uint64_t>::is_always_lock_free,
              "a memo entry is one lock-free 64-bit value");

void ColourMemo::Free::operator()(Entry* p) const { std::free(p); }

// calloc hands out zeroed pages, which the system maps only once touched: a
// memo that sees few colours costs little memory.
ColourMemo::ColourMemo()
    : entries_(static_cast<Entry*>(std::calloc(kEntries, sizeof(Entry)))) {}

void ColourMemo::NewGeneration() {
  if (!usable()) return;
  if (++generation_ <= kLastGeneration) return;
  generation_ = 1;
  std::memset(static_cast<void*>(entries_.get()), 0, kEntries * sizeof(Entry));
}

}  // namespace vexlor
