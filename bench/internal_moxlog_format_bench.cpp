// The log message formatter beside the C library's vsnprintf and, when spdlog is found, beside the
// formatting library spdlog formats its records with (into its memory buffer, as spdlog does), on
// the messages the libraries and the logging benchmark write: what a passing MoxlogWriteLog spends
// on formatting, apart from the clock and queueing.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>

#include "message_format.h"

#if defined(ORV_HAVE_SPDLOG)
#include <spdlog/fmt/fmt.h>
#include <spdlog/spdlog.h>
#endif

namespace {

constexpr size_t kDestMax = 512;  // as MoxlogWriteLog formats

int WithFormatMessage(char* dest, const char* format, ...) __attribute__((format(printf, 2, 3)));
int WithFormatMessage(char* dest, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = moxlog::FormatMessage(dest, kDestMax, format, args);
  va_end(args);
  return n;
}

int WithVsnprintf(char* dest, const char* format, ...) __attribute__((format(printf, 2, 3)));
int WithVsnprintf(char* dest, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(dest, kDestMax, format, args);
  va_end(args);
  return n;
}

// range(0): 0 the logging benchmark's message, 1 a planning entry line, 2 a line with a string.
template <int (*Format)(char*, const char*, ...)>
void BM_Format(benchmark::State& state) {
  char buf[kDestMax + 1];
  unsigned long n = 0;
  const int shape = static_cast<int>(state.range(0));
  for (auto _ : state) {
    int r = 0;
    switch (shape) {
      case 0:
        r = Format(buf, "write offset=%012lu len=%08d shard=%02d", n * 4096, 4096, static_cast<int>(n % 12));
        break;
      case 1:
        r = Format(buf, "Func ZoGetRelatedShards off=%ld len=%ld", static_cast<long>(n * 512), 65536L);
        break;
      default:
        r = Format(buf, "module[%s] shard %u of %u: %s", "ecpartial", static_cast<unsigned>(n % 12), 12U,
                   "read range rebuilt");
        break;
    }
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
    ++n;
  }
}

BENCHMARK_TEMPLATE(BM_Format, WithFormatMessage)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_TEMPLATE(BM_Format, WithVsnprintf)->Arg(0)->Arg(1)->Arg(2);

#if defined(ORV_HAVE_SPDLOG)
// The same three messages in the peer's format syntax, formatted into a reused memory buffer.
void BM_FormatSpdlogFmt(benchmark::State& state) {
  spdlog::memory_buf_t buf;
  unsigned long n = 0;
  const int shape = static_cast<int>(state.range(0));
  for (auto _ : state) {
    buf.clear();
    switch (shape) {
      case 0:
        fmt::format_to(std::back_inserter(buf), "write offset={:012} len={:08} shard={:02}", n * 4096, 4096,
                       static_cast<int>(n % 12));
        break;
      case 1:
        fmt::format_to(std::back_inserter(buf), "Func ZoGetRelatedShards off={} len={}", static_cast<long>(n * 512),
                       65536L);
        break;
      default:
        fmt::format_to(std::back_inserter(buf), "module[{}] shard {} of {}: {}", "ecpartial",
                       static_cast<unsigned>(n % 12), 12U, "read range rebuilt");
        break;
    }
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
    ++n;
  }
  state.counters["chars"] = static_cast<double>(buf.size());
}
BENCHMARK(BM_FormatSpdlogFmt)->Arg(0)->Arg(1)->Arg(2);
#endif

}  // namespace
