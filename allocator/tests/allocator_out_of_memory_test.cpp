// When growing the caller's output vector fails, std::bad_alloc reaches the caller and nothing is
// lost: the output holds exactly the units cleared in level 0, and levels 1 and 2 and the counters
// still match level 0. When OrvBuildLevels cannot allocate its levels, the caller's are untouched.
// The program's operator new is replaced so that one chosen allocation fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "alloc_model.h"
#include "orv_alloc/orv_alloc.h"
#include "orv_test/counting_new.h"

namespace {

// 64 units of this size nearly fill 32 bits, so no two level-0 words merge into one extent.
constexpr uint64_t kUnit = (uint64_t{1} << 26) - 1;

// After a call that threw: the units of out[first..] were free in `l0Before` and are exactly the
// units the call cleared, and levels 1 and 2 and the counters match level 0.
void ExpectNothingLost(const alloc_test::Device& d, const std::vector<uint64_t>& l0Before,
                       const std::vector<OrvExtentS>& out, std::size_t first) {
  std::vector<uint64_t> l0Expected = l0Before;
  const std::vector<OrvExtentS> taken(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
  for (uint64_t u : alloc_test::UnitsOf(taken, kUnit)) {
    EXPECT_TRUE(l0Before[u / 64] >> (u % 64) & 1u) << "unit " << u << " was not free";
    l0Expected[u / 64] &= ~(uint64_t{1} << (u % 64));
  }
  EXPECT_EQ(d.l0, l0Expected);
  EXPECT_TRUE(alloc_test::Actual(d) == alloc_test::ExpectedUpperLevels(d.w, d.l0, d.l1.size(), d.l2.size()));
}

TEST(AllocatorOutOfMemoryTest, FailedGrowthLosesNoUnitAndKeepsLevelsTrue) {
  // The vector grows at its 1st, 2nd, 3rd, 5th, 9th and 17th extent; with W = 3 and one extent
  // per word, all but the first of these fall inside a slot that has already lost units.
  for (long failAt = 0; failAt < 6; ++failAt) {
    SCOPED_TRACE(::testing::Message() << "allocation " << failAt << " fails");
    alloc_test::Device d = alloc_test::MakeDevice(3, 64 * 24);
    for (uint64_t& word : d.l0) word = ~uint64_t{0};
    alloc_test::Rebuild(d);
    const std::vector<uint64_t> l0Before = d.l0;
    OrvAllocator a(3, kUnit, OrvAllocPosS{alloc_test::kUnset, alloc_test::kUnset, 0}, d.partialSlots, d.freeSlots);
    std::vector<OrvExtentS> out;

    // Asks for the whole device, 24 extents. The failure is disarmed before control returns to
    // the test, whatever happens.
    auto allocateWithFailure = [&] {
      struct Disarm {
        ~Disarm() { orv_test::FailAllocationAfter(-1); }
      } disarm;
      orv_test::FailAllocationAfter(failAt);
      return a.OrvAllocate(OrvAllocInfoS{64 * 24 * kUnit, kUnit}, d.l0, d.l1, d.l2, out);
    };
    EXPECT_THROW(allocateWithFailure(), std::bad_alloc);
    ExpectNothingLost(d, l0Before, out, 0);
  }
}

TEST(AllocatorOutOfMemoryTest, FailedGrowthAtAKeptCursorLosesNoUnit) {
  // The same device, but a first call of one unit leaves the cursor inside slot 0, where the
  // second call resumes: word 0's rest merges into the first extent, then one extent per word, and
  // the growths at its 2nd, 3rd, 5th, 9th and 17th extent fall after the first words of slots.
  for (long failAt = 0; failAt < 5; ++failAt) {
    SCOPED_TRACE(::testing::Message() << "allocation " << failAt << " of the second call fails");
    alloc_test::Device d = alloc_test::MakeDevice(3, 64 * 24);
    for (uint64_t& word : d.l0) word = ~uint64_t{0};
    alloc_test::Rebuild(d);
    OrvAllocator a(3, kUnit, OrvAllocPosS{alloc_test::kUnset, alloc_test::kUnset, 0}, d.partialSlots, d.freeSlots);
    std::vector<OrvExtentS> out;
    ASSERT_EQ(a.OrvAllocate(OrvAllocInfoS{kUnit, kUnit}, d.l0, d.l1, d.l2, out), kUnit);
    const OrvExtentS first = out[0];
    const std::vector<uint64_t> l0Before = d.l0;
    EXPECT_THROW(orv_test::WithFailureAfter(failAt,
                                            [&] {
                                              return a.OrvAllocate(OrvAllocInfoS{64 * 24 * kUnit, kUnit}, d.l0, d.l1,
                                                                   d.l2, out);
                                            }),
                 std::bad_alloc);
    ASSERT_EQ(out[0].offset, first.offset);
    out[0].offset += first.length;  // what the second call merged into the first extent
    out[0].length -= first.length;
    ExpectNothingLost(d, l0Before, out, 0);
  }
}

TEST(AllocatorOutOfMemoryTest, FailedLevelBuildLeavesTheLevelsAsTheyWere) {
  const std::vector<uint64_t> l0(64 * 40, 0x0F0F0F0F0F0F0F0Fu);
  for (long failAt = 0; failAt < 2; ++failAt) {
    uint64_t partial = 7;
    uint64_t full = 8;
    OrvAllocator a(2, 4096, OrvAllocPosS{alloc_test::kUnset, alloc_test::kUnset, 0}, partial, full);
    std::vector<uint64_t> l1{1, 2, 3}, l2{4};
    auto buildWithFailure = [&] {
      struct Disarm {
        ~Disarm() { orv_test::FailAllocationAfter(-1); }
      } disarm;
      orv_test::FailAllocationAfter(failAt);
      return a.OrvBuildLevels(l0, l1, l2);
    };
    EXPECT_THROW(buildWithFailure(), std::bad_alloc) << "allocation " << failAt << " fails";
    EXPECT_EQ(l1, (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(l2, (std::vector<uint64_t>{4}));
    EXPECT_EQ(partial, 7u);
    EXPECT_EQ(full, 8u);
  }
}

}  // namespace
