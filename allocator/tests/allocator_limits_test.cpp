// Calls that break the allocator's limits are refused: result 0 (or nothing done) and every
// bitmap, counter, the cursor and the output unchanged. Also the level upkeep functions called
// directly, with good and bad indices. Under the sanitizers these cases also prove that no bad
// argument reads or writes outside the vectors.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "alloc_model.h"
#include "orv_alloc/orv_alloc.h"

namespace {

using alloc_test::Device;
using alloc_test::kUnset;

constexpr uint64_t kUnit = 4096;

// Everything a call may change.
struct Snapshot {
  std::vector<uint64_t> l0, l1, l2;
  uint64_t partialSlots, freeSlots;
  OrvAllocPosS pos;
  std::vector<OrvExtentS> out;
};

Snapshot Take(const Device& d, const OrvAllocator& a, const std::vector<OrvExtentS>& out) {
  return Snapshot{d.l0, d.l1, d.l2, d.partialSlots, d.freeSlots, a.pos, out};
}

void ExpectUnchanged(const Snapshot& before, const Device& d, const OrvAllocator& a,
                     const std::vector<OrvExtentS>& out) {
  EXPECT_EQ(d.l0, before.l0);
  EXPECT_EQ(d.l1, before.l1);
  EXPECT_EQ(d.l2, before.l2);
  EXPECT_EQ(d.partialSlots, before.partialSlots);
  EXPECT_EQ(d.freeSlots, before.freeSlots);
  EXPECT_EQ(a.pos.l0Pos, before.pos.l0Pos);
  EXPECT_EQ(a.pos.l1Pos, before.pos.l1Pos);
  EXPECT_EQ(a.pos.l2Pos, before.pos.l2Pos);
  ASSERT_EQ(out.size(), before.out.size());
  for (size_t k = 0; k < out.size(); ++k) {
    EXPECT_EQ(out[k].offset, before.out[k].offset);
    EXPECT_EQ(out[k].length, before.out[k].length);
  }
}

// A half-free device of 4 slots for W = 2, with one extent already in the output.
Device HalfFreeDevice(uint32_t w) {
  Device d = alloc_test::MakeDevice(w, 64u * 4u * w);
  for (uint64_t& word : d.l0) word = 0x00FF00FF00FF00FFu;
  alloc_test::Rebuild(d);
  return d;
}

// Runs `call` and expects it to return 0 and change nothing.
template <typename Call>
void ExpectRefused(Device& d, OrvAllocator& a, Call call) {
  std::vector<OrvExtentS> out{{1, 2}};
  const Snapshot before = Take(d, a, out);
  EXPECT_EQ(call(out), 0u);
  ExpectUnchanged(before, d, a, out);
}

TEST(AllocatorLimitsTest, RequestsOutsideTheRulesAreRefused) {
  Device d = HalfFreeDevice(2);
  OrvAllocator a(2, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  const OrvAllocInfoS bad[] = {
      {8 * kUnit, 512},       // not the allocator's unit
      {kUnit - 1, kUnit},     // shorter than one unit
      {0, kUnit},             // nothing wanted
      {3 * kUnit / 2, kUnit}  // not a whole number of units
  };
  for (const OrvAllocInfoS& req : bad) {
    SCOPED_TRACE(::testing::Message() << "allocLen=" << req.allocLen << " allocUnit=" << req.allocUnit);
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocate(req, d.l0, d.l1, d.l2, out); });
    OrvAllocInfoS direct = req;
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocL2(direct, d.l0, d.l1, d.l2, out); });
  }
}

