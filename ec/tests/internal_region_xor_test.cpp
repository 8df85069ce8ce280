// Region XOR: the SIMD kernel against the byte-wise reference for 1 to 256 sources, every size
// up to a few blocks past the widest block, random sizes up to 64 KiB, regions large enough for
// the non-temporal stores, aligned, unaligned and mixed regions, and in-place use with the
// destination equal to each source in turn; every region sits between guard bytes, and only the
// destination may change. And ZoRegionNeonXor's argument handling, which leaves the destination
// untouched whenever it refuses a call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "ec_quiet_log.h"
#include "orv_ec/orv_ec.h"
#include "region_xor.h"

namespace {

[[maybe_unused]] ::testing::Environment* const quietLog = ec_test::AddQuietLog();

constexpr size_t kGuard = 48;        // bytes checked on each side of every region
constexpr uint8_t kGuardByte = 0xA5;
constexpr size_t kMaxSize = 64 * 1024;
// Past three of the widest blocks (256 bytes), three 64-byte blocks, three 16-byte steps and the
// last bytes, so that every block width is entered, left and skipped.
constexpr size_t kPastEveryWidth = 3 * 256 + 3 * 64 + 3 * 16 + 15 + 256;
// Sources and destination together at least this large are written with non-temporal stores.
constexpr size_t kNonTemporalSpan = size_t{6} << 20;

// Where the regions start: all 64-byte aligned, all at a random offset, or each one either way
// at random (so that, among others, the first source may be unaligned and the rest aligned, or
// the sources aligned and the destination not).
enum class Placement { kAligned, kUnaligned, kMixed };

Placement PlacementFor(size_t n) { return static_cast<Placement>(n % 3); }

// Random source regions and a separate destination, each framed by guard bytes.
class Regions {
 public:
  Regions(std::mt19937_64& rng, size_t count, size_t size, Placement placement) : size_(size) {
    for (size_t r = 0; r <= count; ++r) {
      const bool aligned = placement == Placement::kAligned || (placement == Placement::kMixed && rng() % 2 == 0);
      frames_.emplace_back(kGuard + 2 * 64 + size + kGuard, static_cast<char>(kGuardByte));
      const uintptr_t afterGuard = reinterpret_cast<uintptr_t>(frames_.back().data()) + kGuard;
      starts_.push_back(kGuard + (64 - afterGuard % 64) % 64 + (aligned ? 0 : 1 + rng() % 63));
      Fill(rng, frames_.back().data() + starts_.back(), size);
    }
    for (size_t s = 0; s < count; ++s) {
      sources_.push_back(frames_[s].data() + starts_[s]);
      originals_.emplace_back(sources_.back(), sources_.back() + size);
    }
  }
  char* dest() { return frames_.back().data() + starts_.back(); }
  const char* const* sources() const { return sources_.data(); }
  char** mutableSources() { return sources_.data(); }
  size_t count() const { return sources_.size(); }
  size_t size() const { return size_; }

  std::vector<char> Expected() const {
    std::vector<char> out(size_ + 1);
    orv_ec::RegionXorReference(sources(), count(), out.data(), size_);
    out.resize(size_);
    return out;
  }
  // Whether every byte outside the regions still holds the guard byte, and every source other
  // than `written` (the destination of an in-place call) still holds its bytes.
  bool OnlyDestinationWritten(const char* written = nullptr) const {
    static const std::vector<char> guard(kGuard + 2 * 64, static_cast<char>(kGuardByte));
    for (size_t r = 0; r < frames_.size(); ++r) {
      const size_t end = starts_[r] + size_;
      if (std::memcmp(frames_[r].data(), guard.data(), starts_[r]) != 0 ||
          std::memcmp(frames_[r].data() + end, guard.data(), frames_[r].size() - end) != 0) {
        return false;
      }
    }
    for (size_t s = 0; s < count(); ++s) {
      if (size_ != 0 && sources_[s] != written && std::memcmp(originals_[s].data(), sources_[s], size_) != 0) return false;
    }
    return true;
  }
  std::vector<char> DestCopy() { return std::vector<char>(dest(), dest() + size_); }

 private:
  static void Fill(std::mt19937_64& rng, char* p, size_t n) {
    for (size_t i = 0; i < n; i += 8) {
      const uint64_t word = rng();
      std::memcpy(p + i, &word, std::min<size_t>(8, n - i));
    }
  }

