// Checks of requests, geometry and vector sizes that every search entry point makes first.
#include "call_limits.h"

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "divider.h"

namespace orv_alloc {
namespace {

// Number of groups of W words that hold at least one of `words` words; W != 0.
uint64_t GroupsWithWords(uint64_t words, const Divider& wordsPerGroup) {
  return wordsPerGroup.Quotient(words) + (wordsPerGroup.Remainder(words) != 0 ? 1u : 0u);
}

// Every field of `encoding` from field `firstField` on is zero in the `size` words at `words`.
bool FieldsZeroFrom(const uint64_t* words, uint64_t size, uint64_t firstField, const FieldEncoding& encoding) {
  uint64_t index = firstField / encoding.fieldsPerWord;
  if (index >= size) {
    return true;
  }
  const unsigned firstBit = static_cast<unsigned>((firstField % encoding.fieldsPerWord) * encoding.fieldBits);
  if (BitsFrom(words[index], firstBit) != 0) {
    return false;
  }
  for (++index; index < size; ++index) {
    if (words[index] != 0) {
      return false;
    }
  }
  return true;
}

inline bool IsServable(const OrvAllocator& alloc, const OrvAllocInfoS& req) {
  const uint64_t unit = req.allocUnit;
  return unit == alloc.allocUnit && unit != 0 && unit <= UINT32_MAX / 64u && req.allocLen >= unit &&
         Divider(unit).Remainder(req.allocLen) == 0;
}

inline bool IsSound(const OrvAllocator& alloc) {
  const uint64_t w = alloc.wordsPerEntry;
  return w != 0 && alloc.l1SlotsPerL2Bit == 32u * w && alloc.l0BitsPerL1Slot == 64u * w;
}

inline bool IsAddressable(const std::vector<uint64_t>& l0, uint64_t unit) {
  // words x unit <= floor(UINT64_MAX / 64) is words <= floor(floor(UINT64_MAX / 64) / unit).
  uint64_t bytesPerUnitOfWords = 0;
  return unit != 0 && l0.size() <= kMaxLevelWords &&
         !__builtin_mul_overflow(uint64_t{l0.size()}, unit, &bytesPerUnitOfWords) &&
         bytesPerUnitOfWords <= UINT64_MAX / 64u;
}

inline bool LevelZeroAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0) {
  return IsServable(alloc, req) && IsSound(alloc) && IsAddressable(l0, req.allocUnit);
}

inline bool LevelOneAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                            const std::vector<uint64_t>& l1) {
  return LevelZeroAllowed(alloc, req, l0) && l1.size() <= kMaxLevelWords &&
         FieldsWithoutLowerWordsAreZero(l1.data(), l1.size(), l0.size(), alloc.wordsPerEntry, kSlotEncoding);
}

}  // namespace

bool FieldsPastLowerWordsAreZero(const uint64_t* upper, uint64_t upperWords, uint64_t lowerWords, uint64_t w,
                                 const FieldEncoding& encoding) {
  return FieldsZeroFrom(upper, upperWords, GroupsWithWords(lowerWords, Divider(w)), encoding);
}

bool RequestIsServable(const OrvAllocator& alloc, const OrvAllocInfoS& req) {
  return IsServable(alloc, req);
}

bool GeometryIsSound(const OrvAllocator& alloc) {
  return IsSound(alloc);
}

bool LevelZeroIsAddressable(const std::vector<uint64_t>& l0, uint64_t unit) {
  return IsAddressable(l0, unit);
}

bool SlotsLieInLevelZero(const OrvAllocator& alloc, const std::vector<uint64_t>& l0,
                         const std::vector<uint64_t>& l1) {
  return FieldsWithoutLowerWordsAreZero(l1.data(), l1.size(), l0.size(), alloc.wordsPerEntry, kSlotEncoding);
}

bool EntriesLieInLevelOne(const OrvAllocator& alloc, const std::vector<uint64_t>& l1,
                          const std::vector<uint64_t>& l2) {
  return FieldsWithoutLowerWordsAreZero(l2.data(), l2.size(), l1.size(), alloc.wordsPerEntry, kEntryEncoding);
}

bool LevelZeroSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0) {
  return LevelZeroAllowed(alloc, req, l0);
}

bool LevelOneSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                             const std::vector<uint64_t>& l1) {
  return LevelOneAllowed(alloc, req, l0, l1);
}

}  // namespace orv_alloc
