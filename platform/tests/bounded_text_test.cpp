// Contracts of the bounded text functions: results, and nothing written past the destination.
#include "orv_platform/bounded_text.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

namespace {

// A destination of `size` bytes followed by guard bytes that must never change.
struct Guarded {
  explicit Guarded(size_t destSize) : size(destSize) { std::memset(bytes, 'G', sizeof bytes); }
  char* dest() { return bytes; }
  bool GuardIntact() const {
    for (size_t i = size; i < sizeof bytes; ++i) {
      if (bytes[i] != 'G') return false;
    }
    return true;
  }
  size_t size;
  char bytes[128];
};

int CallTruncated(char* dest, size_t destMax, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf_truncated_s(dest, destMax, format, args);
  va_end(args);
  return n;
}

TEST(BoundedText, MemcpyCopiesWhenItFitsAndRefusesOtherwise) {
  Guarded g(16);
  const char src[32] = "0123456789abcdefghijklmnopqrstu";
  EXPECT_EQ(memcpy_s(g.dest(), 16, src, 16), EOK);
  EXPECT_EQ(std::memcmp(g.dest(), src, 16), 0);
  EXPECT_TRUE(g.GuardIntact());

  EXPECT_NE(memcpy_s(g.dest(), 16, src, 17), EOK);
  EXPECT_TRUE(g.GuardIntact());
  EXPECT_NE(memcpy_s(g.dest(), 16, nullptr, 4), EOK);
  EXPECT_NE(memcpy_s(nullptr, 16, src, 4), EOK);
  EXPECT_NE(memcpy_s(g.dest(), 0, src, 0), EOK);
  EXPECT_TRUE(g.GuardIntact());
  // Overlapping regions are refused rather than copied with undefined results.
  char buf[16] = "abcdefghijklmno";
  EXPECT_NE(memcpy_s(buf + 2, 14, buf, 8), EOK);
}

TEST(BoundedText, MemsetFillsAtMostTheDestination) {
  Guarded g(16);
  EXPECT_EQ(memset_s(g.dest(), 16, 0, 16), EOK);
  EXPECT_EQ(std::string(g.dest(), 16), std::string(16, '\0'));
  EXPECT_NE(memset_s(g.dest(), 16, 'x', 100), EOK);
  EXPECT_TRUE(g.GuardIntact());
  EXPECT_NE(memset_s(nullptr, 16, 0, 1), EOK);
}

TEST(BoundedText, StrcpyNeedsRoomForTheTerminator) {
  Guarded g(8);
  EXPECT_EQ(strcpy_s(g.dest(), 8, "1234567"), EOK);
  EXPECT_STREQ(g.dest(), "1234567");
  EXPECT_NE(strcpy_s(g.dest(), 8, "12345678"), EOK);
  EXPECT_STREQ(g.dest(), "");
  EXPECT_TRUE(g.GuardIntact());
  EXPECT_NE(strcpy_s(g.dest(), 8, nullptr), EOK);
  EXPECT_TRUE(g.GuardIntact());
}

TEST(BoundedText, SprintfReturnsLengthOrEmptiesOnOverflow) {
  Guarded g(8);
  EXPECT_EQ(sprintf_s(g.dest(), 8, "%s-%d", "ab", 42), 5);
  EXPECT_STREQ(g.dest(), "ab-42");
  EXPECT_EQ(sprintf_s(g.dest(), 8, "%s", "1234567"), 7);
  EXPECT_EQ(sprintf_s(g.dest(), 8, "%s", "12345678"), -1);
  EXPECT_STREQ(g.dest(), "");
  EXPECT_TRUE(g.GuardIntact());
}

TEST(BoundedText, TruncatedFormatterCutsAtDestMaxMinusOne) {
  Guarded g(8);
  EXPECT_EQ(CallTruncated(g.dest(), 8, "%s", "abc"), 3);
  EXPECT_STREQ(g.dest(), "abc");
  EXPECT_EQ(CallTruncated(g.dest(), 8, "%s%d", "abcdef", 12345), 7);
  EXPECT_STREQ(g.dest(), "abcdef1");
  EXPECT_TRUE(g.GuardIntact());
  EXPECT_EQ(CallTruncated(g.dest(), 1, "%s", "abc"), 0);
  EXPECT_STREQ(g.dest(), "");
  EXPECT_EQ(CallTruncated(nullptr, 8, "%s", "abc"), -1);
}

}  // namespace
