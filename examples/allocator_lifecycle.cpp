// The whole life of a device with liborv_alloc: build the upper levels from a level 0 the caller
// filled, allocate, release, and ask for the free space after each step. Exits non-zero if any
// step does not give what it should, so it also runs as a test.
#include <orv_alloc/orv_alloc.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  constexpr uint64_t kUnit = 4096;                    // bytes per allocation unit
  constexpr uint64_t kUnits = 1024 * 1024;            // a 4 GiB device
  constexpr uint32_t kWordsPerEntry = 4;              // W: a slot covers 4 x 64 units
  std::vector<uint64_t> l0(kUnits / 64, ~uint64_t{0});  // every unit free
  l0[0] = 0;                                          // except the first 64, kept for a label
  std::vector<uint64_t> l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;
  OrvAllocator alloc(kWordsPerEntry, kUnit, OrvAllocPosS{~uint64_t{0}, ~uint64_t{0}, 0}, partialSlots, freeSlots);

  // 1. Build: levels 1 and 2 and the two counters follow from level 0.
  if (!alloc.OrvBuildLevels(l0, l1, l2)) {
    std::puts("build refused");
    return 1;
  }
  std::printf("built: %zu level-1 words, %zu level-2 words, %llu partial and %llu free slots, %llu bytes free\n",
              l1.size(), l2.size(), static_cast<unsigned long long>(partialSlots),
              static_cast<unsigned long long>(freeSlots), static_cast<unsigned long long>(alloc.OrvFreeBytes(l0)));
  const uint64_t freeAtStart = alloc.OrvFreeBytes(l0);

  // 2. Allocate 1 MiB twice; the extents come back in the caller's vectors.
  std::vector<OrvExtentS> first, second;
  const uint64_t a = alloc.OrvAllocate(OrvAllocInfoS{1 << 20, kUnit}, l0, l1, l2, first);
  const uint64_t b = alloc.OrvAllocate(OrvAllocInfoS{1 << 20, kUnit}, l0, l1, l2, second);
  std::printf("allocated %llu + %llu bytes: first at %llu, second at %llu; %llu bytes free\n",
              static_cast<unsigned long long>(a), static_cast<unsigned long long>(b),
              static_cast<unsigned long long>(first.at(0).offset), static_cast<unsigned long long>(second.at(0).offset),
              static_cast<unsigned long long>(alloc.OrvFreeBytes(l0)));
  if (a != 1 << 20 || b != 1 << 20 || alloc.OrvFreeBytes(l0) != freeAtStart - 2 * (1 << 20)) return 1;

  // 3. Release: the first allocation goes back; releasing it again is a double free, refused.
  const uint64_t released = alloc.OrvRelease(first, l0, l1, l2);
  const uint64_t again = alloc.OrvRelease(first, l0, l1, l2);
  std::printf("released %llu bytes, then %llu on a second try (double free); %llu bytes free\n",
              static_cast<unsigned long long>(released), static_cast<unsigned long long>(again),
              static_cast<unsigned long long>(alloc.OrvFreeBytes(l0)));
  if (released != 1 << 20 || again != 0) return 1;

  // 4. Next fit goes on after the second allocation, not in the space released below the cursor.
  std::vector<OrvExtentS> third;
  alloc.OrvAllocate(OrvAllocInfoS{kUnit, kUnit}, l0, l1, l2, third);
  std::printf("next unit at %llu; partial slots %llu, free slots %llu\n",
              static_cast<unsigned long long>(third.at(0).offset), static_cast<unsigned long long>(partialSlots),
              static_cast<unsigned long long>(freeSlots));
  if (third.at(0).offset != second.at(0).offset + (1 << 20)) return 1;
  if (alloc.OrvRelease(second, l0, l1, l2) != 1 << 20 || alloc.OrvRelease(third, l0, l1, l2) != kUnit) return 1;
  std::printf("all released: %llu bytes free\n", static_cast<unsigned long long>(alloc.OrvFreeBytes(l0)));
  return alloc.OrvFreeBytes(l0) == freeAtStart ? 0 : 1;
}
