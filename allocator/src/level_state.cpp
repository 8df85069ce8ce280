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
  uint64_t first = 0;
  if (wordsPerGroup == 0 || __builtin_mul_overflow(group, wordsPerGroup, &first) || first >= size) {
    return GroupWords{0, 0};
  }
  const uint64_t left = size - first;
  return GroupWords{first, left < wordsPerGroup ? left : wordsPerGroup};
}

}  // namespace

uint64_t SlotStateOf(const std::vector<uint64_t>& l0, uint64_t slot, uint64_t wordsPerSlot) {
  const GroupWords words = WordsOfGroup(slot, wordsPerSlot, l0.size());
  uint64_t anyBits = 0;
  uint64_t commonBits = kAllOnes;
  for (uint64_t k = 0; k < words.count; ++k) {
    const uint64_t word = l0[words.first + k];
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
  return words.count == wordsPerSlot && commonBits == kAllOnes ? kSlotAllFree : kSlotSomeFree;
}

bool EntryHasFreeUnits(const std::vector<uint64_t>& l1, uint64_t entry, uint64_t wordsPerEntry) {
  const GroupWords words = WordsOfGroup(entry, wordsPerEntry, l1.size());
  for (uint64_t k = 0; k < words.count; ++k) {
    if (l1[words.first + k] != 0) {
      return true;
    }
  }
  return false;
}

void RecomputeSlotState(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                        uint64_t index, uint64_t slot) {
  const uint64_t newState = SlotStateOf(l0, slot, alloc.wordsPerEntry);
  const unsigned shift = static_cast<unsigned>(kSlotEncoding.fieldBits * (slot % kSlotEncoding.fieldsPerWord));
  const uint64_t oldState = (l1[index] >> shift) & kSlotEncoding.fieldMask;
  if (oldState == kSlotSomeFree) {
    --alloc.partialSlots;
  } else if (oldState == kSlotAllFree) {
    --alloc.freeSlots;
  }
  if (newState == kSlotSomeFree) {
    ++alloc.partialSlots;
  } else if (newState == kSlotAllFree) {
    ++alloc.freeSlots;
  }
  l1[index] = (l1[index] & ~(kSlotEncoding.fieldMask << shift)) | (newState << shift);
}

void RecomputeEntryBit(const OrvAllocator& alloc, const std::vector<uint64_t>& l1, std::vector<uint64_t>& l2,
                       uint64_t index, uint64_t entry) {
  const uint64_t bit = uint64_t{1} << (entry % kEntryEncoding.fieldsPerWord);
  if (EntryHasFreeUnits(l1, entry, alloc.wordsPerEntry)) {
    l2[index] |= bit;
  } else {
    l2[index] &= ~bit;
  }
}

}  // namespace orv_alloc

void OrvAllocator::AdjL1SlotValue(std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, uint64_t index,
                                  uint64_t slot) {
  if (index >= l1.size() || slot / orv_alloc::kSlotEncoding.fieldsPerWord != index) {
    return;
  }
  orv_alloc::RecomputeSlotState(*this, l0, l1, index, slot);
}

void OrvAllocator::AdjL2SlotValue(std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, uint64_t index,
                                  uint64_t slot) {
  if (index >= l2.size() || slot / orv_alloc::kEntryEncoding.fieldsPerWord != index) {
    return;
  }
  orv_alloc::RecomputeEntryBit(*this, l1, l2, index, slot);
}
