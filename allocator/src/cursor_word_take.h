// The allocation of whole level-0 words at the cursor, on a lean path of its own. A request for a
// whole number of words (1 MiB of 4 KiB units is four) that next fit serves from wholly free words
// right where the descent begins is common on a device with room; TakeWordsAtCursor serves exactly
// those calls, with the result, cursor, levels, counters and output the full descent
// (level_search.cpp) would give, after a branch-free limit test. Any other call it leaves
// untouched and says so, and the caller hands it to the full search.
#ifndef ORV_ALLOC_CURSOR_WORD_TAKE_H_
#define ORV_ALLOC_CURSOR_WORD_TAKE_H_

#include <cstdint>
#include <vector>

#include "bit_words.h"
#include "bitmap_encoding.h"
#include "cursor_take.h"
#include "extent_merge.h"
#include "level_state.h"
#include "orv_alloc/orv_alloc.h"

namespace orv_alloc {

// The largest request TakeWordsAtCursor serves: one element of the output always holds it.
constexpr uint64_t kLargestWordTake = uint64_t{1} << 31;

// Where the descent begins to take units: the entry, the level-1 word (and the working copy `m`
// the descent holds of it), the slot and its first unit taken.
struct RunStart {
  uint64_t entry;
  uint64_t l1Word;
  uint64_t m;
  uint64_t slot;
  uint64_t start;
};

// Where the descent begins for a call whose kept l0Pos is a level-0 word's first unit (or below
// the cursor's slot), when it begins at a unit the cursor names or at the first unit of the first
// slot that is not 00 of one of these: the cursor's level-1 word after its slot, the next level-1
// word of the cursor's entry, the first level-1 word of the next set entry of the cursor's level-2
// word. False for every other start, which the full search then finds. Calls that
// CallIsPlainlyAllowed passes only: there, a slot that is not 00 has a level-0 word.
inline __attribute__((always_inline)) bool FindRunStart(const OrvAllocator& alloc, const uint64_t* l1, uint64_t n1,
                                                        const uint64_t* l2, RunStart& run) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  constexpr unsigned kEntriesPerWord = kEntryEncoding.fieldsPerWord;
  const uint64_t w = alloc.wordsPerEntry;
  const uint64_t slotsPerEntry = alloc.l1SlotsPerL2Bit;
  const uint64_t unitsPerSlot = alloc.l0BitsPerL1Slot;
  const OrvAllocPosS pos = alloc.pos;
  uint64_t entry = pos.l2Pos;
  const uint64_t slot = pos.l1Pos;  // an unset l1Pos lies in no entry
  uint64_t l1Word = slot / kFieldsPerWord;
  if (slot - entry * slotsPerEntry >= slotsPerEntry || l1Word >= n1) {
    return false;
  }
  const uint64_t entries = l2[entry / kEntriesPerWord];
  uint64_t m = 0;
  if ((entries >> (entry % kEntriesPerWord) & 1u) == 0) {
    // The cursor's entry has no free unit: the next set entry of the word, from its first slot.
    const uint64_t later = BitsFrom(entries, static_cast<unsigned>(entry % kEntriesPerWord));
    if (later == 0) {
      return false;
    }
    entry = entry - entry % kEntriesPerWord + LowestSetBit(later);
    l1Word = entry * w;
    if (l1Word >= n1 || (m = l1[l1Word]) == 0) {
      return false;
    }
    run.slot = kFieldsPerWord * l1Word + LowestSetBit(m) / kFieldBits;
  } else {
    m = l1[l1Word];
    const unsigned field = static_cast<unsigned>(slot % kFieldsPerWord);
    const uint64_t slotStart = slot * unitsPerSlot;
    const uint64_t start = pos.l0Pos;
    // A slot in state 00, or a kept position past the slot's end: the descent passes the slot
    // over without recomputing it and goes on at the next slot that is not 00.
    if ((m >> (kFieldBits * field) & kSlotEncoding.fieldMask) != kSlotNoneFree &&
        (start - slotStart < unitsPerSlot || start < slotStart)) {
      run.entry = entry;
      run.l1Word = l1Word;
      run.m = m;
      run.slot = slot;
      run.start = start < slotStart ? slotStart : start;
      return true;
    }
    const uint64_t later = field + 1 < kFieldsPerWord ? BitsFrom(m, kFieldBits * (field + 1)) : 0;
    if (later != 0) {
      run.slot = kFieldsPerWord * l1Word + LowestSetBit(later) / kFieldBits;
    } else {
      // None in this word: the entry's next level-1 word, when it has one that is not 00.
      ++l1Word;
      if (l1Word >= n1 || l1Word - entry * w >= w || (m = l1[l1Word]) == 0) {
        return false;
      }
      run.slot = kFieldsPerWord * l1Word + LowestSetBit(m) / kFieldBits;
    }
  }
  run.entry = entry;
  run.l1Word = l1Word;
  run.m = m;
  run.start = run.slot * unitsPerSlot;
  return true;
}

