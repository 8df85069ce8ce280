// Calls per second of the planning functions on typical geometries and ranges: shard selection,
// per-shard read ranges, chunk pieces, zero ranges and the to-read rebuild. The library logs into
// a module started at CRITICAL levels in a scratch directory under /var/log, so every trace line
// is formatted and queued as in production use and then filtered by the module.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "orv_ec/orv_ec.h"

namespace {

using Range = std::pair<uint64_t, uint64_t>;

// The library's log module for the whole program, removed with its directory at exit.
class BenchLogModule {
 public:
  BenchLogModule() {
    char pattern[] = "/var/log/orv-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      return;
    }
    dir_ = pattern;
    const std::string name = std::filesystem::path(dir_).filename().string();
    ZoInit(MoxlogParam{name, dir_ + "/", "", MOXLOG_CRITICAL, MOXLOG_CRITICAL, 100});
  }
  ~BenchLogModule() {
    if (!dir_.empty()) {
      ZoFinish();
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  BenchLogModule(const BenchLogModule&) = delete;
  BenchLogModule& operator=(const BenchLogModule&) = delete;

 private:
  std::string dir_;
};

const BenchLogModule logModule;

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
  for (int64_t k : {4, 8}) {
    for (int64_t kind = 0; kind < 4; ++kind) {
      b->Args({k, kind});
    }
  }
}

void BM_GetShardsRangeToRead(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(0)));
  const Range range = RangeOf(g.info, state.range(1));
  for (auto _ : state) {
    std::map<int, std::set<Range>> out;
    ZoGetShardsRangeToRead(range, g.info, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_ReconstructPrepare(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(0)));
  const Range range = RangeOf(g.info, state.range(1));
  for (auto _ : state) {
    std::vector<Range> pieces;
    ZoReconstructPrepare(g.info, range, pieces);
    benchmark::DoNotOptimize(pieces);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_GetShardZeroRange(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(0)));
  const Range range = RangeOf(g.info, state.range(1));
  for (auto _ : state) {
    std::map<int, Range> out;
    ZoGetShardZeroRange(range, g.info, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_GetRelatedShards(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(0)));
  const Range range = RangeOf(g.info, state.range(1));
  for (auto _ : state) {
    std::set<int> out;
    ZoGetRelatedShards(range, g.info, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_GetWriteToShards(benchmark::State& state) {
  const Geometry g(static_cast<uint64_t>(state.range(0)));
  const Range range = RangeOf(g.info, state.range(1));
  const std::map<uint64_t, uint64_t> writes{{range.first, range.second}};
  for (auto _ : state) {
    std::set<int> out;
    ZoGetWriteToShards(writes, g.info, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
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
  const Geometry g(static_cast<uint64_t>(state.range(0)));
  const Range range = RangeOf(g.info, state.range(1));
  for (auto _ : state) {
    std::vector<int> out;
    ZoGetReconstructShards(0, static_cast<uint32_t>(g.info.k), range.second, g.info, out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// A to-read map of `chunks` whole chunks with every third chunk partly erased and every fifth
// wholly erased.
void BM_RebuildToread(benchmark::State& state) {
  const uint64_t csize = 4096;
  const uint64_t chunks = static_cast<uint64_t>(state.range(0));
  const std::map<uint64_t, uint64_t> toReadIn{{0, chunks * csize}};
  std::map<uint64_t, uint64_t> erase;
  for (uint64_t c = 0; c < chunks; ++c) {
    if (c % 5 == 0) {
      erase[c * csize] = csize;
    } else if (c % 3 == 0) {
      erase[c * csize + 100] = 1000;
    }
  }
  for (auto _ : state) {
    std::map<uint64_t, uint64_t> toRead = toReadIn;
    benchmark::DoNotOptimize(ZoRebuildToread(erase, csize, toRead));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(BM_GetShardsRangeToRead)->Apply(RangeArgs);
BENCHMARK(BM_ReconstructPrepare)->Apply(RangeArgs);
BENCHMARK(BM_GetShardZeroRange)->Apply(RangeArgs);
BENCHMARK(BM_GetRelatedShards)->Apply(RangeArgs);
BENCHMARK(BM_GetWriteToShards)->Apply(RangeArgs);
BENCHMARK(BM_GetWriteToShardsManyStripes)->Args({1000, 8})->Args({1000, 1024})->Args({100, 65534});
BENCHMARK(BM_GetReconstructShards)->Apply(RangeArgs);
BENCHMARK(BM_RebuildToread)->Arg(4)->Arg(64)->Arg(1024);

}  // namespace
