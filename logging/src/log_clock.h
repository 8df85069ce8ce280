// The time stamps of log records. A writer only reads the clock (ReadLogClock, a vDSO call); the
// text "%4d-%02d-%02d %02d:%02d:%02d.%06ld" is built later by the flush thread with a
// TimeStampFormatter, which converts to local calendar time once per second and writes the
// microsecond digits directly, so neither localtime_r (process-wide lock) nor a seven-field printf
// runs per record.
#ifndef MOXLOG_LOG_CLOCK_H_
#define MOXLOG_LOG_CLOCK_H_

#include <sys/time.h>

#include <cstddef>
#include <cstdint>

namespace moxlog {

// Seconds and microseconds since the epoch, as gettimeofday gives them.
struct LogClock {
  int64_t sec;
  int64_t usec;
};

inline LogClock ReadLogClock() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return LogClock{static_cast<int64_t>(now.tv_sec), static_cast<int64_t>(now.tv_usec)};
}

// Room for any time stamp text this file produces, terminating NUL included.
constexpr size_t TIME_STAMP_MAX = 128;

// Formats time stamps in local time. Not thread-safe: one formatter per thread (the module
// logger uses its own under its file lock).
class TimeStampFormatter {
 public:
  // Writes the local time of `sec`/`usec` as "%4d-%02d-%02d %02d:%02d:%02d.%06ld" (year + 1900,
  // month + 1, day, hour, minute, second, microseconds) into `out` (TIME_STAMP_MAX bytes), NUL
  // terminated; returns its length (26 for years 1000 to 9999).
  size_t Format(int64_t sec, int64_t usec, char* out);

 private:
  // Calendar text "YYYY-MM-DD HH:MM:SS." of cachedSec; valid once cacheValid is set.
  bool cacheValid = false;
  int64_t cachedSec = 0;
  char prefix[64] = {};
  size_t prefixLen = 0;
};

}  // namespace moxlog

#endif  // MOXLOG_LOG_CLOCK_H_
