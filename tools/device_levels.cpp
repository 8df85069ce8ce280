// Building a device's upper allocator levels from level 0, and the fragmented device that
// orv_plan allocates from.
#include "device_levels.h"

namespace orv_plan {
namespace {

constexpr uint64_t kAllOnes = ~uint64_t{0};

uint64_t GroupsOf(uint64_t words, uint64_t perGroup) { return words / perGroup + (words % perGroup != 0 ? 1 : 0); }

}  // namespace

void BuildLevels(OrvAllocator& alloc, const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                 std::vector<uint64_t>& l2) {
  const uint64_t w = alloc.wordsPerEntry == 0 ? 1 : alloc.wordsPerEntry;
  const uint64_t slots = GroupsOf(l0.size(), w);
  l1.assign(GroupsOf(slots, 32), 0);
  alloc.partialSlots = 0;
  alloc.freeSlots = 0;
  for (uint64_t s = 0; s < slots; ++s) {
    uint64_t any = 0;
    uint64_t all = kAllOnes;
    uint64_t words = 0;
    for (uint64_t i = s * w; i < l0.size() && i < s * w + w; ++i, ++words) {
      any |= l0[i];
      all &= l0[i];
    }
    uint64_t state = 0;
    if (words == w && all == kAllOnes) {
      state = 3;
      ++alloc.freeSlots;
    } else if (any != 0) {
      state = 1;
      ++alloc.partialSlots;
    }
    l1[s / 32] |= state << (2 * (s % 32));
  }
  const uint64_t entries = GroupsOf(l1.size(), w);
  l2.assign(GroupsOf(entries, 64), 0);
  for (uint64_t t = 0; t < l1.size(); ++t) {
    if (l1[t] != 0) l2[t / w / 64] |= uint64_t{1} << (t / w % 64);
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
  uint64_t n = 0;
  for (uint64_t word : l0) n += static_cast<uint64_t>(__builtin_popcountll(word));
  return n;
}

}  // namespace orv_plan
