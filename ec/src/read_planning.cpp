// Read planning: a byte range of the object cut into per-chunk pieces (ZoReconstructPrepare), into
// per-shard ranges to read (ZoGetShardsRangeToRead), and the per-shard ranges past the end of the
// data that read as zeros (ZoGetShardZeroRange). Each call first decides whether its input has a
// plan at all and only then touches the caller's container, so a refusal leaves it as it was.
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "range_math.h"

namespace orv_ec {
namespace {

using ShardRanges = std::map<int, std::set<std::pair<uint64_t, uint64_t>>>;

// Cuts [offset, offset + length) at chunk boundaries and adds each piece, as (shard-local offset,
// length), to the set of the shard holding it.
void AddChunkRanges(const ZoEcInfo& info, uint64_t offset, uint64_t length, ShardRanges& shardRanges) {
  while (length > 0) {
    const uint64_t room = BytesToBoundary(offset, info.cSize);
    const uint64_t piece = room < length ? room : length;
    const int shard = ShardOfPosition(info, ChunkPosition(info, offset));
    shardRanges[shard].emplace(ShardLocalOffset(info, offset), piece);
    offset += piece;
    length -= piece;
  }
}

// Number of data positions the whole-stripe step visits: k folded into 32 bits, or 0 when the
// step adds nothing (a folded k of 0 or beyond the signed 32-bit range).
uint64_t WholeStripePositions(uint64_t k) {
  const uint64_t c = k % kPositionFoldModulus;
  return (c == 0 || c > kMaxPositionRunEnd) ? 0 : c;
}

}  // namespace
}  // namespace orv_ec

void ZoReconstructPrepare(const ZoEcInfo& info, const std::pair<uint64_t, uint64_t>& rRange,
                          std::vector<std::pair<uint64_t, uint64_t>>& pieces) {
  using namespace orv_ec;
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoReconstructPrepare rRange.first=%ld rRange.second=%ld",
         static_cast<long>(rRange.first), static_cast<long>(rRange.second));
  if (info.sWidth == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoReconstructPrepare error. sWidth == 0.");
    return;
  }
  if (info.cSize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoReconstructPrepare error. cSize == 0.");
    return;
  }
  // A range past the end of the 64-bit space would wrap back to offset 0.
  if (SumOverflows(rRange.first, rRange.second)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoReconstructPrepare error. rRange out range.");
    return;
  }
  if (ChunkPieceCount(rRange.first, rRange.second, info.cSize) > kMaxPlannedPieces) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "ZoReconstructPrepare error. too many pieces.");
    return;
  }
  uint64_t pos = rRange.first;
  uint64_t remaining = rRange.second;
  while (remaining > 0) {
    const uint64_t room = BytesToBoundary(pos, info.cSize);
    const uint64_t piece = room < remaining ? room : remaining;
    pieces.emplace_back(ChunkPosition(info, pos), piece);
    pos += piece;
    remaining -= piece;
  }
  // Every element is traced, the ones the caller put there before included.
  for (const auto& element : pieces) {
    ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "ZoReconstructPrepare tailLen cInfo<%lu,%lu>",
           static_cast<unsigned long>(element.first), static_cast<unsigned long>(element.second));
  }
}

