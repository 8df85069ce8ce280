// The limits a call must respect before any search runs. A call that breaks one is refused
// before anything is read or written, so no caller input can make a search index out of range,
// divide by zero, overflow an offset or a 32-bit length, or loop without end.
#ifndef ORV_ALLOC_CALL_LIMITS_H_
#define ORV_ALLOC_CALL_LIMITS_H_

#include <cstdint>
#include <vector>

#include "bitmap_encoding.h"
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

// Every field of `upper` (`upperWords` words) for a group of W lower words at or past
// `lowerWords` is zero; the slow part of the next check, reading only those fields.
bool FieldsPastLowerWordsAreZero(const uint64_t* upper, uint64_t upperWords, uint64_t lowerWords, uint64_t w,
                                 const FieldEncoding& encoding);

// No field of an upper level of `upperWords` words that has no word in a lower level of
// `lowerWords` words is set (each field covers W lower words; W != 0). Levels sized by
// OrvBuildLevels are settled by one multiplication: every field then has a lower word, and
// nothing is read.
inline bool FieldsWithoutLowerWordsAreZero(const uint64_t* upper, uint64_t upperWords, uint64_t lowerWords, uint64_t w,
                                           const FieldEncoding& encoding) {
  uint64_t coveredWords = 0;  // lower words that all of upper's fields cover, W per field
  if (__builtin_expect(!__builtin_mul_overflow(upperWords, encoding.fieldsPerWord * w, &coveredWords) &&
                           coveredWords < lowerWords + w,
                       1)) {
    return true;
  }
  return FieldsPastLowerWordsAreZero(upper, upperWords, lowerWords, w, encoding);
}

// The three levels' words and word counts, read from the vectors once per call (an out-of-line
// call would otherwise force them to be read again).
struct LevelWords {
  uint64_t* l0;
  uint64_t n0;
  uint64_t* l1;
  uint64_t n1;
  uint64_t* l2;
  uint64_t n2;
};

inline LevelWords WordsOf(std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, std::vector<uint64_t>& l2) {
  return LevelWords{l0.data(), l0.size(), l1.data(), l1.size(), l2.data(), l2.size()};
}

// Everything OrvAllocL2 needs: the above for all three levels, a non-empty level 2 and
// l2Pos < 64 x its word count. Inline, as it runs on every allocation; the slow part of the level
// checks only runs for levels longer than OrvBuildLevels makes them.
inline bool LevelTwoSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const LevelWords& levels) {
  const uint64_t n0 = levels.n0;
  const uint64_t n1 = levels.n1;
  const uint64_t n2 = levels.n2;
  const uint64_t unit = req.allocUnit;
  const uint64_t w = alloc.wordsPerEntry;
  uint64_t l0Bytes = 0;  // n0 x unit
  // unit - 1 and w - 1 wrap for a zero unit or W, which so fail their bounds.
  if (__builtin_expect(unit != alloc.allocUnit || unit - 1 >= UINT32_MAX / 64u || req.allocLen < unit ||
                           w - 1 >= UINT32_MAX || alloc.l1SlotsPerL2Bit != 32u * w ||
                           alloc.l0BitsPerL1Slot != 64u * w || n2 - 1 >= kMaxLevelWords ||
                           alloc.pos.l2Pos / 64u >= n2 || n1 > kMaxLevelWords || n0 > kMaxLevelWords ||
                           __builtin_mul_overflow(n0, unit, &l0Bytes) || l0Bytes > UINT64_MAX / 64u,
                       0)) {
    return false;
  }
  // allocLen a whole number of units; the unit is almost always a power of two.
  const bool whole = (unit & (unit - 1)) == 0 ? (req.allocLen & (unit - 1)) == 0 : req.allocLen % unit == 0;
  if (__builtin_expect(!whole, 0)) {
    return false;
  }
  return FieldsWithoutLowerWordsAreZero(levels.l1, n1, n0, w, kSlotEncoding) &&
         FieldsWithoutLowerWordsAreZero(levels.l2, n2, n1, w, kEntryEncoding);
}

// Everything OrvAllocL1 needs when called directly.
bool LevelOneSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                             const std::vector<uint64_t>& l1);

// Everything OrvAllocL0 needs when called directly.
bool LevelZeroSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0);

}  // namespace orv_alloc

#endif  // ORV_ALLOC_CALL_LIMITS_H_
