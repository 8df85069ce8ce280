// Shard selection: shard runs for reconstruction, the data shards a range touches and the shards
// a set of writes touches, checked on worked examples, against models over seeded geometries, and
// on input that has no answer (refused without touching the output, and without long loops).
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
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
using Extents = std::map<uint64_t, uint64_t>;

[[maybe_unused]] auto* const quietLog = ec_test::AddQuietLog();

constexpr uint64_t kCap = uint64_t{1} << 40;

// k 4, chunkCount 6, cSize 4096, sWidth 16384.
class ShardSelectionExamples : public ::testing::Test {
 protected:
  ZoEcInfo Info() const { return ZoEcInfo{4, 6, &mapping_, 4096, 16384, 512}; }
  std::vector<int> mapping_;
};

TEST_F(ShardSelectionExamples, ReconstructShardsRepeatTheRunOncePerRow) {
  std::vector<int> shards{9};
  ZoGetReconstructShards(1, 2, 10000, Info(), shards);
  EXPECT_EQ((std::vector<int>{9, 1, 2, 1, 2, 1, 2}), shards);

  shards.clear();
  ZoGetReconstructShards(3, 2, 4096, Info(), shards);
  EXPECT_EQ((std::vector<int>{3, 0}), shards);

  shards.clear();
  ZoGetReconstructShards(5, 0, 4096, Info(), shards);
  ZoGetReconstructShards(2147483640u, 7, 4096, Info(), shards);   // end above 2147483646
  ZoGetReconstructShards(4294967295u, 2, 4096, Info(), shards);   // end wraps to 1
  ZoGetReconstructShards(0, 1, kCap + 1, Info(), shards);
  ZoGetReconstructShards(0, 1, 0, Info(), shards);
  EXPECT_TRUE(shards.empty());

  // The longest length accepted: with huge chunks it is four rows.
  ZoEcInfo bigChunks = Info();
  bigChunks.cSize = kCap / 4;
  ZoGetReconstructShards(2, 1, kCap, bigChunks, shards);
  EXPECT_EQ((std::vector<int>{2, 2, 2, 2}), shards);
}

TEST_F(ShardSelectionExamples, RelatedShards) {
  std::set<int> shards;
  ZoGetRelatedShards({5000, 10000}, Info(), shards);
  EXPECT_EQ((std::set<int>{1, 2, 3}), shards);
  shards.clear();
  ZoGetRelatedShards({14000, 5000}, Info(), shards);
  EXPECT_EQ((std::set<int>{0, 3}), shards);
  shards.clear();
  ZoGetRelatedShards({0, 20000}, Info(), shards);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3}), shards);
  shards = {42};
  ZoGetRelatedShards({5000, 0}, Info(), shards);
  EXPECT_EQ((std::set<int>{1, 42}), shards);

  mapping_ = {3, 1, 0, 2, 5, 4};
  shards.clear();
  ZoGetRelatedShards({5000, 10000}, Info(), shards);
  EXPECT_EQ((std::set<int>{0, 1, 2}), shards);
}

TEST_F(ShardSelectionExamples, WriteToShards) {
  std::set<int> shards;
  ZoGetWriteToShards({{4096, 8192}}, Info(), shards);
  EXPECT_EQ((std::set<int>{1, 2, 4, 5}), shards);
  shards.clear();
  ZoGetWriteToShards({{12288, 8192}}, Info(), shards);
  EXPECT_EQ((std::set<int>{0, 3, 4, 5}), shards);
  shards.clear();
  ZoGetWriteToShards({{5000, 100}}, Info(), shards);
  EXPECT_TRUE(shards.empty());

  // Data positions go through the mapping, coding positions do not.
  mapping_ = {3, 1, 0, 2, 5, 4};
  shards.clear();
  ZoGetWriteToShards({{12288, 8192}}, Info(), shards);
  EXPECT_EQ((std::set<int>{2, 3, 4, 5}), shards);
  mapping_ = {7, 8, 9, 10, 11, 12};
  shards.clear();
  ZoGetWriteToShards({{0, 4096}}, Info(), shards);
  EXPECT_EQ((std::set<int>{4, 5, 7}), shards);

  // An id already in the set is enough for the coding positions to be added.
  shards = {100};
  ZoGetWriteToShards({}, Info(), shards);
  EXPECT_EQ((std::set<int>{4, 5, 100}), shards);
}

TEST_F(ShardSelectionExamples, WriteOfAnEnormousExtentEndsPromptly) {
  // 2^64 - 1 one-byte chunks: the positions cycle, so the answer is every data shard.
  ZoEcInfo info = Info();
  info.cSize = 1;
  info.sWidth = 4;
  std::set<int> shards;
  ZoGetWriteToShards({{2, UINT64_MAX}, {UINT64_MAX - 5, UINT64_MAX / 2}}, info, shards);
  EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5}), shards);
}

