// Recomputing level-1 slot states and level-2 bits, and the exported AdjL1SlotValue and
// AdjL2SlotValue, which refuse (do nothing for) a word index that is out of range or does not hold
// the given slot or entry.
#include "level_state.h"

#include "bit_words.h"

namespace orv_alloc {
namespace {

// The words of group `group` (W words each) that exist in a vector of `size` words: [first, first
// + count). count is 0 when W is 0 or the group starts at or past the end.
struct GroupWords {
  uint64_t first;
  uint64_t count;
};

GroupWords WordsOfGroup(uint64_t group, uint64_t wordsPerGroup, uint64_t size) {
  if (wordsPerGroup == 0 || group >= size / wordsPerGroup + 1) {
    return GroupWords{0, 0};
  }
  const uint64_t first = group * wordsPerGroup;  // <= size: no overflow
  const uint64_t left = size - first;
  return GroupWords{first, left < wordsPerGroup ? left : wordsPerGroup};
}

}  // namespace

void RecomputeSlotState(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                        uint64_t index, uint64_t slot) {
  const uint64_t wordsPerSlot = alloc.wordsPerEntry;
  const GroupWords words = WordsOfGroup(slot, wordsPerSlot, l0.size());
  uint64_t anyBits = 0;
  uint64_t commonBits = kAllOnes;
  for (uint64_t k = 0; k < words.count; ++k) {
    const uint64_t word = l0[words.first + k];
    anyBits |= word;
    commonBits &= word;
    if (anyBits != 0 && commonBits != kAllOnes) {
      break;  // partly free: nothing further can change the verdict
    }
  }
  const bool allZero = anyBits == 0;
  // Words missing at the end of level 0 count as allocated.
  const bool allOnes = words.count == wordsPerSlot && commonBits == kAllOnes;

  const unsigned shift = static_cast<unsigned>(2u * (slot % 32u));
  const uint64_t oldState = (l1[index] >> shift) & 3u;
  if (oldState == kSlotSomeFree) {
    --alloc.partialSlots;
  } else if (oldState == kSlotAllFree) {
    --alloc.freeSlots;
  }
  uint64_t newState = kSlotNoneFree;
  if (allZero) {
    newState = kSlotNoneFree;
  } else if (allOnes) {
    newState = kSlotAllFree;
    ++alloc.freeSlots;
  } else {
    newState = kSlotSomeFree;
    ++alloc.partialSlots;
  }
  l1[index] = (l1[index] & ~(uint64_t{3} << shift)) | (newState << shift);
}

void RecomputeEntryBit(const OrvAllocator& alloc, const std::vector<uint64_t>& l1, std::vector<uint64_t>& l2,
                       uint64_t index, uint64_t entry) {
  const GroupWords words = WordsOfGroup(entry, alloc.wordsPerEntry, l1.size());
  bool anyNonZero = false;
  for (uint64_t k = 0; k < words.count && !anyNonZero; ++k) {
    anyNonZero = l1[words.first + k] != 0;
  }
  const uint64_t bit = uint64_t{1} << (entry % 64u);
  if (anyNonZero) {
    l2[index] |= bit;
  } else {
    l2[index] &= ~bit;
  }
}

}  // namespace orv_alloc

void OrvAllocator::AdjL1SlotValue(std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, uint64_t index,
                                  uint64_t slot) {
  if (index >= l1.size() || slot / 32u != index) {
    return;
  }
  orv_alloc::RecomputeSlotState(*this, l0, l1, index, slot);
}

void OrvAllocator::AdjL2SlotValue(std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, uint64_t index,
                                  uint64_t slot) {
  if (index >= l2.size() || slot / 64u != index) {
    return;
  }
  orv_alloc::RecomputeEntryBit(*this, l1, l2, index, slot);
}
