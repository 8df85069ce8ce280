// NextChunkEnd: rounding up to a granule with the 2^40 cap. Out of line because it logs.
#include "range_math.h"

#include "ec_log.h"

namespace orv_ec {

uint64_t NextChunkEnd(uint64_t pos, uint64_t csize) {
  if (csize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "Func NextChunkEnd error csize == 0");
    return 0;
  }
  if (pos > kOffsetCap || csize > kOffsetCap) {
    return kOffsetCap;
  }
  const uint64_t rem = pos % csize;
  if (rem == 0) {
    return pos;
  }
  const uint64_t end = pos + csize - rem;  // both terms <= 2^40: no overflow
  return end < kOffsetCap ? end : kOffsetCap;
}

}  // namespace orv_ec
