// OrvAllocator construction.
#include "orv_alloc/orv_alloc.h"

OrvAllocator::OrvAllocator(uint32_t wordsPerEntryArg, uint64_t allocUnitArg, OrvAllocPosS posArg,
                           uint64_t& partialSlotsArg, uint64_t& freeSlotsArg)
    : allocUnit(allocUnitArg),
      partialSlots(partialSlotsArg),
      freeSlots(freeSlotsArg),
      pos(posArg),
      wordsPerEntry(wordsPerEntryArg),
      l1SlotsPerL2Bit(32u * wordsPerEntryArg),
      l0BitsPerL1Slot(64u * wordsPerEntryArg) {}
