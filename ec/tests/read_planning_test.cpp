// Read planning: chunk pieces of a range, per-shard ranges to read and per-shard zero ranges,
// checked on worked examples, against a byte-by-byte model over many seeded geometries, and on
// input that has no plan (refused without touching the output, and without long loops).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ec_quiet_log.h"
#include "orv_ec/orv_ec.h"
#include "planning_model.h"

namespace {

using planning_test::Geometry;
using Range = std::pair<uint64_t, uint64_t>;
using Pieces = std::vector<Range>;
using ShardRanges = std::map<int, std::set<Range>>;
using ZeroRanges = std::map<int, Range>;

[[maybe_unused]] auto* const quietLog = ec_test::AddQuietLog();

constexpr uint64_t kCap = uint64_t{1} << 40;

// k 4, chunkCount 6, cSize 4096, sWidth 16384, alignSize 512.
class ReadPlanningExamples : public ::testing::Test {
 protected:
  ZoEcInfo Info() const { return ZoEcInfo{4, 6, &mapping_, 4096, 16384, 512}; }
  std::vector<int> mapping_;
};

TEST_F(ReadPlanningExamples, ReconstructPrepareCutsAtChunkBoundaries) {
  Pieces pieces;
  ZoReconstructPrepare(Info(), {5000, 10000}, pieces);
  EXPECT_EQ((Pieces{{1, 3192}, {2, 4096}, {3, 2712}}), pieces);

  pieces = {{9, 9}};
  ZoReconstructPrepare(Info(), {16384, 16384}, pieces);
  EXPECT_EQ((Pieces{{9, 9}, {0, 4096}, {1, 4096}, {2, 4096}, {3, 4096}}), pieces);

  ZoReconstructPrepare(Info(), {5000, 0}, pieces);
  EXPECT_EQ(5u, pieces.size());
}

TEST_F(ReadPlanningExamples, ShardsRangeToReadInsideOneStripe) {
  ShardRanges out;
  ZoGetShardsRangeToRead({5000, 10000}, Info(), out);
  EXPECT_EQ((ShardRanges{{1, {{904, 3192}}}, {2, {{0, 4096}}}, {3, {{0, 2712}}}}), out);
}

TEST_F(ReadPlanningExamples, ShardsRangeToReadHeadStripesTail) {
  ShardRanges out;
  ZoGetShardsRangeToRead({5000, 40000}, Info(), out);
  const ShardRanges expected{{0, {{4096, 4096}, {8192, 4096}}},
                             {1, {{904, 3192}, {4096, 4096}, {8192, 4096}}},
                             {2, {{0, 4096}, {4096, 4096}, {8192, 4040}}},
                             {3, {{0, 4096}, {4096, 4096}}}};
  EXPECT_EQ(expected, out);

  out.clear();
  ZoGetShardsRangeToRead({16384, 16384}, Info(), out);
  EXPECT_EQ((ShardRanges{{0, {{4096, 4096}}}, {1, {{4096, 4096}}}, {2, {{4096, 4096}}}, {3, {{4096, 4096}}}}),
            out);
}

TEST_F(ReadPlanningExamples, ShardsRangeToReadZeroLengthAddsNothing) {
  const ShardRanges before{{7, {{1, 2}}}};
  for (uint64_t off : {uint64_t{0}, uint64_t{5000}, uint64_t{16384}, kCap}) {
    ShardRanges out = before;
    ZoGetShardsRangeToRead({off, 0}, Info(), out);
    EXPECT_EQ(before, out) << off;
  }
}

TEST_F(ReadPlanningExamples, ShardsRangeToReadKeepsWholeStripesWhenKIsZero) {
  // The whole-stripe step is skipped with an error; the head and the tail are still planned.
  std::vector<int> mapping;
  const ZoEcInfo info{0, 6, &mapping, 4096, 16384, 512};
  ShardRanges out;
  ZoGetShardsRangeToRead({5000, 40000}, info, out);
  const ShardRanges expected{{0, {{8192, 4096}}},
                             {1, {{904, 3192}, {8192, 4096}}},
                             {2, {{0, 4096}, {8192, 4040}}},
                             {3, {{0, 4096}}}};
  EXPECT_EQ(expected, out);
}

TEST_F(ReadPlanningExamples, ShardZeroRanges) {
  ZeroRanges out;
  ZoGetShardZeroRange({5000, 10000}, Info(), out);
  EXPECT_EQ((ZeroRanges{{3, {3072, 1024}}}), out);

  out.clear();
  ZoGetShardZeroRange({0, 1000}, Info(), out);
  EXPECT_EQ((ZeroRanges{{0, {1024, 3072}}, {1, {0, 4096}}, {2, {0, 4096}}, {3, {0, 4096}}, {4, {1024, 3072}},
                        {5, {1024, 3072}}}),
            out);

  out.clear();
  ZoGetShardZeroRange({0, 17000}, Info(), out);
  EXPECT_EQ((ZeroRanges{{0, {5120, 3072}}, {1, {4096, 4096}}, {2, {4096, 4096}}, {3, {4096, 4096}},
                        {4, {5120, 3072}}, {5, {5120, 3072}}}),
            out);

  out.clear();
  ZoGetShardZeroRange({16384, 20000}, Info(), out);
  EXPECT_EQ((ZeroRanges{{1, {8192, 4096}}, {2, {8192, 4096}}, {3, {8192, 4096}}}), out);

  out = {{2, {1, 1}}};
  ZoGetShardZeroRange({0, 16384}, Info(), out);
  EXPECT_EQ((ZeroRanges{{2, {1, 1}}}), out);
}

TEST_F(ReadPlanningExamples, ShardZeroRangesThroughMapping) {
  mapping_ = {3, 1, 0, 2, 5, 4};
  ZeroRanges out;
  ZoGetShardZeroRange({0, 1000}, Info(), out);
  EXPECT_EQ((ZeroRanges{{3, {1024, 3072}}, {1, {0, 4096}}, {0, {0, 4096}}, {2, {0, 4096}}, {5, {1024, 3072}},
                        {4, {1024, 3072}}}),
            out);
}

// --- Property tests against the byte model ---

// Every byte of the range maps to (shard, shard-local offset); the planned ranges must cover
// exactly those bytes, each once.
TEST(ReadPlanningModel, ShardRangesCoverExactlyTheBytesOfTheRange) {
  std::mt19937_64 rng(20240611u);
  const Range sentinel{uint64_t{1} << 50, 5};
  for (const Geometry& g : planning_test::SampleGeometries()) {
    const ZoEcInfo info = g.Info();
    for (int round = 0; round < 14; ++round) {
      const Range range = planning_test::RandomRange(g, rng);
      const uint64_t base = (range.first / g.sWidth()) * g.cSize;
      const uint64_t width = (range.second / g.sWidth() + 3) * g.cSize;
      planning_test::ShardBytes expected(base, width);
      for (uint64_t x = range.first; x < range.first + range.second; ++x) {
        ASSERT_TRUE(expected.Mark(g.ShardOfByte(x), g.LocalOf(x)));
      }

      ShardRanges out{{-1, {{1, 2}}}, {g.ShardOfPosition(0), {sentinel}}};
      ZoGetShardsRangeToRead(range, info, out);
      ASSERT_EQ(1u, out.count(-1));
      EXPECT_EQ((std::set<Range>{{1, 2}}), out[-1]);
      ASSERT_EQ(1u, out[g.ShardOfPosition(0)].erase(sentinel)) << g.Describe();
      out.erase(-1);

      planning_test::ShardBytes actual(base, width);
      for (const auto& shard : out) {
        for (const Range& r : shard.second) {
          for (uint64_t b = r.first; b < r.first + r.second; ++b) {
            ASSERT_TRUE(actual.Mark(shard.first, b))
                << g.Describe() << " range " << range.first << "+" << range.second;
          }
        }
      }
      ASSERT_TRUE(expected == actual) << g.Describe() << " range " << range.first << "+" << range.second;
    }
  }
}

// The pieces are maximal runs of bytes inside one chunk, in byte order, tagged with their chunk
// position, appended after what the vector held.
TEST(ReadPlanningModel, ReconstructPiecesConcatenateToTheRange) {
  std::mt19937_64 rng(77u);
  for (const Geometry& g : planning_test::SampleGeometries()) {
    for (int round = 0; round < 30; ++round) {
      const Range range = planning_test::RandomRange(g, rng);
      Pieces expected{{42, 43}};
      for (uint64_t x = range.first; x < range.first + range.second; ++x) {
        if (x == range.first || x % g.cSize == 0) {
          expected.emplace_back(g.PositionOf(x), 0);
        }
        ++expected.back().second;
      }
      Pieces actual{{42, 43}};
      ZoReconstructPrepare(g.Info(), range, actual);
      ASSERT_EQ(expected, actual) << g.Describe() << " range " << range.first << "+" << range.second;
    }
  }
}

// Past the data's end, up to the end of its last stripe, every byte from the first alignment unit
// without data reads as zero: each data shard with such bytes gets exactly them as one range
// reaching to its chunk's end. When the data ends inside chunk 0 of that stripe, every coding
// shard gets the same range as chunk 0's shard. Shards without such bytes keep what they held.
TEST(ReadPlanningModel, ZeroRangesMatchTheBytesPastTheData) {
  std::mt19937_64 rng(4242u);
  for (const Geometry& g : planning_test::SampleGeometries()) {
    const uint64_t sw = g.sWidth();
    for (int round = 0; round < 40; ++round) {
      const Range range = planning_test::RandomRange(g, rng);
      const uint64_t end = range.first + range.second;
      const uint64_t stripeEnd = (end + sw - 1) / sw * sw;
      const uint64_t zeroStart = (end + g.alignSize - 1) / g.alignSize * g.alignSize;

      ZeroRanges prefilled;
      for (uint64_t p = 0; p < g.chunkCount; ++p) {
        prefilled[g.ShardOfPosition(p)] = {7, 7};
      }
      prefilled[-3] = {1, 1};
      // Each shard's zero bytes, as (first shard-local offset, count); they must form one run.
      std::map<int, Range> zeroBytes;
      Range* run = nullptr;
      int runShard = 0;
      for (uint64_t y = zeroStart; y < stripeEnd; ++y) {
        const int shard = g.ShardOfByte(y);
        if (run == nullptr || shard != runShard) {
          run = &zeroBytes.try_emplace(shard, Range{g.LocalOf(y), 0}).first->second;
          runShard = shard;
        }
        ASSERT_EQ(run->first + run->second, g.LocalOf(y));
        ++run->second;
      }
      ZeroRanges expected = prefilled;
      for (const auto& shard : zeroBytes) {
        ASSERT_EQ(0u, (shard.second.first + shard.second.second) % g.cSize);  // up to the chunk's end
        expected[shard.first] = shard.second;
      }
      const uint64_t inStripe = zeroStart % sw;
      if (zeroStart < stripeEnd && inStripe > 0 && inStripe < g.cSize) {
        for (uint64_t p = g.k; p < g.chunkCount; ++p) {
          expected[g.ShardOfPosition(p)] = expected[g.ShardOfPosition(0)];
        }
      }

      ZeroRanges actual = prefilled;
      ZoGetShardZeroRange(range, g.Info(), actual);
      ASSERT_EQ(expected, actual) << g.Describe() << " range " << range.first << "+" << range.second;
    }
  }
}

// --- Input without a plan: refused promptly, output untouched ---

class ReadPlanningRefusals : public ::testing::Test {
 protected:
  std::vector<int> mapping_;
  ZoEcInfo info_{4, 6, &mapping_, 4096, 16384, 512};
  const Pieces piecesBefore_{{1, 1}};
  const ShardRanges rangesBefore_{{0, {{3, 3}}}};
  const ZeroRanges zerosBefore_{{0, {5, 5}}};

