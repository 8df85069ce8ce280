// The log message formatter beside the C library's vsnprintf, on the messages the libraries and the
// logging benchmark write: what a passing MoxlogWriteLog spends on formatting, apart from queueing.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>

#include "message_format.h"

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

}  // namespace
