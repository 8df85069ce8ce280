// FormatMessage and FormatLogMessage against vsnprintf_truncated_s, their model: random integer, character and string
// conversions, several to a format (every flag, width, precision and length modifier, extreme
// values, output cut at the buffer's end) and formats the fast path must hand over (floating point, pointers, '*',
// positional arguments, wide characters, a null string) give the same text and result.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "message_format.h"
#include "orv_platform/bounded_text.h"

namespace {

constexpr size_t kDestMax = 512;  // as MoxlogWriteLog uses it

// Formats with both into `got` and a buffer of its own (destMax bytes each) and compares result
// and bytes (NUL included).
::testing::AssertionResult SameAsModelIn(char* got, size_t destMax, const char* format, va_list args) {
  std::vector<char> wantBuffer(destMax, 'w');
  char* const want = wantBuffer.data();
  std::memset(got, 'g', destMax);
  va_list a;
  va_list b;
  va_copy(a, args);
  va_copy(b, args);
  const int r = moxlog::FormatMessage(got, destMax, format, a);
  const int m = vsnprintf_truncated_s(want, destMax, format, b);
  va_end(b);
  va_end(a);
  if (r != m) {
    return ::testing::AssertionFailure() << "format [" << format << "] size " << destMax << ": result " << r
                                         << ", model " << m;
  }
  const size_t n = m < 0 ? 1 : static_cast<size_t>(m) + 1;
  if (std::memcmp(got, want, n) != 0) {
    return ::testing::AssertionFailure() << "format [" << format << "]: text [" << std::string(got, n - 1)
                                         << "], model [" << std::string(want, n - 1) << "]";
  }
  // The log message form: the same text, its length counted up to the first NUL.
  std::memset(got, 'g', destMax);
  va_list c;
  va_copy(c, args);
  const int len = moxlog::FormatLogMessage(got, destMax, format, c);
  va_end(c);
  const int wantLen = m < 0 ? -1 : static_cast<int>(strnlen(want, static_cast<size_t>(m)));
  if (len != wantLen || std::memcmp(got, want, n) != 0) {
    return ::testing::AssertionFailure() << "format [" << format << "] size " << destMax << ": message length "
                                         << len << ", model " << wantLen;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameAsModel(const char* format, ...) {
  char got[kDestMax];
  va_list args;
  va_start(args, format);
  ::testing::AssertionResult same = SameAsModelIn(got, kDestMax, format, args);
  va_end(args);
  return same;
}

int64_t RandomValue(std::mt19937_64& rng) {
  static const int64_t kEdges[] = {0, 1, -1, 7, 8, 9, 10, 15, 16, 255, 256, -128, 32767, -32768, 65535,
                                   INT_MAX, INT_MIN, UINT_MAX, LLONG_MAX, LLONG_MIN};
  switch (rng() % 5) {
    case 0:
      return kEdges[rng() % (sizeof kEdges / sizeof kEdges[0])];
    case 1:
      return static_cast<int64_t>(rng() % 2000) - 1000;
    case 2: {
      // A power of ten or a neighbour, where the number of digits changes (10^19 as its bits).
      uint64_t power = 1;
      for (uint64_t k = rng() % 20; k > 0; --k) {
        power *= 10;
      }
      const uint64_t value = power + rng() % 3 - 1;
      return static_cast<int64_t>(rng() % 2 == 0 ? value : 0 - value);
    }
    default:
      return static_cast<int64_t>(rng() >> (rng() % 64));
  }
}

// One to three conversions per format, between random runs of text, so that the state carried from
// one conversion to the next is checked too. The conversions of one format take arguments of one
// kind (int, long, long long or string); three arguments are always passed.
TEST(MessageFormat, RandomConversionsMatchTheCLibrary) {
  std::mt19937_64 rng(20240611);
  const std::string longText(600, 'q');
  const char* const strings[] = {"", "a", "Interface", "ecpartial shard", longText.c_str()};
  struct Kind {
    const char* conversions;
    std::vector<const char*> lengths;
  };
  const Kind kinds[] = {{"diuoxXc%", {"", "hh", "h"}},
                        {"diuoxX%", {"l", "z", "t"}},
                        {"diuoxX%", {"ll", "j"}},
                        {"s%", {""}}};
  for (int round = 0; round < 40000; ++round) {
    const size_t kind = rng() % 4;
    std::string format;
    const int conversions = 1 + static_cast<int>(rng() % 3);
    for (int c = 0; c < conversions; ++c) {
      // Mostly short runs; some that reach the cut, some that end anywhere in the last words
      // before it.
      const uint64_t run = rng() % 8;
      const uint64_t runLength = run == 0 ? 480 + rng() % 40 : run == 1 ? rng() % 70 : rng() % 12;
      format.append(runLength, static_cast<char>('a' + rng() % 26));
      format += '%';
      for (const char flag : std::string("-+ #0")) {
        if (rng() % 4 == 0) {
          format += flag;
        }
      }
      if (rng() % 2 == 0) {
        format += std::to_string(rng() % 8 == 0 ? 500 + rng() % 200 : rng() % 30);
      }
      if (rng() % 3 == 0) {
        format += '.';
        if (rng() % 4 != 0) {
          format += std::to_string(rng() % 8 == 0 ? 500 + rng() % 200 : rng() % 30);
        }
      }
      const char* const letters = kinds[kind].conversions;
      const char conversion = letters[rng() % std::strlen(letters)];
      if (conversion != 'c' && conversion != '%') {
        format += kinds[kind].lengths[rng() % kinds[kind].lengths.size()];
      }
      format += conversion;
    }
    format += " tail";
    const char* f = format.c_str();
    const int64_t v[3] = {RandomValue(rng), RandomValue(rng), RandomValue(rng)};
    ::testing::AssertionResult same = ::testing::AssertionSuccess();
    switch (kind) {
      case 0:
        same = SameAsModel(f, static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]));
        break;
      case 1:
        same = SameAsModel(f, static_cast<long>(v[0]), static_cast<long>(v[1]), static_cast<long>(v[2]));
        break;
      case 2:
        same = SameAsModel(f, static_cast<long long>(v[0]), static_cast<long long>(v[1]),
                           static_cast<long long>(v[2]));
        break;
      default:
        same = SameAsModel(f, strings[rng() % 5], strings[rng() % 5], strings[rng() % 5]);
        break;
    }
    ASSERT_TRUE(same) << "round " << round;
  }
}

// Texts placed so that they end right before an unreadable page, and an output buffer that does:
// at every distance of a format's or a string's NUL from the page's end and at every buffer size
// from 1 to 120, the text and result are the model's, and no byte past a NUL in the next page is
// read and no byte past the buffer written (either would fault).
TEST(MessageFormat, ReadsNothingPastTheTextsNorWritesPastTheBuffer) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* const mapped = mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  char* const base = static_cast<char*>(mapped);
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
  ASSERT_EQ(mprotect(base + 3 * page, page, PROT_NONE), 0);
  char* const textEnd = base + page;
  char* const outEnd = base + 3 * page;
  // `text` copied so that `slack` bytes lie between its NUL and the unreadable page.
  auto place = [](char* end, const std::string& text, size_t slack) {
    char* const at = end - slack - text.size() - 1;
    std::memcpy(at, text.c_str(), text.size() + 1);
    return static_cast<const char*>(at);
  };
  auto same = [](char* got, size_t destMax, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ::testing::AssertionResult result = SameAsModelIn(got, destMax, format, args);
    va_end(args);
    return result;
  };
  const char* const numberFormats[] = {"write offset=%012lu len=%08d shard=%02d", "%lu%d%x",
                                       "a run of literal text longer than a few words, %lx then %-5d|%+d"};
  const char* const stringFormats[] = {"%s", "[%s] and [%5s]", "%-20s|%.3s|", "module %s: %s", "%c%c"};
  const std::string strings[] = {"", "a", "Interface", "ecpartial shard rebuilt"};
  for (size_t slack = 0; slack < 24; ++slack) {
    for (size_t destMax = 1; destMax <= 120; ++destMax) {
      char* const got = outEnd - destMax;
      for (const char* numberFormat : numberFormats) {
        const char* f = place(textEnd, numberFormat, slack);
        ASSERT_TRUE(same(got, destMax, f, 4096UL * 77 + slack, -static_cast<int>(destMax), 11)) << "slack " << slack;
      }
      for (const char* stringFormat : stringFormats) {
        const char* f = place(textEnd, stringFormat, slack);
        if (stringFormat[1] == 'c') {
          ASSERT_TRUE(same(got, destMax, f, 'x', 'y')) << "slack " << slack;
          continue;
        }
        // The format at the page's end with the string elsewhere, then the string there.
        const std::string& text = strings[(slack + destMax) % 4];
        const char* inside = place(base + page / 2, text, 0);
        ASSERT_TRUE(same(got, destMax, f, inside, inside)) << "slack " << slack;
        const char* atEnd = place(textEnd, text, slack);
        const char* g = place(base + page / 4, stringFormat, 0);
        ASSERT_TRUE(same(got, destMax, g, atEnd, atEnd)) << "slack " << slack;
      }
    }
  }
  munmap(mapped, 4 * page);
}