void ZoGetShardsRangeToRead(const std::pair<uint64_t, uint64_t>& rRange, const ZoEcInfo& info,
                            std::map<int, std::set<std::pair<uint64_t, uint64_t>>>& shardRanges) {
  using namespace orv_ec;
  if (info.cSize == 0 || info.sWidth == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "cSize or sWidth is zero.");
    return;
  }
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoGetShardsRangeToRead rRange<%ld,%ld>", static_cast<long>(rRange.first),
         static_cast<long>(rRange.second));
  if (SumOverflows(rRange.first, rRange.second)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead add two large number");
    return;
  }
  const uint64_t end = rRange.first + rRange.second;
  // Stripe boundaries are only exact up to the offset cap; past it the split has no meaning.
  if (end > kOffsetCap) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead error. rRange out range.");
    return;
  }
  if (info.sWidth < info.cSize) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead error. sWidth < cSize.");
    return;
  }
  if (info.chunkMapping == nullptr) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead error. chunkMapping == nullptr.");
    return;
  }
  if (rRange.second == 0) {
    return;
  }

  // Inside one stripe and not a whole stripe: chunk pieces only.
  if (rRange.first / info.sWidth == (end - 1) / info.sWidth && rRange.second != info.sWidth) {
    if (ChunkPieceCount(rRange.first, rRange.second, info.cSize) > kMaxStripePositions) {
      ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead error. too many pieces.");
      return;
    }
    AddChunkRanges(info, rRange.first, rRange.second, shardRanges);
    return;
  }

  // Head up to the first stripe boundary, whole stripes, tail after the last boundary.
  const uint64_t boundary = NextChunkEnd(rRange.first, info.sWidth);
  const uint64_t head = boundary - rRange.first;
  const uint64_t tail = end % info.sWidth;
  const uint64_t middle = rRange.second - head - tail;
  const uint64_t positions = (middle > 0) ? WholeStripePositions(info.k) : 0;
  if (positions > kMaxStripePositions) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead error. k out range.");
    return;
  }
  if (ChunkPieceCount(rRange.first, head, info.cSize) > kMaxStripePositions ||
      ChunkPieceCount(end - tail, tail, info.cSize) > kMaxStripePositions) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardsRangeToRead error. too many pieces.");
    return;
  }

  AddChunkRanges(info, rRange.first, head, shardRanges);
  if (middle > 0) {
    if (info.k == 0) {
      ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func GetShardsRange error. k == 0.");
    } else {
      // Every whole stripe holds the same run of bytes in each data shard.
      const std::pair<uint64_t, uint64_t> es(StripeShardOffset(info, boundary),
                                             StripeShardOffset(info, middle));
      for (uint64_t i = 0; i < positions; ++i) {
        const int shard = ShardOfPosition(info, i);
        shardRanges[shard].insert(es);
        ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func GetShardsRange chunk=%d es<%ld,%ld>", shard,
               static_cast<long>(es.first), static_cast<long>(es.second));
      }
    }
  }
  AddChunkRanges(info, end - tail, tail, shardRanges);
}

void ZoGetShardZeroRange(const std::pair<uint64_t, uint64_t>& rRange, const ZoEcInfo& info,
                         std::map<int, std::pair<uint64_t, uint64_t>>& zeroRanges) {
  using namespace orv_ec;
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoGetShardZeroRange rRange.first=%ld rRange.second=%ld",
         static_cast<long>(rRange.first), static_cast<long>(rRange.second));
  if (info.cSize == 0 || info.sWidth == 0 || info.alignSize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange error div/mod zero.");
    return;
  }
  if (SumOverflows(rRange.first, rRange.second)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange add two large number");
    return;
  }
  const uint64_t end = rRange.first + rRange.second;
  if (end > kOffsetCap) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange error. rRange out range.");
    return;
  }
  uint64_t stripeEnd = 0;
  uint64_t pos = 0;  // first byte past the data, at an alignment unit
  if (!RoundUpChecked(end, info.sWidth, stripeEnd) || !RoundUpChecked(end, info.alignSize, pos)) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange add two large number");
    return;
  }
  if (info.sWidth < info.cSize) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange error. sWidth < cSize.");
    return;
  }
  if (info.chunkMapping == nullptr) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange error. chunkMapping == nullptr.");
    return;
  }
  // The data ends inside the first chunk of its last stripe: the coding shards get a range too.
  const bool codingToo = ChunkPosition(info, pos) == 0 && pos != stripeEnd;
  const uint64_t pieceCount = pos < stripeEnd ? ChunkPieceCount(pos, stripeEnd - pos, info.cSize) : 0;
  if (pieceCount > kMaxStripePositions) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange error. too many pieces.");
    return;
  }
  if (codingToo && info.k < info.chunkCount && info.chunkCount > kMaxStripePositions) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoGetShardZeroRange error. chunkCount out range.");
    return;
  }

  uint64_t zeroOff = StripeShardOffset(info, rRange.first);
  uint64_t zeroLen = info.cSize;
  while (pos < stripeEnd) {
    const uint64_t so = ShardLocalOffset(info, pos);
    const uint64_t rest = BytesToBoundary(pos, info.cSize);
    zeroRanges[ShardOfPosition(info, ChunkPosition(info, pos))] = std::make_pair(so, rest);
    if (codingToo && so > zeroOff) {
      zeroOff = so;
      zeroLen = rest;
    }
    if (SumOverflows(pos, rest)) {
      break;  // the next chunk boundary lies past the 64-bit space, so past stripeEnd too
    }
    pos += rest;
  }
  if (codingToo) {
    // Coding positions are mapped through chunkMapping here.
    for (uint64_t i = info.k; i < info.chunkCount; ++i) {
      zeroRanges[ShardOfPosition(info, i)] = std::make_pair(zeroOff, zeroLen);
    }
  }
}
