// Range arithmetic of the planning functions, in one place: the offset cap and the per-call limits,
// the 32-bit limits of position counting, the one overflow test every sum goes through, rounding
// to granules, and how a byte offset maps onto chunk positions, shards and shard-local offsets
// under a ZoEcInfo geometry. Functions that divide require a non-zero divisor; their callers
// check it first.
#ifndef ORV_EC_RANGE_MATH_H_
#define ORV_EC_RANGE_MATH_H_

#include <cstdint>
#include <vector>

#include "orv_ec/orv_ec.h"

namespace orv_ec {

// --- Limits ---

// The largest position the planning functions handle: 2^40 bytes.
constexpr uint64_t kOffsetCap = uint64_t{1} << 40;

// The most chunk positions a stripe-wide loop visits in one call: data positions (k), all chunk
// positions (chunkCount), or the chunks of one stripe that a range covers. Keeps a caller's odd
// geometry from turning one call into a loop of ~2^40 steps; real geometries lie far below it.
constexpr uint64_t kMaxStripePositions = uint64_t{1} << 16;

// The most elements (shard ids, pieces) one planning call adds to its output.
constexpr uint64_t kMaxPlannedPieces = uint64_t{1} << 24;

// Chunk positions are counted in 32 bits by the shard-selection and whole-stripe steps.
constexpr uint64_t kMaxUnsigned32 = 0xFFFFFFFFu;  // 2^32 - 1: a position count or run end past it does not fit
constexpr uint64_t kMaxSigned32 = 0x7FFFFFFFu;    // 2^31 - 1: a run end past it reads as a negative int
// The whole-stripe step folds k as k mod (2^32 - 1) before it counts data positions.
constexpr uint64_t kPositionFoldModulus = 0xFFFFFFFFu;
// A run of positions ending past 2^31 - 2, or a folded k past it, visits no position at all.
constexpr uint64_t kMaxPositionRunEnd = 0x7FFFFFFEu;

// --- Sums ---

// True when a + b exceeds `limit`; the sum is never formed.
constexpr bool SumExceeds(uint64_t a, uint64_t b, uint64_t limit) { return a > limit || b > limit - a; }

// True when a + b does not fit in 64 bits.
constexpr bool SumOverflows(uint64_t a, uint64_t b) { return SumExceeds(a, b, UINT64_MAX); }

// a + b saturated at 2^64 - 1: the end of [a, a + b) for an extent that may run past the 64-bit
// space.
constexpr uint64_t SaturatedEnd(uint64_t a, uint64_t b) { return SumOverflows(a, b) ? UINT64_MAX : a + b; }

// --- Rounding to a granule ---

// x rounded down to a multiple of granule.
constexpr uint64_t RoundDown(uint64_t x, uint64_t granule) { return x - x % granule; }

// The smallest multiple of csize not below pos, capped at 2^40. A zero csize logs
// "Func NextChunkEnd error csize == 0" (level 0, PROC) and gives 0.
uint64_t NextChunkEnd(uint64_t pos, uint64_t csize);

// x rounded up to a multiple of granule (x itself when it is one), uncapped. Returns false, and
// leaves `out` alone, when the result does not fit in 64 bits.
inline bool RoundUpChecked(uint64_t x, uint64_t granule, uint64_t& out) {
  const uint64_t rem = x % granule;
  if (rem == 0) {
    out = x;
    return true;
  }
  const uint64_t add = granule - rem;
  if (SumOverflows(x, add)) {
    return false;
  }
  out = x + add;
  return true;
}

// Bytes from x to the next multiple of granule after x: granule - (x mod granule), 1..granule.
constexpr uint64_t BytesToBoundary(uint64_t x, uint64_t granule) { return granule - x % granule; }

// Number of pieces [offset, offset + length) falls into when cut at multiples of cSize.
// Requires offset + length to fit in 64 bits.
constexpr uint64_t ChunkPieceCount(uint64_t offset, uint64_t length, uint64_t cSize) {
  return length == 0 ? 0 : (offset + length - 1) / cSize - offset / cSize + 1;
}

// --- Geometry ---

// Chunk position (within its stripe) of byte x: (x mod sWidth) / cSize.
inline uint64_t ChunkPosition(const ZoEcInfo& info, uint64_t x) { return (x % info.sWidth) / info.cSize; }

// Bytes each shard holds of the whole stripes below byte x: (x / sWidth) * cSize. For a stripe
// boundary x, the shard-local offset at which its stripe starts.
inline uint64_t StripeShardOffset(const ZoEcInfo& info, uint64_t x) { return (x / info.sWidth) * info.cSize; }

// Where byte x lies inside its chunk's shard: (x / sWidth) * cSize + (x mod cSize).
inline uint64_t ShardLocalOffset(const ZoEcInfo& info, uint64_t x) {
  return StripeShardOffset(info, x) + x % info.cSize;
}

// Shard id of chunk position p: (*chunkMapping)[p] when p is inside the mapping, else p itself.
inline int ShardOfPosition(const ZoEcInfo& info, uint64_t p) {
  const std::vector<int>& mapping = *info.chunkMapping;
  if (p < mapping.size()) {
    return mapping[p];
  }
  return static_cast<int>(p);
}

}  // namespace orv_ec

#endif  // ORV_EC_RANGE_MATH_H_
