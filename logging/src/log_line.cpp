// Log line text, assembled field by field with a running budget instead of a printf per line.
#include "log_line.h"

#include <cstring>

namespace moxlog {

namespace {

// The text before the first NUL, as "%s" would print it.
std::string_view UpToNul(std::string_view text) {
  if (text.empty()) {
    return text;
  }
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - text.data()));
}

class BoundedWriter {
 public:
  explicit BoundedWriter(char* dest) : out(dest) {}

  void Put(std::string_view text) {
    const size_t n = text.size() < LOG_LINE_MAX - len ? text.size() : LOG_LINE_MAX - len;
    if (n == 0) {
      return;
    }
    std::memcpy(out + len, text.data(), n);
    len += n;
  }

  void Put(char c) {
    if (len < LOG_LINE_MAX) {
      out[len++] = c;
    }
  }

  void PutDecimal(int value) {
    char digits[16];
    size_t pos = sizeof digits;
    // Magnitude as unsigned, so that INT_MIN is exact.
    unsigned magnitude = value < 0 ? 0U - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
      digits[--pos] = static_cast<char>('0' + magnitude % 10U);
      magnitude /= 10U;
    } while (magnitude != 0U);
    if (value < 0) {
      digits[--pos] = '-';
    }
    Put(std::string_view(digits + pos, sizeof digits - pos));
  }

  size_t Length() const { return len; }

 private:
  char* out;
  size_t len = 0;
};

}  // namespace

size_t FormatLogLine(char* out, bool memLog, std::string_view logTime, std::string_view logType, int logLevel,
                     std::string_view logMsg) {
  BoundedWriter line(out);
  if (memLog) {
    line.Put(std::string_view(MEM_LOG_PREFIX, sizeof(MEM_LOG_PREFIX) - 1));
  }
  line.Put(UpToNul(logTime));
  line.Put('\t');
  line.Put(UpToNul(logType));
  line.Put(' ');
  line.PutDecimal(logLevel);
  line.Put(' ');
  line.Put(UpToNul(logMsg));
  return line.Length();
}

}  // namespace moxlog
