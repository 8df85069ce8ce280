// Upkeep of the upper levels: recomputing one level-1 slot state (and the two slot counters) from
// level 0, and one level-2 bit from level 1.
//
// A group (the W level-0 words of a slot, the W level-1 words of an entry) may run past the end of
// its vector when the vector's length is not a multiple of W. The missing words count as zero:
// units that do not exist are never free, so such a slot is never in state 11.
#ifndef ORV_ALLOC_LEVEL_STATE_H_
#define ORV_ALLOC_LEVEL_STATE_H_

#include <cstdint>
#include <vector>

#include "bitmap_encoding.h"
#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// The state (00, 01 or 11) that level 0 gives slot `slot` of W words; 00 when W is 0.
uint64_t SlotStateOf(const std::vector<uint64_t>& l0, uint64_t slot, uint64_t wordsPerSlot);

// Whether any of the W level-1 words of `entry` is non-zero; false when W is 0.
bool EntryHasFreeUnits(const std::vector<uint64_t>& l1, uint64_t entry, uint64_t wordsPerEntry);

// Rewrites the state of `slot` in l1[index] from level 0: the old state's counter is decremented
// (01: partialSlots, 11: freeSlots), the new state's counter incremented. With W = 0 the slot has
// no words and becomes 00. Requires index < l1.size() and index == slot / 32.
void RecomputeSlotState(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                        uint64_t index, uint64_t slot);

// Sets bit entry % 64 of l2[index] when any level-1 word of `entry` is non-zero, clears it
// otherwise (also with W = 0). Requires index < l2.size() and index == entry / 64.
void RecomputeEntryBit(const OrvAllocator& alloc, const std::vector<uint64_t>& l1, std::vector<uint64_t>& l2,
                       uint64_t index, uint64_t entry);

}  // namespace orv_alloc

#endif  // ORV_ALLOC_LEVEL_STATE_H_