TEST(AllocatorLimitsTest, UnitsWhoseRunOf64DoesNotFit32BitsAreRefused) {
  Device d = HalfFreeDevice(1);
  const uint64_t tooLarge = uint64_t{1} << 26;  // 64 units = 2^32 bytes
  OrvAllocator big(1, tooLarge, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  ExpectRefused(d, big, [&](std::vector<OrvExtentS>& out) {
    return big.OrvAllocate(OrvAllocInfoS{tooLarge, tooLarge}, d.l0, d.l1, d.l2, out);
  });

  OrvAllocator zero(1, 0, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  ExpectRefused(d, zero, [&](std::vector<OrvExtentS>& out) {
    return zero.OrvAllocate(OrvAllocInfoS{0, 0}, d.l0, d.l1, d.l2, out);
  });
  OrvAllocInfoS zeroReq{kUnit, 0};
  ExpectRefused(d, zero, [&](std::vector<OrvExtentS>& out) { return zero.OrvAllocL2(zeroReq, d.l0, d.l1, d.l2, out); });

  // The largest unit that fits is served.
  const uint64_t largest = tooLarge - 1;
  OrvAllocator fits(1, largest, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out;
  EXPECT_EQ(fits.OrvAllocate(OrvAllocInfoS{largest, largest}, d.l0, d.l1, d.l2, out), largest);
}

TEST(AllocatorLimitsTest, BadGeometryAndCursorAreRefused) {
  Device d = HalfFreeDevice(2);
  const OrvAllocInfoS req{4 * kUnit, kUnit};

  OrvAllocator noWords(0, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  ExpectRefused(d, noWords, [&](std::vector<OrvExtentS>& out) { return noWords.OrvAllocate(req, d.l0, d.l1, d.l2, out); });

  // 64 x W wraps in 32 bits.
  OrvAllocator wraps(uint32_t{1} << 26, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  ExpectRefused(d, wraps, [&](std::vector<OrvExtentS>& out) { return wraps.OrvAllocate(req, d.l0, d.l1, d.l2, out); });

  // Products that no longer match W (a caller changed a field).
  OrvAllocator edited(2, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  edited.wordsPerEntry = 3;
  ExpectRefused(d, edited, [&](std::vector<OrvExtentS>& out) { return edited.OrvAllocate(req, d.l0, d.l1, d.l2, out); });

  OrvAllocator a(2, kUnit, OrvAllocPosS{kUnset, kUnset, 64}, d.partialSlots, d.freeSlots);  // l2Pos = 64 x N2
  ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocate(req, d.l0, d.l1, d.l2, out); });
  a.pos.l2Pos = kUnset;
  ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocate(req, d.l0, d.l1, d.l2, out); });

  a.pos.l2Pos = 0;
  std::vector<uint64_t> emptyL2;
  std::vector<OrvExtentS> out{{1, 2}};
  const Snapshot before = Take(d, a, out);
  EXPECT_EQ(a.OrvAllocate(req, d.l0, d.l1, emptyL2, out), 0u);
  ExpectUnchanged(before, d, a, out);
  EXPECT_TRUE(emptyL2.empty());
}

TEST(AllocatorLimitsTest, LowerLevelsShorterThanTheUpperLevelsImplyAreRefused) {
  const OrvAllocInfoS req{4 * kUnit, kUnit};
  {
    // Level 1 marks slot 5 free, but level 0 has words for slots 0..3 only.
    Device d = HalfFreeDevice(2);
    d.l1[0] |= uint64_t{3} << 10;
    ++d.freeSlots;
    OrvAllocator a(2, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocate(req, d.l0, d.l1, d.l2, out); });
    uint64_t allocated = 0;
    OrvAllocInfoS direct = req;
    a.pos.l1Pos = 0;
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) {
      a.OrvAllocL1(direct, d.l0, d.l1, allocated, out);
      return allocated;
    });
  }
  {
    // Level 2 marks entry 3, but level 1 has one word (entry 0 only).
    Device d = HalfFreeDevice(2);
    d.l2[0] |= uint64_t{1} << 3;
    OrvAllocator a(2, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocate(req, d.l0, d.l1, d.l2, out); });
  }
  {
    // Level 0 empty altogether while level 1 shows free slots.
    Device d = HalfFreeDevice(1);
    std::vector<uint64_t> noUnits;
    OrvAllocator a(1, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) { return a.OrvAllocate(req, noUnits, d.l1, d.l2, out); });
  }
}

TEST(AllocatorLimitsTest, LowerLevelsCalledDirectlyWithBadPositionsDoNothing) {
  Device d = HalfFreeDevice(2);
  OrvAllocInfoS req{4 * kUnit, kUnit};
  const OrvAllocPosS positions[] = {
      {64u * d.l0.size(), 32u * d.l1.size(), 0},  // just past each level
      {kUnset - 1, kUnset - 1, 0},
      {kUnset, kUnset, 0},
  };
  for (const OrvAllocPosS& pos : positions) {
    OrvAllocator a(2, kUnit, pos, d.partialSlots, d.freeSlots);
    uint64_t allocated = 0;
    ExpectRefused(d, a, [&](std::vector<OrvExtentS>& out) {
      a.OrvAllocL0(req, d.l0, allocated, out);
      a.OrvAllocL1(req, d.l0, d.l1, allocated, out);
      return allocated;
    });
  }
  // W = 0 and a zero unit would divide by zero.
  OrvAllocator noWords(0, kUnit, OrvAllocPosS{0, 0, 0}, d.partialSlots, d.freeSlots);
  OrvAllocator noUnit(2, 0, OrvAllocPosS{0, 0, 0}, d.partialSlots, d.freeSlots);
  OrvAllocInfoS zeroReq{kUnit, 0};
  uint64_t allocated = 0;
  ExpectRefused(d, noWords, [&](std::vector<OrvExtentS>& out) {
    noWords.OrvAllocL0(req, d.l0, allocated, out);
    noWords.OrvAllocL1(req, d.l0, d.l1, allocated, out);
    noUnit.OrvAllocL0(zeroReq, d.l0, allocated, out);
    noUnit.OrvAllocL1(zeroReq, d.l0, d.l1, allocated, out);
    return allocated;
  });
}

