// Cost of a log call, side by side with spdlog's asynchronous logger in the same run (when
// ORV_HAVE_SPDLOG is set):
// - Filtered: a level-4 record to a running module at levels 0/0, against spdlog's should_log and
//   a whole filtered spdlog call.
// - Passing, caller side: a record formatted, time-stamped and queued, against spdlog's async
//   logger with an 8192-slot blocking queue and with a 1M-slot queue; and the same line from a
//   message without conversions, which leaves the clock, the time stamp, lookup and queueing.
// - Aggregate: 1, 2 and 4 writer threads on one module and on one module each, in records per
//   second of wall time, against spdlog 1M (one logger, or one logger each, on one worker pool).
// A plain snprintf of the same message is given for scale.
//
// Nothing is ever dropped: writes are made in rounds that stay below every queue bound (4096
// records for one writer, 4 x 2000 for the aggregates), and between rounds the clock is stopped
// until every line of the round is in its file (the file has its expected size), so each round
// starts with empty queues. Every run writes a fixed number of records, far below the file size
// limit. Lines have a fixed length, so the expected size is known.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "moxlog/moxlog.h"

#if defined(ORV_HAVE_SPDLOG)
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kBatch = 4096;
// Records per run of a passing benchmark: about 20 MB of log, far below the file size limit.
constexpr int64_t kPassingIterations = 50 * kBatch;
// Aggregates: records per writer and round, and rounds per run.
constexpr int kRoundRecords = 2000;
constexpr int kRounds = 60;
constexpr char kTag[] = "Interface";
// The tag as the planning library passes it: one string made once.
const std::string kTagString(kTag);
// Fixed-width fields, so every line has the same length.
constexpr char kFormat[] = "write offset=%012lu len=%08d shard=%02d";
#if defined(ORV_HAVE_SPDLOG)
constexpr char kSpdFormat[] = "write offset={:012} len={:08} shard={:02}";
constexpr size_t kSpdQueueSmall = 8192;
constexpr size_t kSpdQueueLarge = 1 << 20;
#endif

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

// Polls until the file has `size` bytes; false after 30 s or when it has more.
bool WaitForSize(const std::string& path, int64_t size) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (FileSize(path) < size) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return FileSize(path) == size;
}

int64_t MessageLength() {
  char buf[512];
  return std::snprintf(buf, sizeof buf, kFormat, 0UL, 0, 0);
}

// time stamp, tab, tag, blank, level, blank, message, line feed
int64_t MoxlogLineLength() { return 26 + 1 + static_cast<int64_t>(sizeof(kTag) - 1) + 1 + 1 + 1 + MessageLength() + 1; }

// A running module at the given levels; a fresh module and file for every run.
struct BenchModule {
  BenchModule(const std::string& stem, int fileLevel, int memLevel)
      : module(stem + "-" + std::to_string(++runs)), file(Dir().path + module + ".log") {
    MoxlogParam param{module, Dir().path, "", fileLevel, memLevel, 100};
    ok = !Dir().path.empty() && MoxlogSetAndInit(param) == 0;
    if (ok) {
      // Everything before the marker, the parameter record included, is written with it.
      MoxlogWriteLog(0, module, "", "bench start");
      const auto deadline = Clock::now() + std::chrono::seconds(30);
      while (FileSize(file) <= 0 || !HasMarker()) {
        if (Clock::now() > deadline) {
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

// Threads that each run `work(thread)` once per round; a round's time runs from the first
// writer's start to the last writer's end.
class WriterPool {
 public:
  WriterPool(int threads, std::function<void(int)> work) : work_(std::move(work)) {
    for (int t = 0; t < threads; ++t) {
      threads_.emplace_back([this, t] { Run(t); });
    }
  }
  ~WriterPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    cond_.notify_all();
    for (std::thread& t : threads_) {
      t.join();
    }
  }
  WriterPool(const WriterPool&) = delete;
  WriterPool& operator=(const WriterPool&) = delete;

  double RunRound() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++round_;
      done_ = 0;
      first_ = Clock::time_point::max();
      last_ = Clock::time_point::min();
    }
    cond_.notify_all();
    std::unique_lock<std::mutex> lock(mutex_);
    doneCond_.wait(lock, [this] { return done_ == threads_.size(); });
    return std::chrono::duration<double>(last_ - first_).count();
  }

 private:
  void Run(int t) {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait(lock, [&] { return quit_ || round_ != seen; });
        if (quit_) {
          return;
        }
        seen = round_;
      }
      const Clock::time_point start = Clock::now();
      work_(t);
      const Clock::time_point end = Clock::now();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        first_ = std::min(first_, start);
        last_ = std::max(last_, end);
        ++done_;
      }
      doneCond_.notify_one();
    }
  }

  std::function<void(int)> work_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable cond_;
  std::condition_variable doneCond_;
  uint64_t round_ = 0;
  size_t done_ = 0;
  bool quit_ = false;
  Clock::time_point first_;
  Clock::time_point last_;
};

