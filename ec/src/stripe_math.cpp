// Exact comparison of two sums, and the widening of a byte range to whole chunks: as a
// start/length section with zero and overflow checks (ZoSetWriteSection), and as an
// offset/length pair whose length is capped (ZoOffsetLenToChunkBounds).
#include <cstdint>
#include <utility>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "range_math.h"

using orv_ec::ecInterfaceTag;
using orv_ec::ecProcTag;
using orv_ec::kOffsetCap;
using orv_ec::NextChunkEnd;
using orv_ec::RoundDown;
using orv_ec::SumOverflows;

bool EquAfterPlus(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
  // a + b == c + d  <=>  a - c == d - b, compared on the side where both differences are >= 0.
  if (a > c) {
    return d > b && a - c == d - b;
  }
  return b >= d && c - a == b - d;
}

bool ZoSetWriteSection(uint64_t offset, uint64_t len, uint64_t csize, uint64_t& headStart,
                       uint64_t& headLength) {
  if (len == 0 || csize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoSetWriteSection error. len=%ld csize=%ld",
           static_cast<long>(len), static_cast<long>(csize));
    return false;
  }
  const uint64_t start = RoundDown(offset, csize);
  if (SumOverflows(offset, len)) {
    headStart = start;  // callers see the aligned start even when the end overflows
    ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "Func ZoSetWriteSection add two large number");
    return false;
  }
  if (offset > kOffsetCap) {
    // The end would be clamped below the start: no meaningful section exists.
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoSetWriteSection error. offset=%ld above limit=%ld",
           static_cast<long>(offset), static_cast<long>(kOffsetCap));
    return false;
  }
  // start <= offset <= 2^40, and the rounded end is either above offset + len or the cap itself,
  // so the difference never wraps.
  const uint64_t end = NextChunkEnd(offset + len, csize);
  headStart = start;
  headLength = end - start;
  ZO_LOG(MOXLOG_DEBUG, ecProcTag,
         "Func ZoSetWriteSection offset=%ld len=%ld csize=%ld headStart=%ld headLength=%ld",
         static_cast<long>(offset), static_cast<long>(len), static_cast<long>(csize),
         static_cast<long>(headStart), static_cast<long>(headLength));
  return true;
}

std::pair<uint64_t, uint64_t> ZoOffsetLenToChunkBounds(std::pair<uint64_t, uint64_t> in, uint64_t csize) {
  if (csize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoOffsetLenToChunkBounds error csize == 0");
    return {0, 0};
  }
  const uint64_t r = in.first % csize;
  if (SumOverflows(in.second, r)) {
    // in.second + r would wrap before rounding and give a meaningless length.
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag,
           "Func ZoOffsetLenToChunkBounds error. in.first=%ld in.second=%ld csize=%ld add two large number",
           static_cast<long>(in.first), static_cast<long>(in.second), static_cast<long>(csize));
    return {0, 0};
  }
  const uint64_t off = RoundDown(in.first, csize);
  const uint64_t len = NextChunkEnd(in.second + r, csize);
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag,
         "Func ZoOffsetLenToChunkBounds in.first=%ld in.second=%ld csize=%ld, off=%ld len=%ld",
         static_cast<long>(in.first), static_cast<long>(in.second), static_cast<long>(csize),
         static_cast<long>(off), static_cast<long>(len));
  return {off, len};
}
