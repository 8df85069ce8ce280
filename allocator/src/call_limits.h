// The limits a call must respect before any search runs. A call that breaks one is refused
// before anything is read or written, so no caller input can make a search index out of range,
// divide by zero, overflow an offset or a 32-bit length, or loop without end.
#ifndef ORV_ALLOC_CALL_LIMITS_H_
#define ORV_ALLOC_CALL_LIMITS_H_

#include <cstdint>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// No vector this long can exist; capping every level here keeps 64 x (words + W) and similar
// position arithmetic far from overflow.
constexpr uint64_t kMaxLevelWords = uint64_t{1} << 56;

// The request can be served: its unit is the allocator's and non-zero, a run of 64 units fits in
// a 32-bit length, and allocLen is a non-zero whole multiple of the unit.
bool RequestIsServable(const OrvAllocator& alloc, const OrvAllocInfoS& req);

// W is non-zero and the two stored products are exactly 32 x W and 64 x W (so neither wrapped in
// 32 bits nor was changed apart from W).
bool GeometryIsSound(const OrvAllocator& alloc);

// Level 0 is small enough that every unit's byte offset and end fit in 64 bits.
bool LevelZeroIsAddressable(const std::vector<uint64_t>& l0, uint64_t unit);

// No level-1 slot without a single word in level 0 is marked non-zero (level 0 is not shorter than
// level 1 implies). Scans only the level-1 words past those level 0 can fill.
bool SlotsLieInLevelZero(const OrvAllocator& alloc, const std::vector<uint64_t>& l0,
                         const std::vector<uint64_t>& l1);

// No level-2 bit for an entry without a single word in level 1 is set (level 1 is not shorter
// than level 2 implies). Scans only the level-2 words past those level 1 can fill.
bool EntriesLieInLevelOne(const OrvAllocator& alloc, const std::vector<uint64_t>& l1,
                          const std::vector<uint64_t>& l2);

// Everything OrvAllocL2 needs: the above for all three levels, a non-empty level 2 and
// l2Pos < 64 x its word count.
bool LevelTwoSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                             const std::vector<uint64_t>& l1, const std::vector<uint64_t>& l2);

// Everything OrvAllocL1 needs when called directly.
bool LevelOneSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                             const std::vector<uint64_t>& l1);

// Everything OrvAllocL0 needs when called directly.
bool LevelZeroSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0);

}  // namespace orv_alloc

#endif  // ORV_ALLOC_CALL_LIMITS_H_
