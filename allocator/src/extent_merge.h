// Appending one allocated byte range to the caller's output vector, merged into the last element
// when it continues it and the merged length still fits in 32 bits.
#ifndef ORV_ALLOC_EXTENT_MERGE_H_
#define ORV_ALLOC_EXTENT_MERGE_H_

#include <cstdint>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// Extends out.back() by `length` when it ends exactly at `offset` and the sum fits in 32 bits;
// otherwise appends {offset, length}. Every length stays exact. The last element may be one the
// caller put there before the call. Growing the vector may throw std::bad_alloc.
// Inline: it runs for every range a search takes.
inline void AppendOrMergeExtent(std::vector<OrvExtentS>& out, uint64_t offset, uint32_t length) {
  if (!out.empty()) {
    OrvExtentS& last = out.back();
    // Written without forming last.offset + last.length, which a caller's element could overflow.
    const bool continues = offset >= last.offset && offset - last.offset == last.length;
    if (continues && length <= UINT32_MAX - last.length) {
      last.length += length;
      return;
    }
  }
  out.push_back(OrvExtentS{offset, length});
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_EXTENT_MERGE_H_
