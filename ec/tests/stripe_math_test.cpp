// EquAfterPlus, ZoSetWriteSection and ZoOffsetLenToChunkBounds: the worked examples, the refusal
// of inputs whose arithmetic would wrap, and seeded property checks against 128-bit arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "ec_quiet_log.h"
#include "orv_ec/orv_ec.h"

namespace {

__extension__ typedef unsigned __int128 u128;  // exact model arithmetic
using Range = std::pair<uint64_t, uint64_t>;

constexpr uint64_t kCap = uint64_t{1} << 40;
constexpr uint64_t kMax = UINT64_MAX;
constexpr uint64_t kUnset = 0xDEADBEEFCAFEF00DULL;  // marks an output the call must not write

[[maybe_unused]] ::testing::Environment* const quietLog = ec_test::AddQuietLog();

// Smallest multiple of csize not below pos, capped at 2^40; positions or granules above the cap
// give the cap. Computed in 128 bits.
uint64_t ModelChunkEnd(u128 pos, uint64_t csize) {
  if (pos > kCap || csize > kCap) {
    return kCap;
  }
  const u128 up = (pos + csize - 1) / csize * csize;
  return up < kCap ? static_cast<uint64_t>(up) : kCap;
}

// Values that stress the arithmetic: edges of the 64-bit range and of the cap, plus random ones.
class ValueSource {
 public:
  explicit ValueSource(uint32_t seed) : rng_(seed) {}
  uint64_t Any() {
    static const uint64_t kEdges[] = {0,        1,        2,         4095,     4096,        4097,
                                      kCap - 1, kCap,     kCap + 1,  kMax / 2, kMax / 2 + 1, kMax - 4096,
                                      kMax - 1, kMax,     1ULL << 63, 12288,   1ULL << 41};
    switch (rng_() % 4) {
      case 0:
        return kEdges[rng_() % (sizeof kEdges / sizeof kEdges[0])];
      case 1:
        return rng_() % 100000;
      case 2:
        return rng_() % (kCap + 2);
      default:
        return rng_();
    }
  }
  uint64_t Granule() {
    static const uint64_t kGranules[] = {1, 2, 3, 7, 512, 4095, 4096, 16384, 1 << 20, kCap, kCap + 1, kMax};
    switch (rng_() % 3) {
      case 0:
        return kGranules[rng_() % (sizeof kGranules / sizeof kGranules[0])];
      case 1:
        return 1 + rng_() % 70000;
      default:
        return 1 + rng_() % (kCap + 1);
    }
  }
  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

TEST(EquAfterPlus, WorkedExamples) {
  EXPECT_TRUE(EquAfterPlus(kMax, 1, 1, kMax));
  EXPECT_FALSE(EquAfterPlus(5, 0, 0, 4));
  EXPECT_TRUE(EquAfterPlus(3, 7, 3, 7));
  EXPECT_FALSE(EquAfterPlus(0, 2, 1, 2));
  EXPECT_TRUE(EquAfterPlus(kMax, kMax, kMax, kMax));  // both sums are 2^65 - 2
  EXPECT_FALSE(EquAfterPlus(kMax, kMax, kMax, kMax - 1));
  EXPECT_TRUE(EquAfterPlus(0, 0, 0, 0));
}

TEST(EquAfterPlus, MatchesWideSumsOnRandomAndBoundaryValues) {
  ValueSource values(20240611);
  for (int i = 0; i < 50000; ++i) {
    const uint64_t a = values.Any();
    const uint64_t b = values.Any();
    const uint64_t c = values.Any();
    uint64_t d = values.Any();
    // Half the cases are equal sums, built from a wide difference when it fits in 64 bits.
    const u128 target = static_cast<u128>(a) + b;
    if (i % 2 == 0 && target >= c && target - c <= kMax) {
      d = static_cast<uint64_t>(target - c);
    }
    const bool expected = static_cast<u128>(a) + b == static_cast<u128>(c) + d;
    ASSERT_EQ(expected, EquAfterPlus(a, b, c, d)) << a << " " << b << " " << c << " " << d;
    ASSERT_EQ(expected, EquAfterPlus(c, d, a, b)) << "symmetry " << a << " " << b << " " << c << " " << d;
  }
}

TEST(ZoSetWriteSection, WorkedExamples) {
  uint64_t start = kUnset;
  uint64_t length = kUnset;
  EXPECT_TRUE(ZoSetWriteSection(5000, 10000, 4096, start, length));
  EXPECT_EQ(4096u, start);
  EXPECT_EQ(12288u, length);

  EXPECT_TRUE(ZoSetWriteSection(0, 4096, 4096, start, length));
  EXPECT_EQ(0u, start);
  EXPECT_EQ(4096u, length);

  // The end of the section is capped at 2^40.
  EXPECT_TRUE(ZoSetWriteSection(kCap - 100, 5000, 4096, start, length));
  EXPECT_EQ(kCap - 4096, start);
  EXPECT_EQ(4096u, length);
}

TEST(ZoSetWriteSection, ZeroSizesLeaveBothOutputsUntouched) {
  for (const auto& args : {std::pair<uint64_t, uint64_t>{0, 4096}, {10, 0}, {0, 0}}) {
    uint64_t start = kUnset;
    uint64_t length = kUnset;
    EXPECT_FALSE(ZoSetWriteSection(8, args.first, args.second, start, length));
    EXPECT_EQ(kUnset, start);
    EXPECT_EQ(kUnset, length);
  }
}

TEST(ZoSetWriteSection, OverflowWritesOnlyTheStart) {
  uint64_t start = kUnset;
  uint64_t length = kUnset;
  EXPECT_FALSE(ZoSetWriteSection(kMax - 9, 20, 4096, start, length));
  EXPECT_EQ(kMax - 4095, start);  // 2^64 - 4096
  EXPECT_EQ(kUnset, length);

  start = kUnset;
  EXPECT_FALSE(ZoSetWriteSection(1, kMax, 3, start, length));
  EXPECT_EQ(0u, start);
  EXPECT_EQ(kUnset, length);
}

TEST(ZoSetWriteSection, OffsetAboveTheCapIsRefusedUntouched) {
  uint64_t start = kUnset;
  uint64_t length = kUnset;
  EXPECT_FALSE(ZoSetWriteSection(kCap + 1, 10, 4096, start, length));
  EXPECT_FALSE(ZoSetWriteSection(kMax - 100, 100, 4096, start, length));  // ends exactly at 2^64 - 1
  EXPECT_EQ(kUnset, start);
  EXPECT_EQ(kUnset, length);
  // The cap itself is still inside the contract.
  EXPECT_TRUE(ZoSetWriteSection(kCap, 10, 4096, start, length));
  EXPECT_EQ(kCap, start);
  EXPECT_EQ(0u, length);
}

TEST(ZoSetWriteSection, MatchesWideModelAndCoversTheWrite) {
  ValueSource values(7);
  for (int i = 0; i < 30000; ++i) {
    const uint64_t offset = values.Any();
    const uint64_t len = values.Any();
    const uint64_t csize = i % 50 == 0 ? 0 : values.Granule();
    uint64_t start = kUnset;
    uint64_t length = kUnset;
    const bool ok = ZoSetWriteSection(offset, len, csize, start, length);
    if (len == 0 || csize == 0) {
      ASSERT_FALSE(ok);
      ASSERT_EQ(kUnset, start);
      ASSERT_EQ(kUnset, length);
      continue;
    }
    const uint64_t alignedStart = offset / csize * csize;
    const u128 end = static_cast<u128>(offset) + len;
    if (end > kMax) {
      ASSERT_FALSE(ok);
      ASSERT_EQ(alignedStart, start);
      ASSERT_EQ(kUnset, length);
      continue;
    }
    if (offset > kCap) {
      ASSERT_FALSE(ok);
      ASSERT_EQ(kUnset, start);
      ASSERT_EQ(kUnset, length);
      continue;
    }
    ASSERT_TRUE(ok) << offset << " " << len << " " << csize;
    ASSERT_EQ(alignedStart, start);
    ASSERT_EQ(static_cast<u128>(ModelChunkEnd(end, csize)), static_cast<u128>(start) + length)
        << offset << " " << len << " " << csize;
    if (end <= kCap) {  // inside the contract the section covers the whole write
      ASSERT_LE(start, offset);
      ASSERT_GE(static_cast<u128>(start) + length, end);
    }
  }
}

TEST(ZoOffsetLenToChunkBounds, WorkedExamples) {
  EXPECT_EQ(Range(4096, 12288), ZoOffsetLenToChunkBounds({5000, 10000}, 4096));
  EXPECT_EQ(Range(0, 16384), ZoOffsetLenToChunkBounds({5000, 10000}, 16384));
  EXPECT_EQ(Range(4608, 10752), ZoOffsetLenToChunkBounds({5000, 10000}, 512));
  EXPECT_EQ(Range(4096, 4096), ZoOffsetLenToChunkBounds({5000, 0}, 4096));
  EXPECT_EQ(Range(8192, 0), ZoOffsetLenToChunkBounds({8192, 0}, 4096));
  EXPECT_EQ(Range(0, kCap), ZoOffsetLenToChunkBounds({0, uint64_t{1} << 41}, 4096));
  EXPECT_EQ(Range(0, 0), ZoOffsetLenToChunkBounds({5000, 10000}, 0));
}

TEST(ZoOffsetLenToChunkBounds, WrappingLengthIsRefused) {
  // in.second + (in.first mod csize) would pass 2^64 - 1.
  EXPECT_EQ(Range(0, 0), ZoOffsetLenToChunkBounds({5000, kMax}, 4096));
  EXPECT_EQ(Range(0, 0), ZoOffsetLenToChunkBounds({kMax, kMax - 4094}, 4096));
  // Exactly 2^64 - 1 still fits: the length is capped as usual.
  EXPECT_EQ(Range(4096, kCap), ZoOffsetLenToChunkBounds({5000, kMax - 904}, 4096));
  EXPECT_EQ(Range(8192, kCap), ZoOffsetLenToChunkBounds({8192, kMax}, 4096));
}

TEST(ZoOffsetLenToChunkBounds, MatchesWideModelAndCoversTheRange) {
  ValueSource values(99);
  for (int i = 0; i < 30000; ++i) {
    const uint64_t first = values.Any();
    const uint64_t second = values.Any();
    const uint64_t csize = i % 50 == 0 ? 0 : values.Granule();
    const Range got = ZoOffsetLenToChunkBounds({first, second}, csize);
    if (csize == 0) {
      ASSERT_EQ(Range(0, 0), got);
      continue;
    }
    const uint64_t r = first % csize;
    const u128 widened = static_cast<u128>(second) + r;
    if (widened > kMax) {
      ASSERT_EQ(Range(0, 0), got) << first << " " << second << " " << csize;
      continue;
    }
    ASSERT_EQ(first - r, got.first);
    ASSERT_EQ(ModelChunkEnd(widened, csize), got.second) << first << " " << second << " " << csize;
    if (static_cast<u128>(first) + second <= kCap && csize <= kCap) {
      ASSERT_LE(got.first, first);
      ASSERT_GE(static_cast<u128>(got.first) + got.second, static_cast<u128>(first) + second);
      ASSERT_EQ(0u, got.first % csize);
      ASSERT_TRUE(got.second % csize == 0 || got.second == kCap);
    }
  }
}

}  // namespace
