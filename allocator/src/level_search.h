// The three-level descent behind OrvAllocL2, OrvAllocL1 and OrvAllocL0. SearchLevelTwo checks its
// call itself; callers of the other two have already made sure that the request is servable and
// the geometry and vector sizes are sound (call_limits.h).
//
// Levels 2 and 1 are searched by one piece of logic (ScanFields in level_search.cpp): find the
// next set field of a word from the cursor, descend into its children, recompute the field.
// Level 0 takes units. SearchLevelTwo first tries the common start of that descent on locals
// (TakeNearCursor: the first level-0 word alone when it holds the request, else TakeFromWord: the
// slots of the level-1 word where the descent begins in the cursor's level-2 word) and hands the
// rest to it at the point the descent would stand. Levels 1 and 0 take a run of wholly free fields
// or words that the request wants whole at once: one extent (as long as the 32-bit length
// allows), one store per level-0 word and one update of the level-1 word and the counters.
//
// Cursor rule for kept positions. A level resumes at its kept child position (l1Pos inside the
// entry, l0Pos inside the slot) only when that position lies inside the parent's range. A kept
// position at or past the parent's end means the previous call stopped at the parent's last unit
// (or slot): the parent is finished for this pass and the search goes on at the next one, so the
// next fit continues after the last unit taken. A kept position below the parent's start (only a
// cursor made up by the caller can hold one) restarts the parent from its start. Either way only
// the slot and entry that were actually searched are recomputed, so every level-1 state, level-2
// bit and both counters match level 0 after each call.
#ifndef ORV_ALLOC_LEVEL_SEARCH_H_
#define ORV_ALLOC_LEVEL_SEARCH_H_

#include <cstdint>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// Two passes over level 2 from the cursor, wrapping to word 0; returns the bytes allocated.
// Refuses (0, nothing changed) a call that LevelTwoSearchIsAllowed refuses: the checks run here,
// with the search, so the common call reads each vector's size once.
// The request comes by value, so a caller that has it by value hands the call on as it came.
uint64_t SearchLevelTwo(OrvAllocator& alloc, OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                        std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out);

// SearchLevelTwo for a call that wants one unit (allocLen == allocUnit == `unit`): the unit at the
// cursor when TakeOneUnitAtCursor (cursor_take.h) can take it, else SearchLevelTwo itself.
// Results, refusals and everything the call leaves are SearchLevelTwo's. The arguments are in
// an order that keeps them all in registers and, on x86-64, in the registers where a caller of
// SearchLevelTwo already has them, so choosing between the two costs that caller one compare.
uint64_t SearchOneUnit(OrvAllocator& alloc, std::vector<OrvExtentS>& out, uint64_t unit, std::vector<uint64_t>& l0,
                       std::vector<uint64_t>& l1, std::vector<uint64_t>& l2);

// SearchLevelTwo for a call whose allocLen is a multiple of allocUnit << 6, made with l0Pos at a
// level-0 word's first unit (the caller makes sure of both): the run of whole words at the cursor
// when TakeWordsAtCursor (cursor_word_take.h) can take it, else SearchLevelTwo itself. Results,
// refusals and everything the call leaves are SearchLevelTwo's; the arguments are SearchLevelTwo's,
// so handing the call on costs a jump.
uint64_t SearchWholeWords(OrvAllocator& alloc, OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                          std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out);

// The slots of the level-2 entry that holds l1Pos, from l1Pos on; nothing when l1Pos is unset.
void SearchLevelOne(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0,
                    std::vector<uint64_t>& l1, uint64_t& allocated, std::vector<OrvExtentS>& out);

// The units of the level-1 slot that holds l0Pos, from l0Pos on; nothing when l0Pos is unset.
void SearchLevelZero(OrvAllocator& alloc, const OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                     std::vector<OrvExtentS>& out);

}  // namespace orv_alloc

#endif  // ORV_ALLOC_LEVEL_SEARCH_H_
