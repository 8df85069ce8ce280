// Throughput of ZoRegionNeonXor side by side with its peers on the same buffers: ISA-L's xor_gen
// (best dispatch for the host) and xor_gen_sse (128-bit) when the build found ISA-L, memcpy of one
// region, and the previous 64-byte-block kernel of this library kept here as the baseline. Sizes
// 4 KiB, 64 KiB, 1 MiB and 16 MiB with 2, 4, 8 and 16 sources. Bytes processed count every
// source byte read (memcpy: the bytes copied), so GB/s compares directly across source counts.
// Run with --benchmark_repetitions and --benchmark_enable_random_interleaving on a noisy machine
// and compare medians.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "orv_ec/orv_ec.h"
#include "orv_platform/neon.h"

#if ORV_HAVE_ISAL
#include <isa-l/raid.h>
#endif

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

constexpr size_t kMostSources = 16;

// kMostSources source regions and a destination, each page-aligned like I/O buffers, filled and
// touched; a call with n sources uses the first n.
struct XorInput {
  explicit XorInput(size_t size_) : size(size_) {
    uint32_t x = 12345;
    for (size_t r = 0; r <= kMostSources; ++r) {
      char* p = static_cast<char*>(std::aligned_alloc(4096, (size + 4095) / 4096 * 4096));
      regions.emplace_back(p);
      for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        p[i] = static_cast<char>(x >> 24);
      }
    }
    for (size_t s = 0; s < kMostSources; ++s) {
      sources.push_back(regions[s].get());
    }
    dest = regions[kMostSources].get();
  }
  size_t size;
  std::vector<std::unique_ptr<char, FreeDeleter>> regions;
  std::vector<char*> sources;
  char* dest = nullptr;
};

// The buffers of one size, kept for the whole run and shared by every implementation and source
// count, so that all of them run on the same memory whatever order the runs come in.
XorInput& InputFor(size_t size) {
  static std::map<size_t, std::unique_ptr<XorInput>> inputs;
  std::unique_ptr<XorInput>& input = inputs[size];
  if (!input) {
    input = std::make_unique<XorInput>(size);
  }
  return *input;
}

// The library's kernel before 256-byte blocks: one 64-byte block in four registers, the sources
// in the inner loop. Kept only as the baseline of this benchmark.
void Baseline64ByteBlockXor(char* const* sources, size_t count, char* dest, size_t size) {
  const uint8_t* first = reinterpret_cast<const uint8_t*>(sources[0]);
  uint8_t* out = reinterpret_cast<uint8_t*>(dest);
  for (size_t o = 0; size - o >= 64; o += 64) {
    uint8x16_t v0 = vld1q_u8(first + o);
    uint8x16_t v1 = vld1q_u8(first + o + 16);
    uint8x16_t v2 = vld1q_u8(first + o + 32);
    uint8x16_t v3 = vld1q_u8(first + o + 48);
    for (size_t s = 1; s < count; ++s) {
      const uint8_t* src = reinterpret_cast<const uint8_t*>(sources[s]) + o;
      v0 = veorq_u8(v0, vld1q_u8(src));
      v1 = veorq_u8(v1, vld1q_u8(src + 16));
      v2 = veorq_u8(v2, vld1q_u8(src + 32));
      v3 = veorq_u8(v3, vld1q_u8(src + 48));
    }
    vst1q_u8(out + o, v0);
    vst1q_u8(out + o + 16, v1);
    vst1q_u8(out + o + 32, v2);
    vst1q_u8(out + o + 48, v3);
  }
}

enum class Impl { kOurs, kBaseline, kIsal, kIsalSse, kMemcpy };

template <Impl kImpl>
void BM_Xor(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const size_t size = static_cast<size_t>(state.range(1));
  XorInput& in = InputFor(size);
  // ISA-L's table: the sources, then the destination.
  std::vector<void*> isalTable(in.sources.begin(), in.sources.begin() + static_cast<std::ptrdiff_t>(count));
  isalTable.push_back(in.dest);
  for (auto _ : state) {
    switch (kImpl) {
      case Impl::kOurs:
        ZoRegionNeonXor(in.sources.data(), in.dest, static_cast<int>(count), static_cast<unsigned int>(size));
        break;
      case Impl::kBaseline:
        Baseline64ByteBlockXor(in.sources.data(), count, in.dest, size);
        break;
#if ORV_HAVE_ISAL
      case Impl::kIsal:
        xor_gen(static_cast<int>(count + 1), static_cast<int>(size), isalTable.data());
        break;
      case Impl::kIsalSse:
        xor_gen_sse(static_cast<int>(count + 1), static_cast<int>(size), isalTable.data());
        break;
#else
      case Impl::kIsal:
      case Impl::kIsalSse:
        break;
#endif
      case Impl::kMemcpy:
        std::memcpy(in.dest, in.sources[0], size);
        break;
    }
    benchmark::DoNotOptimize(in.dest);
    benchmark::ClobberMemory();
  }
  const size_t bytes = kImpl == Impl::kMemcpy ? size : count * size;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// Every implementation of one shape next to each other.
void RegisterAll() {
  for (int64_t size : {int64_t{4} << 10, int64_t{64} << 10, int64_t{1} << 20, int64_t{16} << 20}) {
    for (int64_t count : {2, 4, 8, 16}) {
      benchmark::RegisterBenchmark("Xor/ours", BM_Xor<Impl::kOurs>)->Args({count, size});
      benchmark::RegisterBenchmark("Xor/baseline_64B_blocks", BM_Xor<Impl::kBaseline>)->Args({count, size});
#if ORV_HAVE_ISAL
      benchmark::RegisterBenchmark("Xor/isal_xor_gen_sse", BM_Xor<Impl::kIsalSse>)->Args({count, size});
      benchmark::RegisterBenchmark("Xor/isal_xor_gen", BM_Xor<Impl::kIsal>)->Args({count, size});
#endif
      if (count == 2) {
        benchmark::RegisterBenchmark("Xor/memcpy", BM_Xor<Impl::kMemcpy>)->Args({count, size});
      }
    }
  }
}

[[maybe_unused]] const bool registered = (RegisterAll(), true);

}  // namespace
