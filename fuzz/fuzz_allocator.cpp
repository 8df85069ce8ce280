// Fuzz target: OrvAllocator on random level-0 bitmaps, upper levels that are consistent or not
// (random words, random vector sizes, wrong counters), random cursors, words per entry, units and
// requests, over a few calls on one allocator with units freed between them.
//
// Checked on every call: only free units are taken (no level-0 bit is set, none outside the
// extents is cleared); the extents cover exactly the units cleared, in whole units, and add up to
// the result, which never exceeds the request; the caller's earlier extents are kept (the last
// may only grow by a merge). When the levels and counters matched level 0 before the call, they
// match it afterwards. On a well-formed device with a valid request the call takes exactly what
// next fit from the cursor takes: min(request, free bytes).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "alloc_model.h"
#include "fuzz_support.h"
#include "orv_alloc/orv_alloc.h"

namespace {

using alloc_test::kUnset;

struct State {
  uint32_t w = 1;
  std::vector<uint64_t> l0, l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;
  bool wellFormed = false;  // level sizes as a device of l0's size needs them
};

bool Consistent(const State& s) {
  if (s.w == 0) {
    return false;
  }
  const alloc_test::UpperLevels want = alloc_test::ExpectedUpperLevels(s.w, s.l0, s.l1.size(), s.l2.size());
  return want == alloc_test::UpperLevels{s.l1, s.l2, s.partialSlots, s.freeSlots};
}

void Rebuild(State& s) {
  const alloc_test::UpperLevels up = alloc_test::ExpectedUpperLevels(s.w, s.l0, s.l1.size(), s.l2.size());
  s.l1 = up.l1;
  s.l2 = up.l2;
  s.partialSlots = up.partialSlots;
  s.freeSlots = up.freeSlots;
}

uint64_t DrawWord(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      return 0;
    case 1:
      return ~uint64_t{0};
    case 2:
      return uint64_t{1} << in.ConsumeIntegralInRange<int>(0, 63);
    default:
      return in.ConsumeIntegral<uint64_t>();
  }
}

void DrawState(FuzzedDataProvider& in, State& s) {
  static const uint32_t kWords[] = {1, 1, 2, 3, 4, 0, 1u << 26, 0xffffffffu};
  s.w = in.PickValueInArray(kWords);
  const size_t n0 = in.ConsumeIntegralInRange<size_t>(0, 200);
  for (size_t i = 0; i < n0; ++i) {
    s.l0.push_back(DrawWord(in));
  }
  const uint64_t w = s.w == 0 ? 1 : s.w;
  const uint64_t n1 = alloc_test::CeilDiv(alloc_test::CeilDiv(n0, w), 32);
  const uint64_t n2Need = alloc_test::CeilDiv(alloc_test::CeilDiv(n1, w), 64);
  const uint64_t n2 = n2Need == 0 ? 1 : n2Need;
  s.wellFormed = in.ConsumeIntegralInRange<int>(0, 3) != 0;
  s.l1.assign(s.wellFormed ? n1 : in.ConsumeIntegralInRange<size_t>(0, 9), 0);
  s.l2.assign(s.wellFormed ? n2 : in.ConsumeIntegralInRange<size_t>(0, 3), 0);
  if (s.w != 0 && in.ConsumeIntegralInRange<int>(0, 3) != 0) {
    Rebuild(s);
  }
  // Now and then a level word or a counter is wrong.
  if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
    std::vector<uint64_t>& level = in.ConsumeBool() ? s.l1 : s.l2;
    if (!level.empty()) {
      level[in.ConsumeIntegralInRange<size_t>(0, level.size() - 1)] = DrawWord(in);
    }
  }
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    s.partialSlots += in.ConsumeIntegralInRange<uint64_t>(0, 2);
    s.freeSlots -= in.ConsumeIntegralInRange<uint64_t>(0, 2);
  }
}

OrvAllocPosS DrawCursor(FuzzedDataProvider& in, const State& s) {
  const uint64_t entries = 64u * s.l2.size();
  const uint64_t slots = 32u * s.l1.size();
  const uint64_t units = 64u * s.l0.size();
  OrvAllocPosS pos{kUnset, kUnset, 0};
  pos.l2Pos = entries != 0 && in.ConsumeIntegralInRange<int>(0, 7) != 0
                  ? in.ConsumeIntegralInRange<uint64_t>(0, entries - 1)
                  : in.ConsumeIntegral<uint64_t>();
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      break;
    case 1:
      pos.l1Pos = in.ConsumeIntegralInRange<uint64_t>(0, slots + 2);
      break;
    case 2:
      pos.l1Pos = in.ConsumeIntegral<uint64_t>();
      break;
    default:
      pos.l1Pos = pos.l2Pos * 32u * s.w + in.ConsumeIntegralInRange<uint64_t>(0, 40);
      break;
  }
  if (pos.l1Pos != kUnset && in.ConsumeBool()) {
    pos.l0Pos = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint64_t>(0, units + 2)
                                 : pos.l1Pos * 64u * s.w + in.ConsumeIntegralInRange<uint64_t>(0, 200);
  }
  return pos;
}

uint64_t FreeUnits(const std::vector<uint64_t>& l0) {
  uint64_t n = 0;
  for (uint64_t word : l0) {
    n += static_cast<uint64_t>(__builtin_popcountll(word));
  }
  return n;
}

// Whether the header's limits let the call run at all.
bool RequestValid(const State& s, uint64_t unit, const OrvAllocInfoS& req) {
  return req.allocUnit == unit && unit != 0 && req.allocLen >= unit && req.allocLen % unit == 0 &&
         unit <= UINT32_MAX / 64 && s.w != 0 && s.w <= UINT32_MAX / 64 && !s.l2.empty();
}

