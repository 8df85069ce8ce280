// The exported AdjL1SlotValue and AdjL2SlotValue over the level upkeep of level_state.h. They
// refuse (do nothing for) a word index that is out of range or does not hold the given slot or
// entry.
#include "level_state.h"

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
