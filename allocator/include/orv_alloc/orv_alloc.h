// liborv_alloc: a three-level bitmap allocator over bitmaps that the caller owns.
//
// Level 0 has one bit per allocation unit (1 = free): unit u is bit u % 64 of word u / 64.
// Level 1 has a two-bit state per slot of W = wordsPerEntry level-0 words (slot s is bits
// 2*(s%32), 2*(s%32)+1 of word s/32): 00 nothing free, 01 partly free, 11 all free.
// Level 2 has one bit per W level-1 words: 1 when any of them is non-zero.
// A slot or entry whose words run past the end of their vector (a vector length that is not a
// multiple of W) counts the missing words as allocated: such a slot is never 11.
//
// OrvAllocate takes free units in ascending order from the cursor `pos` (next fit, wrapping at the
// end), clears them in level 0, appends them to `out` as byte extents (contiguous ones merged
// while the length fits in 32 bits, so every length is exact and a run of 4 GiB or more comes as
// several extents), keeps levels 1 and 2 and the two slot counters in step, and returns the bytes
// allocated: min(allocLen, free bytes) for a valid request, 0 for a refused one. Refused, with
// nothing changed: a unit other than the allocator's or 0, allocLen below the unit or not a
// multiple of it, a unit whose 64-unit run does not fit in 32 bits, W = 0 or 64 x W past 32 bits,
// an empty level 2, l2Pos not below 64 x its word count, a non-zero level-1 slot with no level-0
// word or a set level-2 bit with no level-1 word, or an unsupported processor.
//
// The cursor: after a satisfied call l0Pos is the unit after the last one taken and l1Pos and
// l2Pos name its slot and entry. A kept l1Pos or l0Pos is resumed only inside the entry or slot
// its parent position names; at or past that parent's end it moves the search on to the next
// parent (the parent is searched again after the wrap), below its start it restarts the parent.
//
// If the output vector cannot grow, std::bad_alloc propagates; the units already appended are
// cleared in level 0 and the upper levels and counters still match level 0.
//
// The allocator holds no lock: one thread at a time per allocator, bitmaps and counters. The caller
// frees units by setting level-0 bits and keeps levels 1 and 2 and the counters in step itself.
#ifndef ORV_ALLOC_ORV_ALLOC_H_
#define ORV_ALLOC_ORV_ALLOC_H_

#include <cstdint>
#include <vector>

// One allocation request: bytes wanted and the allocation unit in bytes.
struct OrvAllocInfoS {
  uint64_t allocLen;
  uint64_t allocUnit;
};

// One allocated byte range.
struct OrvExtentS {
  uint64_t offset;
  uint32_t length;
};

// The search cursor. All-ones in l0Pos or l1Pos means unset (search the parent entry from its
// start); l2Pos is always set.
struct OrvAllocPosS {
  uint64_t l0Pos;
  uint64_t l1Pos;
  uint64_t l2Pos;
};

class __attribute__((visibility("default"))) OrvAllocator {
 public:
  // Stores its arguments; checks and resets nothing.
  OrvAllocator(uint32_t wordsPerEntry, uint64_t allocUnit, OrvAllocPosS pos, uint64_t& partialSlots,
               uint64_t& freeSlots);

  uint64_t OrvAllocate(OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                       std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out);

  // The three search levels, exported for callers that drive a level directly. OrvAllocL1 searches
  // the entry that holds l1Pos and OrvAllocL0 the slot that holds l0Pos, adding to `allocated`;
  // each does nothing when its position is unset or past its level, or the call breaks a limit
  // above. Only OrvAllocL2 checks the processor.
  uint64_t OrvAllocL2(OrvAllocInfoS& req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                      std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out);
  void OrvAllocL1(OrvAllocInfoS& req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, uint64_t& allocated,
                  std::vector<OrvExtentS>& out);
  void OrvAllocL0(OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                  std::vector<OrvExtentS>& out);

  // Recompute one level-1 slot from level 0 (index = slot / 32), updating the counters, and one
  // level-2 bit from level 1 (index = slot / 64). An index past the vector or not holding the slot
  // is ignored.
  void AdjL1SlotValue(std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, uint64_t index, uint64_t slot);
  void AdjL2SlotValue(std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, uint64_t index, uint64_t slot);

  uint64_t allocUnit;       // bytes per level-0 bit
  uint64_t& partialSlots;   // caller's count of level-1 slots in state 01
  uint64_t& freeSlots;      // caller's count of level-1 slots in state 11
  OrvAllocPosS pos;         // search cursor, moved by every search
  uint32_t wordsPerEntry;   // W
  uint32_t l1SlotsPerL2Bit; // 32 * W
  uint32_t l0BitsPerL1Slot; // 64 * W
};

#endif  // ORV_ALLOC_ORV_ALLOC_H_
