// Log line text against printf as the model, chunk assembly against a plain concatenation, and
// time stamps against localtime_r + printf across second, minute, day, year and daylight-saving
// changes in several time zones.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "log_clock.h"
#include "log_line.h"

namespace {

using moxlog::FormatLogLine;
using moxlog::LineChunker;
using moxlog::TimeStampFormatter;

std::string RandomText(std::mt19937& rng, size_t maxLen, bool withNul) {
  std::uniform_int_distribution<size_t> lenDist(0, maxLen);
  std::uniform_int_distribution<int> charDist(1, 126);
  std::string text(lenDist(rng), 'a');
  for (char& c : text) {
    c = static_cast<char>(charDist(rng));
  }
  if (withNul && !text.empty()) {
    text[std::uniform_int_distribution<size_t>(0, text.size() - 1)(rng)] = '\0';
  }
  return text;
}

// What sprintf_s into a 513-byte buffer would hold (the line cut at 512 characters).
std::string PrintfLine(bool memLog, const std::string& time, const std::string& type, int level,
                       const std::string& msg) {
  char buf[513];
  std::snprintf(buf, sizeof buf, memLog ? "MemLog >> %s\t%s %d %s" : "%s\t%s %d %s", time.c_str(), type.c_str(),
                level, msg.c_str());
  return buf;
}

std::string Format(bool memLog, const std::string& time, const std::string& type, int level, const std::string& msg) {
  char out[moxlog::LOG_LINE_MAX + 8];
  const size_t len = FormatLogLine(out, memLog, time, type, level, msg);
  EXPECT_LE(len, moxlog::LOG_LINE_MAX);
  return std::string(out, len);
}

TEST(LogLine, MatchesPrintfCutAt512) {
  EXPECT_EQ(Format(false, "2024-01-02 03:04:05.000006", "PROC", 4, "hello"),
            "2024-01-02 03:04:05.000006\tPROC 4 hello");
  EXPECT_EQ(Format(true, "T", "", 0, "m"), "MemLog >> T\t 0 m");

  std::mt19937 rng(20240611);
  const int levels[] = {0, 1, 4, 5, -1, 10, 123456, INT_MIN, INT_MAX};
  for (int i = 0; i < 20000; ++i) {
    const bool memLog = (i & 1) != 0;
    const bool withNul = i % 5 == 0;
    const std::string time = RandomText(rng, 40, false);
    const std::string type = RandomText(rng, i % 3 == 0 ? 300 : 12, withNul);
    const std::string msg = RandomText(rng, i % 4 == 0 ? 700 : i % 4 == 2 ? 90 : 520, withNul);
    const int level = i % 4 == 1 ? static_cast<int>(rng()) : levels[static_cast<size_t>(i) % (sizeof levels / sizeof levels[0])];
    const std::string want = PrintfLine(memLog, time, type, level, msg);
    ASSERT_EQ(Format(memLog, time, type, level, msg), want) << "case " << i;
    // The type and the message side by side in one block, as a queued record holds them.
    const std::string block = type + msg;
    char out[moxlog::LOG_LINE_MAX + 8];
    const size_t len = FormatLogLine(out, memLog, time, std::string_view(block.data(), type.size()), level,
                                     std::string_view(block.data() + type.size(), msg.size()));
    ASSERT_EQ(std::string(out, len), want) << "case " << i;
  }
}

struct Recorder {
  std::vector<std::string> chunks;
  static void Sink(void* self, const char* data, size_t len) {
    static_cast<Recorder*>(self)->chunks.emplace_back(data, len);
  }
};

TEST(LineChunker, FortyLinesOf250GoOutAs9538Then502) {
  std::vector<char> buffer(moxlog::FLUSH_BUF_SIZE + 1);
  Recorder rec;
  LineChunker chunker(buffer.data(), &Recorder::Sink, &rec);
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    std::string line(250, static_cast<char>('A' + i % 26));
    line.replace(0, 2, std::to_string(10 + i));
    line.copy(chunker.Slot(), line.size());
    chunker.Commit(line.size());
    expected += line + "\n";
  }
  ASSERT_EQ(rec.chunks.size(), 1u);
  chunker.Finish();
  ASSERT_EQ(rec.chunks.size(), 2u);
  EXPECT_EQ(rec.chunks[0].size(), 9538u);
  EXPECT_EQ(rec.chunks[1].size(), 502u);
  EXPECT_EQ(rec.chunks[0] + rec.chunks[1], expected);
}

