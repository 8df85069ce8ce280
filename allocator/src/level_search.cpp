// The three-level search: level 2 picks entries, level 1 picks slots inside an entry, level 0
// takes units inside a slot. Each level works a word at a time on a working copy, skips zero
// words, and recomputes the parent state of what it searched before moving on.
#include "level_search.h"

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "call_limits.h"
#include "cursor_take.h"
#include "cursor_word_take.h"
#include "divider.h"
#include "extent_merge.h"
#include "level_state.h"

// The small steps of the common one-word allocation are inlined into it whatever the compiler's
// size heuristics say; the general descent stays out of line.
#define ORV_ALLOC_HOT inline __attribute__((always_inline))

namespace orv_alloc {
namespace {

// What every level of one search needs, worked out once per call. The cursor, the running count
// and the net changes of the two slot counters are held here by value and written back when the
// search ends (also when it throws): the bitmaps are 64-bit words like them, so keeping them in
// the allocator and the caller's counters would force a reload after every store into a level.
struct Search {
  uint64_t allocLen;
  uint64_t allocated;
  OrvAllocPosS pos;
  uint64_t partialChange;  // added to partialSlots at the end, modulo 2^64
  uint64_t freeChange;     // added to freeSlots at the end
  uint64_t* l0;
  uint64_t l0Words;
  uint64_t* l1;  // null for a search that starts at level 0
  uint64_t l1Words;
  uint64_t* l2;  // null for a search that starts at level 1 or 0
  uint64_t l2Words;
  Divider unit;
  uint64_t wordsPerGroup;  // W: level-0 words per slot, level-1 words per entry
  uint64_t slotsPerEntry;  // 32 x W, as the allocator holds it
  uint64_t unitsPerSlot;   // 64 x W
  std::vector<OrvExtentS>& out;
};

ORV_ALLOC_HOT Search StartSearch(const OrvAllocator& alloc, const OrvAllocInfoS& req, uint64_t allocated,
                                 std::vector<uint64_t>& l0, std::vector<uint64_t>* l1, std::vector<uint64_t>* l2,
                                 std::vector<OrvExtentS>& out) {
  return Search{req.allocLen,
                allocated,
                alloc.pos,
                0,
                0,
                l0.data(),
                l0.size(),
                l1 != nullptr ? l1->data() : nullptr,
                l1 != nullptr ? l1->size() : 0,
                l2 != nullptr ? l2->data() : nullptr,
                l2 != nullptr ? l2->size() : 0,
                Divider(req.allocUnit),
                alloc.wordsPerEntry,
                alloc.l1SlotsPerL2Bit,
                alloc.l0BitsPerL1Slot,
                out};
}

// Hands the cursor and the counter changes to the allocator.
ORV_ALLOC_HOT void EndSearch(OrvAllocator& alloc, const Search& s) {
  alloc.pos = s.pos;
  alloc.partialSlots += s.partialChange;
  alloc.freeSlots += s.freeChange;
}

// Runs a search and ends it, also when it throws.
template <class Run>
ORV_ALLOC_HOT void RunSearch(OrvAllocator& alloc, Search& s, Run run) {
  try {
    run();
  } catch (...) {
    EndSearch(alloc, s);
    throw;
  }
  EndSearch(alloc, s);
}

// RunSearch for a caller that keeps its own count: `allocated` holds the search's count afterwards,
// also when the search throws.
template <class Run>
void RunCountedSearch(OrvAllocator& alloc, Search& s, uint64_t& allocated, Run run) {
  try {
    RunSearch(alloc, s, run);
  } catch (...) {
    allocated = s.allocated;
    throw;
  }
  allocated = s.allocated;
}

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

// Takes `count` (>= 1) wholly free level-0 words from word `w` on: their units as extents, the
// words cleared. As many words go into one extent as the merge rule lets one element hold, so the
// output is exactly what taking them one word at a time gives, at one merge or append and one
// store per word. `need` and `l0Pos` follow each extent, so they are right if the vector cannot
// grow.
ORV_ALLOC_HOT void TakeWholeWords(uint64_t* l0, uint64_t w, uint64_t count, uint64_t unit,
                                  std::vector<OrvExtentS>& out, uint64_t& need, uint64_t& l0Pos) {
  const uint64_t wordBytes = kUnitsPerWord * unit;  // fits in 32 bits (call_limits)
  while (count != 0) {
    const uint64_t offset = wordBytes * w;
    // count x wordBytes <= the bytes still wanted, so it does not overflow.
    const uint64_t words = AppendPieces(out, offset, wordBytes, count);  // may throw: nothing cleared yet
    for (uint64_t k = 0; k < words; ++k) {
      // One 64-bit store per word: a call to memset or wider stores cost more for a few words, and
      // the slot's state is read back from these words at once.
      asm("" : "+r"(k));
      l0[w + k] = 0;
    }
    w += words;
    count -= words;
    need -= kUnitsPerWord * words;
    l0Pos = kUnitsPerWord * w;
  }
}

// Takes free units of level-0 words [w, end) from bit b of word w on, in ascending order, until
// `need` units are taken or the words end: runs of wholly free words at a word's start as one
// extent, else the whole wanted part of a word with one mask test, else the word's free runs one
// by one. `need` and `l0Pos` (after the last unit taken; after a word left with units still
// wanted: the next word's first unit, 0 after the last word) are kept current, so they are right
// if the output vector cannot grow. end <= l0Words.
ORV_ALLOC_HOT void TakeUnitsOfWords(uint64_t* l0, uint64_t l0Words, uint64_t w, unsigned b, uint64_t end,
                                    uint64_t unit, std::vector<OrvExtentS>& out, uint64_t& need, uint64_t& l0Pos) {
  for (; need != 0 && w < end; ++w, b = 0) {
    const uint64_t x = l0[w];
    // Fast path: the whole wanted part of this word is free, one mask test and one extent.
    const unsigned n = need < kUnitsPerWord - b ? static_cast<unsigned>(need) : kUnitsPerWord - b;
    const uint64_t mask = RunMask(b, n);
    if ((x & mask) == mask) {
      if (mask == kAllOnes && need > kUnitsPerWord) {
        // A wholly free word, and more words wanted: the run of wholly free words from here.
        const uint64_t wanted = need / kUnitsPerWord;
        const uint64_t limit = end - w < wanted ? end : w + wanted;
        uint64_t last = w + 1;
        while (last < limit && l0[last] == kAllOnes) {
          ++last;
        }
        TakeWholeWords(l0, w, last - w, unit, out, need, l0Pos);
        w = last - 1;
        continue;
      }
      // n <= 64 and 64 x unit fits in 32 bits (call_limits), so every length here is exact.
      AppendOrMergeExtent(out, unit * (kUnitsPerWord * w + b), static_cast<uint32_t>(n * unit));
      l0[w] = x & ~mask;
      l0Pos = kUnitsPerWord * w + b + n;
      need -= n;
      continue;
    }
    uint64_t left = BitsFrom(x, b);
    while (need != 0 && left != 0) {
      const unsigned k = LowestSetBit(left);
      const unsigned run = RunLengthFrom(left, k);
      const unsigned take = need < run ? static_cast<unsigned>(need) : run;
      const uint64_t taken = RunMask(k, take);
      AppendOrMergeExtent(out, unit * (kUnitsPerWord * w + k), static_cast<uint32_t>(take * unit));
      left &= ~taken;
      l0[w] &= ~taken;
      l0Pos = kUnitsPerWord * w + k + take;
      need -= take;
    }
    if (need != 0) {
      l0Pos = AfterWord(w, l0Words, kUnitsPerWord);
    }
  }
}

// Takes a run of wholly free slots at once when the search enters slot `slot` (field `field` of
// level-1 word `l1Word`, whose working copy is `m`) at its first unit: the slots from it whose
// fields in `m` are 11, as many as `need` wants whole and whose level-0 words are all free. Their
// units go out as for TakeWholeWords, their fields become 00 and each leaves `freeSlots`, as
// recomputing them one by one would do. Returns the number of slots taken, 0 when the first
// cannot be taken so (the search then goes on slot by slot); `slot` names the last one taken. If
// the output vector cannot grow, the slots searched so far are recomputed and `slot` names the
// one being searched.
ORV_ALLOC_HOT uint64_t TakeWholeSlots(uint64_t* l0, uint64_t l0Words, uint64_t* l1, uint64_t l1Word, uint64_t m,
                                      unsigned field, uint64_t& slot, uint64_t wordsPerSlot, uint64_t unit,
                                      std::vector<OrvExtentS>& out, uint64_t& need, uint64_t& l0Pos,
                                      uint64_t& partialSlots, uint64_t& freeSlots) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  const uint64_t unitsPerSlot = kUnitsPerWord * wordsPerSlot;
  const uint64_t rest = m >> (kFieldBits * field);
  if ((rest & kSlotEncoding.fieldMask) != kSlotAllFree || need < unitsPerSlot) {
    return 0;
  }
  // Fields 11 from `field` on; the shift brings in zeros, so ~rest != 0 unless all 32 are 11.
  const uint64_t allFree = ~rest == 0 ? kSlotEncoding.fieldsPerWord : LowestSetBit(~rest) / kFieldBits;
  const uint64_t first = slot * wordsPerSlot;
  if (first >= l0Words) {
    return 0;
  }
  // Words of those slots that the request wants and level 0 holds; the free ones among them.
  uint64_t words = allFree * wordsPerSlot;
  if (need / kUnitsPerWord < words) {
    words = need / kUnitsPerWord;
  }
  if (l0Words - first < words) {
    words = l0Words - first;
  }
  uint64_t free = 0;
  while (free < words && l0[first + free] == kAllOnes) {
    ++free;
  }
  const uint64_t slots = Divider(wordsPerSlot).Quotient(free);
  if (slots == 0) {
    return 0;
  }
  const uint64_t firstSlot = slot;
  try {
    TakeWholeWords(l0, first, slots * wordsPerSlot, unit, out, need, l0Pos);
  } catch (...) {
    // l0Pos is the first unit not taken, in the slot being searched.
    slot = l0Pos / unitsPerSlot;
    for (uint64_t t = firstSlot; t <= slot; ++t) {
      const uint64_t state = SlotStateOf(l0, l0Words, t, wordsPerSlot);
      MoveSlotCounts(partialSlots, freeSlots, ReplaceSlotState(l1[l1Word], t, state), state);
    }
    throw;
  }
  // The fields are still those of the working copy (11): only the runs' level-0 words changed.
  freeSlots -= slots;
  l1[l1Word] &= ~RunMask(kFieldBits * field, static_cast<unsigned>(kFieldBits * slots));
  slot = firstSlot + slots - 1;
  return slots;
}

// The units of slot `slot` from l0Pos (a word w of the slot, bit b) on.
void TakeUnitsOfSlot(Search& s, uint64_t slot) {
  const uint64_t wordCount = s.l0Words;
  const uint64_t w = s.pos.l0Pos / kUnitsPerWord;  // an unset l0Pos lands far past any level 0
  const unsigned b = static_cast<unsigned>(s.pos.l0Pos % kUnitsPerWord);
  if (s.allocated >= s.allocLen || w >= wordCount) {
    return;
  }
  // Units still wanted; 0 only when a direct caller's running count is not a whole number of
  // units below allocLen, and then nothing more is taken.
  const uint64_t wanted = s.unit.Quotient(s.allocLen - s.allocated);
  uint64_t need = wanted;
  const uint64_t unit = s.unit.Divisor();
  try {
    TakeUnitsOfWords(s.l0, wordCount, w, b, GroupEnd(slot, s.wordsPerGroup, wordCount), unit, s.out, need,
                     s.pos.l0Pos);
  } catch (...) {
    s.allocated += (wanted - need) * unit;
    throw;
  }
  s.allocated += (wanted - need) * unit;
}

void SearchEntry(Search& s, uint64_t entry);

// Recomputes slot `slot` of level-1 word `word` from level 0, counting the change of its state.
ORV_ALLOC_HOT void RecomputeSlot(Search& s, uint64_t word, uint64_t slot) {
  const uint64_t state = SlotStateOf(s.l0, s.l0Words, slot, s.wordsPerGroup);
  const uint64_t old = ReplaceSlotState(s.l1[word], slot, state);
  MoveSlotCounts(s.partialChange, s.freeChange, old, state);
}

// Recomputes the bit of entry `entry` in level-2 word `word` from level 1.
ORV_ALLOC_HOT void RecomputeEntry(Search& s, uint64_t word, uint64_t entry) {
  SetEntryBit(s.l2[word], s.l1, s.l1Words, entry, s.wordsPerGroup);
}

// The two upper levels, described for ScanFields: the packing of their fields, their own and their
// child's cursor position, how many children a field has, and what to do with one field.
struct SlotLevel {
  static constexpr FieldEncoding kEncoding = kSlotEncoding;
  static uint64_t& Own(OrvAllocPosS& pos) { return pos.l1Pos; }
  static uint64_t& Child(OrvAllocPosS& pos) { return pos.l0Pos; }
  static void UnsetBelowChild(OrvAllocPosS&) {}
  static uint64_t ChildrenPerField(const Search& s) { return s.unitsPerSlot; }
  static const uint64_t* Words(const Search& s) { return s.l1; }
  static uint64_t WordCount(const Search& s) { return s.l1Words; }
  static void SearchChildren(Search& s, uint64_t slot) { TakeUnitsOfSlot(s, slot); }
  static void Recompute(Search& s, uint64_t word, uint64_t slot) { RecomputeSlot(s, word, slot); }
  // Whether field `field` of working copy `m` says every child is free.
  static bool AllFree(uint64_t m, unsigned field) {
    return (m >> (kSlotEncoding.fieldBits * field) & kSlotEncoding.fieldMask) == kSlotAllFree;
  }
  // Slots `slot` on, entered at their first unit, taken whole (TakeWholeSlots); returns how many.
  static uint64_t TakeWholeFields(Search& s, uint64_t word, uint64_t m, unsigned field, uint64_t slot) {
    const uint64_t unit = s.unit.Divisor();
    const uint64_t wanted = s.unit.Quotient(s.allocLen - s.allocated);
    uint64_t need = wanted;
    uint64_t taken = 0;
    try {
      taken = TakeWholeSlots(s.l0, s.l0Words, s.l1, word, m, field, slot, s.wordsPerGroup, unit, s.out, need,
                             s.pos.l0Pos, s.partialChange, s.freeChange);
    } catch (...) {
      s.allocated += (wanted - need) * unit;
      s.pos.l1Pos = slot;
      throw;
    }
    s.allocated += (wanted - need) * unit;
    s.pos.l1Pos = slot;
    return taken;
  }
};

struct EntryLevel {
  static constexpr FieldEncoding kEncoding = kEntryEncoding;
  static uint64_t& Own(OrvAllocPosS& pos) { return pos.l2Pos; }
  static uint64_t& Child(OrvAllocPosS& pos) { return pos.l1Pos; }
  static void UnsetBelowChild(OrvAllocPosS& pos) { pos.l0Pos = kUnsetPos; }
  static uint64_t ChildrenPerField(const Search& s) { return s.slotsPerEntry; }
  static const uint64_t* Words(const Search& s) { return s.l2; }
  static uint64_t WordCount(const Search& s) { return s.l2Words; }
  static void SearchChildren(Search& s, uint64_t entry) { SearchEntry(s, entry); }
  static void Recompute(Search& s, uint64_t word, uint64_t entry) { RecomputeEntry(s, word, entry); }
  static bool AllFree(uint64_t, unsigned) { return false; }  // a set bit says only "some free"
  static uint64_t TakeWholeFields(Search&, uint64_t, uint64_t, unsigned, uint64_t) { return 0; }
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
  OrvAllocPosS& pos = s.pos;
  const uint64_t* words = Level::Words(s);
  const uint64_t childrenPerField = Level::ChildrenPerField(s);
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
      if (Level::AllFree(m, found) && Level::Child(pos) == childStart) {
        // A run of wholly free fields that the request wants whole, taken at once.
        const uint64_t taken = Level::TakeWholeFields(s, i, m, found, own);
        if (taken != 0) {
          field = found + static_cast<unsigned>(taken);
          if (s.allocated >= s.allocLen) {
            return;
          }
          continue;
        }
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
    Level::Own(pos) = AfterWord(i - 1, Level::WordCount(s), kFieldsPerWord);
  }
}

// The slots of entry `entry` from l1Pos on.
void SearchEntry(Search& s, uint64_t entry) {
  const uint64_t i = s.pos.l1Pos / kSlotEncoding.fieldsPerWord;  // an unset l1Pos lands far past
  if (i >= s.l1Words) {
    return;
  }
  ScanFields<SlotLevel>(s, i, GroupEnd(entry, s.wordsPerGroup, s.l1Words),
                        static_cast<unsigned>(s.pos.l1Pos % kSlotEncoding.fieldsPerWord));
}

// Both passes of the descent over level 2, from the cursor and then from word 0; returns the
// bytes allocated. Out of line, so the common call that the cursor's level-1 word serves needs no
// Search.
__attribute__((noinline)) uint64_t DescendFromLevelTwo(OrvAllocator& alloc, const OrvAllocInfoS& req,
                                                       std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                                       std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  Search s = StartSearch(alloc, req, 0, l0, &l1, &l2, out);
  RunSearch(alloc, s, [&s] {
    const uint64_t start = s.pos.l2Pos / kEntryEncoding.fieldsPerWord;
    const unsigned field = static_cast<unsigned>(s.pos.l2Pos % kEntryEncoding.fieldsPerWord);
    ScanFields<EntryLevel>(s, start, s.l2Words, field);
    // The second pass reaches what lies below the cursor, the start word again from its first field.
    ScanFields<EntryLevel>(s, 0, start + 1, 0);
  });
  return s.allocated;
}

// The rest of a descent that TakeFromWord began: it has searched the level-1 word at the
// cursor and taken `allocated` bytes, short of the request. Goes on exactly where the descent
// stands then: leaving that word, the entry's later level-1 words, the entry recomputed, the rest
// of the first pass over level 2 and the second pass. Returns the bytes allocated in all.
__attribute__((noinline)) uint64_t ContinueDescent(OrvAllocator& alloc, const OrvAllocInfoS& req, uint64_t allocated,
                                                   std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                                   std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  Search s = StartSearch(alloc, req, allocated, l0, &l1, &l2, out);
  RunSearch(alloc, s, [&s] {
    const uint64_t entry = s.pos.l2Pos;
    const uint64_t l2Word = entry / kEntryEncoding.fieldsPerWord;
    const uint64_t l1Word = s.pos.l1Pos / kSlotEncoding.fieldsPerWord;
    // As ScanFields<SlotLevel> leaves a word.
    s.pos.l0Pos = kUnsetPos;
    s.pos.l1Pos = AfterWord(l1Word, s.l1Words, kSlotEncoding.fieldsPerWord);
    try {
      ScanFields<SlotLevel>(s, l1Word + 1, GroupEnd(entry, s.wordsPerGroup, s.l1Words), 0);
    } catch (...) {
      RecomputeEntry(s, l2Word, entry);
      throw;
    }
    RecomputeEntry(s, l2Word, entry);
    if (s.allocated >= s.allocLen) {
      return;
    }
    ScanFields<EntryLevel>(s, l2Word, s.l2Words, static_cast<unsigned>(entry % kEntryEncoding.fieldsPerWord) + 1);
    ScanFields<EntryLevel>(s, 0, l2Word + 1, 0);
  });
  return s.allocated;
}

// What TakeFromWord leaves when the output vector cannot grow, as the descent leaves it:
// the cursor at the slot being searched, that slot and the entry recomputed.
__attribute__((noinline, cold)) void LeaveAfterFailure(OrvAllocator& alloc, std::vector<uint64_t>& l0,
                                                       std::vector<uint64_t>& l1, std::vector<uint64_t>& l2,
                                                       uint64_t slot, uint64_t l0Pos) {
  alloc.pos.l1Pos = slot;
  alloc.pos.l0Pos = l0Pos;
  RecomputeSlotState(alloc, l0, l1, slot / kSlotEncoding.fieldsPerWord, slot);
  RecomputeEntryBit(alloc, l1, l2, alloc.pos.l2Pos / kEntryEncoding.fieldsPerWord, alloc.pos.l2Pos);
}

// The descent inside one level-1 word: from slot `slot` (not 00 in the word, which is its
// working copy), at unit l0Pos of it, with the cursor's l2Pos at the entry that holds it. Visits
// the word's non-00 slots from there, every later one from its first unit; takes the first free
// units in ascending order (a run of wholly free slots or words at once), recomputes each slot it
// visits, and stops with l1Pos at the last slot and l0Pos after the last unit taken, then
// recomputes the entry. A request the word cannot fill goes on in ContinueDescent. Returns the
// bytes allocated. Calls allowed by LevelTwoSearchIsAllowed only: there, a non-00 slot always has
// a level-0 word.
ORV_ALLOC_HOT uint64_t TakeFromWord(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                                    std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out,
                                    uint64_t slot, uint64_t l0Pos) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  const uint64_t unitsPerSlot = alloc.l0BitsPerL1Slot;
  const uint64_t wordsPerSlot = alloc.wordsPerEntry;
  const uint64_t entry = alloc.pos.l2Pos;
  const uint64_t l0Words = l0.size();
  uint64_t* const l0Data = l0.data();
  uint64_t* const l1Data = l1.data();
  const uint64_t l1Word = slot / kFieldsPerWord;
  const uint64_t m = l1Data[l1Word];
  unsigned field = static_cast<unsigned>(slot % kFieldsPerWord);
  const uint64_t unit = req.allocUnit;
  const uint64_t wanted = Divider(unit).Quotient(req.allocLen);
  uint64_t need = wanted;
  try {
    for (;;) {
      const uint64_t taken =
          l0Pos == slot * unitsPerSlot
              ? TakeWholeSlots(l0Data, l0Words, l1Data, l1Word, m, field, slot, wordsPerSlot, unit, out, need, l0Pos,
                               alloc.partialSlots, alloc.freeSlots)
              : 0;
      if (taken != 0) {
        field += static_cast<unsigned>(taken) - 1;
      } else {
        const uint64_t slotEnd = GroupEnd(slot, wordsPerSlot, l0Words);
        TakeUnitsOfWords(l0Data, l0Words, l0Pos / kUnitsPerWord, static_cast<unsigned>(l0Pos % kUnitsPerWord),
                         slotEnd, unit, out, need, l0Pos);
        const uint64_t state =
            StateOfSlotWords(l0Data + slot * wordsPerSlot, slotEnd - slot * wordsPerSlot, wordsPerSlot);
        const uint64_t oldState = ReplaceSlotState(l1Data[l1Word], slot, state);
        MoveSlotCounts(alloc.partialSlots, alloc.freeSlots, oldState, state);
      }
      if (need == 0) {
        break;
      }
      const uint64_t fields = field + 1 < kFieldsPerWord ? BitsFrom(m, kFieldBits * (field + 1)) : 0;
      if (fields == 0) {
        break;
      }
      field = LowestSetBit(fields) / kFieldBits;
      slot = kFieldsPerWord * l1Word + field;
      l0Pos = slot * unitsPerSlot;
    }
  } catch (...) {
    LeaveAfterFailure(alloc, l0, l1, l2, slot, l0Pos);
    throw;
  }
  alloc.pos.l1Pos = slot;
  alloc.pos.l0Pos = l0Pos;
  if (need != 0) {
    return ContinueDescent(alloc, req, (wanted - need) * unit, l0, l1, l2, out);
  }
  // A non-zero level-1 word of the entry keeps its bit set; otherwise look at the entry's words.
  if (l1Data[l1Word] == 0) {
    SetEntryBit(l2[entry / kEntryEncoding.fieldsPerWord], l1Data, l1.size(), entry, wordsPerSlot);
  }
  return req.allocLen;
}

