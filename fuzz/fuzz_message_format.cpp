// Fuzz target: libmoxlog's message formatter (FormatMessage, FormatLogMessage) against
// vsnprintf_truncated_s, its model, on formats built from the input: literal runs of any length,
// '%' conversions with any flags, width, precision and length modifier, cut at any buffer size
// from 1 to 4096.
//
// The format and every string argument are placed so that they end right before an unreadable
// page, and the output buffer ends right before one as well: a read past a string's NUL into the
// next page, or a write past the buffer, stops the run at once.
//
// Checked: the same result and the same bytes up to and including the terminating NUL, and the
// message length up to the first NUL.
#include <sys/mman.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "message_format.h"
#include "orv_platform/bounded_text.h"

namespace {

// Texts copied to the end of a readable page that an unreadable one follows.
class GuardedArena {
 public:
  GuardedArena() {
    page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    base = static_cast<char*>(mmap(nullptr, (SLOTS * 2) * PageSpan(), PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ORV_FUZZ_CHECK(base != MAP_FAILED, "mmap failed");
    for (size_t i = 0; i < SLOTS; ++i) {
      ORV_FUZZ_CHECK(mprotect(base + (2 * i + 1) * PageSpan(), PageSpan(), PROT_NONE) == 0, "mprotect failed");
    }
  }
  // Room for texts of up to this many bytes, NUL included.
  size_t PageSpan() const { return page * 2; }
  // Slot `i`'s `n` bytes, ending where the unreadable page begins.
  char* End(size_t i, size_t n) const { return base + (2 * i + 1) * PageSpan() - n; }
  char* Place(size_t i, const std::string& text) const {
    char* at = End(i, text.size() + 1);
    std::memcpy(at, text.c_str(), text.size() + 1);
    return at;
  }

  static constexpr size_t SLOTS = 8;  // 0: format, 1: output, 2..7: string arguments

 private:
  size_t page = 0;
  char* base = nullptr;
};

GuardedArena& Arena() {
  static GuardedArena arena;
  return arena;
}

constexpr size_t kArgs = 6;

// One format and its arguments; every conversion of a format takes the same kind of argument.
enum class ArgKind { kInt, kLong, kLongLong, kString };

std::string Conversion(FuzzedDataProvider& data, ArgKind kind) {
  std::string conversion = "%";
  const uint8_t flags = data.ConsumeIntegral<uint8_t>();
  const char flagChars[] = "-+ #0";
  for (int i = 0; i < 5; ++i) {
    if ((flags >> i) & 1) {
      conversion += flagChars[i];
    }
  }
  const uint8_t shape = data.ConsumeIntegral<uint8_t>();
  if (shape & 1) {
    conversion += std::to_string(data.ConsumeIntegralInRange<unsigned>(0, (shape & 8) ? 700 : 50));
  }
  if (shape & 2) {
    conversion += '.';
    if (shape & 4) {
      conversion += std::to_string(data.ConsumeIntegralInRange<unsigned>(0, (shape & 16) ? 700 : 50));
    }
  }
  static const char* const intLengths[] = {"", "hh", "h"};
  static const char* const longLengths[] = {"l", "z", "t"};
  static const char* const longLongLengths[] = {"ll", "j"};
  const uint8_t pick = data.ConsumeIntegral<uint8_t>();
  if ((shape & 32) != 0) {
    return conversion + "%";
  }
  switch (kind) {
    case ArgKind::kInt: {
      const char letters[] = "diuoxXc";
      const char letter = letters[pick % 7];
      return conversion + (letter == 'c' ? "" : intLengths[(pick / 7) % 3]) + letter;
    }
    case ArgKind::kLong:
      return conversion + longLengths[(pick / 6) % 3] + "diuoxX"[pick % 6];
    case ArgKind::kLongLong:
      return conversion + longLongLengths[(pick / 6) % 2] + "diuoxX"[pick % 6];
    case ArgKind::kString:
      break;
  }
  return conversion + "s";
}

// The format is built at run time, so neither call can be checked at compile time.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void Compare(size_t destMax, const char* format, ...) {
  GuardedArena& arena = Arena();
  char* const got = arena.End(1, destMax);
  std::vector<char> want(destMax, 'w');
  std::memset(got, 'g', destMax);
  va_list a;
  va_list b;
  va_start(a, format);
  va_copy(b, a);
  const int r = moxlog::FormatMessage(got, destMax, format, a);
  const int m = vsnprintf_truncated_s(want.data(), destMax, format, b);
  va_end(b);
  va_end(a);
  ORV_FUZZ_CHECK(r == m, "format [%s] size %zu: result %d, model %d", format, destMax, r, m);
  const size_t n = m < 0 ? 1 : static_cast<size_t>(m) + 1;
  ORV_FUZZ_CHECK(std::memcmp(got, want.data(), n) == 0, "format [%s] size %zu: text [%.*s], model [%.*s]", format,
                 destMax, static_cast<int>(n - 1), got, static_cast<int>(n - 1), want.data());
  // The log message form: the same text, its length counted up to the first NUL.
  std::memset(got, 'g', destMax);
  va_list c;
  va_start(c, format);
  const int len = moxlog::FormatLogMessage(got, destMax, format, c);
  va_end(c);
  const int wantLen = m < 0 ? -1 : static_cast<int>(strnlen(want.data(), static_cast<size_t>(m)));
  ORV_FUZZ_CHECK(len == wantLen && std::memcmp(got, want.data(), n) == 0,
                 "format [%s] size %zu: message length %d, model %d", format, destMax, len, wantLen);
}
#pragma GCC diagnostic pop

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  GuardedArena& arena = Arena();
  const ArgKind kind = static_cast<ArgKind>(data.ConsumeIntegralInRange<int>(0, 3));
  const size_t destMax = data.ConsumeBool() ? 512 : data.ConsumeIntegralInRange<size_t>(1, 4096);
  std::string format;
  const int pieces = data.ConsumeIntegralInRange<int>(0, static_cast<int>(kArgs));
  for (int i = 0; i < pieces; ++i) {
    std::string literal = data.ConsumeRandomLengthString(600);
    literal = literal.substr(0, std::strlen(literal.c_str()));  // up to a NUL
    for (char& c : literal) {
      c = c == '%' ? '_' : c;
    }
    format += literal;
    format += Conversion(data, kind);
  }
  std::string tail = data.ConsumeRandomLengthString(600);
  tail = tail.substr(0, std::strlen(tail.c_str()));
  for (char& c : tail) {
    c = c == '%' ? '_' : c;
  }
  format += tail;
  if (format.size() + 1 > arena.PageSpan()) {
    return 0;
  }
  const char* f = arena.Place(0, format);
  long long v[kArgs];
  const char* s[kArgs];
  for (size_t i = 0; i < kArgs; ++i) {
    v[i] = data.ConsumeIntegral<long long>();
    std::string text = data.ConsumeRandomLengthString(300);
    s[i] = arena.Place(2 + i, text.substr(0, std::strlen(text.c_str())));
  }
  switch (kind) {
    case ArgKind::kInt:
      Compare(destMax, f, static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
              static_cast<int>(v[3]), static_cast<int>(v[4]), static_cast<int>(v[5]));
      break;
    case ArgKind::kLong:
      Compare(destMax, f, static_cast<long>(v[0]), static_cast<long>(v[1]), static_cast<long>(v[2]),
              static_cast<long>(v[3]), static_cast<long>(v[4]), static_cast<long>(v[5]));
      break;
    case ArgKind::kLongLong:
      Compare(destMax, f, v[0], v[1], v[2], v[3], v[4], v[5]);
      break;
    case ArgKind::kString:
      Compare(destMax, f, s[0], s[1], s[2], s[3], s[4], s[5]);
      break;
  }
  return 0;
}
