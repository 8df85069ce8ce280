// Test geometries and a brute-force byte model for the planning tests: a fixed, seeded sample of
// erasure-code geometries (k 2 to 8, chunk sizes 512 to 8192, with and without chunk mappings,
// alignment units dividing the chunk size) and the byte-by-byte definitions of chunk position,
// shard and shard-local offset that the planning results are checked against.
#ifndef ORV_EC_TESTS_PLANNING_MODEL_H_
#define ORV_EC_TESTS_PLANNING_MODEL_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "orv_ec/orv_ec.h"

namespace planning_test {

struct Geometry {
  uint64_t k = 0;
  uint64_t chunkCount = 0;
  uint64_t cSize = 0;
  uint64_t alignSize = 0;
  std::vector<int> mapping;  // empty: shard id = position

  uint64_t sWidth() const { return k * cSize; }
  ZoEcInfo Info() const { return ZoEcInfo{k, chunkCount, &mapping, cSize, sWidth(), alignSize}; }

  // The model: one byte at a time.
  uint64_t PositionOf(uint64_t x) const { return (x % sWidth()) / cSize; }
  uint64_t LocalOf(uint64_t x) const { return (x / sWidth()) * cSize + x % cSize; }
  int ShardOfPosition(uint64_t p) const {
    return p < mapping.size() ? mapping[static_cast<size_t>(p)] : static_cast<int>(p);
  }
  int ShardOfByte(uint64_t x) const { return ShardOfPosition(PositionOf(x)); }

  std::string Describe() const {
    std::ostringstream out;
    out << "k=" << k << " chunkCount=" << chunkCount << " cSize=" << cSize << " alignSize=" << alignSize
        << " mapping=[";
    for (size_t i = 0; i < mapping.size(); ++i) {
      out << (i ? "," : "") << mapping[i];
    }
    out << "]";
    return out.str();
  }
};

// A fixed sample of geometries drawn with a fixed seed. Mappings come in three kinds: none,
// a permutation of all positions onto ids offset by 10 (so that a position used where a shard
// id belongs shows), and a permutation of the data positions only (coding positions then map to
// themselves).
inline std::vector<Geometry> SampleGeometries() {
  std::mt19937_64 rng(0x5eed0ec1u);
  const uint64_t chunkSizes[] = {512, 1024, 1536, 2048, 4096, 8192};
  std::vector<Geometry> out;
  for (uint64_t k = 2; k <= 8; ++k) {
    for (int kind = 0; kind < 3; ++kind) {
      Geometry g;
      g.k = k;
      g.chunkCount = k + rng() % 4;
      g.cSize = chunkSizes[rng() % 6];
      const uint64_t divisors[] = {1, 2, 3, 4, 8};
      do {
        g.alignSize = g.cSize / divisors[rng() % 5];
      } while (g.cSize % g.alignSize != 0);
      if (kind > 0) {
        const uint64_t mapped = kind == 1 ? g.chunkCount : g.k;
        g.mapping.resize(static_cast<size_t>(mapped));
        std::iota(g.mapping.begin(), g.mapping.end(), kind == 1 ? 10 : 0);
        std::shuffle(g.mapping.begin(), g.mapping.end(), rng);
      }
      out.push_back(g);
    }
  }
  return out;
}

// A random range of a few stripes: mostly near the object's start, sometimes ending just below
// the 2^40 offset cap, sometimes stripe-aligned at either end.
inline std::pair<uint64_t, uint64_t> RandomRange(const Geometry& g, std::mt19937_64& rng) {
  const uint64_t sw = g.sWidth();
  uint64_t len = rng() % (sw * 5 / 2 + 1);
  if (rng() % 8 == 0) {
    len = sw * (1 + rng() % 2);
  }
  uint64_t off = rng() % (sw * 3);
  if (rng() % 6 == 0) {
    off = off / sw * sw;
  }
  if (rng() % 5 == 0) {
    const uint64_t cap = uint64_t{1} << 40;
    off = cap - len - rng() % (sw + 1);
  }
  return {off, len};
}

// Per-shard byte counters over a window of shard-local offsets [base, base + width).
class ShardBytes {
 public:
  ShardBytes(uint64_t base, uint64_t width) : base_(base), width_(width) {}
  ShardBytes(const ShardBytes&) = delete;
  ShardBytes& operator=(const ShardBytes&) = delete;
  // Counts one byte; false when it lies outside the window.
  bool Mark(int shard, uint64_t local) {
    if (local < base_ || local - base_ >= width_) {
      return false;
    }
    if (last_ == nullptr || lastShard_ != shard) {
      auto it = shards_.find(shard);
      if (it == shards_.end()) {
        it = shards_.emplace(shard, std::vector<uint8_t>(static_cast<size_t>(width_))).first;
      }
      last_ = &it->second;
      lastShard_ = shard;
    }
    ++(*last_)[static_cast<size_t>(local - base_)];
    return true;
  }
  bool operator==(const ShardBytes& other) const { return Normalised() == other.Normalised(); }

 private:
  std::map<int, std::vector<uint8_t>> Normalised() const {
    std::map<int, std::vector<uint8_t>> out;
    for (const auto& entry : shards_) {
      if (std::any_of(entry.second.begin(), entry.second.end(), [](uint8_t c) { return c != 0; })) {
        out.insert(entry);
      }
    }
    return out;
  }
  uint64_t base_;
  uint64_t width_;
  std::map<int, std::vector<uint8_t>> shards_;
  std::vector<uint8_t>* last_ = nullptr;  // counters of the shard marked last
  int lastShard_ = 0;
};

}  // namespace planning_test

#endif  // ORV_EC_TESTS_PLANNING_MODEL_H_