// The search from the cursor when TakeNearCursor cannot serve the call. When the descent begins
// inside one level-1 word (the first set entry bit of the cursor's level-2 word from l2Pos on, as
// ScanFields<EntryLevel> picks it, with the child positions it enters with), that word is searched
// by TakeFromWord; otherwise, or when that word has no non-00 slot to visit, by the descent itself.
__attribute__((noinline)) uint64_t SearchFromCursor(OrvAllocator& alloc, const OrvAllocInfoS& req,
                                                    std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                                    std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  const LevelWords levels = WordsOf(l0, l1, l2);
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  constexpr unsigned kEntriesPerWord = kEntryEncoding.fieldsPerWord;
  const OrvAllocPosS pos = alloc.pos;
  const uint64_t slotsPerEntry = alloc.l1SlotsPerL2Bit;
  const uint64_t unitsPerSlot = alloc.l0BitsPerL1Slot;
  const uint64_t l2Word = pos.l2Pos / kEntriesPerWord;
  const unsigned keptEntry = static_cast<unsigned>(pos.l2Pos % kEntriesPerWord);
  const uint64_t m2 = levels.l2[l2Word];
  uint64_t entries = BitsFrom(m2, keptEntry);
  if (entries == 0) {
    return DescendFromLevelTwo(alloc, req, l0, l1, l2, out);
  }
  uint64_t entry = kEntriesPerWord * l2Word + LowestSetBit(entries);
  uint64_t l1Pos = entry * slotsPerEntry;
  uint64_t keptL0Pos = kUnsetPos;
  if (entry == pos.l2Pos && pos.l1Pos != kUnsetPos) {
    const KeptPosition where = Locate(pos.l1Pos, l1Pos, slotsPerEntry);
    if (where == KeptPosition::kInside) {
      l1Pos = pos.l1Pos;
      keptL0Pos = pos.l0Pos;
    } else if (where == KeptPosition::kPastEnd) {
      entries = keptEntry + 1 < kEntriesPerWord ? BitsFrom(m2, keptEntry + 1) : 0;
      if (entries == 0) {
        return DescendFromLevelTwo(alloc, req, l0, l1, l2, out);
      }
      entry = kEntriesPerWord * l2Word + LowestSetBit(entries);
      l1Pos = entry * slotsPerEntry;
    }
  }
  const uint64_t l1Word = l1Pos / kFieldsPerWord;
  if (l1Word >= levels.n1) {
    return DescendFromLevelTwo(alloc, req, l0, l1, l2, out);
  }
  const uint64_t m = levels.l1[l1Word];  // the descent's working copy of the level-1 word
  // The first slot the descent visits, and where in it; none: the descent leaves the word at once.
  const unsigned keptField = static_cast<unsigned>(l1Pos % kFieldsPerWord);
  uint64_t fields = BitsFrom(m, kFieldBits * keptField);
  unsigned field = fields != 0 ? LowestSetBit(fields) / kFieldBits : 0;
  uint64_t l0Pos = (kFieldsPerWord * l1Word + field) * unitsPerSlot;
  if (fields != 0 && field == keptField && keptL0Pos != kUnsetPos) {
    const KeptPosition where = Locate(keptL0Pos, l0Pos, unitsPerSlot);
    if (where == KeptPosition::kInside) {
      if (keptL0Pos / kUnitsPerWord >= levels.n0) {
        return DescendFromLevelTwo(alloc, req, l0, l1, l2, out);
      }
      l0Pos = keptL0Pos;
    } else if (where == KeptPosition::kPastEnd) {
      fields = field + 1 < kFieldsPerWord ? BitsFrom(m, kFieldBits * (field + 1)) : 0;
      field = fields != 0 ? LowestSetBit(fields) / kFieldBits : 0;
      l0Pos = (kFieldsPerWord * l1Word + field) * unitsPerSlot;
    }
  }
  if (fields == 0) {
    // The word has nothing to visit: as the descent leaves it, from this entry on.
    alloc.pos.l2Pos = entry;
    alloc.pos.l1Pos = (kFieldsPerWord * l1Word + field);
    return ContinueDescent(alloc, req, 0, l0, l1, l2, out);
  }
  alloc.pos.l2Pos = entry;
  return TakeFromWord(alloc, req, l0, l1, l2, out, kFieldsPerWord * l1Word + field, l0Pos);
}

