// The caller's side of the allocator: a simulated device's level-0 bitmap, its upper levels and
// slot counters built from level 0 by the allocator for any words-per-entry W, and its free units.
#ifndef ORV_TOOLS_DEVICE_LEVELS_H_
#define ORV_TOOLS_DEVICE_LEVELS_H_

#include <cstdint>
#include <vector>

#include <orv_alloc/orv_alloc.h>

namespace orv_plan {

// Sizes level 1 and level 2 for `l0` and `alloc.wordsPerEntry`, fills them from `l0`, and sets
// the allocator's two slot counters to match (OrvAllocator::OrvBuildLevels). Throws
// std::logic_error if the allocator refuses, which valid options never cause.
void BuildLevels(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                 std::vector<uint64_t>& l2);

// A level-0 bitmap of `units` units (1 = free): the first quarter allocated, the second quarter
// free in runs of varying length between allocated gaps, the second half free.
std::vector<uint64_t> FragmentedLevelZero(uint64_t units);

// Free units in a level-0 bitmap.
uint64_t CountFreeUnits(const std::vector<uint64_t>& l0);

}  // namespace orv_plan

#endif  // ORV_TOOLS_DEVICE_LEVELS_H_
