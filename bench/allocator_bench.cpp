// Throughput of OrvAllocate on a 1 GiB device of 4 KiB units (262,144 units) that is empty,
// half fragmented (alternating free and allocated runs of 1..32 units) or 95% full (5% of the
// units free, scattered), for W = 1 and 2 and several request sizes. When the device can no
// longer serve a request it is refilled from a saved copy with the timer paused.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace {

constexpr uint64_t kUnit = 4096;
constexpr uint64_t kUnits = (uint64_t{1} << 30) / kUnit;
constexpr uint64_t kUnset = ~uint64_t{0};

enum Fill : int64_t { kEmpty = 0, kHalfFragmented = 1, kNinetyFivePercentFull = 2 };

struct Bitmaps {
  std::vector<uint64_t> l0, l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;
  uint64_t freeUnits = 0;
};

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// Levels 1 and 2 and the counters for a filled level 0, as the caller keeps them.
void BuildUpperLevels(Bitmaps& b, uint32_t w) {
  b.l1.assign(CeilDiv(CeilDiv(b.l0.size(), w), 32), 0);
  b.l2.assign(CeilDiv(CeilDiv(b.l1.size(), w), 64), 0);
  for (uint64_t slot = 0; slot < CeilDiv(b.l0.size(), w); ++slot) {
    uint64_t freeCount = 0;
    for (uint64_t k = slot * w; k < (slot + 1) * w && k < b.l0.size(); ++k) {
      freeCount += static_cast<uint64_t>(__builtin_popcountll(b.l0[k]));
    }
    const uint64_t state = freeCount == 64u * w ? 3u : (freeCount != 0 ? 1u : 0u);
    b.freeSlots += state == 3u ? 1u : 0u;
    b.partialSlots += state == 1u ? 1u : 0u;
    b.freeUnits += freeCount;
    b.l1[slot / 32] |= state << (2 * (slot % 32));
  }
  for (uint64_t entry = 0; entry < CeilDiv(b.l1.size(), w); ++entry) {
    for (uint64_t k = entry * w; k < (entry + 1) * w && k < b.l1.size(); ++k) {
      if (b.l1[k] != 0) b.l2[entry / 64] |= uint64_t{1} << (entry % 64);
    }
  }
}

Bitmaps MakeDevice(Fill fill, uint32_t w) {
  Bitmaps b;
  b.l0.assign(kUnits / 64, 0);
  std::mt19937_64 rng(42);
  auto setFree = [&b](uint64_t u) { b.l0[u / 64] |= uint64_t{1} << (u % 64); };
  if (fill == kEmpty) {
    for (uint64_t& word : b.l0) word = ~uint64_t{0};
  } else if (fill == kHalfFragmented) {
    bool isFree = true;
    for (uint64_t u = 0; u < kUnits; isFree = !isFree) {
      const uint64_t run = 1 + rng() % 32;
      for (uint64_t k = 0; k < run && u < kUnits; ++k, ++u) {
        if (isFree) setFree(u);
      }
    }
  } else {
    for (uint64_t u = 0; u < kUnits; ++u) {
      if (rng() % 100 < 5) setFree(u);
    }
  }
  BuildUpperLevels(b, w);
  return b;
}

// Args: fill, W, request in units.
void BM_OrvAllocate(benchmark::State& state) {
  const Fill fill = static_cast<Fill>(state.range(0));
  const uint32_t w = static_cast<uint32_t>(state.range(1));
  const uint64_t requestBytes = static_cast<uint64_t>(state.range(2)) * kUnit;
  const Bitmaps pristine = MakeDevice(fill, w);
  Bitmaps b = pristine;
  OrvAllocator alloc(w, kUnit, OrvAllocPosS{kUnset, kUnset, 0}, b.partialSlots, b.freeSlots);
  std::vector<OrvExtentS> out;
  out.reserve(4096);
  uint64_t freeBytes = pristine.freeUnits * kUnit;
  uint64_t bytes = 0;
  uint64_t extents = 0;
  for (auto _ : state) {
    if (freeBytes < requestBytes) {
      state.PauseTiming();
      b.l0 = pristine.l0;
      b.l1 = pristine.l1;
      b.l2 = pristine.l2;
      b.partialSlots = pristine.partialSlots;
      b.freeSlots = pristine.freeSlots;
      alloc.pos = OrvAllocPosS{kUnset, kUnset, 0};
      freeBytes = pristine.freeUnits * kUnit;
      state.ResumeTiming();
    }
    out.clear();
    const uint64_t got = alloc.OrvAllocate(OrvAllocInfoS{requestBytes, kUnit}, b.l0, b.l1, b.l2, out);
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

void AllocateArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"fill", "W", "units"});
  for (int64_t fill : {kEmpty, kHalfFragmented, kNinetyFivePercentFull}) {
    for (int64_t w : {1, 2}) {
      for (int64_t units : {1, 16, 256}) b->Args({fill, w, units});
    }
  }
}

BENCHMARK(BM_OrvAllocate)->Apply(AllocateArgs);

}  // namespace
