// Upkeep of the upper levels: recomputing one level-1 slot state (and the two slot counters) from
// level 0, and one level-2 bit from level 1. Inline, as every search step ends with both.
//
// A group (the W level-0 words of a slot, the W level-1 words of an entry) may run past the end of
// its vector when the vector's length is not a multiple of W. The missing words count as zero:
// units that do not exist are never free, so such a slot is never in state 11.
#ifndef ORV_ALLOC_LEVEL_STATE_H_
#define ORV_ALLOC_LEVEL_STATE_H_

#include <cstdint>
#include <vector>

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// The words of group `group` (W words each) that exist in a vector of `size` words: [first, first
// + count). count is 0 when W is 0 or the group starts at or past the end.
struct GroupWords {
  uint64_t first;
  uint64_t count;
};

inline GroupWords WordsOfGroup(uint64_t group, uint64_t wordsPerGroup, uint64_t size) {
  uint64_t first = 0;
  if (wordsPerGroup == 0 || __builtin_mul_overflow(group, wordsPerGroup, &first) || first >= size) {
    return GroupWords{0, 0};
  }
  const uint64_t left = size - first;
  return GroupWords{first, left < wordsPerGroup ? left : wordsPerGroup};
}

// The state (00, 01 or 11) of a slot of W words whose first `count` (<= W) exist, at `words`.
inline uint64_t StateOfSlotWords(const uint64_t* words, uint64_t count, uint64_t wordsPerSlot) {
  uint64_t anyBits = 0;
  uint64_t commonBits = kAllOnes;
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t word = words[k];
    anyBits |= word;
    commonBits &= word;
    if (anyBits != 0 && commonBits != kAllOnes) {
      return kSlotSomeFree;  // nothing further can change the verdict
    }
  }
  if (anyBits == 0) {
    return kSlotNoneFree;
  }
  // Words missing at the end of level 0 count as allocated.
  return count == wordsPerSlot && commonBits == kAllOnes ? kSlotAllFree : kSlotSomeFree;
}

// The state (00, 01 or 11) that level 0 (`size` words at `l0`) gives slot `slot` of W words; 00
// when W is 0.
inline uint64_t SlotStateOf(const uint64_t* l0, uint64_t size, uint64_t slot, uint64_t wordsPerSlot) {
  const GroupWords words = WordsOfGroup(slot, wordsPerSlot, size);
  return StateOfSlotWords(l0 + words.first, words.count, wordsPerSlot);
}

inline uint64_t SlotStateOf(const std::vector<uint64_t>& l0, uint64_t slot, uint64_t wordsPerSlot) {
  return SlotStateOf(l0.data(), l0.size(), slot, wordsPerSlot);
}

// Whether any of the W level-1 words (of `size` at `l1`) of `entry` is non-zero; false when W is 0.
inline bool EntryHasFreeUnits(const uint64_t* l1, uint64_t size, uint64_t entry, uint64_t wordsPerEntry) {
  const GroupWords words = WordsOfGroup(entry, wordsPerEntry, size);
  for (uint64_t k = 0; k < words.count; ++k) {
    if (l1[words.first + k] != 0) {
      return true;
    }
  }
  return false;
}

inline bool EntryHasFreeUnits(const std::vector<uint64_t>& l1, uint64_t entry, uint64_t wordsPerEntry) {
  return EntryHasFreeUnits(l1.data(), l1.size(), entry, wordsPerEntry);
}

// Writes `state` into the field of `slot` in its level-1 word `word`; returns the old state.
inline uint64_t ReplaceSlotState(uint64_t& word, uint64_t slot, uint64_t state) {
  const unsigned shift = static_cast<unsigned>(kSlotEncoding.fieldBits * (slot % kSlotEncoding.fieldsPerWord));
  const uint64_t old = (word >> shift) & kSlotEncoding.fieldMask;
  word = (word & ~(kSlotEncoding.fieldMask << shift)) | (state << shift);
  return old;
}

// Moves the two slot counters from a slot's old state to its new one: 01 counts in partialSlots,
// 11 in freeSlots (10, never written, in neither).
inline void MoveSlotCounts(uint64_t& partialSlots, uint64_t& freeSlots, uint64_t oldState, uint64_t newState) {
  if (oldState == kSlotSomeFree) {
    --partialSlots;
  } else if (oldState == kSlotAllFree) {
    --freeSlots;
  }
  if (newState == kSlotSomeFree) {
    ++partialSlots;
  } else if (newState == kSlotAllFree) {
    ++freeSlots;
  }
}

// Sets bit entry % 64 of level-2 word `word` when any level-1 word of `entry` is non-zero,
// clears it otherwise (also with W = 0).
inline void SetEntryBit(uint64_t& word, const uint64_t* l1, uint64_t size, uint64_t entry, uint64_t wordsPerEntry) {
  const uint64_t bit = uint64_t{1} << (entry % kEntryEncoding.fieldsPerWord);
  if (EntryHasFreeUnits(l1, size, entry, wordsPerEntry)) {
    word |= bit;
  } else {
    word &= ~bit;
  }
}

// Rewrites the state of `slot` in l1[index] from level 0: the old state's counter is decremented
// (01: partialSlots, 11: freeSlots), the new state's counter incremented. With W = 0 the slot has
// no words and becomes 00. Requires index < l1.size() and index == slot / 32.
inline void RecomputeSlotState(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                               uint64_t index, uint64_t slot) {
  const uint64_t newState = SlotStateOf(l0, slot, alloc.wordsPerEntry);
  const unsigned shift = static_cast<unsigned>(kSlotEncoding.fieldBits * (slot % kSlotEncoding.fieldsPerWord));
  const uint64_t oldState = (l1[index] >> shift) & kSlotEncoding.fieldMask;
  MoveSlotCounts(alloc.partialSlots, alloc.freeSlots, oldState, newState);
  l1[index] = (l1[index] & ~(kSlotEncoding.fieldMask << shift)) | (newState << shift);
}

// Sets bit entry % 64 of l2[index] when any level-1 word of `entry` is non-zero, clears it
// otherwise (also with W = 0). Requires index < l2.size() and index == entry / 64.
inline void RecomputeEntryBit(const OrvAllocator& alloc, const std::vector<uint64_t>& l1, std::vector<uint64_t>& l2,
                              uint64_t index, uint64_t entry) {
  SetEntryBit(l2[index], l1.data(), l1.size(), entry, alloc.wordsPerEntry);
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_LEVEL_STATE_H_
