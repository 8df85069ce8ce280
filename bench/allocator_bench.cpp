// Throughput of OrvAllocate and OrvRelease on devices of 4 KiB units: 1 GiB (262,144 units) and
// 1 TiB (2^28 units, 32 MiB of level 0), each empty, half fragmented (alternating free and
// allocated runs of 1..32 units) or 95% full (5% of the units free, scattered), for W = 1 and 2
// (1 GiB) or 1 and 8 (1 TiB), and requests of 1, 16 and 256 units (1 MiB).
//
// BM_OrvAllocate times one allocation; when the device can no longer serve a request it is
// refilled from a saved copy with the timer paused. BM_OrvRelease times the release of the extents
// of one allocation of the same size: allocations are made in batches with the timer paused and
// released one per iteration, so the device returns to its starting fill after every batch. The
// levels of every device come from OrvBuildLevels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace {

constexpr uint64_t kUnit = 4096;
constexpr uint64_t kUnset = ~uint64_t{0};
constexpr OrvAllocPosS kFreshCursor{kUnset, kUnset, 0};

enum Fill : int64_t { kEmpty = 0, kHalfFragmented = 1, kNinetyFivePercentFull = 2 };

struct Bitmaps {
  std::vector<uint64_t> l0, l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;
  uint64_t freeUnits = 0;
};

// Level 0 of a device of `units` units (a multiple of 64), built once per fill and size.
const std::vector<uint64_t>& LevelZero(Fill fill, uint64_t units) {
  static std::map<std::pair<int64_t, uint64_t>, std::vector<uint64_t>> cache;
  std::vector<uint64_t>& l0 = cache[{fill, units}];
  if (!l0.empty()) return l0;
  l0.assign(units / 64, 0);
  std::mt19937_64 rng(42);
  auto setFree = [&l0](uint64_t u) { l0[u / 64] |= uint64_t{1} << (u % 64); };
  if (fill == kEmpty) {
    for (uint64_t& word : l0) word = ~uint64_t{0};
  } else if (fill == kHalfFragmented) {
    bool isFree = true;
    for (uint64_t u = 0; u < units; isFree = !isFree) {
      const uint64_t run = 1 + rng() % 32;
      for (uint64_t k = 0; k < run && u < units; ++k, ++u) {
        if (isFree) setFree(u);
      }
    }
  } else {
    for (uint64_t u = 0; u < units; ++u) {
      if (rng() % 100 < 5) setFree(u);
    }
  }
  return l0;
}

Bitmaps MakeDevice(Fill fill, uint32_t w, uint64_t units) {
  Bitmaps b;
  b.l0 = LevelZero(fill, units);
  OrvAllocator builder(w, kUnit, kFreshCursor, b.partialSlots, b.freeSlots);
  if (!builder.OrvBuildLevels(b.l0, b.l1, b.l2)) std::abort();
  b.freeUnits = builder.OrvFreeBytes(b.l0) / kUnit;
  return b;
}

struct Case {
  Fill fill;
  uint32_t w;
  uint64_t requestBytes;
  uint64_t deviceUnits;
};

// Args: fill, W, request in units, device size in GiB.
Case CaseOf(const benchmark::State& state) {
  return Case{static_cast<Fill>(state.range(0)), static_cast<uint32_t>(state.range(1)),
              static_cast<uint64_t>(state.range(2)) * kUnit,
              static_cast<uint64_t>(state.range(3)) * ((uint64_t{1} << 30) / kUnit)};
}

void BM_OrvAllocate(benchmark::State& state) {
  const Case c = CaseOf(state);
  const Bitmaps pristine = MakeDevice(c.fill, c.w, c.deviceUnits);
  Bitmaps b = pristine;
  OrvAllocator alloc(c.w, kUnit, kFreshCursor, b.partialSlots, b.freeSlots);
  std::vector<OrvExtentS> out;
  out.reserve(4096);
  uint64_t freeBytes = pristine.freeUnits * kUnit;
  uint64_t bytes = 0;
  uint64_t extents = 0;
  for (auto _ : state) {
    if (freeBytes < c.requestBytes) {
      state.PauseTiming();
      b.l0 = pristine.l0;
      b.l1 = pristine.l1;
      b.l2 = pristine.l2;
      b.partialSlots = pristine.partialSlots;
      b.freeSlots = pristine.freeSlots;
      alloc.pos = kFreshCursor;
      freeBytes = pristine.freeUnits * kUnit;
      state.ResumeTiming();
    }
    out.clear();
    const uint64_t got = alloc.OrvAllocate(OrvAllocInfoS{c.requestBytes, kUnit}, b.l0, b.l1, b.l2, out);
    benchmark::DoNotOptimize(got);
    freeBytes -= got;
    bytes += got;
    extents += out.size();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["extents/call"] =
      benchmark::Counter(static_cast<double>(extents) / static_cast<double>(state.iterations()));
}

void BM_OrvRelease(benchmark::State& state) {
  const Case c = CaseOf(state);
  Bitmaps b = MakeDevice(c.fill, c.w, c.deviceUnits);
  OrvAllocator alloc(c.w, kUnit, kFreshCursor, b.partialSlots, b.freeSlots);
  // Up to 1024 allocations per batch, using at most half of the free space.
  const uint64_t perBatch = std::min<uint64_t>(1024, b.freeUnits * kUnit / c.requestBytes / 2);
  std::vector<std::vector<OrvExtentS>> batch(perBatch);
  for (auto& out : batch) out.reserve(512);
  size_t next = batch.size();
  uint64_t bytes = 0;
  uint64_t extents = 0;
  for (auto _ : state) {
    if (next == batch.size()) {
      state.PauseTiming();
      for (auto& out : batch) {
        out.clear();
        if (alloc.OrvAllocate(OrvAllocInfoS{c.requestBytes, kUnit}, b.l0, b.l1, b.l2, out) != c.requestBytes) {
          state.SkipWithError("allocation fell short");
        }
      }
      next = 0;
      state.ResumeTiming();
    }
    const uint64_t released = alloc.OrvRelease(batch[next], b.l0, b.l1, b.l2);
    benchmark::DoNotOptimize(released);
    bytes += released;
    extents += batch[next].size();
    ++next;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["extents/call"] =
      benchmark::Counter(static_cast<double>(extents) / static_cast<double>(state.iterations()));
}

void DeviceArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"fill", "W", "units", "GiB"});
  for (int64_t gib : {1, 1024}) {
    for (int64_t fill : {kEmpty, kHalfFragmented, kNinetyFivePercentFull}) {
      for (int64_t w : {int64_t{1}, gib == 1 ? int64_t{2} : int64_t{8}}) {
        for (int64_t units : {1, 16, 256}) b->Args({fill, w, units, gib});
      }
    }
  }
}

BENCHMARK(BM_OrvAllocate)->Apply(DeviceArgs);
BENCHMARK(BM_OrvRelease)->Apply(DeviceArgs);

}  // namespace
