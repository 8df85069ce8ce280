// To-read map rebuild: worked examples, a byte-and-chunk model over seeded random maps, the
// overflow paths of the alignment and merge steps, and refusal of maps whose extents overlap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "ec_quiet_log.h"
#include "orv_ec/orv_ec.h"

namespace {

using Extents = std::map<uint64_t, uint64_t>;

[[maybe_unused]] auto* const quietLog = ec_test::AddQuietLog();

struct Example {
  Extents toRead;
  Extents erase;
  Extents expected;
};

TEST(ToreadRebuildExamples, ChunksDropOutOnlyWhenFullyErased) {
  const Example examples[] = {
      {{{0, 16384}}, {{4096, 8192}}, {{0, 4096}, {12288, 4096}}},
      {{{0, 16384}}, {{5000, 100}}, {{0, 16384}}},
      {{{0, 8192}, {12288, 4096}}, {{8000, 100}}, {{0, 8192}, {12288, 4096}}},
      {{{0, 8192}, {8192, 8192}}, {{8100, 200}}, {{0, 16384}}},
      {{{0, 4096}, {8192, 8192}}, {{0, 4096}, {8192, 4096}}, {{12288, 4096}}},
      {{{0, 16384}}, {{0, 16384}}, {}},
      // Nothing overlaps: the map stays as it came, unaligned and unmerged.
      {{{1000, 100}}, {{5000, 10}}, {{1000, 100}}},
      {{{1000, 100}, {1100, 5}}, {}, {{1000, 100}, {1100, 5}}},
      // Partly erased unaligned extents widen to their chunks and merge.
      {{{100, 50}, {300, 10}, {9000, 10}}, {{300, 5}}, {{0, 4096}, {8192, 4096}}},
      // One byte left in the next chunk keeps that chunk.
      {{{0, 4097}}, {{0, 10}}, {{0, 8192}}},
      {{{4095, 2}}, {{4095, 1}}, {{4096, 4096}}},
  };
  for (const Example& ex : examples) {
    Extents toRead = ex.toRead;
    EXPECT_TRUE(ZoRebuildToread(ex.erase, 4096, toRead));
    EXPECT_EQ(ex.expected, toRead);
  }
}

TEST(ToreadRebuildExamples, EmptyMapOrZeroChunkSizeIsRefused) {
  Extents empty;
  EXPECT_FALSE(ZoRebuildToread({{0, 10}}, 4096, empty));
  EXPECT_TRUE(empty.empty());
  Extents toRead{{0, 100}};
  EXPECT_FALSE(ZoRebuildToread({{0, 10}}, 0, toRead));
  EXPECT_EQ((Extents{{0, 100}}), toRead);
}

TEST(ToreadRebuildExamples, OverlappingExtentsAreRefusedUntouched) {
  const Extents overlapping{{0, 5000}, {4096, 4096}};
  Extents toRead = overlapping;
  EXPECT_FALSE(ZoRebuildToread({{0, 100}}, 4096, toRead));
  EXPECT_EQ(overlapping, toRead);

  const Extents fine{{0, 8192}, {16384, 100}};
  toRead = fine;
  EXPECT_FALSE(ZoRebuildToread({{0, 100}, {50, 10}}, 4096, toRead));
  EXPECT_FALSE(ZoRebuildToread({{0, 100}, {100, 0}, {4000, UINT64_MAX}, {8000, 5}}, 4096, toRead));
  EXPECT_EQ(fine, toRead);
}

// Extents that reach the end of the 64-bit space take the overflow paths and still give true.
TEST(ToreadRebuildExamples, ExtentsAtTheTopOfTheOffsetSpace) {
  const uint64_t top = UINT64_MAX - 4095;  // the last whole chunk: [2^64 - 4096, 2^64)
  // Aligned extent whose end overflows: alignment stops there, the merge reports the last one.
  Extents toRead{{0, 8192}, {top, 4096}};
  EXPECT_TRUE(ZoRebuildToread({{0, 100}}, 4096, toRead));
  EXPECT_EQ((Extents{{0, 8192}, {top, 4096}}), toRead);

  // Erasing a few bytes inside an extent that runs past 2^64: split, widened back, no wrapping.
  toRead = {{top, 8192}};
  EXPECT_TRUE(ZoRebuildToread({{top + 100, 10}}, 4096, toRead));
  EXPECT_EQ((Extents{{top, 8192}}), toRead);
}

// --- Model: bytes to read minus bytes erased, widened to chunks and merged ---

// Random disjoint extents inside [0, span): cut points drawn, pairs of them kept at random.
Extents RandomExtents(std::mt19937_64& rng, uint64_t span, uint64_t csize, int cuts) {
  std::vector<uint64_t> points;
  for (int i = 0; i < cuts; ++i) {
    uint64_t p = rng() % span;
    const uint64_t snap = rng() % 6;  // often on a chunk boundary or one byte either side of it
    if (snap < 3 && p >= csize) {
      p = p / csize * csize + snap - 1;
    }
    points.push_back(p);
  }
  std::sort(points.begin(), points.end());
  points.erase(std::unique(points.begin(), points.end()), points.end());
  Extents out;
  for (size_t i = 0; i + 1 < points.size(); i += 2) {
    if (rng() % 4 != 0) {
      out[points[i]] = points[i + 1] - points[i];
    }
  }
  return out;
}

std::vector<char> BytesOf(const Extents& extents, uint64_t span) {
  std::vector<char> bytes(static_cast<size_t>(span), 0);
  for (const auto& e : extents) {
    for (uint64_t b = e.first; b < e.first + e.second; ++b) {
      bytes[static_cast<size_t>(b)] = 1;
    }
  }
  return bytes;
}

TEST(ToreadRebuildModel, KeepsExactlyTheChunksWithBytesLeftToRead) {
  std::mt19937_64 rng(8642u);
  const uint64_t sizes[] = {512, 1000, 4096};
  for (uint64_t csize : sizes) {
    const uint64_t chunks = 16;
    const uint64_t span = chunks * csize;
    for (int round = 0; round < 120; ++round) {
      Extents toRead = RandomExtents(rng, span, csize, 2 + static_cast<int>(rng() % 12));
      if (toRead.empty()) {
        continue;
      }
      const Extents erase = RandomExtents(rng, span, csize, static_cast<int>(rng() % 12));
      const std::vector<char> want = BytesOf(toRead, span);
      const std::vector<char> gone = BytesOf(erase, span);

      bool anyErased = false;
      std::vector<bool> keepChunk(static_cast<size_t>(chunks), false);
      for (uint64_t b = 0; b < span; ++b) {
        const size_t i = static_cast<size_t>(b);
        anyErased = anyErased || (want[i] != 0 && gone[i] != 0);
        if (want[i] != 0 && gone[i] == 0) {
          keepChunk[static_cast<size_t>(b / csize)] = true;
        }
      }
      Extents expected;
      if (!anyErased) {
        expected = toRead;
      } else {
        for (uint64_t c = 0; c < chunks; ++c) {
          if (!keepChunk[static_cast<size_t>(c)]) {
            continue;
          }
          if (c > 0 && keepChunk[static_cast<size_t>(c - 1)]) {
            (--expected.end())->second += csize;
          } else {
            expected[c * csize] = csize;
          }
        }
      }
      Extents actual = toRead;
      ASSERT_TRUE(ZoRebuildToread(erase, csize, actual));
      ASSERT_EQ(expected, actual) << "csize " << csize << " round " << round;
    }
  }
}

}  // namespace
