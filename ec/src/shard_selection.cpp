// Shard selection: which shards a run of chunk positions, a byte range or a set of write extents
// involves (ZoGetReconstructShards, ZoGetRelatedShards, ZoGetWriteToShards). All three only add to
// the caller's container; on refused input they log one CRITICAL line and add nothing.
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "range_math.h"

namespace orv_ec {
namespace {

// Data position of the i-th position of a run that may run past the last data position.
inline uint64_t WrapToData(uint64_t i, uint64_t k) { return i < k ? i : i % k; }

// The data positions whose shards ZoGetWriteToShards has inserted, so that each position is
// looked at once however many extents cover it: a call costs its k positions plus its extents,
// not extents x k.
class DataPositionsSeen {
 public:
  // Up to 256 positions are kept in place, more on the heap.
  explicit DataPositionsSeen(uint64_t k) : words_(local_), unseen_(k) {
    if (k > 64 * kLocalWords) {
      heap_.assign(static_cast<size_t>((k + 63) / 64), 0);
      words_ = heap_.data();
    }
  }
  DataPositionsSeen(const DataPositionsSeen&) = delete;
  DataPositionsSeen& operator=(const DataPositionsSeen&) = delete;

  // Inserts the shard of every position of [lo, hi) not seen before. Requires hi <= k.
  void AddRun(uint64_t lo, uint64_t hi, const ZoEcInfo& info, std::set<int>& shards) {
    while (lo < hi && unseen_ > 0) {
      const uint64_t bit = lo % 64;
      const uint64_t width = hi - lo < 64 - bit ? hi - lo : 64 - bit;
      const uint64_t mask = (width == 64 ? ~uint64_t{0} : ((uint64_t{1} << width) - 1)) << bit;
      uint64_t& word = words_[lo / 64];
      for (uint64_t fresh = mask & ~word; fresh != 0; fresh &= fresh - 1) {
        shards.insert(ShardOfPosition(info, lo - bit + static_cast<uint64_t>(__builtin_ctzll(fresh))));
        --unseen_;
      }
      word |= mask;
      lo += width;
    }
  }

 private:
  static constexpr uint64_t kLocalWords = 4;
  uint64_t local_[kLocalWords] = {};
  std::vector<uint64_t> heap_;
  uint64_t* words_;  // bit p: position p seen
  uint64_t unseen_;  // data positions not seen yet
};

}  // namespace
}  // namespace orv_ec

void ZoGetReconstructShards(uint32_t start, uint32_t count, uint64_t len, const ZoEcInfo& info,
                            std::vector<int>& shards) {
  using namespace orv_ec;
  if (info.k == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetReconstructShards error. k == 0.");
    return;
  }
  if (len == 0 || len > kOffsetCap) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetReconstructShards error. len out range.");
    return;
  }
  if (info.cSize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetReconstructShards error. cSize == 0.");
    return;
  }
  if (info.chunkMapping == nullptr) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetReconstructShards error. chunkMapping == nullptr.");
    return;
  }
  // One pass per chunk-sized row of len, the last partial row included.
  const uint64_t passes = ChunkPieceCount(0, len, info.cSize);
  const uint32_t end = start + count;  // may wrap: such a run is empty below
  const uint64_t run = (end <= kMaxPositionRunEnd && start < end) ? uint64_t{end} - start : 0;
  if (run > kMaxPlannedPieces / passes) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetReconstructShards error. shard count out range.");
    return;
  }
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "ZoGetReconstructShards start=%u count=%u len=%ld", start, count,
         static_cast<long>(len));
  if (run == 0) {
    return;  // every pass would add nothing
  }
  for (uint64_t pass = 0; pass < passes; ++pass) {
    for (uint32_t i = start; i < end; ++i) {
      const int shard = ShardOfPosition(info, WrapToData(i, info.k));
      shards.push_back(shard);
      ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "ZoGetReconstructShards shardID=%d", shard);
    }
  }
}

