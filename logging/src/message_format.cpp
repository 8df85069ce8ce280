// Log message formatting: integer, character and string conversions formatted here, everything
// else by vsnprintf_truncated_s.
#include "message_format.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "orv_platform/bounded_text.h"
#include "short_copy.h"

namespace moxlog {

namespace {

#if !defined(ORV_HAVE_SECUREC)

// Result of FormatSubset for a format it leaves to the general engine.
constexpr int NEEDS_GENERAL = -2;
// Widths and precisions above this go to the general engine.
constexpr unsigned MAX_FIELD = 4096;

// Output cut at `room` characters; `total` counts what the whole text would take.
struct Sink {
  char* dest;
  size_t room;
  size_t total;

  void Put(char c) {
    if (total < room) {
      dest[total] = c;
    }
    ++total;
  }
  void Put(const char* text, size_t n) {
    if (total < room) {
      CopyShort(dest + total, text, n < room - total ? n : room - total);
    }
    total += n;
  }
  void Fill(char c, size_t n) {
    if (total < room) {
      const size_t k = n < room - total ? n : room - total;
      for (size_t i = 0; i < k; ++i) {
        dest[total + i] = c;
      }
    }
    total += n;
  }
};

// One conversion's flags, width and precision; the flags are bits of one word, so that testing
// several at once is one operation.
struct Conversion {
  static constexpr unsigned LEFT = 1;
  static constexpr unsigned PLUS = 2;
  static constexpr unsigned SPACE = 4;
  static constexpr unsigned ALT = 8;
  static constexpr unsigned ZERO = 16;
  static constexpr unsigned PRECISION = 32;  // a precision is given

  unsigned flags = 0;
  unsigned width = 0;
  unsigned precision = 0;

