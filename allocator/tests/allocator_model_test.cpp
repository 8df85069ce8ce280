// Randomized model test of OrvAllocate and OrvRelease: many allocations of random lengths,
// interleaved with releases (of extents from many calls, in random order, whole or in part, and
// faulty ones that must be refused), with units freed by hand and with cursors set by hand. Each
// call is checked against a brute-force model over level-0 bits (next fit, release unit by unit),
// and after each call levels 1 and 2 and the counters against their brute-force computation from
// level 0 and the free bytes against a popcount.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "alloc_model.h"
#include "orv_alloc/orv_alloc.h"

namespace {

using alloc_test::Device;
using alloc_test::kUnset;

struct ModelCase {
  uint32_t w;
  uint64_t units;  // device size in allocation units
  uint64_t unit;   // bytes per unit
  uint64_t seed;
  int calls;
};

void PrintTo(const ModelCase& c, std::ostream* os) {
  *os << "W=" << c.w << " units=" << c.units << " unit=" << c.unit << " seed=" << c.seed;
}

uint64_t Below(std::mt19937_64& rng, uint64_t bound) { return bound == 0 ? 0 : rng() % bound; }

// Level-0 words of mixed kinds: empty, full, random and sparse, so that every path of the search
// (zero-word skip, the one-mask fast path, runs inside a word, 00/01/11 slots) gets exercised.
void FillRandomPattern(Device& d, std::mt19937_64& rng) {
  for (uint64_t& word : d.l0) {
    switch (Below(rng, 5)) {
      case 0: word = 0; break;
      case 1: word = ~uint64_t{0}; break;
      case 2: word = rng(); break;
      case 3: word = rng() & rng() & rng(); break;
      default: word = ~(rng() & rng() & rng()); break;
    }
  }
  for (uint64_t u = d.units; u < 64u * d.l0.size(); ++u) d.SetAllocated(u);
  // Whole empty and whole free stretches of several slots, and a free one of up to 80 slots that
  // runs across level-1 words and entries.
  for (int k = 0; k < 4; ++k) {
    const uint64_t from = Below(rng, d.l0.size());
    const uint64_t to = std::min<uint64_t>(d.l0.size(), from + Below(rng, (k == 3 ? 80u : 8u) * d.w + 1));
    const bool makeFree = k == 3 || Below(rng, 2) == 0;
    for (uint64_t i = from; i < to; ++i) d.l0[i] = makeFree ? ~uint64_t{0} : 0;
  }
  for (uint64_t u = d.units; u < 64u * d.l0.size(); ++u) d.SetAllocated(u);
}

// A cursor as a caller might persist or invent it: mostly aimed at a free unit's slot and entry
// (often one in the last level-1 word's range), with l0Pos inside, at the end of or outside that
// slot, or unset; sometimes anywhere at all.
OrvAllocPosS RandomCursor(const Device& d, std::mt19937_64& rng) {
  const uint64_t slotsPerEntry = 32u * d.w;
  const uint64_t unitsPerSlot = 64u * d.w;
  const uint64_t units = 64u * d.l0.size();
  const uint64_t from = Below(rng, 4) == 0 && units > 64u * 32u * d.w ? units - 64u * 32u * d.w : 0;
  uint64_t target = from + Below(rng, units - from);
  for (int tries = 0; tries < 64 && !d.IsFree(target); ++tries) target = from + Below(rng, units - from);
  OrvAllocPosS pos{kUnset, target / unitsPerSlot, target / unitsPerSlot / slotsPerEntry};
  switch (Below(rng, 8)) {
    case 0: pos.l2Pos = Below(rng, 64u * d.l2.size()); break;
    case 1: pos.l1Pos = kUnset; break;
    case 2: pos.l1Pos = (pos.l2Pos + 1) * slotsPerEntry; break;  // past the entry
    case 3: pos.l1Pos = Below(rng, 32u * d.l1.size() + 1); break;
    default: break;
  }
  const uint64_t slotStart = pos.l1Pos * unitsPerSlot;
  switch (Below(rng, 7)) {
    case 0: break;
    case 1: pos.l0Pos = slotStart + unitsPerSlot; break;  // the next slot's first unit
    case 2: pos.l0Pos = Below(rng, 64u * d.l0.size() + 1); break;
    case 3: pos.l0Pos = target; break;
    case 4: pos.l0Pos = slotStart + 64u * Below(rng, d.w + 1); break;  // a word's first unit
    default: pos.l0Pos = slotStart + Below(rng, unitsPerSlot); break;
  }
  return pos;
}

// Request lengths in units: mostly small, often a single unit (served at the cursor when it
// can be), whole words (which end calls on word and slot ends), sometimes large, sometimes many
// whole slots, sometimes more than is free.
uint64_t RandomRequestUnits(const Device& d, std::mt19937_64& rng) {
  switch (Below(rng, 14)) {
    case 11: case 12: case 13: return 1;
    case 10: return 64u * d.w * (1 + Below(rng, 80));
    case 0: case 1: case 2: return 1 + Below(rng, 8);
    case 3: return 64u * (1 + Below(rng, 2u * d.w));
    case 4: case 5: case 6: return 1 + Below(rng, 200);
    case 7: case 8: return 1 + Below(rng, 64u * 8u * d.w);
    default: return 1 + Below(rng, d.FreeUnits() + 100);
  }
}

// The extents a call added to `before`: the growth of the old last element, then new elements.
std::vector<OrvExtentS> AddedExtents(const std::vector<OrvExtentS>& before, const std::vector<OrvExtentS>& after) {
  std::vector<OrvExtentS> added;
  EXPECT_GE(after.size(), before.size());
  if (after.size() < before.size()) return added;
  for (size_t k = 0; k + 1 < before.size(); ++k) {
    EXPECT_EQ(after[k].offset, before[k].offset);
    EXPECT_EQ(after[k].length, before[k].length);
  }
  size_t next = 0;
  if (!before.empty()) {
    const OrvExtentS& old = before.back();
    const OrvExtentS& now = after[before.size() - 1];
    EXPECT_EQ(now.offset, old.offset);
    EXPECT_GE(now.length, old.length);
    if (now.length > old.length) added.push_back(OrvExtentS{old.offset + old.length, now.length - old.length});
    next = before.size();
  }
  added.insert(added.end(), after.begin() + static_cast<std::ptrdiff_t>(next), after.end());
  return added;
}

void ExpectLevelsAndFreeBytesMatchLevelZero(const OrvAllocator& a, const Device& d, uint64_t unit) {
  EXPECT_TRUE(alloc_test::Actual(d) == alloc_test::ExpectedUpperLevels(d.w, d.l0, d.l1.size(), d.l2.size()));
  EXPECT_EQ(a.OrvFreeBytes(d.l0), d.FreeUnits() * unit);
}

// One OrvAllocate call checked against the model.
void CheckedAllocate(OrvAllocator& a, Device& d, uint64_t unit, uint64_t requestUnits,
                     std::vector<OrvExtentS>& out) {
  const std::vector<uint64_t> l0Before = d.l0;
  const std::vector<OrvExtentS> outBefore = out;
  const OrvAllocPosS posBefore = a.pos;
  const uint64_t freeBefore = d.FreeUnits();
  const std::vector<uint64_t> expected =
      alloc_test::NextFitUnits(l0Before, alloc_test::SearchStartUnit(d.w, posBefore), requestUnits);

  const uint64_t got = a.OrvAllocate(OrvAllocInfoS{requestUnits * unit, unit}, d.l0, d.l1, d.l2, out);

  EXPECT_EQ(got, std::min(requestUnits, freeBefore) * unit);
  EXPECT_EQ(got, expected.size() * unit);

  // Extents: exact, whole units, in the order taken, and merged wherever they could be.
  const std::vector<OrvExtentS> added = AddedExtents(outBefore, out);
  uint64_t addedBytes = 0;
  for (const OrvExtentS& e : added) {
    EXPECT_GT(e.length, 0u);
    EXPECT_EQ(e.offset % unit, 0u);
    EXPECT_EQ(e.length % unit, 0u);
    addedBytes += e.length;
  }
  EXPECT_EQ(addedBytes, got);
  EXPECT_EQ(alloc_test::UnitsOf(added, unit), expected);
  for (size_t k = outBefore.empty() ? 1 : outBefore.size(); k < out.size(); ++k) {
    const OrvExtentS& prev = out[k - 1];
    if (prev.offset + prev.length == out[k].offset) {
      EXPECT_GT(uint64_t{prev.length} + out[k].length, uint64_t{UINT32_MAX}) << "unmerged extent " << k;
    }
  }

  // Level 0: exactly the units taken were cleared; the upper levels follow level 0.
  std::vector<uint64_t> l0Expected = l0Before;
  for (uint64_t u : expected) l0Expected[u / 64] &= ~(uint64_t{1} << (u % 64));
  EXPECT_EQ(d.l0, l0Expected);
  ExpectLevelsAndFreeBytesMatchLevelZero(a, d, unit);

  // Cursor: just after the last unit taken, or past the start word of level 2 after a short call.
  if (got == requestUnits * unit) {
    const uint64_t last = expected.back();
    EXPECT_EQ(a.pos.l0Pos, last + 1);
    EXPECT_EQ(a.pos.l1Pos, last / (64u * d.w));
    EXPECT_EQ(a.pos.l2Pos, last / (64u * d.w) / (32u * d.w));
  } else {
    const uint64_t next = posBefore.l2Pos / 64 + 1;
    EXPECT_EQ(a.pos.l0Pos, kUnset);
    EXPECT_EQ(a.pos.l1Pos, kUnset);
    EXPECT_EQ(a.pos.l2Pos, next == d.l2.size() ? 0 : 64 * next);
  }
}

// One OrvRelease call checked against the brute-force release: the bytes and level 0 it predicts,
// or, for a call it refuses, every vector, counter and the cursor unchanged. Returns whether the
// call released.
bool CheckedRelease(OrvAllocator& a, Device& d, uint64_t unit, const std::vector<OrvExtentS>& extents) {
  const alloc_test::ReleaseVerdict expected = alloc_test::JudgeRelease(d.l0, extents, unit);
  const alloc_test::UpperLevels upBefore = alloc_test::Actual(d);
  const OrvAllocPosS posBefore = a.pos;

  const uint64_t got = a.OrvRelease(extents, d.l0, d.l1, d.l2);

  EXPECT_EQ(got, expected.bytes);
  EXPECT_EQ(d.l0, expected.l0);
  if (!expected.valid) {
    EXPECT_TRUE(alloc_test::Actual(d) == upBefore) << "a refused release changed levels 1, 2 or the counters";
  }
  ExpectLevelsAndFreeBytesMatchLevelZero(a, d, unit);
  EXPECT_EQ(a.pos.l0Pos, posBefore.l0Pos);
  EXPECT_EQ(a.pos.l1Pos, posBefore.l1Pos);
  EXPECT_EQ(a.pos.l2Pos, posBefore.l2Pos);
  return expected.valid;
}

// Units this test's caller holds (allocated by it and not yet released), so that units freed by
// hand are never ones it will release later.
struct Holdings {
  std::vector<OrvExtentS> extents;
  std::vector<uint8_t> unitHeld;  // 0 or 1 per unit (vector<bool> draws a false GCC warning at -O3)

