// ZoRebuildToread: takes the bytes an erase map covers out of a to-read extent map, then widens
// what is left to whole chunks and merges extents that touch or overlap. A chunk drops out of the
// map exactly when every byte of it that was to be read is erased.
//
// The steps rely on the extents of each map being disjoint and ending at or below the 2^40 offset
// cap; input where they do not is refused before anything changes. Within the cap every sum below
// fits in 64 bits, and a rebuilt map is exact: the whole chunks that hold a byte left to read,
// merged, even where the last such chunk reaches past 2^40.
#include <cstdint>
#include <iterator>
#include <map>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "range_math.h"

namespace orv_ec {
namespace {

using ExtentMap = std::map<uint64_t, uint64_t>;

// True when an extent of `extents` ends above the offset cap (or past 2^64).
bool HasExtentPastCap(const ExtentMap& extents) {
  for (const auto& extent : extents) {
    if (SumExceeds(extent.first, extent.second, kOffsetCap)) {
      return true;
    }
  }
  return false;
}

// True when an extent of `extents` starts before its predecessor ends.
bool HasOverlappingExtents(const ExtentMap& extents) {
  auto prev = extents.begin();
  if (prev == extents.end()) {
    return false;
  }
  for (auto cur = std::next(prev); cur != extents.end(); prev = cur, ++cur) {
    if (cur->first - prev->first < prev->second) {
      return true;
    }
  }
  return false;
}

// The bytes both maps cover, as extents in ascending order, in one merge pass.
ExtentMap Intersect(const ExtentMap& eraseMap, const ExtentMap& toRead) {
  ExtentMap overlap;
  auto a = eraseMap.begin();
  auto b = toRead.begin();
  while (a != eraseMap.end() && b != toRead.end()) {
    const uint64_t aEnd = SaturatedEnd(a->first, a->second);
    const uint64_t bEnd = SaturatedEnd(b->first, b->second);
    if (aEnd <= b->first) {
      ++a;
    } else if (a->first >= bEnd) {
      ++b;
    } else if (a->first == b->first && a->second == b->second) {
      overlap.emplace_hint(overlap.end(), a->first, a->second);  // an existing offset keeps its length
      ++a;
      ++b;
    } else {
      const uint64_t lo = a->first > b->first ? a->first : b->first;
      const uint64_t hi = aEnd < bEnd ? aEnd : bEnd;
      if (hi > lo) {  // an extent of no bytes erases nothing
        overlap.emplace_hint(overlap.end(), lo, hi - lo);
      }
      if (aEnd <= bEnd) {
        ++a;
      } else {
        ++b;
      }
    }
  }
  return overlap;
}

// Removes each overlap piece from the to-read extent holding it, keeping the bytes before and
// after the piece as separate extents.
void EraseIt(const ExtentMap& overlap, ExtentMap& toRead) {
  for (const auto& piece : overlap) {
    const uint64_t off = piece.first;
    const uint64_t len = piece.second;
    auto holder = toRead.lower_bound(off);
    if (holder == toRead.end() || holder->first != off) {
      if (holder == toRead.begin()) {
        holder = toRead.end();
      } else {
        --holder;
        if (off >= SaturatedEnd(holder->first, holder->second)) {
          holder = toRead.end();
        }
      }
    }
    if (holder == toRead.end()) {
      ZO_LOG(MOXLOG_DEBUG, ecProcTag, "Func EraseIt toRead is in the end");
      continue;
    }
    const uint64_t head = off - holder->first;  // below the holder's length: off lies inside it
    const uint64_t after = holder->second - head;
    const uint64_t tail = len < after ? after - len : 0;
    if (head == 0) {
      toRead.erase(holder);
    } else {
      holder->second = head;
    }
    if (tail > 0) {
      toRead[off + len] = tail;  // off + len lies inside the holder: no overflow
    }
  }
}

// Widens every extent to whole chunks and drops extents of no bytes. Stops at the first aligned
// extent whose end overflows.
void MakeChunkAligned(uint64_t csize, ExtentMap& toRead) {
  for (auto it = toRead.begin(); it != toRead.end();) {
    const auto next = std::next(it);
    const uint64_t off = it->first;
    const uint64_t len = it->second;
    if (len == 0) {
      toRead.erase(it);  // nothing to read there: no chunk to keep
      it = next;
      continue;
    }
    const uint64_t r = off % csize;
    const uint64_t aOff = off - r;
    // Rounded up without the 2^40 cap, so that the chunk holding the extent's last byte stays
    // whole. With the extent's end at or below 2^40, r + len is too, and the rounded value is
    // either csize itself or below 2^41: nothing overflows.
    const uint64_t rem = (r + len) % csize;
    const uint64_t aLen = rem == 0 ? r + len : r + len + (csize - rem);
    if (aOff == off) {
      if (SumOverflows(off, len)) {
        ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "Func MakeChunkAligned add two large number");
        return;
      }
      it->second = aLen;
    } else {
      toRead.erase(it);
      toRead[aOff] = aLen;  // lies before `next`, so it is not visited again
    }
    it = next;
  }
}

// Merges each extent into its predecessor when the two touch or overlap.
void RebuildMap(ExtentMap& toRead) {
  if (toRead.empty()) {
    return;
  }
  auto prev = toRead.begin();
  auto cur = std::next(prev);
  while (cur != toRead.end()) {
    if (SumOverflows(prev->first, prev->second)) {
      ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "Func RebuildMap 1 add two large number");
      return;
    }
    if (SumOverflows(prev->second, cur->second)) {
      ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "Func RebuildMap 2 add two large number");
      return;
    }
    if (SumOverflows(cur->first, cur->second)) {
      ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "Func RebuildMap 3 add two large number");
      return;
    }
    const uint64_t prevEnd = prev->first + prev->second;
    const uint64_t curEnd = cur->first + cur->second;
    if (cur->first == prevEnd) {
      prev->second += cur->second;
      cur = toRead.erase(cur);
    } else if (cur->first < prevEnd) {
      // The merged extent ends where the later of the two ends: never shorter than either.
      if (curEnd > prevEnd) {
        prev->second = curEnd - prev->first;
      }
      cur = toRead.erase(cur);
    } else {
      prev = cur;
      ++cur;
    }
  }
}

}  // namespace
}  // namespace orv_ec

bool ZoRebuildToread(const std::map<uint64_t, uint64_t>& eraseMap, uint64_t csize,
                     std::map<uint64_t, uint64_t>& toRead) {
  using namespace orv_ec;
  if (csize == 0 || toRead.empty()) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRebuildToread error. len=%ld csize=%ld",
           static_cast<long>(toRead.size()), static_cast<long>(csize));
    return false;
  }
  if (HasExtentPastCap(toRead) || HasExtentPastCap(eraseMap)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRebuildToread error. extent end out range.");
    return false;
  }
  if (HasOverlappingExtents(toRead) || HasOverlappingExtents(eraseMap)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRebuildToread error. extents overlap.");
    return false;
  }
  {
    const ExtentMap overlap = Intersect(eraseMap, toRead);
    if (!overlap.empty()) {
      EraseIt(overlap, toRead);
      MakeChunkAligned(csize, toRead);
      RebuildMap(toRead);
    }
  }
  for (const auto& extent : toRead) {
    ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoRebuildToread toRead<%ld,%ld>", static_cast<long>(extent.first),
           static_cast<long>(extent.second));
  }
  return true;
}