  bool left() const { return (flags & LEFT) != 0; }
  bool plus() const { return (flags & PLUS) != 0; }
  bool space() const { return (flags & SPACE) != 0; }
  bool alt() const { return (flags & ALT) != 0; }
  bool zero() const { return (flags & ZERO) != 0; }
  bool hasPrecision() const { return (flags & PRECISION) != 0; }
};

constexpr uint64_t ONES = 0x0101010101010101ULL;

// Lays down 48 bytes of `c` as six word stores: a memset of a known size but a value not known
// at compile time may become a string instruction with a long start-up.
__attribute__((always_inline)) inline void FillShort(char* at, char c) {
  const uint64_t word = ONES * static_cast<unsigned char>(c);
  std::memcpy(at, &word, 8);
  std::memcpy(at + 8, &word, 8);
  std::memcpy(at + 16, &word, 8);
  std::memcpy(at + 24, &word, 8);
  std::memcpy(at + 32, &word, 8);
  std::memcpy(at + 40, &word, 8);
}

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff };

// The digits of `magnitude` in `base` (10, 16 or 8), written backwards so that the last one is
// at end[-1]; returns where the first one is. Zero is one digit.
__attribute__((always_inline)) inline char* PutDigitsBackwards(char* end, unsigned long long magnitude, unsigned base,
                                                              bool upper) {
  char* p = end;
  // Constant divisors, so that no division instruction runs.
  if (base == 10) {
    static const char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    while (magnitude > UINT32_MAX) {
      const size_t pair = static_cast<size_t>(magnitude % 100) * 2;
      magnitude /= 100;
      *--p = kPairs[pair + 1];
      *--p = kPairs[pair];
    }
    // The rest in 32 bits, where dividing by a constant is cheaper.
    uint32_t small = static_cast<uint32_t>(magnitude);
    while (small >= 100) {
      const size_t pair = static_cast<size_t>(small % 100) * 2;
      small /= 100;
      *--p = kPairs[pair + 1];
      *--p = kPairs[pair];
    }
    if (small >= 10) {
      const size_t pair = static_cast<size_t>(small) * 2;
      *--p = kPairs[pair + 1];
      *--p = kPairs[pair];
    } else {
      *--p = static_cast<char>('0' + small);
    }
  } else {
    const char* const digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const unsigned shift = base == 16 ? 4 : 3;
    do {
      *--p = digitSet[magnitude & (base - 1)];
      magnitude >>= shift;
    } while (magnitude != 0);
  }
  return p;
}

// How many digits PutDigitsBackwards writes for `magnitude` in `base` (10, 16 or 8).
__attribute__((always_inline)) inline size_t DigitCount(unsigned long long magnitude, unsigned base) {
  const unsigned bits = 64u - static_cast<unsigned>(__builtin_clzll(magnitude | 1));
  if (base == 10) {
    static const unsigned long long kPowers[] = {1ULL,
                                                 10ULL,
                                                 100ULL,
                                                 1000ULL,
                                                 10000ULL,
                                                 100000ULL,
                                                 1000000ULL,
                                                 10000000ULL,
                                                 100000000ULL,
                                                 1000000000ULL,
                                                 10000000000ULL,
                                                 100000000000ULL,
                                                 1000000000000ULL,
                                                 10000000000000ULL,
                                                 100000000000000ULL,
                                                 1000000000000000ULL,
                                                 10000000000000000ULL,
                                                 100000000000000000ULL,
                                                 1000000000000000000ULL,
                                                 10000000000000000000ULL};
    // bits * 1233 / 4096 is floor(log10(2^bits)) for bits up to 64: the digits are that many or
    // one more.
    const unsigned guess = (bits * 1233u) >> 12;
    return guess + ((magnitude | 1) >= kPowers[guess] ? 1u : 0u);
  }
  return base == 16 ? (bits + 3u) / 4u : (bits + 2u) / 3u;
}

// One integer conversion as C's printf makes it: sign, "0x" prefix, precision zeros, digits,
// padded to the width with blanks or (flag 0, no precision) zeros. The usual field of a log
// message (right-aligned, no precision, no '#', at most SHORT_WIDTH wide) is written straight
// into the output when the output has room for its widest form; any other is assembled
// backwards in one buffer first. Inlined into each caller with `conv` by value, so that its
// flags are tested in registers.
__attribute__((always_inline)) inline void PutInteger(Sink& out, const Conversion conv, unsigned long long magnitude,
                                                      unsigned base, bool upper, char sign) {
  constexpr size_t FIELD = 72;  // 22 digits (octal) + 44 (short-field limits below) + 3 + room
  constexpr size_t SHORT_WIDTH = 44;
  constexpr size_t SHORT_FILL = 48;  // the padding laid down at once (FillShort): SHORT_WIDTH, and 21 digits and sign
  const bool plain = (conv.flags & (Conversion::LEFT | Conversion::PRECISION | Conversion::ALT)) == 0 &&
                     conv.width <= SHORT_WIDTH;
  if (plain && out.total + SHORT_FILL <= out.room) {
    // The padding is laid down at full short width, and the sign and digits written over it;
    // what lies past the field is overwritten by the rest of the text or left after its end.
    char* const start = out.dest + out.total;
    FillShort(start, conv.zero() ? '0' : ' ');
    const size_t count = DigitCount(magnitude, base);
    const size_t body = count + (sign != 0 ? 1u : 0u);
    const size_t fieldLen = conv.width > body ? conv.width : body;
    PutDigitsBackwards(start + fieldLen, magnitude, base, upper);
    if (sign != 0) {
      // Before the zeros of a zero-padded field, right before the digits otherwise.
      *(conv.zero() ? start : start + fieldLen - count - 1) = sign;
    }
    out.total += fieldLen;
    return;
  }
  char field[FIELD];
  char* const end = field + FIELD;
  char* p = end;
  const bool isZero = magnitude == 0;
  if (plain) {
    std::memset(end - SHORT_WIDTH, conv.zero() ? '0' : ' ', SHORT_WIDTH);
  }
  if (!(conv.hasPrecision() && conv.precision == 0 && isZero)) {
    p = PutDigitsBackwards(end, magnitude, base, upper);
  }
  const size_t count = static_cast<size_t>(end - p);
  if (plain) {
    const size_t body = count + (sign != 0 ? 1u : 0u);
    const size_t fieldLen = conv.width > body ? conv.width : body;
    char* const start = end - fieldLen;
    if (sign != 0) {
      // Before the zeros of a zero-padded field, right before the digits otherwise.
      *(conv.zero() ? start : p - 1) = sign;
    }
    out.Put(start, fieldLen);
    return;
  }
  size_t zeros = conv.hasPrecision() && conv.precision > count ? conv.precision - count : 0;
  if (conv.alt() && base == 8 && zeros == 0 && (count == 0 || *p != '0')) {
    zeros = 1;  // '#' with o: the first digit is a zero
  }
  const bool hexPrefix = conv.alt() && base == 16 && !isZero;
  const size_t body = (sign != 0 ? 1u : 0u) + (hexPrefix ? 2u : 0u) + zeros + count;
  const size_t pad = conv.width > body ? conv.width - body : 0;
  const bool zeroPad = conv.zero() && !conv.left() && !conv.hasPrecision();
  if (!conv.left() && conv.width <= SHORT_WIDTH && zeros <= SHORT_WIDTH) {
    for (size_t i = 0; i < zeros; ++i) {
      *--p = '0';
    }
    if (zeroPad) {
      for (size_t i = 0; i < pad; ++i) {
        *--p = '0';
      }
    }
    if (hexPrefix) {
      *--p = upper ? 'X' : 'x';
      *--p = '0';
    }
    if (sign != 0) {
      *--p = sign;
    }
    if (!zeroPad) {
      for (size_t i = 0; i < pad; ++i) {
        *--p = ' ';
      }
    }
    out.Put(p, static_cast<size_t>(end - p));
    return;
  }
  if (!conv.left() && !zeroPad) {
    out.Fill(' ', pad);
  }
  if (sign != 0) {
    out.Put(sign);
  }
  if (hexPrefix) {
    out.Put('0');
    out.Put(upper ? 'X' : 'x');
  }
  if (zeroPad) {
    out.Fill('0', pad);
  }
  out.Fill('0', zeros);
  out.Put(p, count);
  if (conv.left()) {
    out.Fill(' ', pad);
  }
}

__attribute__((always_inline)) inline void PutPadded(Sink& out, const Conversion& conv, const char* text, size_t n) {
  const size_t pad = conv.width > n ? conv.width - n : 0;
  if (!conv.left()) {
    out.Fill(' ', pad);
  }
  out.Put(text, n);
  if (conv.left()) {
    out.Fill(' ', pad);
  }
}

// The usual conversion of a log message, parsed in a few steps: an optional '0' flag, a width of
// one or two digits, an optional 'l' or 'z', and d i u x X c or s. True with `p` on the conversion
// letter and `conv` and `length` set exactly as the full parse sets them; false, with nothing
// changed, for any other form.
inline bool ParseUsual(const char*& p, Conversion& conv, Length& length) {
  const char* q = p;
  unsigned flags = 0;
  if (*q == '0') {
    flags = Conversion::ZERO;
    ++q;
  }
  unsigned width = 0;
  if (static_cast<unsigned>(*q - '1') < 9u) {
    width = static_cast<unsigned>(*q++ - '0');
    if (static_cast<unsigned>(*q - '0') < 10u) {
      width = width * 10 + static_cast<unsigned>(*q++ - '0');
    }
  }
  Length found = Length::kNone;
  if (*q == 'l') {
    found = Length::kLong;
    ++q;
  } else if (*q == 'z') {
    found = Length::kSize;
    ++q;
  }
  switch (*q) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'c':
    case 's':
      break;
    default:
      return false;
  }
  conv.flags = flags;
  conv.width = width;
  length = found;
  p = q;
  return true;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define MOXLOG_WORD_SCAN 1

constexpr uint64_t HIGHS = 0x8080808080808080ULL;

// Whether this build is checked by the address checker (GCC and clang say so differently).
#if defined(__SANITIZE_ADDRESS__)
#define MOXLOG_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MOXLOG_ADDRESS_CHECKED 1
#endif
#endif

// Reads the 8 bytes at `p` as one unaligned load, which may reach past the end of the string
// (never into another page: the caller checks that). The address checker would call that an
// overflow, so its build reads the word unchecked.
#if defined(MOXLOG_ADDRESS_CHECKED)
__attribute__((noinline, no_sanitize_address))
#else
__attribute__((always_inline)) inline
#endif
uint64_t LoadWord(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Page size or a divisor of it on every target: a word that starts at most PAGE_UNIT - 8 bytes
// into such a unit stays in the page of its first byte.
constexpr uintptr_t PAGE_UNIT = 4096;

// The text at `p` up to its NUL, followed by zeros, as one word: read byte by byte where a whole
// word could reach into the next page.
__attribute__((noinline, cold)) uint64_t WordNearPageEnd(const char* p) {
  uint64_t word = 0;
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    word |= static_cast<uint64_t>(c) << (8 * i);
    if (c == 0) {
      break;
    }
  }
  return word;
}

// The 8 bytes of text at `p`, or those up to its NUL followed by zeros where a whole word could
// reach into the next page.
__attribute__((always_inline)) inline uint64_t TextWord(const char* p) {
  return (reinterpret_cast<uintptr_t>(p) & (PAGE_UNIT - 1)) <= PAGE_UNIT - 8 ? LoadWord(p) : WordNearPageEnd(p);
}

// What the fast part makes of a conversion letter.
enum FastKind : uint8_t { FAST_SIGNED, FAST_UNSIGNED, FAST_HEX, FAST_HEX_UPPER, FAST_CHAR, FAST_STRING, FAST_OTHER };
struct FastKinds {
  uint8_t of[256];
  constexpr FastKinds() : of() {
    for (uint8_t& kind : of) {
      kind = FAST_OTHER;
    }
    of[static_cast<unsigned char>('d')] = FAST_SIGNED;
    of[static_cast<unsigned char>('i')] = FAST_SIGNED;
    of[static_cast<unsigned char>('u')] = FAST_UNSIGNED;
    of[static_cast<unsigned char>('x')] = FAST_HEX;
    of[static_cast<unsigned char>('X')] = FAST_HEX_UPPER;
    of[static_cast<unsigned char>('c')] = FAST_CHAR;
    of[static_cast<unsigned char>('s')] = FAST_STRING;
  }
};
constexpr FastKinds FAST_KINDS;

// The bit 0x80 of each byte of `word` that is zero, and possibly of bytes above the lowest
// zero byte: the lowest bit set is always the lowest zero byte's.
inline uint64_t ZeroBytes(uint64_t word) { return (word - ONES) & ~word & HIGHS; }
#endif

// The rest of the format from `p` on, with every write checked against the end of the output
// (`out` holds what is written so far), or NEEDS_GENERAL. Kept apart from the fast part, which
// hands over to it near the end of the output and at the conversions it does not take, so that
// neither one's registers and stack frame burden the other.
__attribute__((noinline)) int FormatChecked(Sink out, const char* p, va_list args, bool& nul) {
  char* const dest = out.dest;
  const size_t destMax = out.room + 1;
  for (;;) {
    const char* percent = std::strchr(p, '%');
    if (percent == nullptr) {
      out.Put(p, std::strlen(p));
      break;
    }
    out.Put(p, static_cast<size_t>(percent - p));
    p = percent + 1;
    Conversion conv;
    Length length = Length::kNone;
    if (!ParseUsual(p, conv, length)) {
      // Every flag character sorts at or below '0', so a conversion without flags costs one test.
      for (bool flag = true; flag && *p <= '0';) {
        switch (*p) {
          case '-': conv.flags |= Conversion::LEFT; break;
          case '+': conv.flags |= Conversion::PLUS; break;
          case ' ': conv.flags |= Conversion::SPACE; break;
          case '#': conv.flags |= Conversion::ALT; break;
          case '0': conv.flags |= Conversion::ZERO; break;
          default: flag = false; continue;
        }
        ++p;
      }
      while (*p >= '0' && *p <= '9') {
        conv.width = conv.width * 10 + static_cast<unsigned>(*p++ - '0');
        if (conv.width > MAX_FIELD) {
          return NEEDS_GENERAL;
        }
      }
      if (*p == '.') {
        conv.flags |= Conversion::PRECISION;
        ++p;
        while (*p >= '0' && *p <= '9') {
          conv.precision = conv.precision * 10 + static_cast<unsigned>(*p++ - '0');
          if (conv.precision > MAX_FIELD) {
            return NEEDS_GENERAL;
          }
        }
      }
      if (*p == 'h') {
        ++p;
        length = Length::kShort;
        if (*p == 'h') {
          ++p;
          length = Length::kChar;
        }
      } else if (*p == 'l') {
        ++p;
        length = Length::kLong;
        if (*p == 'l') {
          ++p;
          length = Length::kLongLong;
        }
      } else if (*p == 'j') {
        ++p;
        length = Length::kIntMax;
      } else if (*p == 'z') {
        ++p;
        length = Length::kSize;
      } else if (*p == 't') {
        ++p;
        length = Length::kPtrDiff;
      }
    }
    const char conversion = *p;
    if (conversion == '\0') {
      return NEEDS_GENERAL;
    }
    ++p;
    switch (conversion) {
      case 'd':
      case 'i': {
        if (conv.alt()) {
          return NEEDS_GENERAL;
        }
        long long v = 0;
        switch (length) {
          case Length::kNone: v = va_arg(args, int); break;
          case Length::kChar: v = static_cast<signed char>(va_arg(args, int)); break;
          case Length::kShort: v = static_cast<short>(va_arg(args, int)); break;
          case Length::kLong: v = va_arg(args, long); break;
          case Length::kLongLong: v = va_arg(args, long long); break;
          case Length::kIntMax: v = va_arg(args, intmax_t); break;
          case Length::kSize: v = va_arg(args, std::make_signed<size_t>::type); break;
          case Length::kPtrDiff: v = va_arg(args, ptrdiff_t); break;
        }
        const unsigned long long magnitude =
            v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        const char sign = v < 0 ? '-' : conv.plus() ? '+' : conv.space() ? ' ' : '\0';
        PutInteger(out, conv, magnitude, 10, false, sign);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        if (conv.alt() && conversion == 'u') {
          return NEEDS_GENERAL;
        }
        unsigned long long v = 0;
        switch (length) {
          case Length::kNone: v = va_arg(args, unsigned); break;
          case Length::kChar: v = static_cast<unsigned char>(va_arg(args, unsigned)); break;
          case Length::kShort: v = static_cast<unsigned short>(va_arg(args, unsigned)); break;
          case Length::kLong: v = va_arg(args, unsigned long); break;
          case Length::kLongLong: v = va_arg(args, unsigned long long); break;
          case Length::kIntMax: v = va_arg(args, uintmax_t); break;
          case Length::kSize: v = va_arg(args, size_t); break;
          case Length::kPtrDiff: v = va_arg(args, std::make_unsigned<ptrdiff_t>::type); break;
        }
        const unsigned base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
        PutInteger(out, conv, v, base, conversion == 'X', '\0');
        break;
      }
      case 'c': {
        if (length != Length::kNone || conv.zero() || conv.plus() || conv.space() || conv.alt() || conv.hasPrecision()) {
          return NEEDS_GENERAL;
        }
        const char c = static_cast<char>(static_cast<unsigned char>(va_arg(args, int)));
        nul = nul || c == '\0';
        PutPadded(out, conv, &c, 1);
        break;
      }
      case 's': {
        if (length != Length::kNone || conv.zero() || conv.plus() || conv.space() || conv.alt()) {
          return NEEDS_GENERAL;
        }
        const char* text = va_arg(args, const char*);
        if (text == nullptr) {
          return NEEDS_GENERAL;
        }
        const size_t n = conv.hasPrecision() ? strnlen(text, conv.precision) : std::strlen(text);
        PutPadded(out, conv, text, n);
        break;
      }
      case '%': {
        if (percent + 2 != p) {
          return NEEDS_GENERAL;  // anything between the two '%'
        }
        out.Put('%');
        break;
      }
      default:
        return NEEDS_GENERAL;
    }
    if (out.total > static_cast<size_t>(INT_MAX) / 2) {
      return NEEDS_GENERAL;
    }
  }
  if (out.total > static_cast<size_t>(INT_MAX) / 2) {
    return NEEDS_GENERAL;
  }
  dest[out.total < out.room ? out.total : out.room] = '\0';
  return out.total < destMax ? static_cast<int>(out.total) : static_cast<int>(destMax - 1);
}

// The whole format, or NEEDS_GENERAL as soon as it meets anything outside the subset (the
// caller then starts again with the general engine and an unused copy of the arguments).
//
// The fast part takes the text and the usual conversions while the output is far from its end,
// so that nothing it writes needs a bound check of its own: literal text goes eight bytes at a
// time (a whole word stored, the bytes after the '%' or the NUL overwritten later or left after
// the end), and an integer field is laid down with its padding at full short width. Near the end
// of the output, and at any other conversion, the checked part goes on from where it stopped.
int FormatSubset(char* dest, size_t destMax, const char* format, va_list args, bool& nul) {
  Sink out{dest, destMax - 1, 0};
  const char* p = format;
#if defined(MOXLOG_WORD_SCAN)
  constexpr size_t SHORT_WIDTH = 44;
  constexpr size_t SHORT_FILL = 48;  // SHORT_WIDTH, and 21 digits and a sign, rounded up
  if (out.room >= SHORT_FILL) {
    const size_t wordLimit = out.room - 8;             // a word store at or below this is in bounds
    const size_t fieldLimit = out.room - SHORT_FILL;   // an integer field at or below this is
    for (;;) {
      // Literal text up to the next '%' or the end, a word at a time.
      for (;;) {
        if (out.total > wordLimit) {
          goto checked;
        }
        const uint64_t word = TextWord(p);
        std::memcpy(dest + out.total, &word, sizeof word);
        const uint64_t stops = ZeroBytes(word) | ZeroBytes(word ^ (ONES * '%'));
        if (stops != 0) {
          const size_t k = static_cast<size_t>(__builtin_ctzll(stops)) / 8u;
          out.total += k;
          p += k;
          break;
        }
        out.total += 8;
        p += 8;
      }
      if (*p == '\0') {
        dest[out.total] = '\0';
        return static_cast<int>(out.total);
      }
      // A '%': the usual forms ('0' flag, width below 100, l ll z j or no length, d i u x X c s).
      const char* q = p + 1;
      bool zero = false;
      if (*q == '0') {
        zero = true;
        ++q;
      }
      unsigned width = 0;
      if (static_cast<unsigned>(*q - '1') < 9u) {
        width = static_cast<unsigned>(*q++ - '0');
        if (static_cast<unsigned>(*q - '0') < 10u) {
          width = width * 10 + static_cast<unsigned>(*q++ - '0');
        }
      }
      bool wide = false;  // a 64-bit argument (long, long long, size_t, intmax_t)
      bool lengthGiven = true;
      if (*q == 'l') {
        ++q;
        q += *q == 'l' ? 1 : 0;
        wide = true;
      } else if (*q == 'z' || *q == 'j') {
        ++q;
        wide = true;
      } else {
        lengthGiven = false;
      }
      static_assert(sizeof(long) == 8 && sizeof(long long) == 8 && sizeof(size_t) == 8 && sizeof(intmax_t) == 8,
                    "the fast part reads every length modifier it takes as a 64-bit argument");
      const unsigned kind = FAST_KINDS.of[static_cast<unsigned char>(*q)];
      if (kind >= FAST_CHAR) {
        if (kind == FAST_OTHER || zero || lengthGiven) {
          goto checked;
        }
        Conversion conv;
        conv.width = width;
        if (kind == FAST_CHAR) {
          const char c = static_cast<char>(static_cast<unsigned char>(va_arg(args, int)));
          nul = nul || c == '\0';
          PutPadded(out, conv, &c, 1);
        } else {
          const char* text = va_arg(args, const char*);
          if (text == nullptr) {
            return NEEDS_GENERAL;
          }
          PutPadded(out, conv, text, std::strlen(text));
        }
        p = q + 1;
        continue;  // a cut text leaves the total past wordLimit: the checked part goes on
      }
      if (out.total > fieldLimit || width > SHORT_WIDTH) {
        goto checked;
      }
      unsigned long long magnitude;
      char sign = '\0';
      if (kind == FAST_SIGNED) {
        const long long v = wide ? va_arg(args, long long) : va_arg(args, int);
        magnitude = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        sign = v < 0 ? '-' : '\0';
      } else {
        magnitude = wide ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
      }
      const unsigned base = kind >= FAST_HEX ? 16 : 10;
      // The field: padding laid down at full short width, sign and digits written over it.
      char* const start = dest + out.total;
      FillShort(start, zero ? '0' : ' ');
      const size_t count = DigitCount(magnitude, base);
      const size_t body = count + (sign != '\0' ? 1u : 0u);
      const size_t fieldLen = width > body ? width : body;
      PutDigitsBackwards(start + fieldLen, magnitude, base, kind == FAST_HEX_UPPER);
      if (sign != '\0') {
        *(zero ? start : start + fieldLen - count - 1) = sign;
      }
      out.total += fieldLen;
      p = q + 1;
    }
  }
checked:
#endif
  return FormatChecked(out, p, args, nul);
}

#endif  // !ORV_HAVE_SECUREC

// FormatMessage; `nul` is set when the text may hold a NUL (a %c of 0, or a format left to the
// general engine).
__attribute__((format(printf, 3, 0))) int Format(char* dest, size_t destMax, const char* format, va_list args,
                                                 bool& nul) {
#if !defined(ORV_HAVE_SECUREC)
  if (dest != nullptr && format != nullptr && destMax > 0 && destMax <= MAX_FIELD) {
    va_list copy;
    va_copy(copy, args);
    nul = false;
    const int n = FormatSubset(dest, destMax, format, copy, nul);
    va_end(copy);
    if (n != NEEDS_GENERAL) {
      return n;
    }
  }
#endif
  nul = true;
  return vsnprintf_truncated_s(dest, destMax, format, args);
}

}  // namespace

int FormatMessage(char* dest, size_t destMax, const char* format, va_list args) {
  bool nul = true;
  return Format(dest, destMax, format, args, nul);
}

int FormatLogMessage(char* dest, size_t destMax, const char* format, va_list args) {
  bool nul = true;
  const int n = Format(dest, destMax, format, args, nul);
  if (n <= 0 || !nul) {
    return n < 0 ? -1 : n;
  }
  const void* at = std::memchr(dest, '\0', static_cast<size_t>(n));
  return at == nullptr ? n : static_cast<int>(static_cast<const char*>(at) - dest);
}

}  // namespace moxlog
