// liborv_alloc: a three-level bitmap allocator over bitmaps that the caller owns.
//
// Level 0 has one bit per allocation unit (1 = free): unit u is bit u % 64 of word u / 64.
// Level 1 has a two-bit state per slot of W = wordsPerEntry level-0 words (slot s is bits
// 2*(s%32), 2*(s%32)+1 of word s/32): 00 nothing free, 01 partly free, 11 all free.
// Level 2 has one bit per W level-1 words (an entry): 1 when any of them is non-zero.
// A slot or entry whose words run past the end of their vector (a vector length that is not a
// multiple of W) counts the missing words as allocated: such a slot is never 11.
// partialSlots counts the slots in state 01, freeSlots those in state 11.
//
// The life of a device: OrvBuildLevels sizes and fills levels 1 and 2 and the counters from a
// level 0 the caller filled; OrvAllocate takes units; OrvRelease gives extents back; OrvFreeBytes
// says how much is free. Each keeps levels 1 and 2 and the counters in step with level 0, so a
// caller never edits the upper levels itself. (A caller that sets level-0 bits by hand must call
// OrvBuildLevels again, or AdjL1SlotValue and AdjL2SlotValue for each slot and entry it touched.)
//
// Refusals: a call that breaks a limit returns 0 (false for OrvBuildLevels, nothing for the
// void members) and changes nothing: no bitmap, counter, cursor or output vector. Nothing is
// logged.
//
// Exceptions (the same rule in moxlog.h, orv_ec.h and orv_alloc.h): std::bad_alloc is the only
// exception that leaves these libraries, and only from the functions whose comments name it:
// those that grow a container passed in by the caller. It means memory ran out; each such comment
// says what the caller's containers hold then. Every other function, and every other failure,
// ends with a result or a log line, never an exception; libmoxlog throws nothing at all.
// Here: the output vector of OrvAllocate (and of OrvAllocL2, OrvAllocL1, OrvAllocL0) and the
// level vectors of OrvBuildLevels.
//
// Threads: the library holds no lock and no global state apart from the processor verdict (read
// once per process). One allocator, with its bitmaps, counters and output vector, is used by one
// thread at a time; different allocators over different bitmaps may run on different threads.
// OrvFreeBytes only reads, and may run beside other readers.
#ifndef ORV_ALLOC_ORV_ALLOC_H_
#define ORV_ALLOC_ORV_ALLOC_H_

#include <cstdint>
#include <vector>

// Version of this interface, the same as the project's.
#define ORV_ALLOC_VERSION_MAJOR 1
#define ORV_ALLOC_VERSION_MINOR 0
#define ORV_ALLOC_VERSION_PATCH 0

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
// start); l2Pos is always set. {~0, ~0, 0} starts a fresh device at its first unit.
struct OrvAllocPosS {
  uint64_t l0Pos;
  uint64_t l1Pos;
  uint64_t l2Pos;
};

class __attribute__((visibility("default"))) OrvAllocator {
 public:
  // Stores its arguments and computes l1SlotsPerL2Bit = 32 x W and l0BitsPerL1Slot = 64 x W in
  // 32 bits; checks and resets nothing (a W of 0 or one whose products wrap makes every later
  // call refuse). The counters are the caller's and must outlive the allocator. No exception.
  OrvAllocator(uint32_t wordsPerEntry, uint64_t allocUnit, OrvAllocPosS pos, uint64_t& partialSlots,
               uint64_t& freeSlots);

  // Takes min(req.allocLen, free bytes) bytes: free units in ascending order from the cursor
  // (next fit, wrapping once to unit 0), cleared in level 0, appended to `out` as byte extents
  // (contiguous ones merged, into out's last element too, while the length fits in 32 bits, so
  // every length is exact and a run of 4 GiB or more comes as several extents). Keeps levels 1
  // and 2 and the counters in step and moves the cursor: after a satisfied call l0Pos is the unit
  // after the last one taken and l1Pos and l2Pos name its slot and entry. A kept l1Pos or l0Pos is
  // resumed only inside the entry or slot its parent position names; at or past that parent's end
  // it moves the search on to the next parent (searched again after the wrap), below its start it
  // restarts the parent. A short result keeps what was taken; nothing is undone.
  // Returns the bytes allocated. Refused with 0, nothing changed: req.allocUnit other than the
  // allocator's or 0; allocLen below the unit or not a multiple of it; 64 units past 32 bits;
  // W = 0 or 64 x W past 32 bits; an empty level 2 or l2Pos not below 64 x its word count; a
  // level 0 whose byte size does not fit in 64 bits; a non-zero level-1 slot with no level-0 word
  // or a set level-2 bit with no level-1 word; an unsupported processor.
  // Cost: a word at a time at every level, skipping zero words; a one-unit call on a device in
  // step touches one word per level, and so does a call for whole level-0 words (a multiple of
  // 64 units) that wholly free words from a cursor at a word's first unit serve, besides the
  // words it takes. Memory: only the growth of `out`.
  // Exceptions: std::bad_alloc when `out` cannot grow; the units already appended stay cleared,
  // the unit that failed stays free, and the levels and counters still match level 0.
  uint64_t OrvAllocate(OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                       std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out);