TEST(MessageFormat, MessagesOfTheLibrariesAndHandedOverFormats) {
  // Messages as the planning library and the benchmarks write them.
  EXPECT_TRUE(SameAsModel("write offset=%012lu len=%08d shard=%02d", 4096UL * 77, 4096, 11));
  EXPECT_TRUE(SameAsModel("Func ZoGetRelatedShards off=%ld len=%ld", 5000L, -1L));
  EXPECT_TRUE(SameAsModel("Func ZoGetWriteToShards twc<%ld,%ld>", LONG_MIN, LONG_MAX));
  EXPECT_TRUE(SameAsModel("ZoGetReconstructShards start=%u count=%u len=%ld", 0U, UINT_MAX, 1L << 40));
  EXPECT_TRUE(SameAsModel("plain text, no conversion"));
  EXPECT_TRUE(SameAsModel(""));
  EXPECT_TRUE(SameAsModel("w%d s%d", 3, 9999));
  EXPECT_TRUE(SameAsModel("nul %c inside", 0));
  // Formats outside the fast path give the C library's text all the same.
  EXPECT_TRUE(SameAsModel("float %f %e %g %a", 1.5, -2.25e10, 0.1, 3.0));
  EXPECT_TRUE(SameAsModel("pointer %p and %p", static_cast<void*>(nullptr), static_cast<const void*>("x")));
  EXPECT_TRUE(SameAsModel("star %*d %-*.*s|", 7, 42, 9, 3, "abcdef"));
  EXPECT_TRUE(SameAsModel("positional %2$s %1$d", 5, "two"));
  EXPECT_TRUE(SameAsModel("null string %s and %.3s", static_cast<const char*>(nullptr),
                          static_cast<const char*>(nullptr)));
  EXPECT_TRUE(SameAsModel("wide %lc %ls", static_cast<wint_t>('w'), L"ide"));
  EXPECT_TRUE(SameAsModel("zero-padded text %05s %03c", "ab", 'c'));
  EXPECT_TRUE(SameAsModel("odd percent %5% %-%"));
  EXPECT_TRUE(SameAsModel("ends in a percent %"));
  EXPECT_TRUE(SameAsModel("huge width %5000d", 1));
  EXPECT_TRUE(SameAsModel("long double %Lf and quad %qd", 1.0L, 5LL));
}

}  // namespace
