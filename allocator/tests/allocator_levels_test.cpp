// OrvBuildLevels against the brute-force levels for random level-0 contents, W and lengths
// (including lengths that are not a multiple of W); its refusals; the refusals of OrvRelease that
// the randomized model cannot reach (bad geometry, levels too short for the released units); and
// OrvFreeBytes at the edge of 64 bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "alloc_model.h"
#include "orv_alloc/orv_alloc.h"

// The header's version is the one the library is built and installed as (liborv_alloc.so.1.M.P).
static_assert(ORV_ALLOC_VERSION_MAJOR == ORV_PROJECT_VERSION_MAJOR &&
                  ORV_ALLOC_VERSION_MINOR == ORV_PROJECT_VERSION_MINOR &&
                  ORV_ALLOC_VERSION_PATCH == ORV_PROJECT_VERSION_PATCH,
              "orv_alloc.h's version macros differ from the project version");

namespace {

using alloc_test::kUnset;

constexpr uint64_t kUnit = 4096;

std::vector<uint64_t> RandomLevelZero(uint64_t words, std::mt19937_64& rng) {
  std::vector<uint64_t> l0(words);
  for (uint64_t& word : l0) {
    switch (rng() % 4) {
      case 0: word = 0; break;
      case 1: word = ~uint64_t{0}; break;
      default: word = rng() & rng(); break;
    }
  }
  return l0;
}

TEST(AllocatorLevelsTest, BuiltLevelsEqualTheBruteForceLevels) {
  std::mt19937_64 rng(7);
  for (uint32_t w : {1u, 2u, 3u, 8u}) {
    // Lengths around slot and entry boundaries, W x 32 x 64 words filling one level-2 word.
    for (uint64_t words : {uint64_t{0}, uint64_t{1}, uint64_t{w} + 1, uint64_t{32} * w - 1, uint64_t{32} * w + 5,
                           uint64_t{2048} * w * w + 3, uint64_t{4096} * w * w + 2 * uint64_t{w} - 1}) {
      SCOPED_TRACE(::testing::Message() << "W=" << w << " words=" << words);
      const std::vector<uint64_t> l0 = RandomLevelZero(words, rng);
      uint64_t partial = 12345;
      uint64_t full = 678;
      OrvAllocator a(w, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
      std::vector<uint64_t> l1(3, 0xdead), l2(7, 0xbeef);  // replaced, whatever they held
      ASSERT_TRUE(a.OrvBuildLevels(l0, l1, l2));

      const uint64_t n1 = alloc_test::CeilDiv(alloc_test::CeilDiv(words, w), 32);
      const uint64_t n2 = std::max<uint64_t>(1, alloc_test::CeilDiv(alloc_test::CeilDiv(n1, w), 64));
      EXPECT_EQ(l1.size(), n1);
      EXPECT_EQ(l2.size(), n2);
      EXPECT_TRUE((alloc_test::UpperLevels{l1, l2, partial, full}) == alloc_test::ExpectedUpperLevels(w, l0, n1, n2));
    }
  }
}

TEST(AllocatorLevelsTest, BuildRefusalsChangeNothing) {
  const std::vector<uint64_t> l0(100, ~uint64_t{0});
  // W = 0, and a W whose 64 x W wraps in 32 bits.
  for (uint32_t w : {0u, 1u << 26, (1u << 26) + 3}) {
    uint64_t partial = 5;
    uint64_t full = 6;
    OrvAllocator a(w, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
    std::vector<uint64_t> l1{1, 2}, l2{3};
    EXPECT_FALSE(a.OrvBuildLevels(l0, l1, l2)) << "W=" << w;
    EXPECT_EQ(l1, (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(l2, (std::vector<uint64_t>{3}));
    EXPECT_EQ(partial, 5u);
    EXPECT_EQ(full, 6u);
  }
}

TEST(AllocatorLevelsTest, ReleaseRefusesWhatTheLevelsCannotHold) {
  auto expectRefused = [](OrvAllocator& a, alloc_test::Device& d, const std::vector<OrvExtentS>& extents) {
    const alloc_test::Device before = d;
    EXPECT_EQ(a.OrvRelease(extents, d.l0, d.l1, d.l2), 0u);
    EXPECT_EQ(d.l0, before.l0);
    EXPECT_TRUE(alloc_test::Actual(d) == alloc_test::Actual(before));
  };
  // W = 2: 64 level-0 words, 32 slots, one level-1 word; all allocated.
  alloc_test::Device d = alloc_test::MakeDevice(2, 64 * 64);
  ASSERT_TRUE(alloc_test::Rebuild(d));
  OrvAllocator a(2, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  const std::vector<OrvExtentS> lastUnit{{(64 * 64 - 1) * kUnit, kUnit}};

  // Bad geometry or unit.
  OrvAllocator noWords(0, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  expectRefused(noWords, d, lastUnit);
  OrvAllocator noUnit(2, 0, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  expectRefused(noUnit, d, {{0, 4096}});  // and no division by zero

  // Level 1 or level 2 shorter than the released unit's slot or entry needs.
  d.l1.clear();
  expectRefused(a, d, lastUnit);
  ASSERT_TRUE(alloc_test::Rebuild(d));
  d.l2.clear();
  expectRefused(a, d, lastUnit);
  ASSERT_TRUE(alloc_test::Rebuild(d));

  // The same release on sound levels goes through and sets the levels above.
  EXPECT_EQ(a.OrvRelease(lastUnit, d.l0, d.l1, d.l2), kUnit);
  EXPECT_EQ(d.l1[0], uint64_t{1} << 62);
  EXPECT_EQ(d.l2[0], 1u);
  EXPECT_EQ(d.partialSlots, 1u);
  EXPECT_EQ(a.OrvRelease({}, d.l0, d.l1, d.l2), 0u);
}

TEST(AllocatorLevelsTest, FreeBytesSaturatesPastSixtyFourBits) {
  uint64_t partial = 0;
  uint64_t full = 0;
  const std::vector<uint64_t> l0{0b1011, 0, ~uint64_t{0}};
  OrvAllocator small(1, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
  EXPECT_EQ(small.OrvFreeBytes(l0), 67 * kUnit);
  OrvAllocator huge(1, uint64_t{1} << 58, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
  EXPECT_EQ(huge.OrvFreeBytes(l0), UINT64_MAX);
  EXPECT_EQ(huge.OrvFreeBytes({0b11}), uint64_t{1} << 59);
}

}  // namespace
