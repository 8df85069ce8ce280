// Log line text, copied field by field: straight when the line is far below the cut, with a running
// budget otherwise; no printf per line.
#include "log_line.h"

#include <cstring>

#include "short_copy.h"

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
  const std::string_view time = UpToNul(logTime);
  std::string_view type = logType;
  std::string_view msg = logMsg;
  // A queued record's type and message lie next to each other: one search finds a NUL in either.
  if (!(logType.data() + logType.size() == logMsg.data() &&
        UpToNul(std::string_view(logType.data(), logType.size() + logMsg.size())).size() ==
            logType.size() + logMsg.size())) {
    type = UpToNul(logType);
    msg = UpToNul(logMsg);
  }
  constexpr size_t PREFIX_LEN = sizeof(MEM_LOG_PREFIX) - 1;
  constexpr size_t LEVEL_MAX = 11;  // "-2147483648"
  if ((memLog ? PREFIX_LEN : 0) + time.size() + type.size() + LEVEL_MAX + msg.size() + 3 <= LOG_LINE_MAX &&
      logLevel >= 0 && logLevel <= 9) {
    // The usual line, far below the cut: no budget to keep.
    char* at = out;
    if (memLog) {
      std::memcpy(at, MEM_LOG_PREFIX, PREFIX_LEN);
      at += PREFIX_LEN;
    }
    CopyShort(at, time.data(), time.size());
    at += time.size();
    *at++ = '\t';
    CopyShort(at, type.data(), type.size());
    at += type.size();
    at[0] = ' ';
    at[1] = static_cast<char>('0' + logLevel);
    at[2] = ' ';
    at += 3;
    CopyShort(at, msg.data(), msg.size());
    return static_cast<size_t>(at - out) + msg.size();
  }
  BoundedWriter line(out);
  if (memLog) {
    line.Put(std::string_view(MEM_LOG_PREFIX, PREFIX_LEN));
  }
  line.Put(time);
  line.Put('\t');
  line.Put(type);
  line.Put(' ');
  line.PutDecimal(logLevel);
  line.Put(' ');
  line.Put(msg);
  return line.Length();
}

}  // namespace moxlog
