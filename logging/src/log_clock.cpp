// Time stamp text with a per-second cache of the calendar part.
#include "log_clock.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace moxlog {

size_t TimeStampFormatter::Format(int64_t sec, int64_t usec, char* out) {
  if (!cacheValid || sec != cachedSec) {
    const time_t seconds = static_cast<time_t>(sec);
    tm cal{};
    if (localtime_r(&seconds, &cal) == nullptr) {
      std::memset(&cal, 0, sizeof cal);
    }
    const int n = std::snprintf(prefix, sizeof prefix, "%4d-%02d-%02d %02d:%02d:%02d.", cal.tm_year + 1900,
                                cal.tm_mon + 1, cal.tm_mday, cal.tm_hour, cal.tm_min, cal.tm_sec);
    prefixLen = n < 0 ? 0 : static_cast<size_t>(n);
    if (prefixLen >= sizeof prefix) {
      prefixLen = sizeof prefix - 1;  // only for calendar values no clock gives
    }
    cachedSec = sec;
    cacheValid = true;
  }
  std::memcpy(out, prefix, prefixLen);
  char* digits = out + prefixLen;
  if (usec >= 0 && usec < 1000000) {
    int64_t rest = usec;
    for (int i = 5; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    }
    digits[6] = '\0';
    return prefixLen + 6;
  }
  // Not produced by the clock; kept exact all the same.
  const int n = std::snprintf(digits, TIME_STAMP_MAX - prefixLen, "%06ld", static_cast<long>(usec));
  return prefixLen + (n < 0 ? 0 : static_cast<size_t>(n));
}

}  // namespace moxlog
