// The most one planning call may cost: each planning function of liborv_ec on the largest input its
// per-call limits accept (2^24 pieces or shard ids, 2^16 positions per stripe-wide step), with the
// time per call and the memory the call allocates. The figures behind the cost notes of orv_ec.h.
//
// Counters: out_elems is the number of elements the call added; peak_MiB the most heap memory
// live at once during the call (output container included, its growth steps too); kept_MiB what
// is still allocated after the call, that is, what the output holds. Heap use is counted by the
// program's own operator new/delete, which the libraries' containers also use. The library logs
// into a module started at CRITICAL levels, so every DEBUG trace is a call into libmoxlog that the
// module filters, as in production use.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "orv_ec/orv_ec.h"
#include "planning_log_dir.h"

namespace {

std::atomic<int64_t> g_liveBytes{0};
std::atomic<int64_t> g_peakBytes{0};

void CountAllocation(void* p) {
  const int64_t now = g_liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p))) +
                      static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = g_peakBytes.load();
  while (now > peak && !g_peakBytes.compare_exchange_weak(peak, now)) {
  }
}

}  // namespace

// GCC pairs the replaced operator delete's free() with operator new and warns; they do match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  void* p = malloc(n == 0 ? 1 : n);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  CountAllocation(p);
  return p;
}

void operator delete(void* p) noexcept {
  if (p != nullptr) {
    g_liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)));
    free(p);
  }
}

void operator delete(void* p, size_t) noexcept { operator delete(p); }
#pragma GCC diagnostic pop

namespace {

using Range = std::pair<uint64_t, uint64_t>;
constexpr double kMiB = 1024.0 * 1024.0;

// The library's log module for the whole program, at CRITICAL levels, removed with its directory
// at exit.
struct CriticalLogModule {
  CriticalLogModule() {
    if (dir.made()) {
      ZoInit(dir.Param(MOXLOG_CRITICAL));
    }
  }
  orv_bench::PlanningLogDir dir;
};

const CriticalLogModule logModule;

// Per iteration: a fresh output, filled by `prepare` (untimed, not counted), then `call`, which
// calls the function and returns the number of elements in the output. Reports the heap counters
// of the last call.
template <typename Output, typename Call, typename Prepare>
void MeasureCall(benchmark::State& state, Call call, Prepare prepare) {
  int64_t elements = 0;
  int64_t peak = 0;
  int64_t kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Output out;
      prepare(out);
      const int64_t before = g_liveBytes.load();
      g_peakBytes.store(before);
      state.ResumeTiming();
      elements = call(out);
      state.PauseTiming();
      peak = g_peakBytes.load() - before;
      kept = g_liveBytes.load() - before;
      benchmark::DoNotOptimize(out);
    }
    state.ResumeTiming();
  }
  state.counters["out_elems"] = static_cast<double>(elements);
  state.counters["peak_MiB"] = static_cast<double>(peak) / kMiB;
  state.counters["kept_MiB"] = static_cast<double>(kept) / kMiB;
}

template <typename Output, typename Call>
void MeasureCall(benchmark::State& state, Call call) {
  MeasureCall<Output>(state, call, [](Output&) {});
}

// (0, 2^40) with 64 KiB chunks: 2^24 pieces, the most one call may add.
void BM_ReconstructPrepare_2e24Pieces(benchmark::State& state) {
  const std::vector<int> mapping;
  const ZoEcInfo info{4, 6, &mapping, 65536, 4 * 65536, 512};
  MeasureCall<std::vector<Range>>(state, [&](std::vector<Range>& pieces) {
    ZoReconstructPrepare(info, {0, uint64_t{1} << 40}, pieces);
    return static_cast<int64_t>(pieces.size());
  });
}

// A run of 2^24 positions in one pass: 2^24 shard ids, the most one call may add.
void BM_GetReconstructShards_2e24Ids(benchmark::State& state) {
  const std::vector<int> mapping;
  const ZoEcInfo info{4, 6, &mapping, 4096, 4 * 4096, 512};
  MeasureCall<std::vector<int>>(state, [&](std::vector<int>& shards) {
    ZoGetReconstructShards(0, 1u << 24, 4096, info, shards);
    return static_cast<int64_t>(shards.size());
  });
}

