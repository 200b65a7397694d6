// A cache of output words by source colour, shared by the threads of a frame.
// A program whose outputs depend on nothing but the pixel's 24-bit colour
// (and on values uniform over the frame) gives every pixel of one colour the
// same word, so the word is computed once per distinct colour and looked up
// for the others, together with whether one of its channels carried. Entries
// carry a generation: a new generation (a new
// program, or a new frame of a program that reads the frame number) makes
// every older entry a miss without touching the table.
//
// The table is sized by use: it starts at a size that suits the frame it is
// first needed for and grows between frames when a frame stored more colours
// than it holds, up to 16 MiB; its pages are zeroed by the system only where
// they are touched. A single picture pays for no more than it looks up.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexlor {

class ColourMemo {
 public:
  // Entries of the table at most: 2^21 (16 MiB) in a 64-bit process, 2^20
  // (8 MiB) in a 32-bit one, where address space is scarcer; at least 2^16.
  static constexpr int kMaxBits = sizeof(void*) >= 8 ? 21 : 20;
  static constexpr int kMinBits = 16;

  // Allocates a table of 2^bits entries (kMinBits..kMaxBits); without memory
  // the memo stays empty (usable() is false) and every look-up misses.
  explicit ColourMemo(int bits = kMaxBits);
  // The table's size for a frame of `pixels` pixels: room for a colour in
  // every eighth pixel, which photographs seldom exceed.
  static int BitsFor(int64_t pixels);

  bool usable() const { return entries_ != nullptr; }
  int bits() const { return bits_; }
  size_t entries() const { return size_t(1) << bits_; }
  size_t bytes() const { return usable() ? entries() * sizeof(Entry) : 0; }

  // Makes the table 2^bits entries (more than now, at most kMaxBits) when a
  // frame has `stored` colours to store, more than half of what it holds: the
  // entries found so far are dropped. Only while no thread looks up or
  // stores; without memory for the larger table the memo stays as it is.
  void GrowFor(int64_t stored);

  // Starts a generation: no entry stored before is found after. Only while
  // no thread looks up or stores.
  void NewGeneration();

  // The word stored for colour (0xRRGGBB) in this generation, if any, and
  // whether it carried.
  bool Find(uint32_t colour, uint32_t& word, bool* carries = nullptr) const {
    bool c = false;
    bool found = usable() && Read(entries_[Slot(colour)], Tag(colour), word, c);
    if (carries) *carries = c;
    return found;
  }

  // On a usable memo: looks up the colours of pixels px[x0 .. x1) (their
  // low 24 bits), whose entries are first asked for together so that their
  // cache misses overlap:
  // a found word goes to out[x], a pixel not found is appended to missAt
  // (its x) and missColour (its colour) from position `misses` on, at most
  // `room` in all. Returns the new count, the x where it stopped (x1, or
  // the first pixel for which there was no room) and how many of the words
  // found carried.
  struct FindResult {
    int misses;
    int32_t end;
    int carried;
  };
  FindResult FindMany(const uint32_t* px, uint32_t* out, int32_t x0, int32_t x1, int* missAt,
                      uint32_t* missColour, int misses, int room) const {
    const Entry* entries = entries_.get();
    uint32_t generation = generation_ << 24;
    int carried = 0;
    for (int32_t x = x0; x < x1; ++x) __builtin_prefetch(&entries[Slot(px[x] & 0xFFFFFFu)]);
    for (int32_t x = x0; x < x1; ++x) {
      uint32_t colour = px[x] & 0xFFFFFFu, word;
      bool carries;
      if (Read(entries[Slot(colour)], colour | generation, word, carries)) {
        out[x] = word;
        carried += carries;
        continue;
      }
      if (misses == room) return {misses, x, carried};
      missAt[misses] = x;
      missColour[misses++] = colour;
    }
    return {misses, x1, carried};
  }

  // Stores colour's word and whether it carried, replacing whatever the
  // entry held.
  void Store(uint32_t colour, uint32_t word, bool carries = false) {
    if (usable())
      entries_[Slot(colour)].value.store(
          uint64_t(word) << 32 | Tag(colour) | (carries ? kCarryBit : 0u), std::memory_order_relaxed);
  }

  // Generations run from 1 to this, then the table is cleared.
  static constexpr uint32_t kLastGeneration = 0x7F;

 private:
  // An entry holds the word in its high half and in its low half the tag,
  // the colour and the generation (1..127; 0 for an empty entry), with the
  // carry bit on top. Word, tag and bit are one atomic value, so a reader
  // finds a word with its own tag, whatever threads store meanwhile.
  struct Entry {
    std::atomic<uint64_t> value;
  };
  static constexpr uint32_t kCarryBit = 0x80000000u;

  // The word of an entry whose tag is `want`, and its carry bit.
  static bool Read(const Entry& e, uint32_t want, uint32_t& word, bool& carries) {
    uint64_t v = e.value.load(std::memory_order_relaxed);
    word = static_cast<uint32_t>(v >> 32);
    carries = (v & kCarryBit) != 0;
    return (static_cast<uint32_t>(v) & ~kCarryBit) == want;
  }

  size_t Slot(uint32_t colour) const { return (colour * 0x9E3779B1u) >> (32 - bits_); }
  uint32_t Tag(uint32_t colour) const { return colour | generation_ << 24; }

  struct Free {
    void operator()(Entry* p) const;
  };
  // Allocates a zeroed table of 2^bits entries; null without memory.
  static std::unique_ptr<Entry[], Free> Allocate(int bits);

  int bits_;
  std::unique_ptr<Entry[], Free> entries_;
  uint32_t generation_ = 1;
};

}  // namespace vexlor
