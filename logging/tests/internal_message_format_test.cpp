// FormatMessage against vsnprintf_truncated_s, its model: random integer, character and string
// conversions, several to a format (every flag, width, precision and length modifier, extreme
// values, output cut at the buffer's end) and formats the fast path must hand over (floating point, pointers, '*',
// positional arguments, wide characters, a null string) give the same text and result.
#include <gtest/gtest.h>

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

// Formats with both and compares result and bytes (NUL included).
::testing::AssertionResult SameAsModel(const char* format, ...) {
  char got[kDestMax + 1];
  char want[kDestMax + 1];
  std::memset(got, 'g', sizeof got);
  std::memset(want, 'w', sizeof want);
  va_list a;
  va_list b;
  va_start(a, format);
  va_copy(b, a);
  const int r = moxlog::FormatMessage(got, kDestMax, format, a);
  const int m = vsnprintf_truncated_s(want, kDestMax, format, b);
  va_end(b);
  va_end(a);
  if (r != m) {
    return ::testing::AssertionFailure() << "format [" << format << "]: result " << r << ", model " << m;
  }
  const size_t n = m < 0 ? 1 : static_cast<size_t>(m) + 1;
  if (std::memcmp(got, want, n) != 0) {
    return ::testing::AssertionFailure() << "format [" << format << "]: text [" << std::string(got, n - 1)
                                         << "], model [" << std::string(want, n - 1) << "]";
  }
  return ::testing::AssertionSuccess();
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
      format.append(rng() % 8 == 0 ? 480 + rng() % 40 : rng() % 12, static_cast<char>('a' + rng() % 26));
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
