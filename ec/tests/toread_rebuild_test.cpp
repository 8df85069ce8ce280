// To-read map rebuild: worked examples, a byte-and-chunk model over seeded random maps, exact
// results up to the 2^40 offset cap, and refusal of maps whose extents overlap or pass the cap.
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

// Positions are handled up to 2^40: an extent of either map ending above it is refused, with the
// map untouched, however far above it ends.
TEST(ToreadRebuildExamples, ExtentsEndingAboveTheOffsetCapAreRefusedUntouched) {
  const uint64_t cap = uint64_t{1} << 40;
  const uint64_t top = 0 - uint64_t{12288};  // 2^64 - 12288
  struct Refused {
    Extents toRead;
    Extents erase;
    uint64_t csize;
  };
  const Refused cases[] = {
      {{{top, 12288}}, {{0 - uint64_t{7288}, 100}}, 4096},
      {{{0 - uint64_t{4096}, 4000}}, {{0 - uint64_t{3000}, 10}}, 12288},
      {{{0, cap * 2}}, {{0, 1}}, 4096},
      {{{0, 8192}}, {{0, 100}, {cap, 1}}, 4096},
      {{{0, 8192}, {cap - 10, 11}}, {{0, 100}}, 4096},
      {{{0, 8192}}, {{cap + 1, 0}}, 4096},                   // no bytes, but it starts above
      {{{0, 8192}}, {{4096, UINT64_MAX}}, 4096},              // the end wraps past 2^64
      {{{0, 8192}, {cap, 0}}, {{5, UINT64_MAX - 4}}, 4096},  // ends exactly at 2^64
  };
  for (const Refused& c : cases) {
    Extents toRead = c.toRead;
    EXPECT_FALSE(ZoRebuildToread(c.erase, c.csize, toRead));
    EXPECT_EQ(c.toRead, toRead);
  }
}

// Up to the cap the result is exact: every chunk holding a byte left to read, whole, even where
// that chunk reaches past 2^40 or the chunk size exceeds it.
TEST(ToreadRebuildExamples, ResultIsExactUpToTheOffsetCap) {
  const uint64_t cap = uint64_t{1} << 40;
  Extents toRead{{0, cap}};
  EXPECT_TRUE(ZoRebuildToread({{0, 1}}, 12288, toRead));
  EXPECT_EQ((Extents{{0, (cap / 12288 + 1) * 12288}}), toRead);

  toRead = {{cap - 8192, 8192}};  // 2^40 mod 12288 is 4096: the extent spans two chunks
  EXPECT_TRUE(ZoRebuildToread({{cap - 8000, 10}}, 12288, toRead));
  EXPECT_EQ((Extents{{cap - 16384, 24576}}), toRead);

  toRead = {{0, 100}, {cap - 1, 1}};
  EXPECT_TRUE(ZoRebuildToread({{0, 10}}, cap * 2, toRead));
  EXPECT_EQ((Extents{{0, cap * 2}}), toRead);

  // An erase extent of no bytes erases nothing, and an extent of no bytes has nothing to read.
  toRead = {{1000, 100}};
  EXPECT_TRUE(ZoRebuildToread({{1050, 0}}, 4096, toRead));
  EXPECT_EQ((Extents{{1000, 100}}), toRead);
  toRead = {{0, 100}, {5000, 0}, {cap, 0}};
  EXPECT_TRUE(ZoRebuildToread({{0, 10}}, 4096, toRead));
  EXPECT_EQ((Extents{{0, 4096}}), toRead);
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
