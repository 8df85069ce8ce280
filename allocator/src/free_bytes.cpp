// OrvFreeBytes: the free space of a device, counted from level 0.
#include "orv_alloc/orv_alloc.h"

uint64_t OrvAllocator::OrvFreeBytes(const std::vector<uint64_t>& l0) const {
  uint64_t freeUnits = 0;
  for (uint64_t word : l0) {
    freeUnits += static_cast<uint64_t>(__builtin_popcountll(word));
  }
  uint64_t bytes = 0;
  return __builtin_mul_overflow(freeUnits, allocUnit, &bytes) ? UINT64_MAX : bytes;
}
