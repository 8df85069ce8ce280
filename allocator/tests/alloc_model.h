// Test support for the allocator tests: a device's three bitmap levels and slot counters kept the
// way a caller keeps them, the upper levels computed from level 0 by brute force (the judge of
// every call), and brute-force models of which units a call takes and of a release.
//
// Layout for a device of `units` allocation units and W words per entry: level 0 has
// ceil(units / 64) words (bits past the device stay 0), level 1 one 2-bit state per W level-0
// words, level 2 one bit per W level-1 words, each rounded up to whole words. A slot or entry
// whose words run past the end of its level counts the missing words as allocated.
#ifndef ORV_ALLOC_TESTS_ALLOC_MODEL_H_
#define ORV_ALLOC_TESTS_ALLOC_MODEL_H_

#include <cstdint>
#include <vector>

#include "orv_alloc/orv_alloc.h"

namespace alloc_test {

constexpr uint64_t kUnset = ~uint64_t{0};

inline uint64_t CeilDiv(uint64_t a, uint64_t b) { return a / b + (a % b != 0 ? 1u : 0u); }

struct Device {
  uint32_t w = 1;
  uint64_t units = 0;
  std::vector<uint64_t> l0, l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;

  bool IsFree(uint64_t u) const { return (l0[u / 64] >> (u % 64) & 1u) != 0; }
  void SetFree(uint64_t u) { l0[u / 64] |= uint64_t{1} << (u % 64); }
  void SetAllocated(uint64_t u) { l0[u / 64] &= ~(uint64_t{1} << (u % 64)); }
  uint64_t FreeUnits() const {
    uint64_t n = 0;
    for (uint64_t word : l0) n += static_cast<uint64_t>(__builtin_popcountll(word));
    return n;
  }
};

struct UpperLevels {
  std::vector<uint64_t> l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;
  bool operator==(const UpperLevels& o) const {
    return l1 == o.l1 && l2 == o.l2 && partialSlots == o.partialSlots && freeSlots == o.freeSlots;
  }
};

// Levels 1 and 2 and the counters as they must be for `l0`, unit by unit from their definitions.
inline UpperLevels ExpectedUpperLevels(uint32_t w, const std::vector<uint64_t>& l0, uint64_t n1, uint64_t n2) {
  UpperLevels up;
  up.l1.assign(n1, 0);
  up.l2.assign(n2, 0);
  const uint64_t unitsPerSlot = 64u * w;
  for (uint64_t slot = 0; slot < 32u * n1; ++slot) {
    uint64_t freeCount = 0;  // free units among the slot's 64 x W, counted a word at a time
    for (uint64_t k = slot * w; k < (slot + 1) * w && k < l0.size(); ++k) {
      freeCount += static_cast<uint64_t>(__builtin_popcountll(l0[k]));
    }
    uint64_t state = 0;
    if (freeCount == unitsPerSlot) {
      state = 3;
      ++up.freeSlots;
    } else if (freeCount != 0) {
      state = 1;
      ++up.partialSlots;
    }
    up.l1[slot / 32] |= state << (2 * (slot % 32));
  }
  for (uint64_t entry = 0; entry < 64u * n2; ++entry) {
    bool any = false;
    for (uint64_t k = entry * w; k < (entry + 1) * w && k < n1; ++k) any = any || up.l1[k] != 0;
    if (any) up.l2[entry / 64] |= uint64_t{1} << (entry % 64);
  }
  return up;
}

// A device of `units` units, all allocated, with consistent (empty) upper levels.
inline Device MakeDevice(uint32_t w, uint64_t units) {
  Device d;
  d.w = w;
  d.units = units;
  d.l0.assign(CeilDiv(units, 64), 0);
  d.l1.assign(CeilDiv(CeilDiv(d.l0.size(), w), 32), 0);
  const uint64_t n2 = CeilDiv(CeilDiv(d.l1.size(), w), 64);
  d.l2.assign(n2 == 0 ? 1 : n2, 0);
  return d;
}

// What a caller does after setting level-0 bits by hand: rebuild levels 1 and 2 and the counters
// with the library. (Tests judge the result against ExpectedUpperLevels.)
inline bool Rebuild(Device& d) {
  OrvAllocator builder(d.w, 1, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  return builder.OrvBuildLevels(d.l0, d.l1, d.l2);
}

inline UpperLevels Actual(const Device& d) { return UpperLevels{d.l1, d.l2, d.partialSlots, d.freeSlots}; }

// The unit a search starts from, given the cursor: the kept l1Pos counts only inside the entry
// that l2Pos names and the kept l0Pos only inside the slot that l1Pos names; one past the end of
// its parent moves the start to the parent's end, one before its start to the parent's start.
inline uint64_t SearchStartUnit(uint32_t w, const OrvAllocPosS& pos) {
  const uint64_t slotsPerEntry = 32u * w;
  const uint64_t unitsPerSlot = 64u * w;
  const uint64_t entryStart = pos.l2Pos * slotsPerEntry;
  if (pos.l1Pos == kUnset || pos.l1Pos < entryStart) return entryStart * unitsPerSlot;
  if (pos.l1Pos >= entryStart + slotsPerEntry) return (entryStart + slotsPerEntry) * unitsPerSlot;
  const uint64_t slotStart = pos.l1Pos * unitsPerSlot;
  if (pos.l0Pos == kUnset || pos.l0Pos < slotStart) return slotStart;
  if (pos.l0Pos >= slotStart + unitsPerSlot) return slotStart + unitsPerSlot;
  return pos.l0Pos;
}

// Next fit over bits: the first `count` free units in ascending order from `start`, wrapping once
// to unit 0; fewer when fewer are free.
inline std::vector<uint64_t> NextFitUnits(const std::vector<uint64_t>& l0, uint64_t start, uint64_t count) {
  std::vector<uint64_t> taken;
  const uint64_t total = 64u * l0.size();
  if (start >= total) start = 0;
  for (uint64_t step = 0; step < total && taken.size() < count;) {
    const uint64_t u = (start + step) % total;
    const uint64_t word = l0[u / 64];
    if (u % 64 == 0 && word == 0) {
      step += 64;  // a wholly allocated word
      continue;
    }
    if ((word >> (u % 64) & 1u) != 0) taken.push_back(u);
    ++step;
  }
  return taken;
}

// The units covered by extents, in order; every extent must be a whole number of units.
inline std::vector<uint64_t> UnitsOf(const std::vector<OrvExtentS>& extents, uint64_t unit) {
  std::vector<uint64_t> units;
  for (const OrvExtentS& e : extents) {
    for (uint64_t k = 0; k < e.length / unit; ++k) units.push_back(e.offset / unit + k);
  }
  return units;
}

// A release judged unit by unit: level 0 after releasing `extents` and the bytes released, or
// nullopt-like `valid == false` when the call must be refused (a non-whole or empty extent, a unit
// past level 0, a unit already free or released twice by the call).
struct ReleaseVerdict {
  bool valid = true;
  uint64_t bytes = 0;
  std::vector<uint64_t> l0;
};

inline ReleaseVerdict JudgeRelease(const std::vector<uint64_t>& l0, const std::vector<OrvExtentS>& extents,
                                   uint64_t unit) {
  ReleaseVerdict v;
  v.l0 = l0;
  for (const OrvExtentS& e : extents) {
    if (e.length == 0 || e.offset % unit != 0 || e.length % unit != 0) v.valid = false;
    for (uint64_t k = 0; v.valid && k < e.length / unit; ++k) {
      const uint64_t u = e.offset / unit + k;
      if (u >= 64u * l0.size() || (v.l0[u / 64] >> (u % 64) & 1u) != 0) {
        v.valid = false;
      } else {
        v.l0[u / 64] |= uint64_t{1} << (u % 64);
      }
    }
    v.bytes += e.length;
  }
  if (!v.valid) {
    v.l0 = l0;
    v.bytes = 0;
  }
  return v;
}

}  // namespace alloc_test

#endif  // ORV_ALLOC_TESTS_ALLOC_MODEL_H_