// The commonest calls: the descent begins inside the cursor's level-1 word, in the entry at
// l2Pos (its bit is set and l1Pos lies inside it). It then visits the word's non-00 slots from
// l1Pos's on: the first at the kept l0Pos if that is l1Pos's slot and l0Pos lies inside it, from
// the next non-00 slot's first unit if l0Pos lies past it, else from its first unit. When the
// request fits in the level-0 word where it starts (the run from there is free, or one unit is
// wanted and the word has a free unit from there on), the descent takes exactly those units,
// recomputes that slot (and the entry, which can only change when the level-1 word becomes 0)
// and stops with l1Pos at that slot. This does the same on locals; any other call goes on in
// TakeFromWord (from the same start) or SearchFromCursor. Returns the bytes allocated.
ORV_ALLOC_HOT uint64_t TakeNearCursor(OrvAllocator& alloc, const OrvAllocInfoS& req, const LevelWords& levels,
                                      std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, std::vector<uint64_t>& l2,
                                      std::vector<OrvExtentS>& out) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  const OrvAllocPosS pos = alloc.pos;
  const uint64_t slotsPerEntry = alloc.l1SlotsPerL2Bit;
  const uint64_t unitsPerSlot = alloc.l0BitsPerL1Slot;
  const uint64_t l1Word = pos.l1Pos / kFieldsPerWord;  // an unset l1Pos lands far past
  const uint64_t l2Word = pos.l2Pos / kEntryEncoding.fieldsPerWord;
  if (l1Word >= levels.n1 || Locate(pos.l1Pos, pos.l2Pos * slotsPerEntry, slotsPerEntry) != KeptPosition::kInside ||
      (levels.l2[l2Word] >> (pos.l2Pos % kEntryEncoding.fieldsPerWord) & 1u) == 0) {
    return SearchFromCursor(alloc, req, l0, l1, l2, out);
  }
  const uint64_t m = levels.l1[l1Word];
  const unsigned keptField = static_cast<unsigned>(pos.l1Pos % kFieldsPerWord);
  uint64_t fields = BitsFrom(m, kFieldBits * keptField);
  if (fields == 0) {
    return SearchFromCursor(alloc, req, l0, l1, l2, out);
  }
  unsigned field = LowestSetBit(fields) / kFieldBits;
  uint64_t l0Pos = (kFieldsPerWord * l1Word + field) * unitsPerSlot;
  if (field == keptField && pos.l0Pos != kUnsetPos) {
    const KeptPosition where = Locate(pos.l0Pos, l0Pos, unitsPerSlot);
    if (where == KeptPosition::kInside) {
      if (pos.l0Pos / kUnitsPerWord >= levels.n0) {
        return SearchFromCursor(alloc, req, l0, l1, l2, out);
      }
      l0Pos = pos.l0Pos;
    } else if (where == KeptPosition::kPastEnd) {
      fields = field + 1 < kFieldsPerWord ? BitsFrom(m, kFieldBits * (field + 1)) : 0;
      if (fields == 0) {
        return SearchFromCursor(alloc, req, l0, l1, l2, out);
      }
      field = LowestSetBit(fields) / kFieldBits;
      l0Pos = (kFieldsPerWord * l1Word + field) * unitsPerSlot;
    }
  }
  const uint64_t slot = kFieldsPerWord * l1Word + field;
  // A non-00 slot has a level-0 word (LevelTwoSearchIsAllowed), so w < n0.
  const uint64_t w = l0Pos / kUnitsPerWord;
  const unsigned b = static_cast<unsigned>(l0Pos % kUnitsPerWord);
  const uint64_t unit = req.allocUnit;
  const uint64_t need = Divider(unit).Quotient(req.allocLen);
  const uint64_t x = levels.l0[w];
  unsigned k = kUnitsPerWord;  // where the units taken start; 64: not in this word alone
  if (need <= kUnitsPerWord - b) {
    const uint64_t run = RunMask(b, static_cast<unsigned>(need));
    const uint64_t freeFromB = BitsFrom(x, b);
    if ((x & run) == run) {
      k = b;
    } else if (need == 1 && freeFromB != 0) {
      k = LowestSetBit(freeFromB);
    }
  }
  if (k == kUnitsPerWord) {
    return TakeFromWord(alloc, req, l0, l1, l2, out, slot, l0Pos);
  }
  try {
    AppendOrMergeExtent(out, unit * (kUnitsPerWord * w + k), static_cast<uint32_t>(need * unit));
  } catch (...) {
    LeaveAfterFailure(alloc, l0, l1, l2, slot, l0Pos);
    throw;
  }
  const uint64_t wordsPerSlot = alloc.wordsPerEntry;
  levels.l0[w] = x & ~RunMask(k, static_cast<unsigned>(need));
  const uint64_t slotEnd = GroupEnd(slot, wordsPerSlot, levels.n0);
  const uint64_t state =
      StateOfSlotWords(levels.l0 + slot * wordsPerSlot, slotEnd - slot * wordsPerSlot, wordsPerSlot);
  const uint64_t oldState = ReplaceSlotState(levels.l1[l1Word], slot, state);
  MoveSlotCounts(alloc.partialSlots, alloc.freeSlots, oldState, state);
  alloc.pos.l1Pos = slot;
  alloc.pos.l0Pos = kUnitsPerWord * w + k + need;
  // A non-zero level-1 word of the entry keeps its bit set; otherwise look at the entry's words.
  if (levels.l1[l1Word] == 0) {
    SetEntryBit(levels.l2[l2Word], levels.l1, levels.n1, pos.l2Pos, wordsPerSlot);
  }
  return req.allocLen;
}

}  // namespace

