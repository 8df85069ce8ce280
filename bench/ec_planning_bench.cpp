// Calls per second of the planning functions on typical geometries and ranges: shard selection,
// per-shard read ranges, chunk pieces, zero ranges and the to-read rebuild. The library logs into
// a module in a scratch directory under /var/log, at one of two level settings (the first
// argument of every benchmark):
// - log:0, production levels: file and memory thresholds at INFORMATION (3), so every DEBUG trace
//   line of the planning functions is refused by the module's level check;
// - log:1, DEBUG: thresholds at DEBUG (4), so every trace line is formatted, time-stamped and
//   queued. The time measured is the caller's; every batch of calls (below the 10000-record queue
//   bound) is followed, with the clock stopped, by a wait until the flush thread has written it,
//   so no record is ever dropped.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "moxlog/moxlog.h"
#include "orv_ec/orv_ec.h"
#include "planning_log_dir.h"

namespace {

using Range = std::pair<uint64_t, uint64_t>;

// The library's log module for the whole program, removed with its directory at exit.
class BenchLogModule {
 public:
  BenchLogModule() {
    if (dir_.made()) {
      file_ = dir_.file();
      ok_ = ZoInit(dir_.Param(MOXLOG_INFORMATION)) == 0;
    }
  }
  BenchLogModule(const BenchLogModule&) = delete;
  BenchLogModule& operator=(const BenchLogModule&) = delete;

  // Restarts the module at DEBUG or at production levels, unless it runs at them already.
  bool UseLevels(bool debug) {
    if (ok_ && debug != debug_) {
      ok_ = ZoReload(dir_.Param(debug ? MOXLOG_DEBUG : MOXLOG_INFORMATION)) == 0;
      debug_ = debug;
    }
    return ok_;
  }

  // Waits (30 s at most) until everything logged so far is in the file; returns the number of
  // lines that arrived since the last call.
  int64_t Drain() {
    const std::string marker = "bench mark " + std::to_string(++marks_) + "\n";
    MoxlogWriteLog(MOXLOG_CRITICAL, dir_.name(), "", "%s", marker.substr(0, marker.size() - 1).c_str());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int64_t lines = 0;
    for (;;) {
      const std::string fresh = ReadFrom(readOffset_);
      readOffset_ += static_cast<int64_t>(fresh.size());
      pending_ += fresh;
      lines += std::count(fresh.begin(), fresh.end(), '\n');
      const size_t at = pending_.find(marker);
      if (at != std::string::npos) {
        pending_.erase(0, at + marker.size());
        if (readOffset_ > kRotateBytes) {
          // Everything up to the marker is read: start a new file long before the module's size
          // limit would refuse records (the module recreates it by name).
          unlink(file_.c_str());
          readOffset_ = 0;
          pending_.clear();
        }
        return lines - 1;
      }
      pending_.erase(0, pending_.size() > marker.size() ? pending_.size() - marker.size() : 0);
      if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

 private:
  std::string ReadFrom(int64_t offset) const {
    std::string out;
    const int fd = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return out;
    }
    char buf[65536];
    for (;;) {
      const ssize_t n = pread(fd, buf, sizeof buf, static_cast<off_t>(offset + static_cast<int64_t>(out.size())));
      if (n <= 0) {
        break;
      }
      out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return out;
  }

  static constexpr int64_t kRotateBytes = int64_t{32} << 20;

  orv_bench::PlanningLogDir dir_;
  std::string file_;
  bool ok_ = false;
  bool debug_ = false;
  int marks_ = 0;
  int64_t readOffset_ = 0;
  std::string pending_;
};

BenchLogModule& LogModule() {
  static BenchLogModule module;
  return module;
}

// Runs `call` once per iteration at the levels of state.range(0). At DEBUG, the calls go in
// batches that stay below the queue bound, each drained with the clock stopped.
template <typename Call>
void RunLogged(benchmark::State& state, Call call) {
  const bool debug = state.range(0) != 0;
  if (!LogModule().UseLevels(debug) || (debug && LogModule().Drain() < 0)) {
    state.SkipWithError("log module unavailable");
    return;
  }
  int64_t batch = 0;
  state.counters["lines_per_call"] = 0;
  if (debug) {
    call();  // untimed: how many lines one call writes
    const int64_t lines = LogModule().Drain();
    batch = std::max<int64_t>(1, 9000 / std::max<int64_t>(lines, 1));
    state.counters["lines_per_call"] = static_cast<double>(lines);
  }
  int64_t inBatch = 0;
  bool drained = true;
  for (auto _ : state) {
    call();
    if (debug && ++inBatch == batch) {
      state.PauseTiming();
      drained = LogModule().Drain() >= 0 && drained;
      inBatch = 0;
      state.ResumeTiming();
    }
  }
  if (debug && !(LogModule().Drain() >= 0 && drained)) {
    state.SkipWithError("the log did not catch up");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// Geometry by k: k data chunks and two coding chunks of 4096 bytes (k 4) or 8192 bytes (k 8).
struct Geometry {
  explicit Geometry(uint64_t k) : mapping(static_cast<size_t>(k + 2)) {
    for (size_t i = 0; i < mapping.size(); ++i) {
      mapping[i] = static_cast<int>(mapping.size() - 1 - i);
    }
    const uint64_t cSize = k <= 4 ? 4096 : 8192;
    info = ZoEcInfo{k, k + 2, &mapping, cSize, k * cSize, 512};
  }
  std::vector<int> mapping;
  ZoEcInfo info{};
};

// Ranges: a few bytes inside one chunk, a piece of one stripe, two and a half stripes, 1 MiB.
Range RangeOf(const ZoEcInfo& info, int64_t kind) {
  switch (kind) {
    case 0:
      return {info.cSize + 100, 200};
    case 1:
      return {5000, info.sWidth - 6000};
    case 2:
      return {5000, info.sWidth * 5 / 2};
    default:
      return {info.sWidth * 3, uint64_t{1} << 20};
  }
}

void RangeArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"log", "k", "range"});
  for (int64_t debug : {0, 1}) {
    for (int64_t k : {4, 8}) {
      for (int64_t kind = 0; kind < 4; ++kind) {
        b->Args({debug, k, kind});
      }
    }
  }
}

void BM_GetShardsRangeToRead(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(1)));
  const Range range = RangeOf(g.info, state.range(2));
  RunLogged(state, [&] {
    std::map<int, std::set<Range>> out;
    ZoGetShardsRangeToRead(range, g.info, out);
    benchmark::DoNotOptimize(out);
  });
}