// Runs kRounds rounds of `threads` writers, `wait` (untimed) after each; reports records per
// second of wall time.
void RunAggregate(benchmark::State& state, int threads, const std::function<void(int, uint64_t)>& write,
                  const std::function<bool()>& wait) {
  uint64_t round = 0;
  WriterPool pool(threads, [&](int t) {
    for (int i = 0; i < kRoundRecords; ++i) {
      write(t, round * kRoundRecords + static_cast<uint64_t>(i));
    }
  });
  double seconds = 0;
  bool complete = true;
  for (auto _ : state) {
    const double s = pool.RunRound();
    state.SetIterationTime(s);
    seconds += s;
    complete = wait() && complete;
    ++round;
  }
  if (!complete) {
    state.SkipWithError("a record did not reach the file");
    return;
  }
  const double records = static_cast<double>(state.iterations()) * threads * kRoundRecords;
  state.counters["Mrec_per_s"] = records / seconds / 1e6;
  state.counters["ns_per_rec"] = seconds * 1e9 / records;
}

// ---- Filtered ----

void BM_MoxlogFiltered(benchmark::State& state) {
  BenchModule m("bench-filtered", MOXLOG_CRITICAL, MOXLOG_CRITICAL);
  if (!m.ok) {
    state.SkipWithError("module could not be started");
    return;
  }
  const int64_t before = FileSize(m.file);
  uint64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        MoxlogWriteLog(MOXLOG_DEBUG, m.module, kTagString, kFormat, n * 4096, 4096, static_cast<int>(n % 12)));
    ++n;
  }
  if (FileSize(m.file) != before) {
    state.SkipWithError("a filtered record reached the file");
  }
}
BENCHMARK(BM_MoxlogFiltered);

// ---- Passing, caller side ----

// A passing run: `write` makes record n; every record makes one line of the benchmark's length.
template <class Write>
void RunPassing(benchmark::State& state, const char* name, Write write) {
  BenchModule m(name, MOXLOG_INFORMATION, MOXLOG_ERROR);
  if (!m.ok) {
    state.SkipWithError("module could not be started");
    return;
  }
  const int64_t lineLen = MoxlogLineLength();
  int64_t expected = FileSize(m.file);
  int64_t inBatch = 0;
  bool complete = true;
  uint64_t n = 0;
  for (auto _ : state) {
    write(m.module, n);
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
}

void BM_MoxlogPassing(benchmark::State& state) {
  RunPassing(state, "bench-passing", [](const std::string& module, uint64_t n) {
    MoxlogWriteLog(MOXLOG_INFORMATION, module, kTagString, kFormat, n * 4096, 4096, static_cast<int>(n % 12));
  });
}
BENCHMARK(BM_MoxlogPassing)->Iterations(kPassingIterations);

// The same line from a message without conversions: the call's cost apart from formatting numbers,
// that is the clock, the time stamp, the lookup and the queue.
void BM_MoxlogPassingLiteral(benchmark::State& state) {
  RunPassing(state, "bench-passing-literal", [](const std::string& module, uint64_t) {
    MoxlogWriteLog(MOXLOG_INFORMATION, module, kTagString, "write offset=000000004096 len=00004096 shard=01");
  });
}
BENCHMARK(BM_MoxlogPassingLiteral)->Iterations(kPassingIterations);

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

// The clock read every passing record makes (as spdlog's records do): on some virtual machines
// a large share of the call.
void BM_GettimeofdayPerRecord(benchmark::State& state) {
  for (auto _ : state) {
    timeval now{};
    gettimeofday(&now, nullptr);
    benchmark::DoNotOptimize(now);
  }
}
BENCHMARK(BM_GettimeofdayPerRecord);

// ---- Aggregates ----

// Writers on one shared module (range(1) == 0) or on one module each (range(1) == 1).
void BM_MoxlogAggregate(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const bool ownModule = state.range(1) != 0;
  std::vector<std::unique_ptr<BenchModule>> modules;
  for (int i = 0; i < (ownModule ? threads : 1); ++i) {
    modules.push_back(std::make_unique<BenchModule>("bench-aggregate", MOXLOG_INFORMATION, MOXLOG_ERROR));
    if (!modules.back()->ok) {
      state.SkipWithError("module could not be started");
      return;
    }
  }
  std::vector<int64_t> expected;
  for (const auto& m : modules) {
    expected.push_back(FileSize(m->file));
  }
  const int64_t perRound = MoxlogLineLength() * kRoundRecords * (ownModule ? 1 : threads);
  RunAggregate(
      state, threads,
      [&](int t, uint64_t n) {
        const std::string& module = modules[ownModule ? static_cast<size_t>(t) : 0]->module;
        MoxlogWriteLog(MOXLOG_INFORMATION, module, kTagString, kFormat, n * 4096, 4096, static_cast<int>(n % 12));
      },
      [&] {
        bool ok = true;
        for (size_t i = 0; i < modules.size(); ++i) {
          expected[i] += perRound;
          ok = WaitForSize(modules[i]->file, expected[i]) && ok;
        }
        return ok;
      });
}
BENCHMARK(BM_MoxlogAggregate)
    ->ArgNames({"writers", "own_module"})
    ->ArgsProduct({{1, 2, 4}, {0, 1}})
    ->UseManualTime()
    ->Iterations(kRounds);

#if defined(ORV_HAVE_SPDLOG)

// spdlog: an asynchronous file logger on its own pool with one worker thread and a queue of
// `queueSize` records (the caller blocks when it is full), a time stamp pattern of the same form.
struct SpdLoggers {
  SpdLoggers(const std::string& stem, size_t queueSize, int count)
      : pool(std::make_shared<spdlog::details::thread_pool>(queueSize, 1)) {
    static int runs = 0;
    for (int i = 0; i < count; ++i) {
      const std::string name = stem + "-" + std::to_string(++runs);
      files.push_back(Dir().path + name + ".log");
      auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(files.back());
      loggers.push_back(std::make_shared<spdlog::async_logger>(name, sink, pool, spdlog::async_overflow_policy::block));
      loggers.back()->set_pattern("%Y-%m-%d %H:%M:%S.%f\t%v");
      loggers.back()->set_level(spdlog::level::info);
      expected.push_back(0);
    }
  }
  ~SpdLoggers() {
    loggers.clear();
    pool.reset();
    for (const std::string& f : files) {
      std::remove(f.c_str());
    }
  }
  SpdLoggers(const SpdLoggers&) = delete;
  SpdLoggers& operator=(const SpdLoggers&) = delete;

  // Adds `lines` lines to logger i's expected size and waits for them.
  bool Wait(size_t i, int64_t lines) {
    expected[i] += lines * LineLength();
    loggers[i]->flush();
    return WaitForSize(files[i], expected[i]);
  }
  static int64_t LineLength() { return 26 + 1 + MessageLength() + 1; }

  std::shared_ptr<spdlog::details::thread_pool> pool;
  std::vector<std::shared_ptr<spdlog::async_logger>> loggers;
  std::vector<std::string> files;
  std::vector<int64_t> expected;
};

void BM_SpdlogShouldLog(benchmark::State& state) {
  SpdLoggers s("spd-filtered", kSpdQueueSmall, 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.loggers[0]->should_log(spdlog::level::debug));
  }
}
BENCHMARK(BM_SpdlogShouldLog);