// k = 2^16 data positions of 4 KiB: a head of 2^16 chunk pieces, one whole stripe on all 2^16
// data shards, a tail of 2^16 pieces.
void BM_GetShardsRangeToRead_3x2e16(benchmark::State& state) {
  const uint64_t k = uint64_t{1} << 16;
  const uint64_t cSize = 4096;
  const std::vector<int> mapping;
  const ZoEcInfo info{k, k + 2, &mapping, cSize, k * cSize, 512};
  const Range range{1, 3 * info.sWidth - 2};
  MeasureCall<std::map<int, std::set<Range>>>(state, [&](std::map<int, std::set<Range>>& out) {
    ZoGetShardsRangeToRead(range, info, out);
    int64_t n = 0;
    for (const auto& shard : out) {
      n += static_cast<int64_t>(shard.second.size());
    }
    return n;
  });
}

// 2^16 zero pieces after the data, which ends in the first chunk of its stripe, and 2^16 - 1
// coding positions.
void BM_GetShardZeroRange_2x2e16(benchmark::State& state) {
  const uint64_t positions = uint64_t{1} << 16;
  const std::vector<int> mapping;
  const ZoEcInfo info{1, positions, &mapping, 4096, positions * 4096, 512};
  MeasureCall<std::map<int, Range>>(state, [&](std::map<int, Range>& out) {
    ZoGetShardZeroRange({0, 1}, info, out);
    return static_cast<int64_t>(out.size());
  });
}

// A whole stripe of k = 2^16 data positions.
void BM_GetRelatedShards_2e16(benchmark::State& state) {
  const uint64_t k = uint64_t{1} << 16;
  const std::vector<int> mapping;
  const ZoEcInfo info{k, k + 2, &mapping, 4096, k * 4096, 512};
  MeasureCall<std::set<int>>(state, [&](std::set<int>& out) {
    ZoGetRelatedShards({0, info.sWidth}, info, out);
    return static_cast<int64_t>(out.size());
  });
}

// state.range(0) whole-stripe extents with k = 65,534 data and 2 coding positions.
void BM_GetWriteToShards_WideStripe(benchmark::State& state) {
  const uint64_t k = 65534;
  const std::vector<int> mapping;
  const ZoEcInfo info{k, k + 2, &mapping, 4096, k * 4096, 512};
  std::map<uint64_t, uint64_t> writes;
  for (int64_t s = 0; s < state.range(0); ++s) {
    writes[static_cast<uint64_t>(s) * info.sWidth] = info.sWidth;
  }
  MeasureCall<std::set<int>>(state, [&](std::set<int>& out) {
    ZoGetWriteToShards(writes, info, out);
    return static_cast<int64_t>(out.size());
  });
}

// A to-read map of state.range(0) whole chunks, each with 100 bytes erased in its middle: every
// extent is split, realigned and merged back.
void BM_RebuildToread_PerExtent(benchmark::State& state) {
  const uint64_t csize = 4096;
  const uint64_t chunks = static_cast<uint64_t>(state.range(0));
  std::map<uint64_t, uint64_t> toReadIn;
  std::map<uint64_t, uint64_t> erase;
  for (uint64_t c = 0; c < chunks; ++c) {
    toReadIn[2 * c * csize] = csize;  // gaps between the chunks keep them apart after the merge
    erase[2 * c * csize + 2000] = 100;
  }
  using ExtentMap = std::map<uint64_t, uint64_t>;
  MeasureCall<ExtentMap>(
      state,
      [&](ExtentMap& toRead) {
        ZoRebuildToread(erase, csize, toRead);
        return static_cast<int64_t>(toRead.size());
      },
      [&](ExtentMap& toRead) { toRead = toReadIn; });
}

BENCHMARK(BM_ReconstructPrepare_2e24Pieces)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GetReconstructShards_2e24Ids)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GetShardsRangeToRead_3x2e16)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GetShardZeroRange_2x2e16)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GetRelatedShards_2e16)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GetWriteToShards_WideStripe)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RebuildToread_PerExtent)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
