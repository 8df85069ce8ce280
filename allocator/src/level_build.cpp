// OrvBuildLevels: sizing and filling levels 1 and 2 and the slot counters from a level 0 that the
// caller filled, the start of a device's life (and the repair after editing level 0 by hand).
#include <utility>

#include "bitmap_encoding.h"
#include "call_limits.h"
#include "level_state.h"
#include "orv_alloc/orv_alloc.h"

bool OrvAllocator::OrvBuildLevels(const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                  std::vector<uint64_t>& l2) {
  using namespace orv_alloc;
  if (!GeometryIsSound(*this) || l0.size() > kMaxLevelWords) {
    return false;
  }
  const uint64_t w = wordsPerEntry;
  const uint64_t slots = CeilDiv(l0.size(), w);
  // Built aside and swapped in, so a failed allocation leaves the caller's levels as they were.
  std::vector<uint64_t> newL1(LevelOneWords(l0.size(), w), 0);
  std::vector<uint64_t> newL2(LevelTwoWords(newL1.size(), w), 0);
  uint64_t partial = 0;
  uint64_t allFree = 0;
  for (uint64_t slot = 0; slot < slots; ++slot) {
    const uint64_t state = SlotStateOf(l0, slot, w);
    partial += state == kSlotSomeFree ? 1u : 0u;
    allFree += state == kSlotAllFree ? 1u : 0u;
    const unsigned shift = kSlotEncoding.fieldBits * static_cast<unsigned>(slot % kSlotEncoding.fieldsPerWord);
    newL1[slot / kSlotEncoding.fieldsPerWord] |= state << shift;
  }
  const uint64_t entries = CeilDiv(newL1.size(), w);
  for (uint64_t entry = 0; entry < entries; ++entry) {
    if (EntryHasFreeUnits(newL1, entry, w)) {
      newL2[entry / kEntryEncoding.fieldsPerWord] |= uint64_t{1} << (entry % kEntryEncoding.fieldsPerWord);
    }
  }
  l1.swap(newL1);
  l2.swap(newL2);
  partialSlots = partial;
  freeSlots = allFree;
  return true;
}
