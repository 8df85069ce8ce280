// Whether a partial write should update the chunks it writes or overwrite its stripes (by the
// number of chunk reads each needs), and the description of the chunks an update touches.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"

using orv_ec::ecInterfaceTag;

namespace {

// Logs the refusal of a geometry whose read counts would come out negative (sWidth other than
// k * cSize); the caller then chooses the overwrite.
void LogInconsistentGeometry(const ZoEcInfo& info) {
  ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoShouldUseUpdate error inconsistent geometry. k=%ld cSize=%ld sWidth=%ld",
         static_cast<long>(info.k), static_cast<long>(info.cSize), static_cast<long>(info.sWidth));
}

}  // namespace

bool ZoShouldUseUpdate(const ZoEcInfo& info, const std::pair<uint64_t, uint64_t>& range) {
  if (info.cSize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoShouldUseUpdate error div/mod zero.");
    return false;
  }
  const std::pair<uint64_t, uint64_t> stripeAlign = ZoOffsetLenToChunkBounds(range, info.sWidth);
  const std::pair<uint64_t, uint64_t> chunkAlign = ZoOffsetLenToChunkBounds(range, info.cSize);
  const std::pair<uint64_t, uint64_t> unitAlign = ZoOffsetLenToChunkBounds(range, info.alignSize);

  // An overwrite also reads the first chunk when the range starts past its first alignment unit,
  // and the last chunk when it holds bytes after the range's last alignment unit.
  const uint64_t headExtra = chunkAlign.first != unitAlign.first ? 1 : 0;
  const uint64_t tailExtra =
      EquAfterPlus(unitAlign.first, unitAlign.second, chunkAlign.first, chunkAlign.second) ? 0 : 1;
  const uint64_t extras = headExtra + tailExtra;

  uint64_t updateReadCount = 0;
  uint64_t overwriteReadCount = 0;
  if (stripeAlign.second > info.sWidth) {
    if (stripeAlign.second < chunkAlign.second) {
      LogInconsistentGeometry(info);
      return false;
    }
    updateReadCount = std::min(chunkAlign.second / info.cSize, info.k);
    overwriteReadCount = (stripeAlign.second - chunkAlign.second) / info.cSize + extras;
  } else {
    updateReadCount = chunkAlign.second / info.cSize;
    // k - update + extras is taken modulo 2^64, which is exact whenever the true value is >= 0.
    if (updateReadCount > extras && updateReadCount - extras > info.k) {
      LogInconsistentGeometry(info);
      return false;
    }
    overwriteReadCount = info.k - updateReadCount + extras;
  }

  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag,
         "Func ZoShouldUseUpdate range<%ld,%ld> stripe_align<%ld,%ld> chunk_align<%ld,%ld> "
         "update_read_count=%ld overwrite_read_count=%ld",
         static_cast<long>(range.first), static_cast<long>(range.second), static_cast<long>(stripeAlign.first),
         static_cast<long>(stripeAlign.second), static_cast<long>(chunkAlign.first),
         static_cast<long>(chunkAlign.second), static_cast<long>(updateReadCount),
         static_cast<long>(overwriteReadCount));
  return updateReadCount < overwriteReadCount;  // a tie goes to the overwrite
}

void ZoPrepareUpdateChunks(const ZoEcInfo& info, uint64_t offset, uint64_t blLength, ZoChunkInfo& chunkInfo) {
  if (info.k == 0 || info.sWidth == 0 || info.cSize == 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoPrepareUpdateChunks error div/mod zero.");
    return;
  }
  const uint64_t index = (offset % info.sWidth) / info.cSize;
  const uint64_t wholeChunks = blLength / info.cSize;
  const uint64_t count = std::min(wholeChunks, info.k);
  // Less than a stripe of data fills whole chunks; otherwise it is spread over all k data chunks.
  const uint64_t chunkLen = wholeChunks < info.k ? info.cSize : blLength / info.k;
  chunkInfo.index = index;
  chunkInfo.count = count;
  chunkInfo.chunkLen = chunkLen;
  ZO_LOG(MOXLOG_DEBUG, ecInterfaceTag, "Func ZoPrepareUpdateChunks offset=%ld blLength=%ld index=%ld count=%ld chunkLen=%ld",
         static_cast<long>(offset), static_cast<long>(blLength), static_cast<long>(index),
         static_cast<long>(count), static_cast<long>(chunkLen));
}
