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

// Every field of `encoding` from field `firstField` on is zero in `words`. Checked on every call:
// for levels of the usual sizes the first field lies past the last word and nothing is read.
bool FieldsZeroFrom(const std::vector<uint64_t>& words, uint64_t firstField, const FieldEncoding& encoding) {
  uint64_t index = firstField / encoding.fieldsPerWord;
  if (index >= words.size()) {
    return true;
  }
  const unsigned firstBit = static_cast<unsigned>((firstField % encoding.fieldsPerWord) * encoding.fieldBits);
  if (BitsFrom(words[index], firstBit) != 0) {
    return false;
  }
  for (++index; index < words.size(); ++index) {
    if (words[index] != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool RequestIsServable(const OrvAllocator& alloc, const OrvAllocInfoS& req) {
  const uint64_t unit = req.allocUnit;
  return unit == alloc.allocUnit && unit != 0 && unit <= UINT32_MAX / 64u && req.allocLen >= unit &&
         Divider(unit).Remainder(req.allocLen) == 0;
}

bool GeometryIsSound(const OrvAllocator& alloc) {
  const uint64_t w = alloc.wordsPerEntry;
  return w != 0 && alloc.l1SlotsPerL2Bit == 32u * w && alloc.l0BitsPerL1Slot == 64u * w;
}

bool LevelZeroIsAddressable(const std::vector<uint64_t>& l0, uint64_t unit) {
  // words x unit <= floor(UINT64_MAX / 64) is words <= floor(floor(UINT64_MAX / 64) / unit).
  uint64_t bytesPerUnitOfWords = 0;
  return unit != 0 && l0.size() <= kMaxLevelWords &&
         !__builtin_mul_overflow(uint64_t{l0.size()}, unit, &bytesPerUnitOfWords) &&
         bytesPerUnitOfWords <= UINT64_MAX / 64u;
}

bool SlotsLieInLevelZero(const OrvAllocator& alloc, const std::vector<uint64_t>& l0,
                         const std::vector<uint64_t>& l1) {
  return FieldsZeroFrom(l1, GroupsWithWords(l0.size(), Divider(alloc.wordsPerEntry)), kSlotEncoding);
}

bool EntriesLieInLevelOne(const OrvAllocator& alloc, const std::vector<uint64_t>& l1,
                          const std::vector<uint64_t>& l2) {
  return FieldsZeroFrom(l2, GroupsWithWords(l1.size(), Divider(alloc.wordsPerEntry)), kEntryEncoding);
}

bool LevelZeroSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0) {
  return RequestIsServable(alloc, req) && GeometryIsSound(alloc) && LevelZeroIsAddressable(l0, req.allocUnit);
}

bool LevelOneSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                             const std::vector<uint64_t>& l1) {
  return LevelZeroSearchIsAllowed(alloc, req, l0) && l1.size() <= kMaxLevelWords &&
         SlotsLieInLevelZero(alloc, l0, l1);
}

bool LevelTwoSearchIsAllowed(const OrvAllocator& alloc, const OrvAllocInfoS& req, const std::vector<uint64_t>& l0,
                             const std::vector<uint64_t>& l1, const std::vector<uint64_t>& l2) {
  return !l2.empty() && l2.size() <= kMaxLevelWords && alloc.pos.l2Pos / 64u < l2.size() &&
         LevelOneSearchIsAllowed(alloc, req, l0, l1) && EntriesLieInLevelOne(alloc, l1, l2);
}

}  // namespace orv_alloc
