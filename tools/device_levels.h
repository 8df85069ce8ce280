// The caller's side of the allocator: a simulated device's level-0 bitmap, and the rebuild of its
// upper levels and slot counters from level 0 for any words-per-entry W.
#ifndef ORV_TOOLS_DEVICE_LEVELS_H_
#define ORV_TOOLS_DEVICE_LEVELS_H_

#include <cstdint>
#include <vector>

#include <orv_alloc/orv_alloc.h>

namespace orv_plan {

// Sizes level 1 and level 2 for `l0` and `alloc.wordsPerEntry`, fills them from `l0`, and sets
// the allocator's two slot counters to match: a slot covers W level-0 words (a last slot with
// fewer words is never wholly free), an entry covers W level-1 words.
void BuildLevels(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                 std::vector<uint64_t>& l2);

// A level-0 bitmap of `units` units (1 = free): the first quarter allocated, the second quarter
// free in runs of varying length between allocated gaps, the second half free.
std::vector<uint64_t> FragmentedLevelZero(uint64_t units);

// Free units in a level-0 bitmap.
uint64_t CountFreeUnits(const std::vector<uint64_t>& l0);

}  // namespace orv_plan

#endif  // ORV_TOOLS_DEVICE_LEVELS_H_