uint64_t SearchLevelTwo(OrvAllocator& alloc, OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                        std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  const LevelWords levels = WordsOf(l0, l1, l2);
  if (!LevelTwoSearchIsAllowed(alloc, req, levels)) {
    return 0;
  }
  return TakeNearCursor(alloc, req, levels, l0, l1, l2, out);
}

uint64_t SearchOneUnit(OrvAllocator& alloc, std::vector<OrvExtentS>& out, uint64_t unit, std::vector<uint64_t>& l0,
                       std::vector<uint64_t>& l1, std::vector<uint64_t>& l2) {
  uint64_t allocated = 0;
  if (TakeOneUnitAtCursor(alloc, unit, l0, l1, l2, out, allocated)) {
    return allocated;
  }
  return SearchLevelTwo(alloc, OrvAllocInfoS{unit, unit}, l0, l1, l2, out);
}

uint64_t SearchWholeWords(OrvAllocator& alloc, OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                          std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  if (TakeWordsAtCursor(alloc, req.allocLen, req.allocUnit, l0, l1, l2, out)) {
    return req.allocLen;
  }
  return SearchLevelTwo(alloc, req, l0, l1, l2, out);
}

void SearchLevelOne(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                    std::vector<uint64_t>& l1, uint64_t& allocated, std::vector<OrvExtentS>& out) {
  const uint64_t i = alloc.pos.l1Pos / kSlotEncoding.fieldsPerWord;
  if (i >= l1.size()) {
    return;
  }
  Search s = StartSearch(alloc, req, allocated, l0, &l1, nullptr, out);
  RunCountedSearch(alloc, s, allocated, [&s, i] { SearchEntry(s, Divider(s.wordsPerGroup).Quotient(i)); });
}

void SearchLevelZero(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                     std::vector<OrvExtentS>& out) {
  const uint64_t w = alloc.pos.l0Pos / kUnitsPerWord;
  if (w >= l0.size()) {
    return;
  }
  Search s = StartSearch(alloc, req, allocated, l0, nullptr, nullptr, out);
  RunCountedSearch(alloc, s, allocated, [&s, w] { TakeUnitsOfSlot(s, Divider(s.wordsPerGroup).Quotient(w)); });
}

}  // namespace orv_alloc
