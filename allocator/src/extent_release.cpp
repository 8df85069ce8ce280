// OrvRelease: giving allocated extents back. The call is all or nothing: each extent is checked
// and its units set in level 0 a word at a time (a bad extent, or a unit found free already,
// before the call or by an earlier extent of the call, undoes what was set and refuses); only
// then are the touched slots and entries recomputed.
#include <cstddef>

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "call_limits.h"
#include "divider.h"
#include "level_state.h"
#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {
namespace {

// An extent in units: [first, first + count).
struct UnitRange {
  uint64_t first;
  uint64_t count;
};

UnitRange UnitsOf(const OrvExtentS& e, const Divider& unit) {
  return UnitRange{unit.Quotient(e.offset), unit.Quotient(e.length)};
}

// Calls visit(word, mask) for each level-0 word the range touches, in order, while visit returns
// true; returns the number of units of the words visited in full.
template <class Visit>
uint64_t ForEachWordOf(UnitRange r, Visit visit) {
  uint64_t word = r.first / kUnitsPerWord;
  unsigned bit = static_cast<unsigned>(r.first % kUnitsPerWord);
  uint64_t left = r.count;
  uint64_t done = 0;
  while (left != 0) {
    const unsigned n = left < kUnitsPerWord - bit ? static_cast<unsigned>(left) : kUnitsPerWord - bit;
    if (!visit(word, RunMask(bit, n))) {
      return done;
    }
    done += n;
    left -= n;
    ++word;
    bit = 0;
  }
  return done;
}

void MarkAllocated(std::vector<uint64_t>& l0, UnitRange r) {
  ForEachWordOf(r, [&l0](uint64_t word, uint64_t mask) {
    l0[word] &= ~mask;
    return true;
  });
}

// Sets the range's bits; false, with the range's bits as they were, if any was set already.
bool MarkFree(std::vector<uint64_t>& l0, UnitRange r) {
  const unsigned bit = static_cast<unsigned>(r.first % kUnitsPerWord);
  if (bit + r.count <= kUnitsPerWord) {  // the usual extent: inside one word, one mask
    uint64_t& word = l0[r.first / kUnitsPerWord];
    const uint64_t mask = RunMask(bit, static_cast<unsigned>(r.count));
    if ((word & mask) != 0) {
      return false;
    }
    word |= mask;
    return true;
  }
  bool clash = false;
  const uint64_t done = ForEachWordOf(r, [&l0, &clash](uint64_t word, uint64_t mask) {
    clash = (l0[word] & mask) != 0;
    if (!clash) {
      l0[word] |= mask;
    }
    return !clash;
  });
  if (clash) {
    MarkAllocated(l0, UnitRange{r.first, done});
  }
  return !clash;
}

// Clears again the units of the first `count` extents, which this call has set.
void UndoMarks(std::vector<uint64_t>& l0, const std::vector<OrvExtentS>& extents, std::size_t count,
               const Divider& unit) {
  for (std::size_t j = 0; j < count; ++j) {
    MarkAllocated(l0, UnitsOf(extents[j], unit));
  }
}

// Levels 1 and 2 hold the slot and entry of every unit below `end`.
bool LevelsHoldUnitsBelow(const OrvAllocator& alloc, uint64_t end, const std::vector<uint64_t>& l1,
                          const std::vector<uint64_t>& l2) {
  if (end == 0) {
    return true;
  }
  const uint64_t lastSlot = Divider(alloc.l0BitsPerL1Slot).Quotient(end - 1);
  const uint64_t lastL1Word = lastSlot / kSlotEncoding.fieldsPerWord;
  const uint64_t lastEntry = Divider(alloc.wordsPerEntry).Quotient(lastL1Word);
  return lastL1Word < l1.size() && lastEntry / kEntryEncoding.fieldsPerWord < l2.size();
}

uint64_t ReleaseExtents(OrvAllocator& alloc, const std::vector<OrvExtentS>& extents, std::vector<uint64_t>& l0,
                        std::vector<uint64_t>& l1, std::vector<uint64_t>& l2) {
  if (!GeometryIsSound(alloc) || !LevelZeroIsAddressable(l0, alloc.allocUnit)) {
    return 0;
  }
  const Divider unit(alloc.allocUnit);
  const uint64_t totalUnits = kUnitsPerWord * l0.size();
  uint64_t end = 0;  // one past the highest unit released
  uint64_t bytes = 0;
  // One pass checks each extent and sets its units. An extent that is not whole units, runs past
  // level 0 or meets a free unit (a double free, or an overlap with an earlier extent of the call)
  // undoes the earlier extents, whose units were all allocated before the call.
  for (std::size_t k = 0; k < extents.size(); ++k) {
    const OrvExtentS& e = extents[k];
    const UnitRange r = UnitsOf(e, unit);
    if (e.length == 0 || unit.Remainder(e.offset) != 0 || unit.Remainder(e.length) != 0 || r.first >= totalUnits ||
        r.count > totalUnits - r.first || !MarkFree(l0, r)) {
      UndoMarks(l0, extents, k, unit);
      return 0;
    }
    end = r.first + r.count > end ? r.first + r.count : end;
    bytes += e.length;  // no overlap, so at most the device's bytes
  }
  if (!LevelsHoldUnitsBelow(alloc, end, l1, l2)) {
    UndoMarks(l0, extents, extents.size(), unit);
    return 0;
  }
  // Every touched slot now holds a free unit, so its entry's bit is set without a look at level 1.
  const Divider unitsPerSlot(alloc.l0BitsPerL1Slot);
  const Divider wordsPerEntry(alloc.wordsPerEntry);
  uint64_t lastSlotDone = kUnsetPos;
  for (const OrvExtentS& e : extents) {
    const UnitRange r = UnitsOf(e, unit);
    const uint64_t lastSlot = unitsPerSlot.Quotient(r.first + r.count - 1);
    for (uint64_t slot = unitsPerSlot.Quotient(r.first); slot <= lastSlot; ++slot) {
      if (slot == lastSlotDone) {
        continue;
      }
      const uint64_t l1Word = slot / kSlotEncoding.fieldsPerWord;
      RecomputeSlotState(alloc, l0, l1, l1Word, slot);
      const uint64_t entry = wordsPerEntry.Quotient(l1Word);
      l2[entry / kEntryEncoding.fieldsPerWord] |= uint64_t{1} << (entry % kEntryEncoding.fieldsPerWord);
      lastSlotDone = slot;
    }
  }
  return bytes;
}

}  // namespace
}  // namespace orv_alloc

uint64_t OrvAllocator::OrvRelease(const std::vector<OrvExtentS>& extents, std::vector<uint64_t>& l0,
                                  std::vector<uint64_t>& l1, std::vector<uint64_t>& l2) {
  return orv_alloc::ReleaseExtents(*this, extents, l0, l1, l2);
}