void CheckCall(const State& before, const State& after, const std::vector<OrvExtentS>& outBefore,
               const std::vector<OrvExtentS>& out, uint64_t unit, const OrvAllocInfoS& req,
               const OrvAllocPosS& pos, uint64_t result) {
  ORV_FUZZ_CHECK(result <= req.allocLen, "allocated %lu of a request for %lu", static_cast<unsigned long>(result),
                 static_cast<unsigned long>(req.allocLen));
  // Units cleared in level 0, and no unit set.
  std::vector<uint64_t> cleared;
  for (size_t i = 0; i < before.l0.size(); ++i) {
    ORV_FUZZ_CHECK((after.l0[i] & ~before.l0[i]) == 0, "level-0 word %zu gained free units", i);
    for (uint64_t bits = before.l0[i] & ~after.l0[i]; bits != 0; bits &= bits - 1) {
      cleared.push_back(64u * i + static_cast<uint64_t>(__builtin_ctzll(bits)));
    }
  }
  // Units the call added to the output: the growth of the caller's last extent, then new ones.
  ORV_FUZZ_CHECK(out.size() >= outBefore.size(), "extents were removed");
  std::vector<OrvExtentS> added;
  for (size_t i = 0; i < outBefore.size(); ++i) {
    const bool last = i + 1 == outBefore.size();
    ORV_FUZZ_CHECK(out[i].offset == outBefore[i].offset &&
                       (last ? out[i].length >= outBefore[i].length : out[i].length == outBefore[i].length),
                   "the caller's extent %zu changed", i);
    if (last && out[i].length > outBefore[i].length) {
      added.push_back({out[i].offset + outBefore[i].length, out[i].length - outBefore[i].length});
    }
  }
  added.insert(added.end(), out.begin() + static_cast<std::ptrdiff_t>(outBefore.size()), out.end());
  uint64_t bytes = 0;
  for (const OrvExtentS& e : added) {
    ORV_FUZZ_CHECK(unit != 0 && e.length > 0 && e.offset % unit == 0 && e.length % unit == 0,
                   "extent %lu+%u is not whole units", static_cast<unsigned long>(e.offset), e.length);
    bytes += e.length;
  }
  ORV_FUZZ_CHECK(bytes == result, "extents hold %lu bytes, the result is %lu", static_cast<unsigned long>(bytes),
                 static_cast<unsigned long>(result));
  std::vector<uint64_t> units = alloc_test::UnitsOf(added, unit == 0 ? 1 : unit);
  std::sort(units.begin(), units.end());
  ORV_FUZZ_CHECK(units == cleared, "extents cover %zu units, %zu were cleared", units.size(), cleared.size());

  if (!RequestValid(before, unit, req)) {
    ORV_FUZZ_CHECK(result == 0 && cleared.empty(), "a refused request allocated");
  }
  if (!Consistent(before)) {
    return;
  }
  ORV_FUZZ_CHECK(Consistent(after), "levels or counters no longer match level 0");
  if (before.wellFormed && RequestValid(before, unit, req) && pos.l2Pos < 64u * before.l2.size()) {
    const uint64_t want = req.allocLen / unit;
    const std::vector<uint64_t> nextFit =
        alloc_test::NextFitUnits(before.l0, alloc_test::SearchStartUnit(before.w, pos), want);
    std::vector<uint64_t> takenInOrder = alloc_test::UnitsOf(added, unit);
    ORV_FUZZ_CHECK(takenInOrder == nextFit, "took %zu units, next fit takes %zu (free %lu)", takenInOrder.size(),
                   nextFit.size(), static_cast<unsigned long>(FreeUnits(before.l0)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  State s;
  DrawState(in, s);
  static const uint64_t kUnits[] = {1, 512, 4096, 65536, (uint64_t{1} << 26) - 1, uint64_t{1} << 26, 0};
  const uint64_t unit = in.PickValueInArray(kUnits);
  const OrvAllocPosS start = DrawCursor(in, s);
  OrvAllocator allocator(s.w, unit, start, s.partialSlots, s.freeSlots);
  std::vector<OrvExtentS> out;
  if (in.ConsumeBool() && unit != 0) {
    out.push_back({unit * in.ConsumeIntegralInRange<uint64_t>(0, 64u * s.l0.size()), static_cast<uint32_t>(unit)});
  }
  for (int call = 0; call < 4 && in.remaining_bytes() > 0; ++call) {
    OrvAllocInfoS req{0, unit};
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) {
      req.allocLen = unit * in.ConsumeIntegralInRange<uint64_t>(0, 64u * s.l0.size() + 70);
    } else {
      req.allocLen = in.ConsumeIntegral<uint64_t>();
      req.allocUnit = in.ConsumeBool() ? unit : in.ConsumeIntegral<uint64_t>();
    }
    const State before = s;
    const std::vector<OrvExtentS> outBefore = out;
    const OrvAllocPosS pos = allocator.pos;
    const uint64_t result = allocator.OrvAllocate(req, s.l0, s.l1, s.l2, out);
    CheckCall(before, s, outBefore, out, unit, req, pos, result);
    // The caller frees a few units and, as a caller does, brings the levels back in step.
    if (in.ConsumeBool() && !s.l0.empty()) {
      for (int i = in.ConsumeIntegralInRange<int>(0, 8); i > 0; --i) {
        const uint64_t u = in.ConsumeIntegralInRange<uint64_t>(0, 64u * s.l0.size() - 1);
        s.l0[u / 64] |= uint64_t{1} << (u % 64);
      }
      if (s.w != 0) {
        Rebuild(s);
      }
    }
  }
  return 0;
}
