// The range arithmetic of range_math.h: NextChunkEnd's worked examples and a seeded comparison
// with 128-bit rounding, and the overflow test, the rounding and piece counting against 128-bit
// arithmetic on edge and random values.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "range_math.h"
#include "ec_quiet_log.h"

namespace {

using orv_ec::kOffsetCap;
using orv_ec::NextChunkEnd;
__extension__ typedef unsigned __int128 u128;  // exact model arithmetic

[[maybe_unused]] ::testing::Environment* const quietLog = ec_test::AddQuietLog();

TEST(NextChunkEnd, WorkedExamples) {
  EXPECT_EQ(8192u, NextChunkEnd(5000, 4096));
  EXPECT_EQ(8192u, NextChunkEnd(8192, 4096));
  EXPECT_EQ(0u, NextChunkEnd(0, 4096));
  EXPECT_EQ(kOffsetCap, NextChunkEnd(kOffsetCap - 1, 4096));
  EXPECT_EQ(kOffsetCap, NextChunkEnd(kOffsetCap, 4096));
  EXPECT_EQ(kOffsetCap, NextChunkEnd(kOffsetCap + 1, 4096));
  EXPECT_EQ(kOffsetCap, NextChunkEnd(100, kOffsetCap + 1));
  EXPECT_EQ(kOffsetCap, NextChunkEnd(0, UINT64_MAX));  // a granule above the cap gives the cap
  EXPECT_EQ(0u, NextChunkEnd(100, 0));
  EXPECT_EQ(kOffsetCap, NextChunkEnd(UINT64_MAX, 4096));
  // A granule that does not divide the cap: the next multiple lies past it.
  EXPECT_EQ(kOffsetCap, NextChunkEnd(kOffsetCap - 1, 7));
  EXPECT_EQ(kOffsetCap - 2, NextChunkEnd(kOffsetCap - 3, 7));  // 2^40 - 2 is a multiple of 7
}

TEST(NextChunkEnd, MatchesWideRounding) {
  std::mt19937_64 rng(4242);
  const uint64_t edges[] = {0, 1, 4095, 4096, 4097, kOffsetCap - 1, kOffsetCap, kOffsetCap + 1, UINT64_MAX};
  for (int i = 0; i < 50000; ++i) {
    uint64_t pos = rng();
    uint64_t csize = rng();
    switch (i % 5) {
      case 0: pos = edges[rng() % 9]; csize = 1 + rng() % 10000; break;
      case 1: pos %= kOffsetCap + 2; csize = 1 + rng() % 70000; break;
      case 2: pos %= kOffsetCap + 2; csize = 1 + rng() % (kOffsetCap + 2); break;
      case 3: pos = edges[rng() % 9]; csize = edges[1 + rng() % 8]; break;
      default: break;
    }
    uint64_t expected;
    if (csize == 0) {
      expected = 0;
    } else if (pos > kOffsetCap || csize > kOffsetCap) {
      expected = kOffsetCap;
    } else {
      const u128 up = (static_cast<u128>(pos) + csize - 1) / csize * csize;
      expected = up < kOffsetCap ? static_cast<uint64_t>(up) : kOffsetCap;
    }
    const uint64_t got = NextChunkEnd(pos, csize);
    ASSERT_EQ(expected, got) << pos << " " << csize;
    if (csize != 0 && pos <= kOffsetCap && got != kOffsetCap) {
      ASSERT_EQ(0u, got % csize);
      ASSERT_GE(got, pos);
      ASSERT_LT(got - pos, csize);
    }
  }
}

// Values at the edges of the 64-bit, 32-bit and capped ranges, and random ones of every magnitude.
uint64_t EdgeOrRandom(std::mt19937_64& rng) {
  static const uint64_t edges[] = {0, 1, 2, 4095, 4096, 4097, orv_ec::kMaxSigned32, orv_ec::kMaxUnsigned32,
                                   uint64_t{1} << 32, kOffsetCap - 1, kOffsetCap, kOffsetCap + 1,
                                   UINT64_MAX / 2, UINT64_MAX - 1, UINT64_MAX};
  switch (rng() % 3) {
    case 0: return edges[rng() % (sizeof edges / sizeof edges[0])];
    case 1: return rng() >> (rng() % 64);
    default: return rng();
  }
}

TEST(RangeMath, SumsRoundingAndPiecesMatchWideArithmetic) {
  std::mt19937_64 rng(777);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t a = EdgeOrRandom(rng);
    const uint64_t b = EdgeOrRandom(rng);
    const uint64_t limit = EdgeOrRandom(rng);
    const u128 sum = static_cast<u128>(a) + b;
    ASSERT_EQ(sum > limit, orv_ec::SumExceeds(a, b, limit)) << a << " " << b << " " << limit;
    ASSERT_EQ(sum > UINT64_MAX, orv_ec::SumOverflows(a, b)) << a << " " << b;
    ASSERT_EQ(sum > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(sum), orv_ec::SaturatedEnd(a, b));

    const uint64_t granule = b == 0 ? 1 : b;
    ASSERT_EQ(a / granule * granule, orv_ec::RoundDown(a, granule));
    ASSERT_EQ(granule - a % granule, orv_ec::BytesToBoundary(a, granule));
    const u128 up = (static_cast<u128>(a) + granule - 1) / granule * granule;
    uint64_t out = 12345;
    ASSERT_EQ(up <= UINT64_MAX, orv_ec::RoundUpChecked(a, granule, out)) << a << " " << granule;
    ASSERT_EQ(up <= UINT64_MAX ? static_cast<uint64_t>(up) : 12345u, out) << "refused rounding writes nothing";

    // Pieces of [a, a + length) cut at multiples of granule, for a length that stays in 64 bits.
    const uint64_t length = sum > UINT64_MAX ? UINT64_MAX - a : b;
    const u128 pieces = length == 0 ? 0 : (static_cast<u128>(a) + length - 1) / granule - a / granule + 1;
    ASSERT_EQ(pieces, orv_ec::ChunkPieceCount(a, length, granule)) << a << " " << length << " " << granule;
  }
}

}  // namespace
