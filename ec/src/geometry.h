// How a byte offset of the object maps onto chunk positions, shards and shard-local offsets
// under a ZoEcInfo geometry. Callers have checked that the divisors they use are non-zero.
#ifndef ORV_EC_GEOMETRY_H_
#define ORV_EC_GEOMETRY_H_

#include <cstdint>
#include <vector>

#include "orv_ec/orv_ec.h"

namespace orv_ec {

// Chunk position (within its stripe) of byte x: (x mod sWidth) / cSize.
inline uint64_t ChunkPosition(const ZoEcInfo& info, uint64_t x) { return (x % info.sWidth) / info.cSize; }

// Where byte x lies inside its chunk's shard: (x / sWidth) * cSize + (x mod cSize).
inline uint64_t ShardLocalOffset(const ZoEcInfo& info, uint64_t x) {
  return (x / info.sWidth) * info.cSize + (x % info.cSize);
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

#endif  // ORV_EC_GEOMETRY_H_
