// Fuzz target: ZoRebuildToread against a byte-level oracle.
//
// The input draws a scale s, a chunk of c scaled cells (csize = c x s), an origin and two extent
// maps whose offsets and lengths are whole cells (plus, now and then, lengths far past 2^40). Every
// cell then holds s bytes that are all read or not, all erased or not, so the oracle works on at
// most a few tens of thousands of cells however large s is: the bytes left to read after the
// erase, widened to whole chunks and merged; the map as it came when nothing was erased; and a
// refusal (false, map untouched) for csize 0, an empty map, an extent ending above 2^40 or
// extents that overlap within one map.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "fuzz_ec_log.h"
#include "fuzz_support.h"
#include "orv_ec/orv_ec.h"

namespace {

using Extents = std::map<uint64_t, uint64_t>;

constexpr uint64_t kCap = uint64_t{1} << 40;
constexpr uint64_t kCellSpan = uint64_t{1} << 13;  // extent offsets are below this many cells
constexpr uint64_t kLenSpan = uint64_t{1} << 11;   // extent lengths are below this many cells

struct Drawn {
  Extents map;
  bool pastCap = false;  // some extent ends above 2^40 (or past 2^64)
};

Drawn DrawExtents(FuzzedDataProvider& in, uint64_t s, uint64_t origin, size_t count) {
  Drawn out;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t off = (origin + in.ConsumeIntegralInRange<uint64_t>(0, kCellSpan - 1)) * s;
    uint64_t len = in.ConsumeIntegralInRange<uint64_t>(0, kLenSpan - 1) * s;
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
      len = in.ConsumeIntegral<uint64_t>() | (uint64_t{1} << 41);  // beyond the cap whatever off is
    }
    out.map[off] = len;
  }
  for (const auto& e : out.map) {
    out.pastCap = out.pastCap || e.first > kCap || e.second > kCap - e.first;
  }
  return out;
}

bool Overlapping(const Extents& m) {
  const std::pair<const uint64_t, uint64_t>* prev = nullptr;
  for (const auto& e : m) {
    if (prev != nullptr && e.first < prev->first + prev->second) {
      return true;
    }
    prev = &e;
  }
  return false;
}

// Marks the cells of `m` (relative to `origin`) in `cells`.
void MarkCells(const Extents& m, uint64_t s, uint64_t origin, std::vector<uint8_t>& cells) {
  for (const auto& e : m) {
    const uint64_t first = e.first / s - origin;
    for (uint64_t c = first; c < first + e.second / s; ++c) {
      cells[c] = 1;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orv_fuzz::StartQuietEcLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  static const uint64_t kScales[] = {1, 2, 3, 7, 512, 4096, 4097, uint64_t{1} << 20, uint64_t{1} << 27,
                                     (uint64_t{1} << 27) + 1, uint64_t{1} << 28, uint64_t{1} << 30};
  const uint64_t s = in.PickValueInArray(kScales);
  const uint64_t c = in.ConsumeIntegralInRange<uint64_t>(0, 70);  // chunk size in cells; 0 refused
  const uint64_t csize = c * s;
  // Origin in cells: at 0, anywhere below the cap, just below the cap, or at the top of 2^64.
  uint64_t origin = 0;
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 1:
      origin = in.ConsumeIntegralInRange<uint64_t>(0, kCap / s);
      break;
    case 2:
      origin = kCap / s - in.ConsumeIntegralInRange<uint64_t>(0, std::min(kCap / s, kCellSpan + kLenSpan));
      break;
    case 3:
      origin = UINT64_MAX / s - in.ConsumeIntegralInRange<uint64_t>(kCellSpan + kLenSpan, 2 * (kCellSpan + kLenSpan));
      break;
    default:
      break;
  }
  const size_t readCount = in.ConsumeIntegralInRange<size_t>(0, 40);
  const size_t eraseCount = in.ConsumeIntegralInRange<size_t>(0, 40);
  const Drawn toReadIn = DrawExtents(in, s, origin, readCount);
  const Drawn erase = DrawExtents(in, s, origin, eraseCount);

  Extents actual = toReadIn.map;
  const bool accepted = ZoRebuildToread(erase.map, csize, actual);

  const bool refuse = csize == 0 || toReadIn.map.empty() || toReadIn.pastCap || erase.pastCap ||
                      Overlapping(toReadIn.map) || Overlapping(erase.map);
  if (refuse) {
    ORV_FUZZ_CHECK(!accepted, "accepted input it must refuse (csize %lu)", static_cast<unsigned long>(csize));
    ORV_FUZZ_CHECK(actual == toReadIn.map, "a refused call changed the map");
    return 0;
  }
  ORV_FUZZ_CHECK(accepted, "refused valid input (csize %lu, %zu extents)", static_cast<unsigned long>(csize),
                 toReadIn.map.size());

  const size_t span = static_cast<size_t>(kCellSpan + kLenSpan);
  std::vector<uint8_t> want(span, 0);
  std::vector<uint8_t> gone(span, 0);
  MarkCells(toReadIn.map, s, origin, want);
  MarkCells(erase.map, s, origin, gone);
  bool anyErased = false;
  std::map<uint64_t, bool> keptChunks;  // absolute chunk numbers holding a cell left to read
  for (size_t i = 0; i < span; ++i) {
    anyErased = anyErased || (want[i] != 0 && gone[i] != 0);
    if (want[i] != 0 && gone[i] == 0) {
      keptChunks[(origin + i) / c] = true;
    }
  }
  Extents expected;
  if (!anyErased) {
    expected = toReadIn.map;
  } else {
    uint64_t runStart = 0;
    uint64_t runEnd = 0;  // chunk numbers [runStart, runEnd); empty while equal
    for (const auto& chunk : keptChunks) {
      if (runEnd != runStart && chunk.first == runEnd) {
        ++runEnd;
        continue;
      }
      if (runEnd != runStart) {
        expected[runStart * csize] = (runEnd - runStart) * csize;
      }
      runStart = chunk.first;
      runEnd = chunk.first + 1;
    }
    if (runEnd != runStart) {
      expected[runStart * csize] = (runEnd - runStart) * csize;
    }
  }
  if (actual != expected) {
    std::fprintf(stderr, "csize %lu origin %lu scale %lu\n", static_cast<unsigned long>(csize),
                 static_cast<unsigned long>(origin), static_cast<unsigned long>(s));
    for (const auto& e : expected) {
      std::fprintf(stderr, "  expected %lu+%lu\n", static_cast<unsigned long>(e.first),
                   static_cast<unsigned long>(e.second));
    }
    for (const auto& e : actual) {
      std::fprintf(stderr, "  actual   %lu+%lu\n", static_cast<unsigned long>(e.first),
                   static_cast<unsigned long>(e.second));
    }
    orv_fuzz::Fail("rebuilt map differs from the byte-level oracle");
  }
  return 0;
}
