// Hand-picked cases of the allocator's search: the fast path across a word boundary, units taken
// one run at a time, slot and counter transitions, level-2 upkeep, wrap-around over level 2,
// merging with the caller's extents, the cursor's kept positions, direct calls of the lower
// levels, and requests of 4 GiB and more.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "alloc_model.h"
#include "orv_alloc/orv_alloc.h"

namespace {

using alloc_test::Device;
using alloc_test::kUnset;

constexpr uint64_t kUnit = 4096;

void ExpectLevelsMatchLevelZero(const Device& d) {
  EXPECT_TRUE(alloc_test::Actual(d) == alloc_test::ExpectedUpperLevels(d.w, d.l0, d.l1.size(), d.l2.size()));
}

Device DeviceWithFreeUnits(uint32_t w, uint64_t units, const std::vector<uint64_t>& freeUnits) {
  Device d = alloc_test::MakeDevice(w, units);
  for (uint64_t u : freeUnits) d.SetFree(u);
  alloc_test::Rebuild(d);
  return d;
}

void ExpectExtents(const std::vector<OrvExtentS>& out, const std::vector<OrvExtentS>& expected) {
  ASSERT_EQ(out.size(), expected.size());
  for (size_t k = 0; k < out.size(); ++k) {
    EXPECT_EQ(out[k].offset, expected[k].offset) << "extent " << k;
    EXPECT_EQ(out[k].length, expected[k].length) << "extent " << k;
  }
}

class FastPathAcrossWordsTest : public ::testing::TestWithParam<uint32_t> {};

// Units 60..67 free, cursor at 60: 60..63 from word 0 and 64..67 from word 1, merged into one.
TEST_P(FastPathAcrossWordsTest, TwoWordRunBecomesOneExtent) {
  const uint32_t w = GetParam();
  Device d = DeviceWithFreeUnits(w, 64u * 4u * w, {60, 61, 62, 63, 64, 65, 66, 67});
  OrvAllocator a(w, kUnit, OrvAllocPosS{60, 0, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{8 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 8 * kUnit);
  ExpectExtents(out, {{60 * kUnit, 8 * kUnit}});
  EXPECT_EQ(d.FreeUnits(), 0u);
  EXPECT_EQ(a.pos.l0Pos, 68u);
  EXPECT_EQ(a.pos.l1Pos, 67u / (64u * w));
  EXPECT_EQ(a.pos.l2Pos, 0u);
  ExpectLevelsMatchLevelZero(d);
  EXPECT_EQ(d.l2[0], 0u);
}

INSTANTIATE_TEST_SUITE_P(WordsPerEntry, FastPathAcrossWordsTest, ::testing::Values(1u, 2u, 3u, 4u));

TEST(AllocatorSearchTest, ScatteredUnitsAreTakenInOrderAndMerged) {
  Device d = DeviceWithFreeUnits(1, 64, {3, 5, 6});
  OrvAllocator a(1, kUnit, OrvAllocPosS{0, 0, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{3 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 3 * kUnit);
  ExpectExtents(out, {{3 * kUnit, kUnit}, {5 * kUnit, 2 * kUnit}});
  EXPECT_EQ(a.pos.l0Pos, 7u);
  EXPECT_EQ(d.l0[0], 0u);
  ExpectLevelsMatchLevelZero(d);
}

TEST(AllocatorSearchTest, SlotStatesAndCountersFollowEachCall) {
  Device d = alloc_test::MakeDevice(1, 128);
  d.l0[0] = ~uint64_t{0};
  alloc_test::Rebuild(d);
  ASSERT_EQ(d.freeSlots, 1u);
  ASSERT_EQ(d.partialSlots, 0u);
  OrvAllocator a(1, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;

  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{10 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 10 * kUnit);
  EXPECT_EQ(d.l1[0] & 3u, 1u);  // 11 -> 01
  EXPECT_EQ(d.freeSlots, 0u);
  EXPECT_EQ(d.partialSlots, 1u);
  EXPECT_EQ(d.l2[0], 1u);

  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{54 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 54 * kUnit);
  EXPECT_EQ(d.l1[0], 0u);  // 01 -> 00
  EXPECT_EQ(d.partialSlots, 0u);
  EXPECT_EQ(d.freeSlots, 0u);
  EXPECT_EQ(d.l2[0], 0u);  // the entry's only non-zero level-1 word became zero
  ExpectExtents(out, {{0, 64 * kUnit}});
}

TEST(AllocatorSearchTest, LevelTwoBitClearsOnlyForTheEntryThatEmptied) {
  // W = 1: an entry is 32 slots = 2048 units. Entry 0 holds two units, entry 1 one.
  Device d = DeviceWithFreeUnits(1, 3 * 2048, {100, 101, 2048 + 7});
  OrvAllocator a(1, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{2 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 2 * kUnit);
  EXPECT_EQ(d.l2[0], 0b10u);
  EXPECT_EQ(d.partialSlots, 1u);
  ExpectLevelsMatchLevelZero(d);
}

// Two level-2 words (W = 1, 67 entries). The cursor sits at entry 65; free units lie after it, in
// entry 0 and in entry 64, the low bit of the start word, which only the second pass reaches.
TEST(AllocatorSearchTest, WrapsToWordZeroAndBackToTheLowBitsOfTheStartWord) {
  const uint64_t entryUnits = 2048;
  const uint64_t after = 66 * entryUnits + 5;
  const uint64_t low = 10;
  const uint64_t startWordLow = 64 * entryUnits + 3;
  Device d = DeviceWithFreeUnits(1, 67 * entryUnits, {after, low, startWordLow});
  ASSERT_EQ(d.l2.size(), 2u);
  OrvAllocator a(1, kUnit, OrvAllocPosS{kUnset, kUnset, 65}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;

  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{2 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 2 * kUnit);
  ExpectExtents(out, {{after * kUnit, kUnit}, {low * kUnit, kUnit}});
  EXPECT_EQ(a.pos.l2Pos, 0u);
  EXPECT_EQ(a.pos.l0Pos, low + 1);

  // Asking for more than is left runs off the last word of both passes: l2Pos wraps to 0.
  a.pos = OrvAllocPosS{kUnset, kUnset, 65};
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{5 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), kUnit);
  EXPECT_EQ(out.back().offset, startWordLow * kUnit);
  EXPECT_EQ(a.pos.l2Pos, 0u);
  EXPECT_EQ(a.pos.l1Pos, kUnset);
  EXPECT_EQ(a.pos.l0Pos, kUnset);
  EXPECT_EQ(d.FreeUnits(), 0u);
  ExpectLevelsMatchLevelZero(d);
}

TEST(AllocatorSearchTest, MergesWithTheCallersLastExtent) {
  Device d = DeviceWithFreeUnits(1, 128, {60, 61, 62, 63, 64, 65, 66, 67});
  OrvAllocator a(1, kUnit, OrvAllocPosS{60, 0, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out{{7, 9}, {0, 60 * kUnit}};
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{8 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 8 * kUnit);
  ExpectExtents(out, {{7, 9}, {0, 68 * kUnit}});
}

TEST(AllocatorSearchTest, CallersExtentEndingPastTwoToThe64IsNotMergedInto) {
  // {2^64 - 10, 99} would "end" at 89 in wrapped arithmetic; unit 89 must not join it.
  Device d = DeviceWithFreeUnits(1, 128, {89});
  OrvAllocator a(1, 1, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out{{UINT64_MAX - 9, 99}};
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{1, 1}, d.l0, d.l1, d.l2, out), 1u);
  ExpectExtents(out, {{UINT64_MAX - 9, 99}, {89, 1}});
}

// A call that ends on a slot's last unit leaves l0Pos at the next slot while l1Pos names the slot
// of the unit taken. Units freed below the cursor in that slot wait for the wrap; the next call
// goes on after the cursor, and the slot it takes from is the one recomputed.
TEST(AllocatorSearchTest, CursorAtSlotEndGoesOnAfterItAndKeepsLevelsTrue) {
  Device d = alloc_test::MakeDevice(1, 64 * 4);
  d.l0[0] = ~uint64_t{0} << 32;  // units 32..63
  d.l0[1] = ~uint64_t{0};        // units 64..127, a wholly free slot
  alloc_test::Rebuild(d);
  OrvAllocator a(1, kUnit, OrvAllocPosS{32, 0, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;
  ASSERT_EQ(a.OrvAllocate(OrvAllocInfoS{32 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 32 * kUnit);
  ASSERT_EQ(a.pos.l0Pos, 64u);
  ASSERT_EQ(a.pos.l1Pos, 0u);

  for (uint64_t u = 40; u < 44; ++u) d.SetFree(u);  // the caller frees units below the cursor
  alloc_test::Rebuild(d);
  out.clear();
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{2 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 2 * kUnit);
  ExpectExtents(out, {{64 * kUnit, 2 * kUnit}});
  EXPECT_EQ(d.l1[0] & 0xFu, 0b0101u);  // slot 1 went 11 -> 01, slot 0 still 01
  ExpectLevelsMatchLevelZero(d);

  // Asking for everything takes the rest of slot 1, then wraps to the freed units.
  out.clear();
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{100 * kUnit, kUnit}, d.l0, d.l1, d.l2, out), 66 * kUnit);
  ExpectExtents(out, {{66 * kUnit, 62 * kUnit}, {40 * kUnit, 4 * kUnit}});
  ExpectLevelsMatchLevelZero(d);
}

TEST(AllocatorSearchTest, LowerLevelsCalledDirectlyStayInsideTheirParent) {
  Device d = alloc_test::MakeDevice(1, 64 * 64 * 2);
  for (uint64_t& word : d.l0) word = ~uint64_t{0};
  alloc_test::Rebuild(d);
  const Device before = d;
  OrvAllocInfoS req{1000 * kUnit, kUnit};
  std::vector<OrvExtentS> out;
  uint64_t allocated = 0;

  OrvAllocator unset(1, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  unset.OrvAllocL0(req, d.l0, allocated, out);
  unset.OrvAllocL1(req, d.l0, d.l1, allocated, out);
  EXPECT_EQ(allocated, 0u);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(d.l0, before.l0);

  // OrvAllocL0 takes only from the slot of l0Pos (units 10..63) and leaves the upper levels.
  OrvAllocator l0Only(1, kUnit, OrvAllocPosS{10, kUnset, 0}, d.partialSlots, d.freeSlots);
  l0Only.OrvAllocL0(req, d.l0, allocated, out);
  EXPECT_EQ(allocated, 54 * kUnit);
  ExpectExtents(out, {{10 * kUnit, 54 * kUnit}});
  EXPECT_EQ(d.l1, before.l1);

  // OrvAllocL1 takes only from the entry of l1Pos (slots 40..63 of entry 1 for W = 1).
  alloc_test::Rebuild(d);
  out.clear();
  allocated = 0;
  OrvAllocator l1Only(1, kUnit, OrvAllocPosS{kUnset, 40, 0}, d.partialSlots, d.freeSlots);
  req.allocLen = 2000 * kUnit;
  l1Only.OrvAllocL1(req, d.l0, d.l1, allocated, out);
  EXPECT_EQ(allocated, 24u * 64u * kUnit);
  ExpectExtents(out, {{40u * 64u * kUnit, static_cast<uint32_t>(24u * 64u * kUnit)}});
  EXPECT_EQ(l1Only.pos.l1Pos, 64u);  // left the entry: the next entry's first slot
  EXPECT_EQ(l1Only.pos.l0Pos, kUnset);
}

// Large units keep the bitmaps small: 1 MiB units, 64 MiB per level-0 word. A run of 4 GiB or
// more cannot be one extent; every extent stays exact and below 2^32 bytes.
TEST(AllocatorSearchTest, FourGibibytesAndMoreComeAsSeveralExactExtents) {
  const uint64_t unit = uint64_t{1} << 20;
  Device d = alloc_test::MakeDevice(2, 64 * 160);  // 10 GiB, all free
  for (uint64_t& word : d.l0) word = ~uint64_t{0};
  alloc_test::Rebuild(d);
  OrvAllocator a(2, unit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;

  // 63 words (4032 MiB) fit in 32 bits; a 64th word would make exactly 2^32.
  const uint32_t maxRun = 63u * 64u * (1u << 20);
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{uint64_t{4} << 30, unit}, d.l0, d.l1, d.l2, out), uint64_t{4} << 30);
  ExpectExtents(out, {{0, maxRun}, {uint64_t{maxRun}, 64u << 20}});

  out.clear();
  const uint64_t nine = uint64_t{9} << 30;
  EXPECT_EQ(a.OrvAllocate(OrvAllocInfoS{nine, unit}, d.l0, d.l1, d.l2, out), 6u * (uint64_t{1} << 30));
  uint64_t total = 0;
  for (const OrvExtentS& e : out) total += e.length;
  EXPECT_EQ(total, 6u * (uint64_t{1} << 30));
  ExpectExtents(out, {{uint64_t{4} << 30, maxRun}, {(uint64_t{4} << 30) + maxRun, (6u * 1024u - 4032u) << 20}});
  ExpectLevelsMatchLevelZero(d);
}

}  // namespace