  // The three search levels, exported for callers that drive a level directly. OrvAllocL2 is
  // OrvAllocate without the copy of the request, with the same refusals. OrvAllocL1 searches the
  // entry that holds l1Pos and OrvAllocL0 the slot that holds l0Pos, adding what they take to
  // `allocated`; each does nothing when its position is unset or past its level, `allocated` has
  // reached allocLen, or the call breaks a limit of OrvAllocate (OrvAllocL1 does not update
  // level 2, OrvAllocL0 neither level 1 nor 2: that is the caller's part). Only OrvAllocL2
  // checks the processor. Exceptions as for OrvAllocate.
  uint64_t OrvAllocL2(OrvAllocInfoS& req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                      std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out);
  void OrvAllocL1(OrvAllocInfoS& req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, uint64_t& allocated,
                  std::vector<OrvExtentS>& out);
  void OrvAllocL0(OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                  std::vector<OrvExtentS>& out);

  // Recompute one level-1 slot state from its W level-0 words (index = slot / 32), moving the
  // counters from its old state to its new one, and one level-2 bit from its entry's W level-1
  // words (index = slot / 64). An index past the vector or not holding the slot is ignored.
  // Cost O(W). No exception.
  void AdjL1SlotValue(std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, uint64_t index, uint64_t slot);
  void AdjL2SlotValue(std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, uint64_t index, uint64_t slot);

  // Sizes l1 and l2 for l0 (l0.size() words, W = wordsPerEntry) and fills them and the two slot
  // counters from level 0. Returns false, changing nothing, when W is 0 or the sizes would
  // overflow.
  // Sizes: level 1 gets ceil(ceil(l0.size() / W) / 32) words, level 2 ceil(ceil(l1 words / W) /
  // 64) words but at least one (OrvAllocate needs a non-empty level 2); the bits past the last
  // slot and entry are 0. The counters are set (not added to). Whatever l1 and l2 held before is
  // replaced. The cursor and allocUnit are not used or changed.
  // Refused with false, nothing changed: W = 0; 64 x W past 32 bits (the stored products do not
  // match W); l0 longer than 2^56 words.
  // Cost: one pass over level 0 and level 1; memory: the two new vectors.
  // Exceptions: std::bad_alloc when the new level vectors cannot be allocated; l1, l2 and the
  // counters are then unchanged.
  bool OrvBuildLevels(const std::vector<uint64_t>& l0, std::vector<uint64_t>& l1, std::vector<uint64_t>& l2);

  // Marks the units of `extents` free again and keeps levels 1 and 2 and the counters in step,
  // touching only the slots and entries involved. Returns the bytes released; 0, changing nothing
  // at all, when any extent is not a whole number of units, lies (partly) past level 0, overlaps
  // another extent of the call, or covers a unit that is already free (a double free).
  // Also refused with 0, nothing changed: an extent of length 0; allocUnit 0; W = 0 or 64 x W
  // past 32 bits; a level 0 whose byte size does not fit in 64 bits; a level 1 or level 2 too
  // short to hold the slot or entry of a released unit. An empty `extents` releases nothing (0).
  // The extents may come from any number of OrvAllocate calls, in any order, and may be parts of
  // allocated extents. The cursor is not moved.
  // Cost: grows with the units released, not with the device: level 0 a word at a time, then one
  // recompute (O(W)) per touched slot and entry (a slot shared by consecutive extents once).
  // Memory: none. Exceptions: none.
  uint64_t OrvRelease(const std::vector<OrvExtentS>& extents, std::vector<uint64_t>& l0,
                      std::vector<uint64_t>& l1, std::vector<uint64_t>& l2);

  // Free bytes on the device, from level 0.
  // The number of set level-0 bits times allocUnit (bits past the device's last unit are the
  // caller's to keep at 0). Exact for every level 0 OrvAllocate accepts with this unit; a product
  // that would not fit in 64 bits gives UINT64_MAX. Cost: one pass over level 0. No exception.
  uint64_t OrvFreeBytes(const std::vector<uint64_t>& l0) const;

  uint64_t allocUnit;       // bytes per level-0 bit
  uint64_t& partialSlots;   // caller's count of level-1 slots in state 01
  uint64_t& freeSlots;      // caller's count of level-1 slots in state 11
  OrvAllocPosS pos;         // search cursor, moved by every search
  uint32_t wordsPerEntry;   // W
  uint32_t l1SlotsPerL2Bit; // 32 * W
  uint32_t l0BitsPerL1Slot; // 64 * W
};

#endif  // ORV_ALLOC_ORV_ALLOC_H_