// Many extents over a wide stripe: the cost follows the k data positions, not extents x k. Before,
// each extent walked up to k positions (20,000 x 65,534 set insertions, some 25 s); the bound
// below is two orders of magnitude above what the walk now needs, even under sanitizers.
TEST_F(ShardSelectionExamples, ManyExtentsOverAWideStripeCostTheirPositionsOnly) {
  const uint64_t k = 65534;
  const uint64_t stripe = k * 4096;
  const ZoEcInfo info{k, k + 2, &mapping_, 4096, stripe, 512};
  Extents wholeStripes;
  Extents sameHalf;  // the first half of every stripe: never reaches every data position
  for (uint64_t s = 0; s < 20000; ++s) {
    wholeStripes[s * stripe] = stripe;
    sameHalf[s * stripe] = stripe / 2;
  }
  std::set<int> all;
  for (uint64_t i = 0; i < k + 2; ++i) {
    all.insert(static_cast<int>(i));
  }
  std::set<int> half;
  for (uint64_t i = 0; i < k / 2; ++i) {
    half.insert(static_cast<int>(i));
  }
  half.insert(static_cast<int>(k));
  half.insert(static_cast<int>(k + 1));

  const std::clock_t started = std::clock();
  std::set<int> shards;
  ZoGetWriteToShards(wholeStripes, info, shards);
  EXPECT_EQ(all, shards);
  shards.clear();
  ZoGetWriteToShards(sameHalf, info, shards);
  EXPECT_EQ(half, shards);
  const double seconds = static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC;
  EXPECT_LT(seconds, 5.0) << "CPU seconds for 40,000 extents of a 65,534-position stripe";
}

// --- Models over seeded geometries ---

// The related shards are the shards of the data positions holding a byte of the range; a range of
// no bytes names the chunk its offset lies inside, when the offset is not on a chunk boundary.
TEST(ShardSelectionModel, RelatedShardsAreTheShardsHoldingTheRange) {
  std::mt19937_64 rng(1357u);
  for (const Geometry& g : planning_test::SampleGeometries()) {
    for (int round = 0; round < 40; ++round) {
      std::pair<uint64_t, uint64_t> range = planning_test::RandomRange(g, rng);
      if (round % 10 == 0) {
        range.second = 0;
      }
      std::set<int> expected{-7};
      int previous = -7;
      for (uint64_t x = range.first; x < range.first + range.second; ++x) {
        const int shard = g.ShardOfByte(x);
        if (shard != previous) {
          expected.insert(shard);
          previous = shard;
        }
      }
      if (range.second == 0 && range.first % g.cSize != 0) {
        expected.insert(g.ShardOfByte(range.first));
      }
      std::set<int> actual{-7};
      ZoGetRelatedShards(range, g.Info(), actual);
      ASSERT_EQ(expected, actual) << g.Describe() << " range " << range.first << "+" << range.second;
    }
  }
}

// The write-to shards follow the chunk-counting rule step by step: from the position of each
// extent's offset, one position per whole chunk of its length, wrapping past k - 1 to 0; then,
// if the set is not empty, every coding position as its own number.
TEST(ShardSelectionModel, WriteToShardsFollowTheChunkCountingRule) {
  std::mt19937_64 rng(2468u);
  std::vector<Geometry> geometries = planning_test::SampleGeometries();
  // Stripes wider than one 64-position word, mapped with repeated ids.
  for (const uint64_t k : {63u, 64u, 65u, 130u}) {
    Geometry g;
    g.k = k;
    g.chunkCount = k + 2;
    g.cSize = 512;
    g.alignSize = 512;
    for (uint64_t i = 0; i < k; ++i) {
      g.mapping.push_back(static_cast<int>(rng() % (k + 5)));
    }
    geometries.push_back(g);
  }
  for (const Geometry& g : geometries) {
    const uint64_t sw = g.sWidth();
    for (int round = 0; round < 40; ++round) {
      Extents writes;
      const int count = static_cast<int>(rng() % 4);
      for (int e = 0; e < count; ++e) {
        writes[rng() % (4 * sw)] = rng() % (3 * sw);
      }
      std::set<int> expected;
      if (round % 7 == 0) {
        expected.insert(-1);
      }
      std::set<int> actual = expected;
      for (const auto& extent : writes) {
        uint64_t p = (extent.first % sw) / g.cSize;
        for (uint64_t n = extent.second / g.cSize; n > 0; --n) {
          if (p >= g.k) {
            p = 0;
          }
          expected.insert(g.ShardOfPosition(p));
          ++p;
        }
      }
      if (!expected.empty()) {
        for (uint64_t i = g.k; i < g.chunkCount; ++i) {
          expected.insert(static_cast<int>(i));
        }
      }
      ZoGetWriteToShards(writes, g.Info(), actual);
      ASSERT_EQ(expected, actual) << g.Describe();
    }
  }
}

