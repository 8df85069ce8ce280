// The one-unit allocation at the cursor, on a lean path of its own. Most calls of a storage
// system's write path want one unit, and most of those are served inside the level-1 word the
// cursor already points into. TakeOneUnitAtCursor serves exactly those calls, with the result,
// cursor, levels, counters and output the full descent (level_search.cpp) would give, after a
// branch-free limit test; any other call it leaves untouched and says so, and the caller hands
// it to the full search, whose checks and code stay as they are.
#ifndef ORV_ALLOC_CURSOR_TAKE_H_
#define ORV_ALLOC_CURSOR_TAKE_H_

#include <cstdint>
#include <vector>

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "extent_merge.h"
#include "level_state.h"
#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// For an upper level of `upperWords` words (1 <= upperWords < 2^32) over a lower level of
// `lowerWords` words (< 2^32), 1 <= W <= 2^25: whether every non-zero field has a lower word (the
// field f of W lower words has one when f x W < lowerWords), judged by counting for the words
// before the last and by the highest non-zero field of the last. Levels sized by OrvBuildLevels
// pass it also when their last word is partly used; levels it fails may still be sound.
inline bool SetFieldsHaveLowerWords(const uint64_t* upper, uint64_t upperWords, uint64_t lowerWords, uint64_t w,
                                    const FieldEncoding& encoding) {
  const uint64_t last = upper[upperWords - 1];
  const uint64_t topField = encoding.fieldsPerWord * (upperWords - 1) +
                            static_cast<unsigned>(63 - __builtin_clzll(last | 1u)) / encoding.fieldBits;
  return (upperWords - 1) * encoding.fieldsPerWord * w < lowerWords + w && (last == 0 || topField * w < lowerWords);
}

// Whether a call for `unit`-sized units passes every check of LevelTwoSearchIsAllowed that does
// not depend on its length, by tighter bounds that make the common test branch free: unit and W
// at most 2^25, levels 1 and 2 not empty and every level shorter than 2^32 words. `requestBad` is
// the caller's own test of the length (0: it passes). Levels whose upper levels are no longer than
// their lower levels fill need no reading; others (a partly used last word) have their last words
// read. A call that fails here may still be allowed; the full test then decides.
inline bool CallIsPlainlyAllowed(const OrvAllocator& alloc, uint64_t unit, uint64_t requestBad, const uint64_t* l1,
                                 uint64_t n0, uint64_t n1, const uint64_t* l2, uint64_t n2) {
  constexpr unsigned kLimitBits = 25;
  const uint64_t w = alloc.wordsPerEntry;
  // Both stored products side by side; exact for 1 <= W <= 2^25.
  const uint64_t products = uint64_t{alloc.l1SlotsPerL2Bit} | uint64_t{alloc.l0BitsPerL1Slot} << 32;
  // unit - 1, w - 1, n1 - 1 and n2 - 1 wrap for a zero unit, W or level, and so fail their bounds.
  const uint64_t bad = requestBad | (unit ^ alloc.allocUnit) | (unit - 1) >> kLimitBits | (w - 1) >> kLimitBits |
                       (n0 | (n1 - 1) | (n2 - 1)) >> 32 |
                       (products ^ w * (uint64_t{kUnitsPerWord} << 32 | kSlotEncoding.fieldsPerWord));
  // With the bounds above, neither difference wraps past 2^63: the top bit says it is negative,
  // that is, the upper level's fields cover fewer than lower + W words.
  const uint64_t nested = (n1 * kSlotEncoding.fieldsPerWord * w - (n0 + w)) &
                          (n2 * kEntryEncoding.fieldsPerWord * w - (n1 + w));
  const bool bounded = (bad == 0) & (alloc.pos.l2Pos < uint64_t{kEntryEncoding.fieldsPerWord} * n2);
  if (__builtin_expect(bounded & (nested >> 63 != 0), 1)) {
    return true;
  }
  return bounded && SetFieldsHaveLowerWords(l1, n1, n0, w, kSlotEncoding) &&
         SetFieldsHaveLowerWords(l2, n2, n1, w, kEntryEncoding);
}