  size_t size_;
  std::vector<std::vector<char>> frames_;  // the sources', then the destination's
  std::vector<size_t> starts_;             // where each region starts in its frame
  std::vector<char*> sources_;
  std::vector<std::vector<char>> originals_;
};

TEST(RegionXorReference, XorsBytes) {
  const char a[] = {0x0F, 0x55, 0x00};
  const char b[] = {0x01, 0x55, 0x7F};
  const char c[] = {0x10, 0x00, 0x01};
  const char* srcs[] = {a, b, c};
  char out[3] = {9, 9, 9};
  orv_ec::RegionXorReference(srcs, 3, out, 3);
  EXPECT_EQ(0x1E, out[0]);
  EXPECT_EQ(0x00, out[1]);
  EXPECT_EQ(0x7E, out[2]);
}

TEST(XorRegions, EverySmallSizeAndCount) {
  std::mt19937_64 rng(1);
  for (size_t size = 0; size <= kPastEveryWidth; ++size) {
    for (size_t count : {size_t{1}, size_t{2}, size_t{3}, size_t{4}, size_t{5}, size_t{8}}) {
      Regions r(rng, count, size, PlacementFor(size + count));
      const std::vector<char> expected = r.Expected();
      orv_ec::XorRegions(r.sources(), r.count(), r.dest(), r.size());
      ASSERT_EQ(expected, r.DestCopy()) << "size " << size << " count " << count;
      ASSERT_TRUE(r.OnlyDestinationWritten()) << "size " << size << " count " << count;
    }
  }
}

TEST(XorRegions, RandomCountsSizesAndAlignments) {
  std::mt19937_64 rng(2);
  const size_t fixedSizes[] = {kMaxSize, kMaxSize - 1, 64 * 1023 + 17, 4095, 4097};
  for (int i = 0; i < 30; ++i) {
    const size_t count = i < 4 ? std::vector<size_t>{1, 255, 256, 256}[static_cast<size_t>(i)] : 1 + rng() % 256;
    // Keep the work per case bounded: many sources go with smaller regions.
    const size_t size = i < 5 ? fixedSizes[i] : rng() % (count > 64 ? kMaxSize / 8 : kMaxSize + 1);
    Regions r(rng, count, size, PlacementFor(rng()));
    const std::vector<char> expected = r.Expected();
    orv_ec::XorRegions(r.sources(), r.count(), r.dest(), r.size());
    ASSERT_EQ(expected, r.DestCopy()) << "size " << size << " count " << count;
    ASSERT_TRUE(r.OnlyDestinationWritten()) << "size " << size << " count " << count;
  }
}

TEST(XorRegions, DestinationMayBeOneOfTheSources) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 60; ++i) {
    const size_t count = 1 + rng() % 20;
    const size_t size = rng() % 5000;
    Regions r(rng, count, size, PlacementFor(rng()));
    const std::vector<char> expected = r.Expected();
    char** srcs = r.mutableSources();
    char* dest = srcs[rng() % count];
    orv_ec::XorRegions(srcs, count, dest, size);
    ASSERT_EQ(expected, std::vector<char>(dest, dest + size)) << "size " << size << " count " << count;
    ASSERT_TRUE(r.OnlyDestinationWritten(dest)) << "size " << size << " count " << count;
  }
}

// In place: the destination is each source in turn, at sizes that end in every block width.
TEST(XorRegions, DestinationEqualToEachSourceInTurn) {
  std::mt19937_64 rng(7);
  for (size_t count : {size_t{1}, size_t{2}, size_t{3}, size_t{6}, size_t{7}, size_t{17}}) {
    for (size_t size : {size_t{16}, size_t{64}, size_t{100}, size_t{256}, size_t{2 * 256 + 64 + 16 + 5},
                        size_t{5 * 256 + 3 * 64}, rng() % kPastEveryWidth}) {
      for (size_t k = 0; k < count; ++k) {
        Regions r(rng, count, size, PlacementFor(size + k));
        const std::vector<char> expected = r.Expected();
        char* dest = r.mutableSources()[k];
        orv_ec::XorRegions(r.sources(), count, dest, size);
        ASSERT_EQ(expected, std::vector<char>(dest, dest + size)) << "size " << size << " count " << count << " dest " << k;
        ASSERT_TRUE(r.OnlyDestinationWritten(dest)) << "size " << size << " count " << count << " dest " << k;
      }
    }
  }
}