void ZoGetRelatedShards(const std::pair<uint64_t, uint64_t>& range, const ZoEcInfo& info,
                        std::set<int>& shards) {
  using namespace orv_ec;
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoGetRelatedShards off=%ld len=%ld", static_cast<long>(range.first),
         static_cast<long>(range.second));
  if (info.k == 0 || info.cSize == 0 || info.sWidth == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetRelatedShards error div/mod zero");
    return;
  }
  if (info.chunkMapping == nullptr) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetRelatedShards error chunkMapping is null");
    return;
  }
  const uint64_t r = range.first % info.cSize;
  if (SumOverflows(range.second, r)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetRelatedShards add two large number");
    return;
  }
  // Length of the range widened to whole chunks, counted from the start of its first chunk.
  const uint64_t span = NextChunkEnd(range.second + r, info.cSize);
  uint64_t first = 0;
  uint64_t n = 0;
  if (span < info.sWidth) {
    n = span / info.cSize;
    first = ChunkPosition(info, range.first - r);
    // Positions are counted in 32 bits; a run that does not fit there has no meaning.
    if (SumExceeds(first, n, kMaxUnsigned32)) {
      ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetRelatedShards add two large number");
      return;
    }
  } else {
    // At least a stripe: every data position. A k beyond 32 bits cannot be counted.
    if (info.k > kMaxUnsigned32) {
      ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetRelatedShards error position count out range");
      return;
    }
    n = info.k;
  }
  const uint64_t last = first + n;  // fits in 32 bits after the checks above
  if (last > kMaxSigned32 || last <= first) {
    return;
  }
  if (n > kMaxStripePositions) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetRelatedShards error position count out range");
    return;
  }
  for (uint64_t i = first; i < last; ++i) {
    const int shard = ShardOfPosition(info, WrapToData(i, info.k));
    shards.insert(shard);
    ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoGetRelatedShards out=%d", shard);
  }
}

void ZoGetWriteToShards(const std::map<uint64_t, uint64_t>& writeMap, const ZoEcInfo& info,
                        std::set<int>& shards) {
  using namespace orv_ec;
  if (info.sWidth == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetWriteToShards error. sWidth == 0.");
    return;
  }
  if (info.cSize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetWriteToShards error. cSize == 0.");
    return;
  }
  if (info.k == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetWriteToShards error. k == 0.");
    return;
  }
  if (info.k > kMaxStripePositions || info.chunkCount > kMaxStripePositions) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetWriteToShards error. chunkCount out range.");
    return;
  }
  if (info.chunkMapping == nullptr) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoGetWriteToShards error. chunkMapping == nullptr.");
    return;
  }
  DataPositionsSeen seen(info.k);
  for (const auto& extent : writeMap) {
    const uint64_t n = extent.second / info.cSize;  // whole chunks only
    uint64_t p = (extent.first % info.sWidth) / info.cSize;
    if (p >= info.k) {
      p = 0;  // the first step wraps
    }
    // Positions cycle through 0..k-1, so k steps already reach every shard the extent touches:
    // the run p.., wrapping to 0.. for what is left.
    const uint64_t steps = n < info.k ? n : info.k;
    const uint64_t firstPart = steps < info.k - p ? steps : info.k - p;
    seen.AddRun(p, p + firstPart, info, shards);
    seen.AddRun(0, steps - firstPart, info, shards);
    ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoGetWriteToShards twc<%ld,%ld>", static_cast<long>(extent.first),
           static_cast<long>(extent.second));
  }
  if (shards.empty() || info.k >= info.chunkCount) {
    return;
  }
  // Coding positions go in under their own numbers, not through chunkMapping.
  for (uint64_t i = info.k; i < info.chunkCount; ++i) {
    shards.insert(static_cast<int>(i));
    ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoGetWriteToShards wtr=%ld", static_cast<long>(i));
  }
}