TEST(AllocatorLimitsTest, DirectCallsNeverTakeMoreThanRequested) {
  Device d = HalfFreeDevice(2);
  OrvAllocator a(2, kUnit, OrvAllocPosS{0, 0, 0}, d.partialSlots, d.freeSlots);
  OrvAllocInfoS req{4 * kUnit, kUnit};
  std::vector<OrvExtentS> out;
  uint64_t allocated = 5 * kUnit;  // already past the request
  a.OrvAllocL0(req, d.l0, allocated, out);
  EXPECT_TRUE(out.empty());
  allocated = kUnit / 2;  // not a whole number of units below allocLen
  a.OrvAllocL0(req, d.l0, allocated, out);
  EXPECT_LE(allocated, req.allocLen);
  EXPECT_EQ(allocated, kUnit / 2 + 3 * kUnit);
}

TEST(AllocatorLimitsTest, LevelUpkeepIgnoresIndicesThatDoNotHoldTheSlot) {
  Device d = HalfFreeDevice(2);
  OrvAllocator a(2, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  d.l0.assign(d.l0.size(), 0);  // levels 1 and 2 now stale: a real call would change them
  std::vector<OrvExtentS> out;
  ExpectRefused(d, a, [&](std::vector<OrvExtentS>&) {
    a.AdjL1SlotValue(d.l0, d.l1, 1, 32);        // index past level 1
    a.AdjL1SlotValue(d.l0, d.l1, 0, 32);        // slot 32 lives in word 1
    a.AdjL1SlotValue(d.l0, d.l1, kUnset / 32, kUnset);
    a.AdjL2SlotValue(d.l1, d.l2, 1, 64);        // index past level 2
    a.AdjL2SlotValue(d.l1, d.l2, 0, 64);
    a.AdjL2SlotValue(d.l1, d.l2, kUnset / 64, kUnset);
    return uint64_t{0};
  });
  // The same calls with the right index do change the levels.
  a.AdjL1SlotValue(d.l0, d.l1, 0, 0);
  EXPECT_EQ(d.l1[0] & 3u, 0u);
}

TEST(AllocatorLimitsTest, LevelUpkeepOfSlotsAndEntriesRunningPastTheirVector) {
  // W = 3 with 4 level-0 words: slot 1 has one word of three; the missing two count as allocated.
  Device d = alloc_test::MakeDevice(3, 64 * 4);
  d.l0[3] = ~uint64_t{0};
  OrvAllocator a(3, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  a.AdjL1SlotValue(d.l0, d.l1, 0, 1);
  EXPECT_EQ(d.l1[0], 0b0100u);  // 01, not 11
  EXPECT_EQ(d.partialSlots, 1u);
  EXPECT_EQ(d.freeSlots, 0u);
  a.AdjL1SlotValue(d.l0, d.l1, 0, 2);  // no level-0 word at all: 00, no counter
  EXPECT_EQ(d.l1[0], 0b0100u);
  a.AdjL2SlotValue(d.l1, d.l2, 0, 0);
  EXPECT_EQ(d.l2[0], 1u);
  a.AdjL2SlotValue(d.l1, d.l2, 0, 5);  // no level-1 word: cleared
  EXPECT_EQ(d.l2[0], 1u);

  // W = 0: a slot covers no word, so it is 00 and the old state's counter is given back.
  OrvAllocator none(0, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  none.AdjL1SlotValue(d.l0, d.l1, 0, 1);
  EXPECT_EQ(d.l1[0], 0u);
  EXPECT_EQ(d.partialSlots, 0u);
  none.AdjL2SlotValue(d.l1, d.l2, 0, 0);
  EXPECT_EQ(d.l2[0], 0u);
}

}  // namespace