// Whether AppendOrMergeExtent can place {offset, length} (length <= UINT32_MAX) without growing
// `out`, exactly as appending it in pieces of `piece` bytes would: a vector with room, unless its
// last element continues into the range and takes some of the pieces but not all.
inline bool HasRoomFor(const std::vector<OrvExtentS>& out, uint64_t offset, uint64_t length, uint64_t piece) {
  if (out.size() == out.capacity()) {
    return false;
  }
  if (out.empty()) {
    return true;
  }
  const OrvExtentS& last = out.back();
  return !Continues(last, offset) || piece > UINT32_MAX - last.length || length <= UINT32_MAX - last.length;
}

// The entry's bit recomputed after a run, apart from the common path: most runs leave a level-1
// word that is not 0 in an entry whose words the descent did not leave.
__attribute__((noinline, cold)) inline void RecomputeEntryOfRun(const OrvAllocator& alloc,
                                                                const std::vector<uint64_t>& l1,
                                                                std::vector<uint64_t>& l2, uint64_t entry) {
  RecomputeEntryBit(alloc, l1, l2, entry / kEntryEncoding.fieldsPerWord, entry);
}

// Takes a request of a whole number of level-0 words (allocLen at most kLargestWordTake and a
// multiple of unit << 6, unit and W powers of two; the caller makes sure of the multiple and that
// l0Pos is a word's first unit, which on a fragmented device it rarely is) at the cursor
// when the descent would take them all as one run from where it begins (FindRunStart): words
// wholly free, starting at a word's first unit, in slots of one level-1 word, the first slot not
// 00 and every later one 11. The descent then takes them in ascending order as one range,
// recomputes every slot it touches (the first and the last from the words they keep, those
// between become 00), leaves l1Pos at the last slot and l0Pos after the run, and recomputes the
// entry's bit. Returns false, having changed nothing, for every other call, including all that
// the limits refuse. Never throws: a call whose range would need room the output vector does not
// have is left to the full search.
inline __attribute__((always_inline)) bool TakeWordsAtCursor(OrvAllocator& alloc, uint64_t allocLen, uint64_t unit,
                                                             std::vector<uint64_t>& l0, std::vector<uint64_t>& l1,
                                                             std::vector<uint64_t>& l2, std::vector<OrvExtentS>& out) {
  constexpr unsigned kFieldBits = kSlotEncoding.fieldBits;
  constexpr unsigned kFieldsPerWord = kSlotEncoding.fieldsPerWord;
  uint64_t* const l0Data = l0.data();
  uint64_t* const l1Data = l1.data();
  uint64_t* const l2Data = l2.data();
  const uint64_t n0 = l0.size();
  const uint64_t n1 = l1.size();
  const uint64_t w = alloc.wordsPerEntry;
  // With a power-of-two unit, the caller's test makes allocLen a multiple of 64 units.
  const uint64_t requestBad = (unit & (unit - 1)) | (w & (w - 1)) | (allocLen - 1) / kLargestWordTake;
  if (!CallIsPlainlyAllowed(alloc, unit, requestBad, l1Data, n0, n1, l2Data, l2.size())) {
    return false;
  }
  RunStart run;
  if (!FindRunStart(alloc, l1Data, n1, l2Data, run)) {
    return false;
  }
  const unsigned slotShift = static_cast<unsigned>(__builtin_ctzll(w));
  const uint64_t first = run.start / kUnitsPerWord;
  const uint64_t end = first + (allocLen >> (__builtin_ctzll(unit) + 6));  // allocLen / (64 x unit) words
  const uint64_t lastSlot = (end - 1) >> slotShift;
  if (end > n0 || lastSlot / kFieldsPerWord != run.l1Word) {
    return false;
  }
  const unsigned firstShift = kFieldBits * static_cast<unsigned>(run.slot % kFieldsPerWord);
  const unsigned lastShift = kFieldBits * static_cast<unsigned>(lastSlot % kFieldsPerWord);
  // The fields from the first slot's to the last slot's, and those after the first.
  const uint64_t upToLast = kAllOnes >> (kWordBits - kFieldBits - lastShift);
  const uint64_t span = upToLast & (kAllOnes << firstShift);
  const uint64_t laterFields = upToLast & ((kAllOnes << firstShift) << kFieldBits);
  if ((run.m & laterFields) != laterFields) {
    return false;
  }
  // Word by word: a request is a few words, too few for vector code or a call to pay off.
  uint64_t* const runWords = l0Data + first;
  const uint64_t count = end - first;
  uint64_t common = kAllOnes;
  for (uint64_t k = 0; k < count; ++k) {
    asm("" : "+r"(k));
    common &= runWords[k];
  }
  if (common != kAllOnes || !HasRoomFor(out, run.start * unit, allocLen, kUnitsPerWord * unit)) {
    return false;
  }
  for (uint64_t k = 0; k < count; ++k) {
    asm("" : "+r"(k));
    runWords[k] = 0;
  }
  // Whether the first and the last slot keep free units: in their words before and after the
  // run. Each becomes 01 if so, else 00 (one slot: 01 if it keeps any); those between become 00.
  // With W = 1 a slot is one word, so the run holds its first and last slots whole: both become
  // 00, and the loops, empty then, are not even set up.
  uint64_t keepsFirst = 0;
  uint64_t keepsLast = 0;
  if (slotShift != 0) {
    const uint64_t lastEnd = (lastSlot + 1) << slotShift;
    for (uint64_t k = run.slot << slotShift; k < first; ++k) {
      if (l0Data[k] != 0) {
        keepsFirst = 1;
        break;
      }
    }
    for (uint64_t k = end, slotEnd = lastEnd < n0 ? lastEnd : n0; k < slotEnd; ++k) {
      if (l0Data[k] != 0) {
        keepsLast = 1;
        break;
      }
    }
  }
  const uint64_t newWord = (run.m & ~span) | keepsFirst << firstShift | keepsLast << lastShift;
  l1Data[run.l1Word] = newWord;
  // The later slots were 11; the first moves from its old state as MoveSlotCounts moves it.
  const uint64_t firstOld = run.m >> firstShift & kSlotEncoding.fieldMask;
  const uint64_t single = firstShift == lastShift ? 1u : 0u;
  alloc.partialSlots += keepsFirst + keepsLast - (keepsFirst & keepsLast & single) -
                        (firstOld == kSlotSomeFree ? 1u : 0u);
  alloc.freeSlots -= (lastShift - firstShift) / kFieldBits + (firstOld == kSlotAllFree ? 1u : 0u);
  alloc.pos.l2Pos = run.entry;
  alloc.pos.l1Pos = lastSlot;
  alloc.pos.l0Pos = kUnitsPerWord * end;
  // The descent recomputes the entry's bit when the word becomes 0 and, when it began in a later
  // level-1 word of the entry, also otherwise; the entry then keeps free units and its bit is
  // set already.
  if (newWord == 0) {
    RecomputeEntryOfRun(alloc, l1, l2, run.entry);
  }
  AppendOrMergeExtent(out, run.start * unit, static_cast<uint32_t>(allocLen));  // there is room: no throw
  return true;
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_CURSOR_WORD_TAKE_H_