void BM_ReconstructPrepare(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(1)));
  const Range range = RangeOf(g.info, state.range(2));
  RunLogged(state, [&] {
    std::vector<Range> pieces;
    ZoReconstructPrepare(g.info, range, pieces);
    benchmark::DoNotOptimize(pieces);
  });
}

void BM_GetShardZeroRange(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(1)));
  const Range range = RangeOf(g.info, state.range(2));
  RunLogged(state, [&] {
    std::map<int, Range> out;
    ZoGetShardZeroRange(range, g.info, out);
    benchmark::DoNotOptimize(out);
  });
}

void BM_GetRelatedShards(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(1)));
  const Range range = RangeOf(g.info, state.range(2));
  RunLogged(state, [&] {
    std::set<int> out;
    ZoGetRelatedShards(range, g.info, out);
    benchmark::DoNotOptimize(out);
  });
}

void BM_GetWriteToShards(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(1)));
  const Range range = RangeOf(g.info, state.range(2));
  const std::map<uint64_t, uint64_t> writes{{range.first, range.second}};
  RunLogged(state, [&] {
    std::set<int> out;
    ZoGetWriteToShards(writes, g.info, out);
    benchmark::DoNotOptimize(out);
  });
}

// Many whole-stripe extents over a wide stripe (k = range(1), 4096-byte chunks): the cost should
// follow the k positions and the extents, not extents x k.
void BM_GetWriteToShardsManyStripes(benchmark::State& state) {
  const uint64_t extents = static_cast<uint64_t>(state.range(0));
  const uint64_t k = static_cast<uint64_t>(state.range(1));
  const std::vector<int> mapping;
  const ZoEcInfo info{k, k + 2, &mapping, 4096, k * 4096, 512};
  std::map<uint64_t, uint64_t> writes;
  for (uint64_t s = 0; s < extents; ++s) {
    writes[s * info.sWidth] = info.sWidth;
  }
  for (auto _ : state) {
    std::set<int> out;
    ZoGetWriteToShards(writes, info, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_GetReconstructShards(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(1)));
  const Range range = RangeOf(g.info, state.range(2));
  RunLogged(state, [&] {
    std::vector<int> out;
    ZoGetReconstructShards(0, static_cast<uint32_t>(g.info.k), range.second, g.info, out);
    benchmark::DoNotOptimize(out);
  });
}

// A to-read map of `chunks` whole chunks with every third chunk partly erased and every fifth
// wholly erased.
void BM_RebuildToread(benchmark::State& state) {
  const uint64_t csize = 4096;
  const uint64_t chunks = static_cast<uint64_t>(state.range(1));
  const std::map<uint64_t, uint64_t> toReadIn{{0, chunks * csize}};
  std::map<uint64_t, uint64_t> erase;
  for (uint64_t c = 0; c < chunks; ++c) {
    if (c % 5 == 0) {
      erase[c * csize] = csize;
    } else if (c % 3 == 0) {
      erase[c * csize + 100] = 1000;
    }
  }
  RunLogged(state, [&] {
    std::map<uint64_t, uint64_t> toRead = toReadIn;
    benchmark::DoNotOptimize(ZoRebuildToread(erase, csize, toRead));
  });
}

BENCHMARK(BM_GetShardsRangeToRead)->Apply(RangeArgs);
BENCHMARK(BM_ReconstructPrepare)->Apply(RangeArgs);
BENCHMARK(BM_GetShardZeroRange)->Apply(RangeArgs);
BENCHMARK(BM_GetRelatedShards)->Apply(RangeArgs);
BENCHMARK(BM_GetWriteToShards)->Apply(RangeArgs);
BENCHMARK(BM_GetWriteToShardsManyStripes)->Args({1000, 8})->Args({1000, 1024})->Args({100, 65534});
BENCHMARK(BM_GetReconstructShards)->Apply(RangeArgs);
BENCHMARK(BM_RebuildToread)->ArgNames({"log", "chunks"})->ArgsProduct({{0, 1}, {4, 64, 1024}});

}  // namespace
