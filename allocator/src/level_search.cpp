// The three-level search: level 2 picks entries, level 1 picks slots inside an entry, level 0
// takes units inside a slot. Each level works a word at a time on a working copy, skips zero
// words, and recomputes the parent state of what it searched before moving on.
#include "level_search.h"

#include "bit_words.h"
#include "extent_merge.h"
#include "level_state.h"

namespace orv_alloc {
namespace {

// Where a kept child position (l1Pos, l0Pos) stands relative to its parent's range.
enum class KeptPosition { kInside, kPastEnd, kBeforeStart };

KeptPosition Locate(uint64_t position, uint64_t rangeStart, uint64_t rangeLength) {
  if (position < rangeStart) {
    return KeptPosition::kBeforeStart;
  }
  return position - rangeStart < rangeLength ? KeptPosition::kInside : KeptPosition::kPastEnd;
}

// Takes `count` units of level-0 word `word` from bit `first`: one extent, bits cleared.
void TakeRun(OrvAllocator& alloc, uint64_t unit, std::vector<uint64_t>& l0, uint64_t word, unsigned first,
             unsigned count, uint64_t& allocated, std::vector<OrvExtentS>& out) {
  // count <= 64 and 64 x unit fits in 32 bits (call_limits), so the length is exact.
  const uint32_t length = static_cast<uint32_t>(count * unit);
  AppendOrMergeExtent(out, unit * (64u * word + first), length);  // may throw: nothing cleared yet
  allocated += length;
  l0[word] &= ~RunMask(first, count);
  alloc.pos.l0Pos = 64u * word + first + count;
}

// The position after a level-0 word: the next word's first unit, or 0 after the last word.
uint64_t AfterWord(uint64_t word, uint64_t wordCount) { return word + 1 >= wordCount ? 0 : 64u * (word + 1); }

}  // namespace

void SearchLevelZero(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                     std::vector<OrvExtentS>& out) {
  const uint64_t unit = req.allocUnit;
  const uint64_t wordCount = l0.size();
  const uint64_t wordsPerSlot = alloc.wordsPerEntry;
  uint64_t w = alloc.pos.l0Pos / 64u;  // an unset l0Pos lands far past any level 0
  unsigned b = static_cast<unsigned>(alloc.pos.l0Pos % 64u);
  if (allocated >= req.allocLen || w >= wordCount) {
    return;
  }
  const uint64_t slotEnd = (w / wordsPerSlot + 1) * wordsPerSlot;
  const uint64_t end = slotEnd < wordCount ? slotEnd : wordCount;

  for (;;) {
    const uint64_t x = l0[w];
    // Units still wanted; 0 only when a direct caller's running count is not a whole number of
    // units below allocLen, and then nothing more is taken.
    uint64_t need = (req.allocLen - allocated) / unit;
    if (need == 0) {
      return;
    }
    if (x == 0) {
      alloc.pos.l0Pos = AfterWord(w, wordCount);
    } else {
      // Fast path: the whole wanted part of this word is free, one mask test and one extent.
      const unsigned n = need < 64u - b ? static_cast<unsigned>(need) : 64u - b;
      const uint64_t mask = RunMask(b, n);
      if ((x & mask) == mask) {
        TakeRun(alloc, unit, l0, w, b, n, allocated, out);
      } else {
        // Free units in ascending order from b, a run of adjacent ones at a time.
        for (;;) {
          const uint64_t free = BitsFrom(l0[w], b);
          if (free == 0) {
            alloc.pos.l0Pos = AfterWord(w, wordCount);
            break;
          }
          const unsigned k = LowestSetBit(free);
          const unsigned run = RunLengthFrom(free, k);
          const unsigned take = need < run ? static_cast<unsigned>(need) : run;
          TakeRun(alloc, unit, l0, w, k, take, allocated, out);
          need -= take;
          if (need == 0) {
            return;
          }
        }
      }
    }
    if (allocated >= req.allocLen || w + 1 >= end) {
      return;
    }
    ++w;
    b = 0;
  }
}

void SearchLevelOne(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                    std::vector<uint64_t>& l1, uint64_t& allocated, std::vector<OrvExtentS>& out) {
  const uint64_t wordCount = l1.size();
  const uint64_t wordsPerEntry = alloc.wordsPerEntry;
  const uint64_t unitsPerSlot = alloc.l0BitsPerL1Slot;
  uint64_t i = alloc.pos.l1Pos / 32u;  // an unset l1Pos lands far past any level 1
  unsigned s = static_cast<unsigned>(alloc.pos.l1Pos % 32u);
  if (i >= wordCount) {
    return;
  }
  const uint64_t entryEnd = (i / wordsPerEntry + 1) * wordsPerEntry;
  const uint64_t end = entryEnd < wordCount ? entryEnd : wordCount;

  while (allocated < req.allocLen && i < end) {
    const uint64_t m = l1[i];  // working copy: the slots below s are done or skipped
    while (s < 32u) {
      const uint64_t states = BitsFrom(m, 2u * s);
      if (states == 0) {
        break;
      }
      const unsigned p = LowestSetBit(states);
      const unsigned slot = p / 2u;
      alloc.pos.l1Pos = 32u * i + slot;
      const uint64_t slotStart = alloc.pos.l1Pos * unitsPerSlot;
      bool resume = p == 2u * s && alloc.pos.l0Pos != kUnsetPos;
      if (resume) {
        const KeptPosition where = Locate(alloc.pos.l0Pos, slotStart, unitsPerSlot);
        if (where == KeptPosition::kPastEnd) {
          alloc.pos.l0Pos = kUnsetPos;  // finished in this pass; the next slot starts afresh
          s = slot + 1;
          continue;
        }
        resume = where == KeptPosition::kInside;
      }
      if (!resume) {
        alloc.pos.l0Pos = slotStart;
      }
      try {
        SearchLevelZero(alloc, req, l0, allocated, out);
      } catch (...) {
        // The output vector could not grow (std::bad_alloc): the units taken so far are cleared
        // and in `out`; keep this slot's state true to level 0 before the failure goes on.
        RecomputeSlotState(alloc, l0, l1, i, alloc.pos.l1Pos);
        throw;
      }
      RecomputeSlotState(alloc, l0, l1, i, alloc.pos.l1Pos);
      s = slot + 1;
      if (allocated >= req.allocLen) {
        return;
      }
    }
    ++i;
    s = 0;
    alloc.pos.l0Pos = kUnsetPos;
    alloc.pos.l1Pos = i == wordCount ? 0 : 32u * i;
  }
}

namespace {

// One pass over level-2 words [first, last] beginning at bit `bit` of the first.
void ScanLevelTwoWords(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                       std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out,
                       uint64_t first, uint64_t last, unsigned bit, uint64_t& allocated) {
  const uint64_t wordCount = l2.size();
  const uint64_t slotsPerEntry = alloc.l1SlotsPerL2Bit;
  for (uint64_t i = first; i <= last && allocated < req.allocLen;) {
    const uint64_t m = l2[i];  // working copy: the lower levels change only the entry visited
    while (bit < 64u) {
      const uint64_t entries = BitsFrom(m, bit);
      if (entries == 0) {
        break;
      }
      const unsigned j = LowestSetBit(entries);
      alloc.pos.l2Pos = 64u * i + j;
      const uint64_t entryStart = alloc.pos.l2Pos * slotsPerEntry;
      bool resume = j == bit && alloc.pos.l1Pos != kUnsetPos;
      if (resume) {
        const KeptPosition where = Locate(alloc.pos.l1Pos, entryStart, slotsPerEntry);
        if (where == KeptPosition::kPastEnd) {
          alloc.pos.l1Pos = kUnsetPos;
          alloc.pos.l0Pos = kUnsetPos;
          bit = j + 1;
          continue;
        }
        resume = where == KeptPosition::kInside;
      }
      if (!resume) {
        alloc.pos.l1Pos = entryStart;
        alloc.pos.l0Pos = kUnsetPos;
      }
      // If the output vector cannot grow, the unit that failed is still free, so this entry's
      // bit stays right; SearchLevelOne has recomputed the slot.
      SearchLevelOne(alloc, req, l0, l1, allocated, out);
      RecomputeEntryBit(alloc, l1, l2, i, alloc.pos.l2Pos);
      bit = j + 1;
      if (allocated >= req.allocLen) {
        return;
      }
    }
    ++i;
    bit = 0;
    alloc.pos.l0Pos = kUnsetPos;
    alloc.pos.l1Pos = kUnsetPos;
    alloc.pos.l2Pos = i == wordCount ? 0 : 64u * i;
  }
}

}  // namespace

uint64_t SearchLevelTwo(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                        std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  uint64_t allocated = 0;
  const uint64_t start = alloc.pos.l2Pos / 64u;
  const unsigned bit = static_cast<unsigned>(alloc.pos.l2Pos % 64u);
  ScanLevelTwoWords(alloc, req, l0, l1, l2, out, start, l2.size() - 1, bit, allocated);
  // The second pass reaches what lies below the cursor, the start word again from bit 0.
  ScanLevelTwoWords(alloc, req, l0, l1, l2, out, 0, start, 0, allocated);
  return allocated;
}

}  // namespace orv_alloc
