// Cost of a log call on the caller's thread: an enabled record (formatted, time-stamped, queued
// and then written by the flush thread), a record filtered out by level, and a plain snprintf of
// the same message for scale. With ORV_HAVE_SPDLOG the same two calls of that library's async
// logger (default bounded queue) are measured for comparison.
//
// Enabled records are measured in batches of 4096, below the 10000-record queue bound: after
// each batch the clock is paused until the flush thread has written every line of the batch (the
// file has reached its expected size), so no record is ever dropped and each batch starts with an
// empty queue. The same is done for the comparison logger. Each enabled run writes a fixed number
// of records, so that its file stays far below the size limit.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "moxlog/moxlog.h"

#if defined(ORV_HAVE_SPDLOG)
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

constexpr int64_t kBatch = 4096;
// Records per run of an enabled benchmark: about 20 MB of log, far below the file size limit.
constexpr int64_t kEnabledIterations = 50 * kBatch;
constexpr char kTag[] = "Interface";
// Fixed-width fields, so every line has the same length.
constexpr char kFormat[] = "write offset=%012lu len=%08d shard=%02d";

// A unique log directory under /var/log, removed at exit.
class BenchDir {
 public:
  BenchDir() {
    char pattern[] = "/var/log/orv-bench-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
      path = std::string(pattern) + "/";
    }
  }
  ~BenchDir() {
    std::error_code ec;
    if (!path.empty()) {
      std::filesystem::remove_all(path, ec);
    }
  }
  BenchDir(const BenchDir&) = delete;
  BenchDir& operator=(const BenchDir&) = delete;
  std::string path;
};

BenchDir& Dir() {
  static BenchDir dir;
  return dir;
}

int64_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// Polls until the file has `size` bytes; false after 30 s.
bool WaitForSize(const std::string& path, int64_t size) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (FileSize(path) < size) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return FileSize(path) == size;
}

size_t MessageLength() {
  char buf[512];
  return static_cast<size_t>(std::snprintf(buf, sizeof buf, kFormat, 0UL, 0, 0));
}

// A running module writing levels 0..3 to its file and 0..1 to its ring; a fresh module and file
// for every run.
struct BenchModule {
  explicit BenchModule(const std::string& stem)
      : module(stem + "-" + std::to_string(++runs)), file(Dir().path + module + ".log") {
    MoxlogParam param{module, Dir().path, "", 3, 1, 100};
    ok = !Dir().path.empty() && MoxlogSetAndInit(param) == 0;
    if (ok) {
      // Everything before the marker, the parameter record included, is written with it.
      MoxlogWriteLog(0, module, "", "bench start");
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (FileSize(file) <= 0 || !HasMarker()) {
        if (std::chrono::steady_clock::now() > deadline) {
          ok = false;
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  }
  ~BenchModule() { MoxlogStopRecordLog(module); }
  BenchModule(const BenchModule&) = delete;
  BenchModule& operator=(const BenchModule&) = delete;

  bool HasMarker() const {
    FILE* f = std::fopen(file.c_str(), "r");
    if (f == nullptr) {
      return false;
    }
    char line[1024];
    bool found = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      found = found || std::string(line).find("bench start\n") != std::string::npos;
    }
    std::fclose(f);
    return found;
  }

  static int runs;
  std::string module;
  std::string file;
  bool ok = false;
};
int BenchModule::runs = 0;

void BM_MoxlogEnabledRecord(benchmark::State& state) {
  BenchModule m("bench-enabled");
  if (!m.ok) {
    state.SkipWithError("module could not be started");
    return;
  }
  // time stamp, tab, tag, blank, level, blank, message, line feed
  const int64_t lineLen = static_cast<int64_t>(26 + 1 + sizeof(kTag) - 1 + 1 + 1 + 1 + MessageLength() + 1);
  int64_t expected = FileSize(m.file);
  int64_t inBatch = 0;
  bool complete = true;
  uint64_t n = 0;
  for (auto _ : state) {
    MoxlogWriteLog(3, m.module, kTag, kFormat, n * 4096, 4096, static_cast<int>(n % 12));
    ++n;
    expected += lineLen;
    if (++inBatch == kBatch) {
      state.PauseTiming();
      complete = WaitForSize(m.file, expected) && complete;
      inBatch = 0;
      state.ResumeTiming();
    }
  }
  // Outside the timed loop: the last batch must arrive whole as well.
  if (!(WaitForSize(m.file, expected) && complete)) {
    state.SkipWithError("a record did not reach the file");
  }
  state.counters["lines_written"] = static_cast<double>(n);
}
BENCHMARK(BM_MoxlogEnabledRecord)->Iterations(kEnabledIterations);

void BM_MoxlogFilteredRecord(benchmark::State& state) {
  BenchModule m("bench-filtered");
  if (!m.ok) {
    state.SkipWithError("module could not be started");
    return;
  }
  const int64_t before = FileSize(m.file);
  uint64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(MoxlogWriteLog(4, m.module, kTag, kFormat, n * 4096, 4096, static_cast<int>(n % 12)));
    ++n;
  }
  if (FileSize(m.file) != before) {
    state.SkipWithError("a filtered record reached the file");
  }
}
BENCHMARK(BM_MoxlogFilteredRecord);

void BM_SnprintfSameMessage(benchmark::State& state) {
  char buf[513];
  uint64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, kFormat, n * 4096, 4096, static_cast<int>(n % 12)));
    benchmark::ClobberMemory();
    ++n;
  }
}
BENCHMARK(BM_SnprintfSameMessage);

