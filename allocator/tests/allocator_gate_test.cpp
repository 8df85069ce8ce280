// Processor gate of the allocator: on an accepted processor an allocation succeeds; on any other
// OrvAllocate returns 0 and leaves bitmaps, counters, cursor and output as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "alloc_model.h"
#include "orv_alloc/orv_alloc.h"
#include "orv_test/gate_expectation.h"

namespace {

constexpr uint64_t kUnit = 4096;

TEST(AllocatorGateTest, AllocatesOnlyOnAnAcceptedProcessor) {
  const orv_test::GateExpectation expected = orv_test::ExpectedGate();
  if (expected == orv_test::GateExpectation::kUnknown) {
    GTEST_SKIP() << "ORV_EXPECTED_GATE not set: the processor's verdict is not declared";
  }
  alloc_test::Device d = alloc_test::MakeDevice(2, 64 * 8);
  for (uint64_t u = 100; u < 140; ++u) d.SetFree(u);
  alloc_test::Rebuild(d);
  const alloc_test::Device before = d;
  const OrvAllocPosS start{alloc_test::kUnset, alloc_test::kUnset, 0};
  OrvAllocator a(2, kUnit, start, d.partialSlots, d.freeSlots);
  std::vector<OrvExtentS> out{{1, 2}};

  const uint64_t got = a.OrvAllocate(OrvAllocInfoS{10 * kUnit, kUnit}, d.l0, d.l1, d.l2, out);

  if (expected == orv_test::GateExpectation::kAccept) {
    EXPECT_EQ(got, 10 * kUnit);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].offset, 100 * kUnit);
    EXPECT_EQ(out[1].length, 10 * kUnit);
    EXPECT_EQ(a.pos.l0Pos, 110u);
    return;
  }
  EXPECT_EQ(got, 0u);
  OrvAllocInfoS direct{10 * kUnit, kUnit};
  EXPECT_EQ(a.OrvAllocL2(direct, d.l0, d.l1, d.l2, out), 0u);
  EXPECT_EQ(d.l0, before.l0);
  EXPECT_EQ(d.l1, before.l1);
  EXPECT_EQ(d.l2, before.l2);
  EXPECT_EQ(d.partialSlots, before.partialSlots);
  EXPECT_EQ(d.freeSlots, before.freeSlots);
  EXPECT_EQ(a.pos.l0Pos, start.l0Pos);
  EXPECT_EQ(a.pos.l1Pos, start.l1Pos);
  EXPECT_EQ(a.pos.l2Pos, start.l2Pos);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].offset, 1u);
  EXPECT_EQ(out[0].length, 2u);
}

}  // namespace