TEST(LineChunker, RandomLinesKeepEveryByteAndTheChunkRule) {
  std::mt19937 rng(7);
  std::vector<char> buffer(moxlog::FLUSH_BUF_SIZE + 1);
  for (int round = 0; round < 200; ++round) {
    Recorder rec;
    LineChunker chunker(buffer.data(), &Recorder::Sink, &rec);
    std::string expected;
    const int lines = std::uniform_int_distribution<int>(0, 120)(rng);
    for (int i = 0; i < lines; ++i) {
      const size_t len = std::uniform_int_distribution<size_t>(0, moxlog::LOG_LINE_MAX)(rng);
      const std::string line(len, static_cast<char>('a' + (i % 26)));
      line.copy(chunker.Slot(), len);
      chunker.Commit(len);
      expected += line + "\n";
    }
    chunker.Finish();
    std::string joined;
    for (size_t c = 0; c < rec.chunks.size(); ++c) {
      const size_t size = rec.chunks[c].size();
      ASSERT_GT(size, 0u);
      ASSERT_LE(size, moxlog::FLUSH_BUF_SIZE - 1);
      if (c + 1 < rec.chunks.size()) {
        ASSERT_GE(size, moxlog::FLUSH_WRITE_THRESHOLD);  // only the last chunk may be short
      }
      joined += rec.chunks[c];
    }
    ASSERT_EQ(joined, expected);
  }
}

// localtime_r + printf, the model of a time stamp.
std::string ModelStamp(int64_t sec, int64_t usec) {
  const time_t t = static_cast<time_t>(sec);
  tm cal{};
  localtime_r(&t, &cal);
  char buf[256];
  std::snprintf(buf, sizeof buf, "%4d-%02d-%02d %02d:%02d:%02d.%06ld", cal.tm_year + 1900, cal.tm_mon + 1,
                cal.tm_mday, cal.tm_hour, cal.tm_min, cal.tm_sec, static_cast<long>(usec));
  return buf;
}

std::string Stamp(TimeStampFormatter& formatter, int64_t sec, int64_t usec) {
  char out[moxlog::TIME_STAMP_MAX];
  const size_t len = formatter.Format(sec, usec, out);
  EXPECT_EQ(out[len], '\0');
  return std::string(out, len);
}

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld = old != nullptr;
    if (hadOld) {
      oldValue = old;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld) {
      setenv("TZ", oldValue.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool hadOld = false;
  std::string oldValue;
};

TEST(TimeStamp, MatchesLocaltimeAcrossBoundariesAndZones) {
  // POSIX zone rules need no zone database: one with daylight saving, one far east, UTC.
  const char* zones[] = {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "NZST-12NZDT,M9.5.0,M4.1.0/3", "EST5EDT"};
  std::mt19937_64 rng(99);
  for (const char* zone : zones) {
    ScopedTimeZone tz(zone);
    TimeStampFormatter formatter;
    // Walks across the ends of minutes, days, months, a leap day, years and the daylight-saving
    // changes of 2024, with a record every 0.37 s around each boundary.
    const int64_t boundaries[] = {1709251199, 1711846799, 1711846800, 1727560799, 1729990799,
                                  1735689599, 1704067199, 1719791999, 946684799,  2147483647};
    for (const int64_t boundary : boundaries) {
      for (int64_t micros = -3000000; micros <= 3000000; micros += 370001) {
        const int64_t total = boundary * 1000000 + micros;
        const int64_t sec = total / 1000000;
        const int64_t usec = total % 1000000;
        ASSERT_EQ(Stamp(formatter, sec, usec), ModelStamp(sec, usec)) << zone << " " << sec;
      }
    }
    // Random times from 1970 to 2100, each taken twice (cached second) with other microseconds.
    for (int i = 0; i < 3000; ++i) {
      const int64_t sec = static_cast<int64_t>(rng() % 4102444800ULL);
      const int64_t usec = static_cast<int64_t>(rng() % 1000000);
      ASSERT_EQ(Stamp(formatter, sec, usec), ModelStamp(sec, usec)) << zone << " " << sec;
      ASSERT_EQ(Stamp(formatter, sec, 999999 - usec), ModelStamp(sec, 999999 - usec)) << zone << " " << sec;
    }
  }
}

TEST(TimeStamp, ClockReadingFormatsAsTheSpecifiedText) {
  TimeStampFormatter formatter;
  const moxlog::LogClock now = moxlog::ReadLogClock();
  ASSERT_GE(now.usec, 0);
  ASSERT_LT(now.usec, 1000000);
  const std::string text = Stamp(formatter, now.sec, now.usec);
  EXPECT_EQ(text.size(), 26u);
  EXPECT_EQ(text, ModelStamp(now.sec, now.usec));
}

}  // namespace
