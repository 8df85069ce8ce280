// Throughput of ZoRegionNeonXor against a plain byte-by-byte XOR (the algorithm of the library's
// scalar reference), for a few source counts and region sizes. Bytes processed count every
// source byte read, so GB/s compares directly across source counts.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "orv_ec/orv_ec.h"

namespace {

struct XorInput {
  XorInput(size_t count, size_t size) : data(count * size), dest(size) {
    uint32_t x = 12345;
    for (char& b : data) {
      x = x * 1103515245u + 12345u;
      b = static_cast<char>(x >> 24);
    }
    for (size_t s = 0; s < count; ++s) {
      sources.push_back(data.data() + s * size);
    }
  }
  std::vector<char> data;
  std::vector<char> dest;
  std::vector<char*> sources;
};

void ByteWiseXor(char* const* sources, size_t count, char* dest, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    unsigned char b = 0;
    for (size_t s = 0; s < count; ++s) {
      b = static_cast<unsigned char>(b ^ static_cast<unsigned char>(sources[s][i]));
    }
    dest[i] = static_cast<char>(b);
  }
}

void BM_NeonXor(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const size_t size = static_cast<size_t>(state.range(1));
  XorInput in(count, size);
  for (auto _ : state) {
    ZoRegionNeonXor(in.sources.data(), in.dest.data(), static_cast<int>(count), static_cast<unsigned int>(size));
    benchmark::DoNotOptimize(in.dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count * size));
}

void BM_ScalarXor(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const size_t size = static_cast<size_t>(state.range(1));
  XorInput in(count, size);
  for (auto _ : state) {
    ByteWiseXor(in.sources.data(), count, in.dest.data(), size);
    benchmark::DoNotOptimize(in.dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count * size));
}

void XorArgs(benchmark::internal::Benchmark* b) {
  for (int64_t count : {2, 4, 8, 32}) {
    for (int64_t size : {4096, 65536, 1 << 20}) {
      b->Args({count, size});
    }
  }
}

BENCHMARK(BM_NeonXor)->Apply(XorArgs);
BENCHMARK(BM_ScalarXor)->Apply(XorArgs);

}  // namespace