  void ExpectAllRefused(const ZoEcInfo& info, const Range& range) {
    Pieces pieces = piecesBefore_;
    ZoReconstructPrepare(info, range, pieces);
    EXPECT_EQ(piecesBefore_, pieces);
    ShardRanges ranges = rangesBefore_;
    ZoGetShardsRangeToRead(range, info, ranges);
    EXPECT_EQ(rangesBefore_, ranges);
    ZeroRanges zeros = zerosBefore_;
    ZoGetShardZeroRange(range, info, zeros);
    EXPECT_EQ(zerosBefore_, zeros);
  }
};

TEST_F(ReadPlanningRefusals, ZeroDivisorsAndNullMapping) {
  for (int field = 0; field < 3; ++field) {
    ZoEcInfo info = info_;
    (field == 0 ? info.cSize : field == 1 ? info.sWidth : info.alignSize) = 0;
    ShardRanges ranges = rangesBefore_;
    ZoGetShardsRangeToRead({5000, 10000}, info, ranges);
    if (field < 2) {
      EXPECT_EQ(rangesBefore_, ranges);
      Pieces pieces = piecesBefore_;
      ZoReconstructPrepare(info, {5000, 10000}, pieces);
      EXPECT_EQ(piecesBefore_, pieces);
    }
    ZeroRanges zeros = zerosBefore_;
    ZoGetShardZeroRange({5000, 10000}, info, zeros);
    EXPECT_EQ(zerosBefore_, zeros);
  }
  ZoEcInfo noMapping = info_;
  noMapping.chunkMapping = nullptr;
  ShardRanges ranges = rangesBefore_;
  ZoGetShardsRangeToRead({5000, 10000}, noMapping, ranges);
  EXPECT_EQ(rangesBefore_, ranges);
  ZeroRanges zeros = zerosBefore_;
  ZoGetShardZeroRange({0, 1000}, noMapping, zeros);
  EXPECT_EQ(zerosBefore_, zeros);
}

TEST_F(ReadPlanningRefusals, RangesThatWrapOrPassTheCap) {
  ExpectAllRefused(info_, {UINT64_MAX - 10, 100});
  // Past the cap: no stripe split or zero range is planned for it.
  ShardRanges ranges = rangesBefore_;
  ZoGetShardsRangeToRead({kCap + 1, 4096}, info_, ranges);
  ZoGetShardsRangeToRead({kCap + 1, 0}, info_, ranges);
  ZoGetShardsRangeToRead({kCap - 100, 200}, info_, ranges);
  EXPECT_EQ(rangesBefore_, ranges);
  ZeroRanges zeros = zerosBefore_;
  ZoGetShardZeroRange({kCap, 1}, info_, zeros);
  EXPECT_EQ(zerosBefore_, zeros);
  // Ending exactly at the cap is still planned.
  ZoGetShardsRangeToRead({kCap - 16384, 16384}, info_, ranges);
  EXPECT_EQ(std::set<Range>({{3, 3}, {kCap / 4 - 4096, 4096}}), ranges[0]);
}

TEST_F(ReadPlanningRefusals, HugePlansAreRefusedNotBuilt) {
  // 2^31 chunk pieces of 512 bytes.
  ZoEcInfo small = info_;
  small.cSize = 512;
  small.sWidth = 2048;
  Pieces pieces = piecesBefore_;
  ZoReconstructPrepare(small, {0, kCap}, pieces);
  EXPECT_EQ(piecesBefore_, pieces);

  // A stripe of 2^20 one-byte chunks.
  std::vector<int> mapping;
  const ZoEcInfo wide{uint64_t{1} << 20, (uint64_t{1} << 20) + 2, &mapping, 1, uint64_t{1} << 20, 1};
  ShardRanges ranges = rangesBefore_;
  ZoGetShardsRangeToRead({0, uint64_t{1} << 21}, wide, ranges);  // whole stripes: k positions
  ZoGetShardsRangeToRead({5, uint64_t{1} << 19}, wide, ranges);  // one stripe: 2^19 pieces
  EXPECT_EQ(rangesBefore_, ranges);
  ZeroRanges zeros = zerosBefore_;
  ZoGetShardZeroRange({0, 1}, wide, zeros);
  EXPECT_EQ(zerosBefore_, zeros);

  // A stripe narrower than a chunk would wrap the shard-local offsets.
  const ZoEcInfo narrow{4, 6, &mapping, uint64_t{1} << 40, 1, 1};
  ranges = rangesBefore_;
  ZoGetShardsRangeToRead({uint64_t{1} << 30, 10}, narrow, ranges);
  EXPECT_EQ(rangesBefore_, ranges);
  ZoGetShardZeroRange({uint64_t{1} << 30, 10}, narrow, zeros);
  EXPECT_EQ(zerosBefore_, zeros);
}

TEST_F(ReadPlanningRefusals, CodingLoopOverAHugeChunkCountIsRefused) {
  ZoEcInfo info = info_;
  info.chunkCount = uint64_t{1} << 40;
  ZeroRanges zeros = zerosBefore_;
  ZoGetShardZeroRange({0, 1000}, info, zeros);  // data ends inside chunk 0: coding loop
  EXPECT_EQ(zerosBefore_, zeros);
  ZoGetShardZeroRange({5000, 10000}, info, zeros);  // no coding loop: planned as usual
  EXPECT_EQ((Range{3072, 1024}), zeros[3]);
}

}  // namespace
