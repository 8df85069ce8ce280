// Appending one allocated byte range to the caller's output vector, merged into the last element
// when it continues it and the merged length still fits in 32 bits.
#ifndef ORV_ALLOC_EXTENT_MERGE_H_
#define ORV_ALLOC_EXTENT_MERGE_H_

#include <cstdint>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// Whether a range at `offset` starts exactly where `last` ends; written without forming
// last.offset + last.length, which a caller's element could overflow.
inline bool Continues(const OrvExtentS& last, uint64_t offset) {
  return offset >= last.offset && offset - last.offset == last.length;
}

// Extends out.back() by `length` when it ends exactly at `offset` and the sum fits in 32 bits;
// otherwise appends {offset, length}. Every length stays exact. The last element may be one the
// caller put there before the call. Growing the vector may throw std::bad_alloc.
// Inline: it runs for every range a search takes.
inline void AppendOrMergeExtent(std::vector<OrvExtentS>& out, uint64_t offset, uint32_t length) {
  if (!out.empty()) {
    OrvExtentS& last = out.back();
    if (Continues(last, offset) && length <= UINT32_MAX - last.length) {
      last.length += length;
      return;
    }
  }
  out.push_back(OrvExtentS{offset, length});
}

// The most bytes that pieces of `piece` bytes each (piece <= UINT32_MAX) appended one after
// another from `offset` on put into the element that takes the first piece: the rest of out.back()
// when the first piece merges into it, else a whole 32-bit length. Appending any whole number of
// pieces up to that many at once leaves `out` as appending them one by one does.
inline uint64_t ExtentRoomAt(const std::vector<OrvExtentS>& out, uint64_t offset, uint64_t piece) {
  if (!out.empty()) {
    const OrvExtentS& last = out.back();
    if (Continues(last, offset) && piece <= UINT32_MAX - last.length) {
      return UINT32_MAX - last.length;
    }
  }
  return UINT32_MAX;
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_EXTENT_MERGE_H_