// The reconstruct list is the run start .. start+count-1 (positions wrapped into 0..k-1, mapped
// to shards) repeated once per chunk-sized row of len, appended to what the vector held.
TEST(ShardSelectionModel, ReconstructShardsRepeatTheMappedRun) {
  std::mt19937_64 rng(97531u);
  for (const Geometry& g : planning_test::SampleGeometries()) {
    for (int round = 0; round < 20; ++round) {
      const uint32_t start = static_cast<uint32_t>(rng() % 20);
      const uint32_t count = static_cast<uint32_t>(rng() % 12);
      const uint64_t len = 1 + rng() % (5 * g.cSize);
      std::vector<int> run;
      for (uint32_t i = start; i < start + count; ++i) {
        run.push_back(g.ShardOfPosition(i % g.k));
      }
      std::vector<int> expected{-5};
      for (uint64_t row = 0; row * g.cSize < len; ++row) {
        expected.insert(expected.end(), run.begin(), run.end());
      }
      std::vector<int> actual{-5};
      ZoGetReconstructShards(start, count, len, g.Info(), actual);
      ASSERT_EQ(expected, actual) << g.Describe() << " start=" << start << " count=" << count << " len=" << len;
    }
  }
}

// --- Input without an answer: refused promptly, output untouched ---

class ShardSelectionRefusals : public ::testing::Test {
 protected:
  std::vector<int> mapping_;
  ZoEcInfo info_{4, 6, &mapping_, 4096, 16384, 512};
};

TEST_F(ShardSelectionRefusals, ReconstructShards) {
  const std::vector<int> before{8, 9};
  std::vector<int> shards = before;
  ZoEcInfo info = info_;
  info.k = 0;
  ZoGetReconstructShards(0, 2, 4096, info, shards);
  info = info_;
  info.cSize = 0;  // no row size: the row loop would never end
  ZoGetReconstructShards(0, 2, 4096, info, shards);
  info = info_;
  info.chunkMapping = nullptr;
  ZoGetReconstructShards(0, 2, 4096, info, shards);
  info = info_;
  info.cSize = 1;  // 2^40 rows of two shards each
  ZoGetReconstructShards(0, 2, kCap, info, shards);
  ZoGetReconstructShards(0, 2147483646u, 4096, info_, shards);  // one row of 2^31 shards
  EXPECT_EQ(before, shards);
}

TEST_F(ShardSelectionRefusals, RelatedShards) {
  const std::set<int> before{77};
  std::set<int> shards = before;
  for (int field = 0; field < 3; ++field) {
    ZoEcInfo info = info_;
    (field == 0 ? info.k : field == 1 ? info.cSize : info.sWidth) = 0;
    ZoGetRelatedShards({5000, 10000}, info, shards);
  }
  ZoGetRelatedShards({4095, UINT64_MAX - 10}, info_, shards);  // widened length past 64 bits
  ZoEcInfo info = info_;
  info.chunkMapping = nullptr;
  ZoGetRelatedShards({5000, 10000}, info, shards);
  // 2^20 data positions of one byte each.
  const ZoEcInfo wide{uint64_t{1} << 20, (uint64_t{1} << 20) + 2, &mapping_, 1, uint64_t{1} << 20, 1};
  ZoGetRelatedShards({0, uint64_t{1} << 21}, wide, shards);
  ZoGetRelatedShards({0, uint64_t{1} << 19}, wide, shards);
  // A k past 32 bits cannot be counted; past 31 bits nothing is added, as for any negative run.
  ZoEcInfo huge = info_;
  huge.k = (uint64_t{1} << 32) + 3;
  ZoGetRelatedShards({0, 20000}, huge, shards);
  huge.k = uint64_t{1} << 31;
  ZoGetRelatedShards({0, 20000}, huge, shards);
  EXPECT_EQ(before, shards);
}

TEST_F(ShardSelectionRefusals, WriteToShards) {
  const std::set<int> before{77};
  std::set<int> shards = before;
  const Extents writes{{0, 8192}};
  ZoEcInfo info = info_;
  info.sWidth = 0;
  ZoGetWriteToShards(writes, info, shards);
  info = info_;
  info.cSize = 0;
  ZoGetWriteToShards(writes, info, shards);
  info = info_;
  info.k = 0;  // the position would never come back below k
  ZoGetWriteToShards(writes, info, shards);
  info = info_;
  info.chunkCount = uint64_t{1} << 40;  // 2^40 coding positions
  ZoGetWriteToShards(writes, info, shards);
  info = info_;
  info.chunkMapping = nullptr;
  ZoGetWriteToShards(writes, info, shards);
  EXPECT_EQ(before, shards);
}

}  // namespace