// Whether a one-unit call (allocLen == allocUnit == `unit`) passes every check of
// LevelTwoSearchIsAllowed, as CallIsPlainlyAllowed judges it.
inline bool OneUnitCallIsPlainlyAllowed(const OrvAllocator& alloc, uint64_t unit, const uint64_t* l1, uint64_t n0,
                                        uint64_t n1, const uint64_t* l2, uint64_t n2) {
  return CallIsPlainlyAllowed(alloc, unit, 0, l1, n0, n1, l2, n2);
}

// The end (in level-0 words) of slot `slot`'s words that a level 0 of n0 words holds.
inline uint64_t SlotEndWord(uint64_t slot, uint64_t w, uint64_t n0) {
  const uint64_t end = (slot + 1) * w;
  return end < n0 ? end : n0;
}

// The unit the descent takes: its slot, its level-0 word and that word's free bits from the
// search's start on (0: none in the slots looked at).
struct UnitFound {
  uint64_t slot;
  uint64_t word;
  uint64_t freeBits;
};

// The rest of TakeOneUnitAtCursor's search, when the first word it looks at has no free unit
// from the start on or the cursor's slot is passed over (`finished`): the slot's later words
// (the slot of W words starting at `slot` x W), then, as the descent goes on, the first unit
// of the next slot of level-1 word `l1Word` (working copy `m`) that is not 00. Kept apart from
// the common case in the code, but inline: as a call it cost full slots more than it saved.
inline __attribute__((always_inline)) UnitFound FindUnitPastFirstWord(const uint64_t* l0, uint64_t n0, uint64_t m,
                                                                 uint64_t l1Word, uint64_t slot, uint64_t word,
                                                                 bool finished, uint64_t w) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  if (!finished) {
    for (const uint64_t end = SlotEndWord(slot, w, n0); ++word < end;) {
      if (l0[word] != 0) {
        return UnitFound{slot, word, l0[word]};
      }
    }
  }
  const unsigned nextField = static_cast<unsigned>(slot % kFieldsPerWord) + 1;
  const uint64_t later = nextField < kFieldsPerWord ? BitsFrom(m, kFieldBits * nextField) : 0;
  if (later == 0) {
    return UnitFound{slot, word, 0};
  }
  const uint64_t next = kFieldsPerWord * l1Word + LowestSetBit(later) / kFieldBits;
  // A slot that is not 00 has a level-0 word.
  for (uint64_t k = next * w, end = SlotEndWord(next, w, n0); k < end; ++k) {
    if (l0[k] != 0) {
      return UnitFound{next, k, l0[k]};
    }
  }
  return UnitFound{next, word, 0};
}