#if defined(ORV_HAVE_SPDLOG)
// The comparison library's asynchronous file logger with its default queue (8192 records, the
// caller blocks when it is full), a time stamp pattern of the same form, same message.
void BM_ComparisonAsyncEnabled(benchmark::State& state) {
  const std::string file = Dir().path + "comparison.log";
  spdlog::init_thread_pool(8192, 1);
  auto logger = spdlog::basic_logger_mt<spdlog::async_factory>("comparison", file);
  logger->set_pattern("%Y-%m-%d %H:%M:%S.%f\t%v");
  logger->set_level(spdlog::level::info);
  const int64_t lineLen = static_cast<int64_t>(26 + 1 + MessageLength() + 1);
  int64_t expected = 0;
  int64_t inBatch = 0;
  bool complete = true;
  uint64_t n = 0;
  for (auto _ : state) {
    logger->info("write offset={:012} len={:08} shard={:02}", n * 4096, 4096, static_cast<int>(n % 12));
    ++n;
    expected += lineLen;
    if (++inBatch == kBatch) {
      state.PauseTiming();
      logger->flush();
      complete = WaitForSize(file, expected) && complete;
      inBatch = 0;
      state.ResumeTiming();
    }
  }
  logger->flush();
  complete = WaitForSize(file, expected) && complete;
  spdlog::drop("comparison");
  logger.reset();
  std::remove(file.c_str());
  if (!complete) {
    state.SkipWithError("a record did not reach the file");
  }
}
BENCHMARK(BM_ComparisonAsyncEnabled)->Iterations(kEnabledIterations);

void BM_ComparisonAsyncFiltered(benchmark::State& state) {
  const std::string file = Dir().path + "comparison-filtered.log";
  spdlog::init_thread_pool(8192, 1);
  auto logger = spdlog::basic_logger_mt<spdlog::async_factory>("comparison-filtered", file);
  logger->set_level(spdlog::level::info);
  uint64_t n = 0;
  for (auto _ : state) {
    logger->debug("write offset={:012} len={:08} shard={:02}", n * 4096, 4096, static_cast<int>(n % 12));
    ++n;
  }
  spdlog::drop("comparison-filtered");
}
BENCHMARK(BM_ComparisonAsyncFiltered);
#endif

}  // namespace