  void Mark(const std::vector<OrvExtentS>& es, uint64_t unit, bool held) {
    for (uint64_t u : alloc_test::UnitsOf(es, unit)) unitHeld[u] = held ? 1 : 0;
  }
};

// A release that breaks one rule, made from a valid selection: one extent twice or overlapping
// another, a unit that is free, an extent not a whole number of units or empty, or one running
// past level 0.
std::vector<OrvExtentS> FaultyRelease(std::vector<OrvExtentS> give, const Device& d, uint64_t unit,
                                      std::mt19937_64& rng) {
  const size_t k = static_cast<size_t>(Below(rng, give.size()));
  const uint64_t deviceBytes = 64u * d.l0.size() * unit;
  switch (Below(rng, 6)) {
    case 0: {  // overlap: the same extent again, or its last unit, somewhere in the call
      OrvExtentS e = give[k];
      if (Below(rng, 2) == 0) e = OrvExtentS{e.offset + e.length - unit, static_cast<uint32_t>(unit)};
      give.insert(give.begin() + static_cast<std::ptrdiff_t>(Below(rng, give.size() + 1)), e);
      break;
    }
    case 1: {  // double free of a unit that is free now
      uint64_t u = Below(rng, 64u * d.l0.size());
      for (int tries = 0; tries < 4096 && !d.IsFree(u); ++tries) u = Below(rng, 64u * d.l0.size());
      if (!d.IsFree(u)) return FaultyRelease(give, d, unit, rng);
      give.push_back(OrvExtentS{u * unit, static_cast<uint32_t>(unit)});
      break;
    }
    case 2: give[k].offset += 1 + Below(rng, unit - 1); break;
    case 3: give[k].length = static_cast<uint32_t>(give[k].length - 1 - Below(rng, unit - 1)); break;
    case 4: give[k].length = 0; break;
    default:
      give.push_back(OrvExtentS{deviceBytes - unit * Below(rng, 2), static_cast<uint32_t>(2 * unit)});
      break;
  }
  return give;
}

class AllocatorModelTest : public ::testing::TestWithParam<ModelCase> {};

TEST_P(AllocatorModelTest, RandomCallsFollowNextFitAndKeepLevelsInStep) {
  const ModelCase c = GetParam();
  std::mt19937_64 rng(c.seed);
  Device d = alloc_test::MakeDevice(c.w, c.units);
  FillRandomPattern(d, rng);
  ASSERT_TRUE(alloc_test::Rebuild(d));
  OrvAllocator a(c.w, c.unit, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  ExpectLevelsAndFreeBytesMatchLevelZero(a, d, c.unit);
  std::vector<OrvExtentS> out;
  Holdings held;  // what the "caller" holds and may release later
  held.unitHeld.assign(64u * d.l0.size(), 0);
  auto keep = [&held, &c](const std::vector<OrvExtentS>& es) {
    held.extents.insert(held.extents.end(), es.begin(), es.end());
    held.Mark(es, c.unit, true);
  };
  auto release = [&](const std::vector<OrvExtentS>& give) {
    if (CheckedRelease(a, d, c.unit, give)) held.Mark(give, c.unit, false);
  };

  for (int call = 0; call < c.calls && !HasFailure(); ++call) {
    SCOPED_TRACE(::testing::Message() << "call " << call);
    const uint64_t action = Below(rng, 20);
    if (action < 4 && !held.extents.empty()) {
      // Release held extents from many calls in random order, some only in part (the rest stays
      // held); sometimes with a fault added, which refuses the whole call.
      std::shuffle(held.extents.begin(), held.extents.end(), rng);
      std::vector<OrvExtentS> give;
      const size_t n = 1 + static_cast<size_t>(Below(rng, std::min<size_t>(held.extents.size(), 40)));
      for (size_t k = 0; k < n; ++k) {
        OrvExtentS e = held.extents.back();
        held.extents.pop_back();
        const uint64_t units = e.length / c.unit;
        if (units > 1 && Below(rng, 3) == 0) {
          const uint64_t cut = 1 + Below(rng, units - 1);
          const OrvExtentS head{e.offset, static_cast<uint32_t>(cut * c.unit)};
          const OrvExtentS tail{e.offset + cut * c.unit, static_cast<uint32_t>((units - cut) * c.unit)};
          held.extents.push_back(Below(rng, 2) == 0 ? head : tail);
          e = held.extents.back().offset == head.offset ? tail : head;
        }
        give.push_back(e);
      }
      if (action == 0) {
        EXPECT_FALSE(CheckedRelease(a, d, c.unit, FaultyRelease(give, d, c.unit, rng)));
        held.extents.insert(held.extents.end(), give.begin(), give.end());
      } else {
        release(give);
        // Releasing the same units again is a double free.
        if (action == 1) {
          EXPECT_FALSE(CheckedRelease(a, d, c.unit, {give[Below(rng, give.size())]}));
        }
      }
    } else if (action == 4) {
      // Units freed by hand (never ones the caller holds), then the levels rebuilt.
      for (int k = 0; k < 20; ++k) {
        const uint64_t u = Below(rng, d.units);
        if (!held.unitHeld[u]) d.SetFree(u);
      }
      ASSERT_TRUE(alloc_test::Rebuild(d));
      ExpectLevelsAndFreeBytesMatchLevelZero(a, d, c.unit);
    } else if (action == 5 || action == 9) {
      a.pos = RandomCursor(d, rng);
    } else if (action == 6 || action == 7) {
      // Give back the latest allocation, or its tail: units right below the cursor become free.
      if (!out.empty()) {
        const OrvExtentS e = out.back();
        out.pop_back();
        const uint64_t kept = action == 6 ? 0 : Below(rng, e.length / c.unit);
        if (kept != 0) keep({OrvExtentS{e.offset, static_cast<uint32_t>(kept * c.unit)}});
        release({OrvExtentS{e.offset + kept * c.unit, static_cast<uint32_t>(e.length - kept * c.unit)}});
      }
    } else if (action == 8) {
      keep(out);
      out.clear();
    }
    // Mostly one call; sometimes a run of one-unit calls, which walks the cursor through words,
    // slots and level-1 words one unit at a time, or a run of calls for the same whole number of
    // words, which walks it through slots, level-1 words and entries a few words at a time.
    const uint64_t calls = action == 10 || action == 11 ? 1 + Below(rng, 64) : 1;
    if (action == 11 && Below(rng, 4) != 0) {
      // Most such runs start at a word's first unit in a stretch of free words (freed by hand,
      // except units the caller holds), as a device with room has them.
      const uint64_t from = Below(rng, d.l0.size());
      const uint64_t to = std::min<uint64_t>(d.l0.size(), from + 1 + Below(rng, 200u * d.w));
      for (uint64_t u = 64u * from; u < 64u * to && u < d.units; ++u) {
        if (!held.unitHeld[u]) d.SetFree(u);
      }
      ASSERT_TRUE(alloc_test::Rebuild(d));
      a.pos = OrvAllocPosS{64u * from, from / d.w, from / d.w / (32u * d.w)};
    }
    const uint64_t runUnits = 64u * (Below(rng, 2) == 0 ? 1 + Below(rng, 4) : d.w * (1 + Below(rng, 3)));
    for (uint64_t k = 0; k < calls && !HasFailure(); ++k) {
      const std::vector<OrvExtentS> outBefore = out;
      const uint64_t units = action == 10 ? 1 : action == 11 ? runUnits : RandomRequestUnits(d, rng);
      CheckedAllocate(a, d, c.unit, units, out);
      held.Mark(AddedExtents(outBefore, out), c.unit, true);
      if (out.size() > 64) {
        keep(out);
        out.clear();
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, AllocatorModelTest,
    ::testing::Values(
        // Several level-2 words (wrap-around across level 2), last words of each level partly used.
        ModelCase{1, 64u * 4100u + 37u, 4096, 11, 150}, ModelCase{2, 64u * 8300u + 5u, 4096, 12, 80},
        // Many entries inside one level-2 word; level 0 not a whole number of slots.
        ModelCase{3, 64u * 1000u + 63u, 4096, 13, 400}, ModelCase{4, 64u * 777u + 1u, 512, 14, 400},
        ModelCase{7, 64u * 500u + 20u, 8192, 15, 400}, ModelCase{3, 64u * 1000u, 4096, 21, 400},
        // Tiny devices: almost every call fills up or wraps.
        ModelCase{1, 100, 4096, 16, 600}, ModelCase{2, 64u * 3u, 4096, 17, 600}, ModelCase{3, 1, 4096, 18, 200},
        // Units so large that merges hit the 32-bit length limit: at most 127 and 64 units per extent.
        ModelCase{1, 64u * 300u + 9u, uint64_t{1} << 25, 19, 300},
        ModelCase{2, 64u * 300u + 9u, (uint64_t{1} << 26) - 1, 20, 300},
        // Levels 1 and 2 filled to their last word, as a device of whole level-2 words has them.
        ModelCase{1, 64u * 64u * 32u, 4096, 22, 600}, ModelCase{2, 64u * 64u * 64u * 2u, 4096, 23, 300},
        // Slots of eight words and entries of eight level-1 words, as large devices use them.
        ModelCase{8, 64u * 8u * 32u * 40u + 64u * 3u, 4096, 24, 400},
        ModelCase{4, 64u * 4u * 32u * 9u, 8192, 25, 400}));

}  // namespace
