// The three-level search: level 2 picks entries, level 1 picks slots inside an entry, level 0
// takes units inside a slot. Each level works a word at a time on a working copy, skips zero
// words, and recomputes the parent state of what it searched before moving on.
#include "level_search.h"

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "divider.h"
#include "extent_merge.h"
#include "level_state.h"

namespace orv_alloc {
namespace {

// What every level of one search needs, worked out once per call. The request's length and the
// running count are held here by value: stores into the bitmaps (64-bit words like them) would
// otherwise force a reload after every write.
struct Search {
  OrvAllocator& alloc;
  uint64_t allocLen;
  uint64_t allocated;
  std::vector<uint64_t>& l0;
  std::vector<uint64_t>* l1;  // null for a search that starts at level 0
  std::vector<uint64_t>* l2;  // null for a search that starts at level 1 or 0
  std::vector<OrvExtentS>& out;
  Divider unit;
  uint64_t wordsPerGroup;  // W: level-0 words per slot, level-1 words per entry
};

// Where a kept child position (l1Pos, l0Pos) stands relative to its parent's range.
enum class KeptPosition { kInside, kPastEnd, kBeforeStart };

KeptPosition Locate(uint64_t position, uint64_t rangeStart, uint64_t rangeLength) {
  if (position < rangeStart) {
    return KeptPosition::kBeforeStart;
  }
  return position - rangeStart < rangeLength ? KeptPosition::kInside : KeptPosition::kPastEnd;
}

// The position after word `word` of a level: the next word's first field, or 0 after the last.
uint64_t AfterWord(uint64_t word, uint64_t wordCount, uint64_t fieldsPerWord) {
  return word + 1 >= wordCount ? 0 : fieldsPerWord * (word + 1);
}

// The end of group `group` of W words in a level of `wordCount` words.
uint64_t GroupEnd(uint64_t group, uint64_t wordsPerGroup, uint64_t wordCount) {
  const uint64_t end = (group + 1) * wordsPerGroup;
  return end < wordCount ? end : wordCount;
}

// Takes `count` units of level-0 word `word` from bit `first`: one extent, bits cleared.
void TakeRun(Search& s, uint64_t word, unsigned first, unsigned count) {
  const uint64_t unit = s.unit.Divisor();
  // count <= 64 and 64 x unit fits in 32 bits (call_limits), so the length is exact.
  const uint32_t length = static_cast<uint32_t>(count * unit);
  AppendOrMergeExtent(s.out, unit * (kUnitsPerWord * word + first), length);  // may throw: nothing cleared yet
  s.allocated += length;
  s.l0[word] &= ~RunMask(first, count);
  s.alloc.pos.l0Pos = kUnitsPerWord * word + first + count;
}

// The units of slot `slot` from l0Pos (a word w of the slot, bit b) on: each word tested once with
// one mask for the whole wanted part, else its free runs taken in ascending order.
void TakeUnitsOfSlot(Search& s, uint64_t slot) {
  const uint64_t wordCount = s.l0.size();
  uint64_t w = s.alloc.pos.l0Pos / kUnitsPerWord;  // an unset l0Pos lands far past any level 0
  unsigned b = static_cast<unsigned>(s.alloc.pos.l0Pos % kUnitsPerWord);
  if (s.allocated >= s.allocLen || w >= wordCount) {
    return;
  }
  const uint64_t end = GroupEnd(slot, s.wordsPerGroup, wordCount);
  // Units still wanted; 0 only when a direct caller's running count is not a whole number of
  // units below allocLen, and then nothing more is taken.
  uint64_t need = s.unit.Quotient(s.allocLen - s.allocated);
  while (need != 0) {
    const uint64_t x = s.l0[w];
    if (x == 0) {
      s.alloc.pos.l0Pos = AfterWord(w, wordCount, kUnitsPerWord);
    } else {
      // Fast path: the whole wanted part of this word is free, one mask test and one extent.
      const unsigned n = need < kUnitsPerWord - b ? static_cast<unsigned>(need) : kUnitsPerWord - b;
      const uint64_t mask = RunMask(b, n);
      if ((x & mask) == mask) {
        TakeRun(s, w, b, n);
        need -= n;
      } else {
        for (;;) {
          const uint64_t free = BitsFrom(s.l0[w], b);
          if (free == 0) {
            s.alloc.pos.l0Pos = AfterWord(w, wordCount, kUnitsPerWord);
            break;
          }
          const unsigned k = LowestSetBit(free);
          const unsigned run = RunLengthFrom(free, k);
          const unsigned take = need < run ? static_cast<unsigned>(need) : run;
          TakeRun(s, w, k, take);
          need -= take;
          if (need == 0) {
            return;
          }
        }
      }
    }
    if (need == 0 || w + 1 >= end) {
      return;
    }
    ++w;
    b = 0;
  }
}

void SearchEntry(Search& s, uint64_t entry);

// The two upper levels, described for ScanFields: the packing of their fields, their own and their
// child's cursor position, how many children a field has, and what to do with one field.
struct SlotLevel {
  static constexpr FieldEncoding kEncoding = kSlotEncoding;
  static uint64_t& Own(OrvAllocPosS& pos) { return pos.l1Pos; }
  static uint64_t& Child(OrvAllocPosS& pos) { return pos.l0Pos; }
  static void UnsetBelowChild(OrvAllocPosS&) {}
  static uint64_t ChildrenPerField(const OrvAllocator& alloc) { return alloc.l0BitsPerL1Slot; }
  static const std::vector<uint64_t>& Words(const Search& s) { return *s.l1; }
  static void SearchChildren(Search& s, uint64_t slot) { TakeUnitsOfSlot(s, slot); }
  static void Recompute(Search& s, uint64_t word, uint64_t slot) {
    RecomputeSlotState(s.alloc, s.l0, *s.l1, word, slot);
  }
};

struct EntryLevel {
  static constexpr FieldEncoding kEncoding = kEntryEncoding;
  static uint64_t& Own(OrvAllocPosS& pos) { return pos.l2Pos; }
  static uint64_t& Child(OrvAllocPosS& pos) { return pos.l1Pos; }
  static void UnsetBelowChild(OrvAllocPosS& pos) { pos.l0Pos = kUnsetPos; }
  static uint64_t ChildrenPerField(const OrvAllocator& alloc) { return alloc.l1SlotsPerL2Bit; }
  static const std::vector<uint64_t>& Words(const Search& s) { return *s.l2; }
  static void SearchChildren(Search& s, uint64_t entry) { SearchEntry(s, entry); }
  static void Recompute(Search& s, uint64_t word, uint64_t entry) {
    RecomputeEntryBit(s.alloc, *s.l1, *s.l2, word, entry);
  }
};

// The descent of one upper level over its words [first, end), from field `field` of the first:
// for each set field (a non-00 slot, a set entry bit) in ascending order, set this level's
// position to it, resume the kept child position if it lies inside the field (else start at the
// field's first child, or skip the field when the kept position is past its end), search the
// children, and recompute the field from them. Leaving a word unsets the child positions and moves
// this level's position to the next word (0 after the last).
template <class Level>
void ScanFields(Search& s, uint64_t first, uint64_t end, unsigned field) {
  constexpr unsigned kFieldBits = Level::kEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = Level::kEncoding.fieldsPerWord;
  OrvAllocPosS& pos = s.alloc.pos;
  const std::vector<uint64_t>& words = Level::Words(s);
  const uint64_t childrenPerField = Level::ChildrenPerField(s.alloc);
  for (uint64_t i = first; i < end && s.allocated < s.allocLen;) {
    const uint64_t m = words[i];  // working copy: the children change only the field visited
    while (field < kFieldsPerWord) {
      const uint64_t fields = BitsFrom(m, kFieldBits * field);
      if (fields == 0) {
        break;
      }
      const unsigned found = LowestSetBit(fields) / kFieldBits;
      const uint64_t own = kFieldsPerWord * i + found;
      Level::Own(pos) = own;
      const uint64_t childStart = own * childrenPerField;
      bool resume = found == field && Level::Child(pos) != kUnsetPos;
      if (resume) {
        const KeptPosition where = Locate(Level::Child(pos), childStart, childrenPerField);
        if (where == KeptPosition::kPastEnd) {
          Level::Child(pos) = kUnsetPos;  // finished in this pass; the next field starts afresh
          Level::UnsetBelowChild(pos);
          field = found + 1;
          continue;
        }
        resume = where == KeptPosition::kInside;
      }
      if (!resume) {
        Level::Child(pos) = childStart;
        Level::UnsetBelowChild(pos);
      }
      try {
        Level::SearchChildren(s, own);
      } catch (...) {
        // The output vector could not grow (std::bad_alloc): the units taken so far are cleared
        // and in `out`; keep this field true to its children before the failure goes on.
        Level::Recompute(s, i, own);
        throw;
      }
      Level::Recompute(s, i, own);
      field = found + 1;
      if (s.allocated >= s.allocLen) {
        return;
      }
    }
    ++i;
    field = 0;
    Level::Child(pos) = kUnsetPos;
    Level::UnsetBelowChild(pos);
    Level::Own(pos) = AfterWord(i - 1, words.size(), kFieldsPerWord);
  }
}

// The slots of entry `entry` from l1Pos on.
void SearchEntry(Search& s, uint64_t entry) {
  const uint64_t i = s.alloc.pos.l1Pos / kSlotEncoding.fieldsPerWord;  // an unset l1Pos lands far past
  if (i >= s.l1->size()) {
    return;
  }
  ScanFields<SlotLevel>(s, i, GroupEnd(entry, s.wordsPerGroup, s.l1->size()),
                        static_cast<unsigned>(s.alloc.pos.l1Pos % kSlotEncoding.fieldsPerWord));
}

// Runs a search for a direct caller and hands the running count back, also when it throws.
template <class Run>
void RunKeepingCount(Search& s, uint64_t& allocated, Run run) {
  try {
    run();
  } catch (...) {
    allocated = s.allocated;
    throw;
  }
  allocated = s.allocated;
}

}  // namespace

uint64_t SearchLevelTwo(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                        std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  Search s{alloc, req.allocLen, 0, l0, &l1, &l2, out, Divider(req.allocUnit), alloc.wordsPerEntry};
  const uint64_t start = alloc.pos.l2Pos / kEntryEncoding.fieldsPerWord;
  const unsigned field = static_cast<unsigned>(alloc.pos.l2Pos % kEntryEncoding.fieldsPerWord);
  ScanFields<EntryLevel>(s, start, l2.size(), field);
  // The second pass reaches what lies below the cursor, the start word again from its first field.
  ScanFields<EntryLevel>(s, 0, start + 1, 0);
  return s.allocated;
}

void SearchLevelOne(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                    std::vector<uint64_t>& l1, uint64_t& allocated, std::vector<OrvExtentS>& out) {
  Search s{alloc, req.allocLen, allocated, l0, &l1, nullptr, out, Divider(req.allocUnit), alloc.wordsPerEntry};
  const uint64_t i = alloc.pos.l1Pos / kSlotEncoding.fieldsPerWord;
  if (i < l1.size()) {
    RunKeepingCount(s, allocated, [&s, i] { SearchEntry(s, Divider(s.wordsPerGroup).Quotient(i)); });
  }
}

void SearchLevelZero(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                     std::vector<OrvExtentS>& out) {
  Search s{alloc, req.allocLen, allocated, l0, nullptr, nullptr, out, Divider(req.allocUnit), alloc.wordsPerEntry};
  const uint64_t w = alloc.pos.l0Pos / kUnitsPerWord;
  if (w < l0.size()) {
    RunKeepingCount(s, allocated, [&s, w] { TakeUnitsOfSlot(s, Divider(s.wordsPerGroup).Quotient(w)); });
  }
}

}  // namespace orv_alloc