// Takes one unit at the cursor when the full descent would take it inside the cursor's level-1
// word: the entry at l2Pos has its bit set and holds l1Pos, and the unit is the first free one
// of l1Pos's slot from the start (the kept l0Pos when it lies inside the slot, else the slot's
// first unit) or, when that slot has none from there, is 00 or was finished by the kept l0Pos,
// the first free unit of the word's next slot that is not 00. Everything the descent would
// change changes alike: a slot searched in vain and the slot taken from are recomputed (a slot
// passed over is not), their counters moved, the entry's bit recomputed when the level-1 word
// becomes 0, the cursor left after the unit. Returns false, having changed nothing, for every
// other call, including all that the limits refuse. On success `allocated` is the unit's size.
// Never throws: a call made with a full output vector is left to the full search.
inline __attribute__((always_inline)) bool TakeOneUnitAtCursor(OrvAllocator& alloc, uint64_t unit,
                                                               std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                                               std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out,
                                                               uint64_t& allocated) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  constexpr unsigned kEntriesPerWord = kEntryEncoding.fieldsPerWord;
  uint64_t* const l0Data = l0.data();
  uint64_t* const l1Data = l1.data();
  uint64_t* const l2Data = l2.data();
  const uint64_t n0 = l0.size();
  const uint64_t n1 = l1.size();
  if (!OneUnitCallIsPlainlyAllowed(alloc, unit, l1Data, n0, n1, l2Data, l2.size())) {
    return false;
  }
  const uint64_t w = alloc.wordsPerEntry;
  const uint64_t slotsPerEntry = alloc.l1SlotsPerL2Bit;
  const uint64_t unitsPerSlot = alloc.l0BitsPerL1Slot;
  const OrvAllocPosS pos = alloc.pos;
  const uint64_t entry = pos.l2Pos;
  const uint64_t slot = pos.l1Pos;  // an unset l1Pos lies in no entry
  const uint64_t l1Word = slot / kFieldsPerWord;
  if (slot - entry * slotsPerEntry >= slotsPerEntry || l1Word >= n1 ||
      (l2Data[entry / kEntriesPerWord] >> (entry % kEntriesPerWord) & 1u) == 0) {
    return false;
  }
  const uint64_t m = l1Data[l1Word];
  const unsigned shift = kFieldBits * static_cast<unsigned>(slot % kFieldsPerWord);
  const uint64_t oldState = m >> shift & kSlotEncoding.fieldMask;
  // A slot that is not 00 has a level-0 word (the fields check above), so its first unit's
  // position and everything below stay far from overflow.
  const uint64_t slotStart = slot * unitsPerSlot;
  uint64_t start = pos.l0Pos;
  // A slot in state 00, or a kept position past the slot's end: the descent passes the slot
  // over without recomputing it and goes on at the next slot.
  const bool finished = oldState == kSlotNoneFree ||
                        (start - slotStart >= unitsPerSlot && start != kUnsetPos && start > slotStart);
  if (start - slotStart >= unitsPerSlot) {
    start = slotStart;
  }
  uint64_t word = start / kUnitsPerWord;
  if (!finished && word >= n0) {
    return false;
  }
  // The first free unit of the slot from `start` on, in the word where it starts; past that word
  // (rarely), FindUnitPastFirstWord.
  UnitFound found{slot, word, finished ? 0 : BitsFrom(l0Data[word], static_cast<unsigned>(start % kUnitsPerWord))};
  if (__builtin_expect(found.freeBits == 0, 0)) {
    found = FindUnitPastFirstWord(l0Data, n0, m, l1Word, slot, word, finished, w);
    if (found.freeBits == 0) {
      return false;
    }
  }
  const uint64_t takeSlot = found.slot;
  const uint64_t freeFrom = found.freeBits;
  word = found.word;
  const unsigned bit = LowestSetBit(freeFrom);
  const uint64_t unitPos = kUnitsPerWord * word + bit;
  // A full output vector is left to the full search (its growth may throw), so the extent below
  // goes into room the vector already has or merges into the last one, and nothing here throws.
  if (out.size() == out.capacity()) {
    return false;
  }
  const uint64_t left = l0Data[word] & ~(uint64_t{1} << bit);
  l0Data[word] = left;
  uint64_t newWord = m;
  if (takeSlot != slot && !finished) {
    const uint64_t skipped = SlotStateOf(l0Data, n0, slot, w);
    newWord = (newWord & ~(kSlotEncoding.fieldMask << shift)) | skipped << shift;
    MoveSlotCounts(alloc.partialSlots, alloc.freeSlots, oldState, skipped);
  }
  // A unit was just taken, so the slot is no longer wholly free: 01 unless all its words are 0.
  // When the word is 0, all W words are read rather than stopping at the first non-zero one: W
  // is the same on every call, so the loop costs no mispredicted branch.
  uint64_t anyFree = left;
  if (left == 0 && w > 1) {
    const uint64_t first = takeSlot * w;
    for (uint64_t k = first, end = SlotEndWord(takeSlot, w, n0); k < end; ++k) {
      anyFree |= l0Data[k];
    }
  }
  const uint64_t state = anyFree != 0 ? kSlotSomeFree : kSlotNoneFree;
  const unsigned takeShift = kFieldBits * static_cast<unsigned>(takeSlot % kFieldsPerWord);
  MoveSlotCounts(alloc.partialSlots, alloc.freeSlots, newWord >> takeShift & kSlotEncoding.fieldMask, state);
  newWord = (newWord & ~(kSlotEncoding.fieldMask << takeShift)) | state << takeShift;
  l1Data[l1Word] = newWord;
  alloc.pos.l1Pos = takeSlot;
  alloc.pos.l0Pos = unitPos + 1;
  // A non-zero level-1 word of the entry keeps its bit set; otherwise look at the entry's words.
  if (newWord == 0) {
    SetEntryBit(l2Data[entry / kEntriesPerWord], l1Data, n1, entry, w);
  }
  AppendOrMergeExtent(out, unit * unitPos, static_cast<uint32_t>(unit));  // there is room: no throw
  allocated = unit;
  return true;
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_CURSOR_TAKE_H_
