// Appending one allocated byte range to the caller's output vector, merged into the last element
// when it continues it and the merged length still fits in 32 bits.
#ifndef ORV_ALLOC_EXTENT_MERGE_H_
#define ORV_ALLOC_EXTENT_MERGE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// Whether a range at `offset` starts exactly where `last` ends; written without forming
// last.offset + last.length, which a caller's element could overflow.
inline bool Continues(const OrvExtentS& last, uint64_t offset) {
  return offset >= last.offset && offset - last.offset == last.length;
}

// Appends {offset, length}, written straight into the new element. push_back of a temporary
// stores the temporary in two parts and reads it back whole, which the processor cannot forward
// from its store buffer. Used for the runs of wholly free words; for the single-word takes the
// plain push_back measured faster. May throw std::bad_alloc, with `out` unchanged.
inline void PushExtent(std::vector<OrvExtentS>& out, uint64_t offset, uint32_t length) {
  static_assert(sizeof(OrvExtentS) == 2 * sizeof(uint64_t) && offsetof(OrvExtentS, length) == sizeof(uint64_t),
                "an extent is two 64-bit words, the length at the start of the second");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const uint64_t words[2] = {offset, length};  // the length in the low half, then zeros in the padding
  std::memcpy(&out.emplace_back(), words, sizeof(words));
#else
  out.push_back(OrvExtentS{offset, length});
#endif
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

// Appends `count` pieces of `piece` bytes each (piece <= UINT32_MAX, count x piece without
// overflow) that run on from `offset`, as many as one element can hold: merged into out.back()
// when the first piece merges into it, else as a new element. Returns how many pieces it placed
// (at least one); `out` is then as appending those pieces one by one leaves it. May throw
// std::bad_alloc, with `out` unchanged.
inline uint64_t AppendPieces(std::vector<OrvExtentS>& out, uint64_t offset, uint64_t piece, uint64_t count) {
  OrvExtentS* last = out.empty() ? nullptr : &out.back();
  const bool merge = last != nullptr && Continues(*last, offset) && piece <= UINT32_MAX - last->length;
  const uint64_t room = merge ? UINT32_MAX - last->length : UINT32_MAX;
  const uint64_t placed = count * piece <= room ? count : room / piece;
  const uint32_t length = static_cast<uint32_t>(placed * piece);
  if (merge) {
    last->length += length;
  } else {
    PushExtent(out, offset, length);
  }
  return placed;
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_EXTENT_MERGE_H_
