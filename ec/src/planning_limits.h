// Bounds and overflow-safe helpers shared by the shard-selection, read-planning and to-read
// rebuild functions. The bounds keep a caller's odd geometry or range from turning one planning
// call into a loop of ~2^40 steps or an unbounded allocation; every real geometry lies far below
// them, so they only ever refuse inputs that have no sensible plan.
#ifndef ORV_EC_PLANNING_LIMITS_H_
#define ORV_EC_PLANNING_LIMITS_H_

#include <cstdint>
#include <limits>

namespace orv_ec {

// The most chunk positions a stripe-wide loop visits in one call: data positions (k), all chunk
// positions (chunkCount), or the chunks of one stripe that a range covers.
constexpr uint64_t kMaxStripePositions = uint64_t{1} << 16;

// The most elements (shard ids, pieces, per-shard ranges) one planning call adds to its output.
constexpr uint64_t kMaxPlannedPieces = uint64_t{1} << 24;

// True when a + b does not fit in 64 bits.
inline bool SumOverflows(uint64_t a, uint64_t b) { return ~a < b; }

// Number of pieces [offset, offset + length) falls into when cut at multiples of cSize.
// Requires cSize > 0 and offset + length without overflow.
inline uint64_t ChunkPieceCount(uint64_t offset, uint64_t length, uint64_t cSize) {
  if (length == 0) {
    return 0;
  }
  return (offset + length - 1) / cSize - offset / cSize + 1;
}

// x rounded up to a multiple of granule (x itself when it is one), uncapped. Returns false, and
// leaves `out` alone, when the result does not fit in 64 bits. Requires granule > 0.
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

}  // namespace orv_ec

#endif  // ORV_EC_PLANNING_LIMITS_H_
