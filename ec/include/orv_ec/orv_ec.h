// liborv_ec: planning of partial reads and writes of erasure-coded objects, and a 128-bit SIMD XOR
// of memory regions.
//
// An object is stored as stripes of k data chunks (positions 0..k-1) and chunkCount-k coding
// chunks, each cSize bytes; sWidth = k * cSize bytes of object data per stripe. Chunk position p is
// stored on shard (*chunkMapping)[p], or on shard p when p is past the end of the mapping.
//
// The planning functions keep no state and may run on any number of threads. They append to or
// insert into the caller's output containers and never clear them; on bad input they write one
// level-0 line to the library's log module and leave the outputs untouched. Positions and range
// ends up to 2^40 bytes are handled.
//
// Logging goes through libmoxlog under the module named by ZoInit/ZoReload ("ecpartial" before
// any start). ZoInit, ZoReload and ZoFinish must be called while no other thread is inside the
// library.
#ifndef ORV_EC_ORV_EC_H_
#define ORV_EC_ORV_EC_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <moxlog/moxlog.h>

#define ORV_EC_API __attribute__((visibility("default")))

// Erasure-code geometry, owned by the caller; chunkMapping must point to a vector (empty: shard
// ids equal positions).
struct ZoEcInfo {
  uint64_t k;
  uint64_t chunkCount;
  const std::vector<int>* chunkMapping;
  uint64_t cSize;
  uint64_t sWidth;
  uint64_t alignSize;
};

// The chunks an update touches: starting position in the stripe, number of data chunks, bytes per
// chunk.
struct ZoChunkInfo {
  uint64_t index;
  uint64_t count;
  uint64_t chunkLen;
};

// --- Start-up (0: module registered and processor supported; 1 otherwise) ---
ORV_EC_API int ZoInit(const MoxlogParam& param);
ORV_EC_API int ZoInit(const std::string& paramFilePath, const std::string& suffix);  // module "orvec-"+suffix
ORV_EC_API int ZoReload(const MoxlogParam& param);
ORV_EC_API int ZoReload(const std::string& paramFilePath, const std::string& suffix);
ORV_EC_API void ZoFinish();

// --- Stripe and chunk arithmetic ---
// a + b == c + d, exactly, for all 64-bit inputs.
ORV_EC_API bool EquAfterPlus(uint64_t a, uint64_t b, uint64_t c, uint64_t d);
// The csize-aligned section [headStart, headStart + headLength) covering [offset, offset + len).
ORV_EC_API bool ZoSetWriteSection(uint64_t offset, uint64_t len, uint64_t csize, uint64_t& headStart,
                                  uint64_t& headLength);
// The range (offset, length) widened to whole csize granules.
ORV_EC_API std::pair<uint64_t, uint64_t> ZoOffsetLenToChunkBounds(std::pair<uint64_t, uint64_t> in,
                                                                  uint64_t csize);

// --- Update-or-overwrite decision ---
ORV_EC_API bool ZoShouldUseUpdate(const ZoEcInfo& info, const std::pair<uint64_t, uint64_t>& range);
ORV_EC_API void ZoPrepareUpdateChunks(const ZoEcInfo& info, uint64_t offset, uint64_t blLength,
                                      ZoChunkInfo& chunkInfo);

// --- Shard selection ---
ORV_EC_API void ZoGetReconstructShards(uint32_t start, uint32_t count, uint64_t len, const ZoEcInfo& info,
                                       std::vector<int>& shards);
ORV_EC_API void ZoGetRelatedShards(const std::pair<uint64_t, uint64_t>& range, const ZoEcInfo& info,
                                   std::set<int>& shards);
ORV_EC_API void ZoGetWriteToShards(const std::map<uint64_t, uint64_t>& writeMap, const ZoEcInfo& info,
                                   std::set<int>& shards);

// --- Read planning ---
ORV_EC_API void ZoReconstructPrepare(const ZoEcInfo& info, const std::pair<uint64_t, uint64_t>& rRange,
                                     std::vector<std::pair<uint64_t, uint64_t>>& pieces);
ORV_EC_API void ZoGetShardsRangeToRead(const std::pair<uint64_t, uint64_t>& rRange, const ZoEcInfo& info,
                                       std::map<int, std::set<std::pair<uint64_t, uint64_t>>>& shardRanges);
ORV_EC_API void ZoGetShardZeroRange(const std::pair<uint64_t, uint64_t>& rRange, const ZoEcInfo& info,
                                    std::map<int, std::pair<uint64_t, uint64_t>>& zeroRanges);

// --- Region XOR: dest = sources[0] ^ ... ^ sources[count-1] over blockSize bytes ---
// blockSize must be a multiple of 64 and count 1..256; dest may be one of the sources.
ORV_EC_API void ZoRegionNeonXor(char** sources, char* dest, int count, unsigned int blockSize);

// --- To-read map rebuild ---
// Removes from toRead every byte eraseMap covers, then widens what is left to whole csize chunks and
// merges touching extents. false (toRead untouched) for csize 0, an empty toRead, an extent of
// either map ending above 2^40, or extents that overlap inside one map; true otherwise.
ORV_EC_API bool ZoRebuildToread(const std::map<uint64_t, uint64_t>& eraseMap, uint64_t csize,
                                std::map<uint64_t, uint64_t>& toRead);

#endif  // ORV_EC_ORV_EC_H_