void BM_SpdlogFilteredCall(benchmark::State& state) {
  SpdLoggers s("spd-filtered-call", kSpdQueueSmall, 1);
  uint64_t n = 0;
  for (auto _ : state) {
    s.loggers[0]->debug(kSpdFormat, n * 4096, 4096, static_cast<int>(n % 12));
    ++n;
  }
}
BENCHMARK(BM_SpdlogFilteredCall);

// range(0): queue size.
void BM_SpdlogPassing(benchmark::State& state) {
  SpdLoggers s("spd-passing", static_cast<size_t>(state.range(0)), 1);
  int64_t inBatch = 0;
  bool complete = true;
  uint64_t n = 0;
  for (auto _ : state) {
    s.loggers[0]->info(kSpdFormat, n * 4096, 4096, static_cast<int>(n % 12));
    ++n;
    if (++inBatch == kBatch) {
      state.PauseTiming();
      complete = s.Wait(0, inBatch) && complete;
      inBatch = 0;
      state.ResumeTiming();
    }
  }
  if (!((inBatch == 0 || s.Wait(0, inBatch)) && complete)) {
    state.SkipWithError("a record did not reach the file");
  }
}
BENCHMARK(BM_SpdlogPassing)
    ->ArgName("queue")
    ->Arg(static_cast<int64_t>(kSpdQueueSmall))
    ->Arg(static_cast<int64_t>(kSpdQueueLarge))
    ->Iterations(kPassingIterations);

// range(0): writers; range(1): one logger each; range(2): queue size.
void BM_SpdlogAggregate(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const bool ownLogger = state.range(1) != 0;
  SpdLoggers s("spd-aggregate", static_cast<size_t>(state.range(2)), ownLogger ? threads : 1);
  RunAggregate(
      state, threads,
      [&](int t, uint64_t n) {
        s.loggers[ownLogger ? static_cast<size_t>(t) : 0]->info(kSpdFormat, n * 4096, 4096, static_cast<int>(n % 12));
      },
      [&] {
        bool ok = true;
        for (size_t i = 0; i < s.loggers.size(); ++i) {
          ok = s.Wait(i, static_cast<int64_t>(kRoundRecords) * (ownLogger ? 1 : threads)) && ok;
        }
        return ok;
      });
}
BENCHMARK(BM_SpdlogAggregate)
    ->ArgNames({"writers", "own_module", "queue"})
    ->ArgsProduct({{1, 2, 4}, {0, 1}, {static_cast<int64_t>(kSpdQueueSmall), static_cast<int64_t>(kSpdQueueLarge)}})
    ->UseManualTime()
    ->Iterations(kRounds);

#endif  // ORV_HAVE_SPDLOG

}  // namespace
