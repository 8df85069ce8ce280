// ZoShouldUseUpdate and ZoPrepareUpdateChunks: the worked examples on the 4+2 geometry, a seeded
// comparison of the decision with a byte-level count of the chunks each way must read, and the
// refusals of zero or inconsistent geometry.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "ec_quiet_log.h"
#include "orv_ec/orv_ec.h"

namespace {

using Range = std::pair<uint64_t, uint64_t>;

[[maybe_unused]] ::testing::Environment* const quietLog = ec_test::AddQuietLog();

const std::vector<int> kNoMapping;

ZoEcInfo Geometry(uint64_t k, uint64_t cSize, uint64_t alignSize) {
  return ZoEcInfo{k, k + 2, &kNoMapping, cSize, k * cSize, alignSize};
}

TEST(ZoShouldUseUpdate, WorkedExamples) {
  const ZoEcInfo info = Geometry(4, 4096, 512);
  EXPECT_FALSE(ZoShouldUseUpdate(info, Range(5000, 10000)));  // 3 against 3: the tie overwrites
  EXPECT_TRUE(ZoShouldUseUpdate(info, Range(4096, 4096)));    // 1 against 3
  EXPECT_FALSE(ZoShouldUseUpdate(info, Range(0, 16384)));     // 4 against 0
  EXPECT_TRUE(ZoShouldUseUpdate(info, Range(1000, 100)));     // 1 against 5
  EXPECT_FALSE(ZoShouldUseUpdate(info, Range(5000, 40000)));  // 4 against 3, over three stripes
}

TEST(ZoShouldUseUpdate, ZeroChunkSizeOverwrites) {
  ZoEcInfo info = Geometry(4, 4096, 512);
  info.cSize = 0;
  EXPECT_FALSE(ZoShouldUseUpdate(info, Range(4096, 4096)));
}

TEST(ZoShouldUseUpdate, ZeroStripeOrUnitWidthStillDecides) {
  // The widening to a zero granule gives (0, 0); the counts follow from that pair.
  ZoEcInfo info = Geometry(4, 4096, 512);
  info.alignSize = 0;
  // chunk (4096, 4096), unit (0, 0): head and tail extra, update 1 against 4 - 1 + 2.
  EXPECT_TRUE(ZoShouldUseUpdate(info, Range(4096, 4096)));
  info = Geometry(4, 4096, 512);
  info.sWidth = 0;
  // stripe (0, 0) is not above sWidth 0: single-stripe counts, update 1 against 3.
  EXPECT_TRUE(ZoShouldUseUpdate(info, Range(4096, 4096)));
}

TEST(ZoShouldUseUpdate, InconsistentGeometryIsRefusedAsOverwrite) {
  // sWidth far above k * cSize: one "stripe" holds ten chunks, so k - update would be negative.
  ZoEcInfo info = Geometry(2, 4096, 4096);
  info.sWidth = 40960;
  EXPECT_FALSE(ZoShouldUseUpdate(info, Range(0, 40960)));
  EXPECT_FALSE(ZoShouldUseUpdate(info, Range(4096, 20480)));
}

// The decision counted from bytes, for a consistent geometry (sWidth = k * cSize, alignSize
// dividing cSize) and a non-empty range below the cap.
bool ModelDecision(const ZoEcInfo& info, uint64_t off, uint64_t len) {
  std::set<uint64_t> chunks;
  std::set<uint64_t> stripes;
  for (uint64_t x = off; x < off + len; ++x) {
    chunks.insert(x / info.cSize);
    stripes.insert(x / info.sWidth);
  }
  const uint64_t a = info.alignSize;
  const uint64_t c = info.cSize;
  const uint64_t end = off + len;
  // The first alignment unit of the range is not the first of its chunk; the last chunk holds
  // bytes past the range's last alignment unit.
  const uint64_t head = (off / a * a != off / c * c) ? 1 : 0;
  const uint64_t tail = ((end + a - 1) / a * a != (end + c - 1) / c * c) ? 1 : 0;
  const uint64_t touched = chunks.size();
  uint64_t update;
  uint64_t overwrite;
  if (stripes.size() > 1) {
    update = std::min<uint64_t>(touched, info.k);
    overwrite = stripes.size() * info.k - touched + head + tail;  // untouched chunks of those stripes
  } else {
    update = touched;
    overwrite = info.k - touched + head + tail;
  }
  return update < overwrite;
}

TEST(ZoShouldUseUpdate, MatchesByteLevelChunkCounts) {
  std::mt19937_64 rng(31337);
  const uint64_t chunkSizes[] = {8, 16, 24, 32, 64};
  int updates = 0;
  for (int i = 0; i < 4000; ++i) {
    const uint64_t k = 1 + rng() % 6;
    const uint64_t cSize = chunkSizes[rng() % 5];
    std::vector<uint64_t> divisors;
    for (uint64_t d = 1; d <= cSize; ++d) {
      if (cSize % d == 0) divisors.push_back(d);
    }
    const uint64_t alignSize = divisors[rng() % divisors.size()];
    const ZoEcInfo info = Geometry(k, cSize, alignSize);
    const uint64_t off = rng() % (4 * info.sWidth);
    const uint64_t len = 1 + rng() % (3 * info.sWidth);
    const bool expected = ModelDecision(info, off, len);
    updates += expected ? 1 : 0;
    ASSERT_EQ(expected, ZoShouldUseUpdate(info, Range(off, len)))
        << "k=" << k << " cSize=" << cSize << " align=" << alignSize << " range=" << off << "," << len;
  }
  // Both answers occur, so the comparison exercised both sides.
  EXPECT_GT(updates, 100);
  EXPECT_LT(updates, 3900);
}

TEST(ZoPrepareUpdateChunks, WorkedExamples) {
  const ZoEcInfo info = Geometry(4, 4096, 512);
  ZoChunkInfo out{99, 99, 99};
  ZoPrepareUpdateChunks(info, 5000, 8192, out);
  EXPECT_EQ(1u, out.index);
  EXPECT_EQ(2u, out.count);
  EXPECT_EQ(4096u, out.chunkLen);

  ZoPrepareUpdateChunks(info, 20480, 32768, out);
  EXPECT_EQ(1u, out.index);
  EXPECT_EQ(4u, out.count);
  EXPECT_EQ(8192u, out.chunkLen);

  ZoPrepareUpdateChunks(info, 16383, 100, out);  // less than a chunk of data
  EXPECT_EQ(3u, out.index);
  EXPECT_EQ(0u, out.count);
  EXPECT_EQ(4096u, out.chunkLen);

  ZoPrepareUpdateChunks(info, 0, 16384 + 3, out);  // one stripe and a bit: spread over k chunks
  EXPECT_EQ(0u, out.index);
  EXPECT_EQ(4u, out.count);
  EXPECT_EQ(4096u, out.chunkLen);
}

TEST(ZoPrepareUpdateChunks, ZeroGeometryLeavesOutputUntouched) {
  for (int field = 0; field < 3; ++field) {
    ZoEcInfo info = Geometry(4, 4096, 512);
    if (field == 0) info.k = 0;
    if (field == 1) info.sWidth = 0;
    if (field == 2) info.cSize = 0;
    ZoChunkInfo out{7, 8, 9};
    ZoPrepareUpdateChunks(info, 5000, 8192, out);
    EXPECT_EQ(7u, out.index) << field;
    EXPECT_EQ(8u, out.count) << field;
    EXPECT_EQ(9u, out.chunkLen) << field;
  }
}

}  // namespace
