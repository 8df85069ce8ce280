// The device orv_plan allocates from: its fragmented level 0, and its upper levels and free space
// as the allocator itself builds and counts them.
#include "device_levels.h"

#include <stdexcept>

namespace orv_plan {

void BuildLevels(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                 std::vector<uint64_t>& l2) {
  if (!alloc.OrvBuildLevels(l0, l1, l2)) {
    // Only a words-per-entry of 0 or a level 0 too large to address is refused; the options
    // rule both out, so a refusal here is a fault of the tool.
    throw std::logic_error("the allocator refused to build the levels of the simulated device");
  }
}

std::vector<uint64_t> FragmentedLevelZero(uint64_t units) {
  std::vector<uint64_t> l0((units + 63) / 64, 0);
  uint32_t state = 777;
  for (uint64_t u = units / 4; u < units; ++u) {
    state = state * 1664525u + 1013904223u;
    if (u >= units / 2 || (state >> 28) >= 5) l0[u / 64] |= uint64_t{1} << (u % 64);
  }
  return l0;
}

uint64_t CountFreeUnits(const std::vector<uint64_t>& l0) {
  uint64_t partial = 0;
  uint64_t full = 0;
  const OrvAllocator counter(1, 1, OrvAllocPosS{~uint64_t{0}, ~uint64_t{0}, 0}, partial, full);
  return counter.OrvFreeBytes(l0);  // with a unit of one byte, free bytes are free units
}

}  // namespace orv_plan
