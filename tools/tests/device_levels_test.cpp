// The rebuild of a device's upper levels against a unit-by-unit model, for several words per
// entry and level-0 sizes that leave the last slot and entry short; and an allocator working from
// the rebuilt levels finds every free unit.
#include <gtest/gtest.h>

#include <vector>

#include "device_levels.h"

namespace {

constexpr uint64_t kUnset = ~uint64_t{0};

TEST(DeviceLevels, RebuildMatchesUnitModelAndServesEveryFreeUnit) {
  uint32_t seed = 99;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 4;
  };
  for (uint32_t w = 1; w <= 5; ++w) {
    for (size_t words = 1; words <= 140; words += 1 + next() % 13) {
      std::vector<uint64_t> l0(words);
      for (auto& word : l0) {
        const uint32_t kind = next() % 4;  // whole words empty or full are common in real bitmaps
        word = kind == 0 ? uint64_t{0} : kind == 1 ? ~uint64_t{0} : (uint64_t{next()} << 32 | next()) & (uint64_t{next()} << 3);
      }
      uint64_t partial = 7;
      uint64_t full = 7;
      OrvAllocator alloc(w, 4096, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
      std::vector<uint64_t> l1{123};
      std::vector<uint64_t> l2{456};
      orv_plan::BuildLevels(alloc, l0, l1, l2);

      const uint64_t unitsPerSlot = 64u * w;
      const uint64_t slots = (words + w - 1) / w;
      const uint64_t l1Words = (slots + 31) / 32;
      ASSERT_EQ(l1.size(), l1Words) << "W " << w << " words " << words;
      ASSERT_EQ(l2.size(), ((l1Words + w - 1) / w + 63) / 64);
      uint64_t wantPartial = 0;
      uint64_t wantFull = 0;
      for (uint64_t s = 0; s < l1Words * 32; ++s) {
        uint64_t freeUnits = 0;
        for (uint64_t u = s * unitsPerSlot; u < (s + 1) * unitsPerSlot; ++u) {
          freeUnits += (u / 64 < words && (l0[u / 64] >> (u % 64) & 1u)) ? 1u : 0u;
        }
        const uint64_t want = freeUnits == 0 ? 0u : freeUnits == unitsPerSlot ? 3u : 1u;
        wantPartial += want == 1 ? 1u : 0u;
        wantFull += want == 3 ? 1u : 0u;
        ASSERT_EQ(l1[s / 32] >> (2 * (s % 32)) & 3u, want) << "W " << w << " words " << words << " slot " << s;
      }
      EXPECT_EQ(partial, wantPartial);
      EXPECT_EQ(full, wantFull);
      for (uint64_t t = 0; t < l2.size() * 64; ++t) {
        bool any = false;
        for (uint64_t i = t * w; i < (t + 1) * w && i < l1.size(); ++i) any = any || l1[i] != 0;
        ASSERT_EQ((l2[t / 64] >> (t % 64) & 1u) != 0, any) << "W " << w << " words " << words << " entry " << t;
      }

      const uint64_t freeUnits = orv_plan::CountFreeUnits(l0);
      if (freeUnits == 0) continue;
      std::vector<OrvExtentS> out;
      EXPECT_EQ(alloc.OrvAllocate(OrvAllocInfoS{freeUnits * 4096, 4096}, l0, l1, l2, out), freeUnits * 4096);
      EXPECT_EQ(orv_plan::CountFreeUnits(l0), 0u);
      EXPECT_EQ(partial + full, 0u);
    }
  }
}

}  // namespace