// Regions large enough for the non-temporal stores: aligned and unaligned destinations, sizes
// with a tail, and the destination equal to a source.
TEST(XorRegions, LargeRegions) {
  std::mt19937_64 rng(8);
  struct Case {
    size_t count;
    size_t size;
    Placement placement;
  };
  const Case cases[] = {{1, kNonTemporalSpan / 2, Placement::kAligned},
                        {4, kNonTemporalSpan / 4, Placement::kAligned},
                        {3, kNonTemporalSpan / 4 + 256 + 64 + 16 + 7, Placement::kUnaligned},
                        {8, kNonTemporalSpan / 9 + 64 * 3, Placement::kMixed},
                        {16, kNonTemporalSpan / 17 + 1000, Placement::kMixed}};
  for (const Case& c : cases) {
    Regions r(rng, c.count, c.size, c.placement);
    const std::vector<char> expected = r.Expected();
    orv_ec::XorRegions(r.sources(), r.count(), r.dest(), r.size());
    ASSERT_TRUE(expected == r.DestCopy()) << "size " << c.size << " count " << c.count;
    ASSERT_TRUE(r.OnlyDestinationWritten()) << "size " << c.size << " count " << c.count;
    char* inPlace = r.mutableSources()[c.count / 2];
    orv_ec::XorRegions(r.sources(), r.count(), inPlace, r.size());
    ASSERT_TRUE(expected == std::vector<char>(inPlace, inPlace + c.size)) << "in place, count " << c.count;
    ASSERT_TRUE(r.OnlyDestinationWritten(inPlace)) << "in place, count " << c.count;
  }
}

TEST(ZoRegionNeonXor, MatchesReferenceForWholeBlocks) {
  std::mt19937_64 rng(4);
  for (int i = 0; i < 30; ++i) {
    const size_t count = i == 0 ? 256 : 1 + rng() % 256;
    const size_t size = (i == 1 ? kMaxSize : rng() % (kMaxSize / 4)) / 64 * 64;
    Regions r(rng, count, size, Placement::kUnaligned);
    const std::vector<char> expected = r.Expected();
    ZoRegionNeonXor(r.mutableSources(), r.dest(), static_cast<int>(count), static_cast<unsigned int>(size));
    ASSERT_EQ(expected, r.DestCopy()) << "size " << size << " count " << count;
    ASSERT_TRUE(r.OnlyDestinationWritten());
  }
}

TEST(ZoRegionNeonXor, WorkedExamples) {
  std::mt19937_64 rng(5);
  {  // one source: a copy
    Regions r(rng, 1, 64, Placement::kUnaligned);
    ZoRegionNeonXor(r.mutableSources(), r.dest(), 1, 64);
    EXPECT_EQ(std::vector<char>(r.sources()[0], r.sources()[0] + 64), r.DestCopy());
  }
  {  // two identical sources: zeros
    Regions r(rng, 1, 192, Placement::kAligned);
    char* same[] = {r.mutableSources()[0], r.mutableSources()[0]};
    ZoRegionNeonXor(same, r.dest(), 2, 192);
    EXPECT_EQ(std::vector<char>(192, 0), r.DestCopy());
  }
  {  // destination equal to the first source
    Regions r(rng, 4, 640, Placement::kUnaligned);
    const std::vector<char> expected = r.Expected();
    char* first = r.mutableSources()[0];
    ZoRegionNeonXor(r.mutableSources(), first, 4, 640);
    EXPECT_EQ(expected, std::vector<char>(first, first + 640));
  }
}

TEST(ZoRegionNeonXor, RefusedCallsWriteNothing) {
  std::mt19937_64 rng(6);
  Regions r(rng, 3, 256, Placement::kUnaligned);
  const std::vector<char> before = r.DestCopy();
  char** srcs = r.mutableSources();
  // Block size zero, or not a multiple of 64.
  for (unsigned int size : {0u, 32u, 100u, 255u, 63u}) {
    ZoRegionNeonXor(srcs, r.dest(), 3, size);
    EXPECT_EQ(before, r.DestCopy()) << size;
  }
  // Source counts outside 1..256 (the sources array here is large enough to read 257 entries).
  std::vector<char*> many(300, srcs[0]);
  for (int count : {0, -1, -256, 257, 1000}) {
    ZoRegionNeonXor(many.data(), r.dest(), count, 256);
    EXPECT_EQ(before, r.DestCopy()) << count;
  }
  // Null pointers: the array, the destination, or one source.
  ZoRegionNeonXor(nullptr, r.dest(), 3, 256);
  EXPECT_EQ(before, r.DestCopy());
  ZoRegionNeonXor(srcs, nullptr, 3, 256);
  char* withNull[] = {srcs[0], nullptr, srcs[2]};
  ZoRegionNeonXor(withNull, r.dest(), 3, 256);
  EXPECT_EQ(before, r.DestCopy());
  EXPECT_TRUE(r.OnlyDestinationWritten());
}

}  // namespace
