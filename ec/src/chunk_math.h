// Rounding of positions to chunk boundaries under the offset cap, shared by the planning functions.
#ifndef ORV_EC_CHUNK_MATH_H_
#define ORV_EC_CHUNK_MATH_H_

#include <cstdint>

namespace orv_ec {

// The largest position the planning functions handle: 2^40 bytes.
constexpr uint64_t kOffsetCap = uint64_t{1} << 40;

// The smallest multiple of csize not below pos, capped at 2^40. A zero csize logs
// "Func NextChunkEnd error csize == 0" (level 0, PROC) and gives 0.
uint64_t NextChunkEnd(uint64_t pos, uint64_t csize);

}  // namespace orv_ec

#endif  // ORV_EC_CHUNK_MATH_H_
