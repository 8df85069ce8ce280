// The exported search entry points of OrvAllocator. Each checks the call against the allocator's
// limits first and refuses it (result 0, nothing changed) when it breaks one; OrvAllocL2 also
// refuses on an unsupported processor. The work itself is the descent in level_search.cpp.
#include "call_limits.h"
#include "level_search.h"
#include "orv_alloc/orv_alloc.h"
#include "orv_platform/processor_id.h"

namespace {

// The processor verdict, taken when the library is loaded (ProcessorCheck reads and judges the
// register once per process and caches it), so the gate of every allocation is one load of a
// flag rather than a call.
const bool gProcessorAccepted = orv::platform::ProcessorCheck().accepted;

// OrvAllocL2's work, which OrvAllocate calls directly (its request checks are among those of
// SearchLevelTwo). A call for one unit goes to SearchOneUnit, which takes the unit at the cursor
// when it can and hands the call to SearchLevelTwo otherwise; a call for what may be whole
// level-0 words, with the cursor at a word's first unit, goes to SearchWholeWords, which does
// the same for a run of wholly free words; any other call goes to SearchLevelTwo.
uint64_t AllocateFromLevelTwo(OrvAllocator& alloc, OrvAllocInfoS req, std::vector<uint64_t>& l0,
                              std::vector<uint64_t>& l1, std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  if (!gProcessorAccepted) {
    return 0;
  }
  if (__builtin_expect(req.allocLen != req.allocUnit, 0)) {
    // A multiple of 64 units (for a power-of-two unit) may be whole level-0 words, taken at the
    // cursor when it stands at a word's first unit (on a fragmented device it rarely does).
    if ((req.allocLen & ((req.allocUnit << 6) - 1)) != 0 || alloc.pos.l0Pos % 64 != 0) {
      return orv_alloc::SearchLevelTwo(alloc, req, l0, l1, l2, out);
    }
    return orv_alloc::SearchWholeWords(alloc, req, l0, l1, l2, out);
  }
  return orv_alloc::SearchOneUnit(alloc, out, req.allocUnit, l0, l1, l2);
}

}  // namespace

uint64_t OrvAllocator::OrvAllocate(OrvAllocInfoS req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                   std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  return AllocateFromLevelTwo(*this, req, l0, l1, l2, out);
}

uint64_t OrvAllocator::OrvAllocL2(OrvAllocInfoS& req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                  std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  return AllocateFromLevelTwo(*this, req, l0, l1, l2, out);
}

void OrvAllocator::OrvAllocL1(OrvAllocInfoS& req, std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                              uint64_t& allocated, std::vector<OrvExtentS>& out) {
  if (!orv_alloc::LevelOneSearchIsAllowed(*this, req, l0, l1)) {
    return;
  }
  orv_alloc::SearchLevelOne(*this, req, l0, l1, allocated, out);
}

void OrvAllocator::OrvAllocL0(OrvAllocInfoS& req, std::vector<uint64_t>& l0, uint64_t& allocated,
                              std::vector<OrvExtentS>& out) {
  if (!orv_alloc::LevelZeroSearchIsAllowed(*this, req, l0)) {
    return;
  }
  orv_alloc::SearchLevelZero(*this, req, l0, allocated, out);
}
