// liborv_ec: planning of partial reads and writes of erasure-coded objects, and a 128-bit SIMD XOR
// of memory regions.
//
// An object is stored as stripes of k data chunks (positions 0..k-1) and chunkCount-k coding
// chunks, each cSize bytes; sWidth = k * cSize bytes of object data per stripe. Byte x of the
// object lies in chunk position (x mod sWidth) / cSize, at shard-local offset
// (x / sWidth) * cSize + x mod cSize. Chunk position p is stored on shard (*chunkMapping)[p], or
// on shard p when p is past the end of the mapping.
//
// Planning functions keep no state. They append to or insert into the caller's output containers
// and never clear them. Each refusal of bad input writes one level-0 (CRITICAL) line to the
// library's log module; what a refusal leaves untouched is stated per function (almost always
// every output). Positions and range ends up to 2^40 bytes are inside the contract; each function
// says what it does with larger ones (refuses them, caps them, or stays exact). Traces are
// level-4 (DEBUG) lines: each is a call into libmoxlog, which drops it cheaply when the module's
// levels filter DEBUG.
//
// Per-call limits: a stripe-wide step visits at most 2^16 chunk positions (k, chunkCount, or the
// chunks of one stripe a range covers) and a call adds at most 2^24 pieces or shard ids; larger
// input is refused before anything is added. Only the extent maps given to ZoGetWriteToShards and
// ZoRebuildToread have no size limit: their cost grows with them. The costs quoted were measured
// on the largest input a call accepts (Release build, one x86-64 core at 2.0 GHz, CPU time, log
// module filtering DEBUG; bench/ec_planning_limits_bench.cpp). "Peak" is the heap memory live at
// once during the call, the output's own growth included.
//
// Threads: the planning functions and ZoRegionNeonXor may run on any number of threads at once,
// each call with its own output containers, while nobody changes the ZoEcInfo or its mapping. Their
// log lines serialise on libmoxlog's one registry lock. ZoInit, ZoReload and ZoFinish replace the
// module name that every log call reads: call them while no other thread is inside the library.
//
// Logging goes through libmoxlog under the module named by ZoInit/ZoReload ("ecpartial" before
// any start). Before a start, or after ZoFinish, the lines go to libmoxlog's default module
// "moxlog" when that is registered, and otherwise each one, every DEBUG trace included, prints a
// "Can not find moduleName" report on standard error (the costs quoted assume a started module).
//
// Exceptions (the same rule in moxlog.h, orv_ec.h and orv_alloc.h): std::bad_alloc is the only
// exception that leaves these libraries, and only from the functions whose comments name it:
// those that grow a container passed in by the caller. It means memory ran out; each such comment
// says what the caller's containers hold then. Every other function, and every other failure,
// ends with a result or a log line, never an exception; libmoxlog throws nothing at all.
#ifndef ORV_EC_ORV_EC_H_
#define ORV_EC_ORV_EC_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <moxlog/moxlog.h>

// Version of this header and of the liborv_ec.so.1 it belongs to.
#define ORV_EC_VERSION_MAJOR 1
#define ORV_EC_VERSION_MINOR 0
#define ORV_EC_VERSION_PATCH 0

#define ORV_EC_API __attribute__((visibility("default")))

// Erasure-code geometry, owned by the caller and never changed or kept by the library.
// chunkMapping must point to a vector (empty: shard ids equal positions); the functions that map
// positions refuse a null pointer.
struct ZoEcInfo {
  uint64_t k;           // data chunks per stripe
  uint64_t chunkCount;  // chunk positions per stripe, data and coding
  const std::vector<int>* chunkMapping;
  uint64_t cSize;      // chunk size in bytes
  uint64_t sWidth;     // object bytes per stripe, k * cSize in a consistent geometry
  uint64_t alignSize;  // alignment unit in bytes: where partial chunks are judged and zeros start
};

// The chunks an update touches: starting position in the stripe, number of data chunks, bytes per
// chunk.
struct ZoChunkInfo {
  uint64_t index;
  uint64_t count;
  uint64_t chunkLen;
};

// --- Start-up ---
//
// All four start functions return 0 when the module is registered and the processor is supported
// (implementer 0x41 with any part, or 0xC0 with part 0xAC3), else 1. After a successful start or
// reload each logs a DEBUG line and checks the processor (the verdict is read once per process);
// a rejected processor logs "unsupported Platform VID=0x%x, PID=0x%x", stops the module again and
// gives 1. None of them throws: out of memory gives 1. Not thread-safe (see the top comment).
// Cost: that of libmoxlog's start (directory checks, a flush thread), plus a file read for the
// file forms.

// Names the module param.usrModuleName (as given, also when empty: libmoxlog then starts its
// default module "moxlog", and the library's lines, naming "", reach it through libmoxlog's
// fallback) and starts it from a private copy of `param`; the caller's record is never changed.
// When libmoxlog refuses the record, logs "Func ZoInit param return 1." under the new name and
// returns 1; the new name stays.
ORV_EC_API int ZoInit(const MoxlogParam& param);

// Names the module "orvec-" + suffix and starts it from that section of the parameter file (an
// unusable file or a missing section starts the module with libmoxlog's default record). On
// failure logs "Func ZoInit path return 1." and returns 1; the new name stays.
ORV_EC_API int ZoInit(const std::string& paramFilePath, const std::string& suffix);

// Stops the current module and starts param's module afresh (MoxlogReloadParam); afterwards the
// library names the module as libmoxlog completed it. 1, with the name unchanged, when the
// current module is not registered or the new start fails (the old module is then stopped).
ORV_EC_API int ZoReload(const MoxlogParam& param);

// Stops the current module and starts "orvec-" + suffix from the parameter file. On failure logs
// "Func ZoReload path return 1." under the new name, restores the old name and returns 1.
ORV_EC_API int ZoReload(const std::string& paramFilePath, const std::string& suffix);

// Stops the current module (its memory ring dumped, queued records written); the name is kept.
// A module that is not registered gets libmoxlog's not-found report on standard error.
ORV_EC_API void ZoFinish();

// --- Stripe and chunk arithmetic ---
//
// These three allocate nothing and never throw; they take a few divisions each (plus one log
// call, except EquAfterPlus) and may run on any number of threads.

// True exactly when a + b == c + d as whole numbers, for all 64-bit inputs (no sum is formed).
// Logs nothing.
ORV_EC_API bool EquAfterPlus(uint64_t a, uint64_t b, uint64_t c, uint64_t d);

// The csize-aligned section [headStart, headStart + headLength) covering the write
// [offset, offset + len): headStart = offset rounded down to csize, the end rounded up to csize
// and capped at 2^40 (a write ending past 2^40 gets a section ending at 2^40). Logs a DEBUG line
// and returns true. Refused with false:
//  - len 0 or csize 0: both outputs untouched;
//  - offset + len past 2^64 - 1 ("Func ZoSetWriteSection add two large number"): headStart IS
//    written (the aligned start), headLength untouched;
//  - offset above 2^40: both outputs untouched.
ORV_EC_API bool ZoSetWriteSection(uint64_t offset, uint64_t len, uint64_t csize, uint64_t& headStart,
                                  uint64_t& headLength);

// The range (offset, length) widened to whole csize granules: offset rounded down, and the length
// from there rounded up to csize and capped at 2^40 (the offset itself is not capped). A zero
// length at an unaligned offset widens to one granule; at an aligned offset it stays 0. A granule
// above 2^40 gives the length 2^40. Logs a DEBUG line. Refused with (0, 0): csize 0, or length +
// (offset mod csize) past 2^64 - 1.
ORV_EC_API std::pair<uint64_t, uint64_t> ZoOffsetLenToChunkBounds(std::pair<uint64_t, uint64_t> in,
                                                                  uint64_t csize);

// --- Update-or-overwrite decision ---
//
// Both allocate nothing and never throw; a few divisions and up to four log calls each; any
// number of threads.

// Whether the write `range` should update the chunks it writes (true) or overwrite its stripes
// (false), by the chunk reads each needs: an update reads the data chunks it writes, an overwrite
// the rest of the stripe plus the first and last chunks that the range covers only in part
// (judged in alignSize units). A tie goes to the overwrite. Each widened length is capped at
// 2^40, so a longer range is judged as if it were 2^40 long. Logs four DEBUG lines.
// Refused with false (one level-0 line): cSize 0; a geometry whose counts would come out negative
// (possible only when sWidth is not k * cSize). A zero sWidth or alignSize is not refused: that
// widening logs its own error and counts as (0, 0), and a decision is still returned.
ORV_EC_API bool ZoShouldUseUpdate(const ZoEcInfo& info, const std::pair<uint64_t, uint64_t>& range);

// Describes the update of blLength bytes written at `offset`: index = chunk position of offset,
// count = min(blLength / cSize, k), chunkLen = cSize when fewer than k whole chunks are written,
// else blLength / k (the data spread over all k chunks). Writes all three fields and logs a DEBUG
// line. Exact for all 64-bit inputs. Refused, with chunkInfo untouched: k, sWidth or cSize 0.
ORV_EC_API void ZoPrepareUpdateChunks(const ZoEcInfo& info, uint64_t offset, uint64_t blLength,
                                      ZoChunkInfo& chunkInfo);

// --- Shard selection ---

// Appends the shard ids of chunk positions start .. start+count-1 (a position i >= k stands for
// data position i mod k), the whole run once per chunk-sized row of len: ceil(len / cSize) times.
// A run that is empty, wraps past 2^32 or ends above 2^31 - 2 adds nothing (only the DEBUG line).
// Logs a DEBUG line, then one per id added.
// Refused, `shards` untouched: k 0; len 0 or above 2^40; cSize 0; chunkMapping null; more than
// 2^24 ids in all (run x rows).
// Cost: the most a call adds is 2^24 ids: 64 MiB kept in `shards`, 96 MiB at the peak of the
// vector's growth, 0.77 s (one call into libmoxlog per id included).
// Throws std::bad_alloc when `shards` cannot grow; it then holds the ids appended so far.
ORV_EC_API void ZoGetReconstructShards(uint32_t start, uint32_t count, uint64_t len, const ZoEcInfo& info,
                                       std::vector<int>& shards);

// Inserts the shards of the data positions holding a byte of `range`, widened to whole chunks: the
// positions from the range's first chunk on, wrapping to position 0 after k - 1 (a range reaching
// into the next stripe adds that stripe's first positions); a widened range of a stripe or more
// adds every data position. A zero length adds the chunk holding the offset when the offset is
// unaligned, and nothing when it is aligned. Any offset is exact; a widened length past 2^40
// counts as 2^40. Logs a DEBUG line first, then one per position.
// Refused, `shards` untouched: k, cSize or sWidth 0; chunkMapping null; length + (offset mod
// cSize) past 2^64 - 1; a run of positions past 32 bits or, for a range of a stripe or more, k past
// 32 bits; more than 2^16 positions. A run ending above 2^31 - 1 adds nothing, without a message.
// Cost: at most 2^16 insertions: 2.5 MiB, 15 ms.
// Throws std::bad_alloc when `shards` cannot grow; it then holds the ids inserted so far.
ORV_EC_API void ZoGetRelatedShards(const std::pair<uint64_t, uint64_t>& range, const ZoEcInfo& info,
                                   std::set<int>& shards);

// Inserts the shards each extent of `writeMap` writes whole chunks of (whole chunks only: an
// extent shorter than cSize adds nothing; positions wrap to 0 after k - 1, at most k per extent),
// then, when `shards` is not empty afterwards (ids it held before count) and k < chunkCount, every
// coding position k .. chunkCount-1 as its own number: coding positions are NOT mapped through
// chunkMapping here. Exact for any offsets and lengths. Logs a DEBUG line per extent and per
// coding position.
// Refused, `shards` untouched: sWidth, cSize or k 0; k or chunkCount above 2^16; chunkMapping null.
// Cost: at most chunkCount (<= 2^16) new ids: 2.5 MiB; time at most min(whole chunks, k) set
// insertions per extent: 13 ms for one whole stripe of k = 65,534, 0.55 s for 100 of them.
// Throws std::bad_alloc when `shards` cannot grow; it then holds the ids inserted so far.
ORV_EC_API void ZoGetWriteToShards(const std::map<uint64_t, uint64_t>& writeMap, const ZoEcInfo& info,
                                   std::set<int>& shards);

// --- Read planning ---

// Appends `rRange` cut at chunk boundaries as (chunk position, length) pieces in ascending byte
// order. Accepts ranges past 2^40 as long as they end within 64 bits. Logs a DEBUG line first and,
// at the end, one per element of `pieces` (also the elements that were there before the call).
// Refused, `pieces` untouched: sWidth or cSize 0; offset + length past 2^64 - 1; more than 2^24
// pieces.
// Cost: the most a call adds is 2^24 pieces, for example 64 KiB chunks over (0, 2^40): 256 MiB
// kept in `pieces`, 384 MiB at the peak of the vector's growth (266 MB resident), 1.4 s. The
// closing traces cost one call into libmoxlog per element the vector holds.
// Throws std::bad_alloc when `pieces` cannot grow; it then holds the pieces appended so far.
ORV_EC_API void ZoReconstructPrepare(const ZoEcInfo& info, const std::pair<uint64_t, uint64_t>& rRange,
                                     std::vector<std::pair<uint64_t, uint64_t>>& pieces);

// Adds, per shard, the (shard-local offset, length) ranges to read to serve `rRange`: the chunk
// pieces of the part before the first stripe boundary and after the last one, and for the whole
// stripes between them one range per data shard. A shard's entry is created when its first range
// is added; identical ranges are held once. A zero length adds nothing. Logs a DEBUG line, and one
// per data shard of the whole-stripe step.
// Refused, `shardRanges` untouched: cSize or sWidth 0 (logged before the DEBUG line); offset +
// length past 2^64 - 1 or above 2^40; sWidth below cSize; chunkMapping null; more than 2^16 chunk
// pieces inside one stripe, before the first boundary or after the last; more than 2^16 data
// positions for the whole-stripe step.
// NOT untouched: with whole stripes and k 0, logs "Func GetShardsRange error. k == 0." and still
// adds the pieces before and after the whole stripes. A k whose value modulo 2^32 - 1 is 0 or
// above 2^31 - 2 skips the whole-stripe step without a message.
// Cost: at most 3 x 2^16 ranges (k = 2^16 of 4 KiB, a range from byte 1 over three stripes):
// 16 MiB, 65 ms.
// Throws std::bad_alloc when `shardRanges` cannot grow; it then holds the ranges added so far.
ORV_EC_API void ZoGetShardsRangeToRead(const std::pair<uint64_t, uint64_t>& rRange, const ZoEcInfo& info,
                                       std::map<int, std::set<std::pair<uint64_t, uint64_t>>>& shardRanges);

// Sets, per shard, the (shard-local offset, length) range of the last stripe that holds no object
// data, taking the object to end where `rRange` ends: from the end rounded up to alignSize to the
// end of each chunk up to the stripe boundary. When the data ends inside the first chunk of its
// stripe, the coding positions k .. chunkCount-1 get such a range too (mapped through
// chunkMapping). Each write replaces that shard's pair; other shards keep theirs. A range ending
// on a stripe boundary that is also a multiple of alignSize sets nothing. Logs a DEBUG line first.
// Refused, `zeroRanges` untouched: cSize, sWidth or alignSize 0; offset + length past 2^64 - 1 or
// above 2^40; the end rounded up to sWidth or alignSize past 2^64 - 1; sWidth below cSize;
// chunkMapping null; more than 2^16 chunk pieces; coding ranges due and chunkCount above 2^16.
// Cost: at most 2^16 pieces plus 2^16 coding positions: 3.5 MiB, 18 ms.
// Throws std::bad_alloc when `zeroRanges` cannot grow; it then holds the pairs set so far.
ORV_EC_API void ZoGetShardZeroRange(const std::pair<uint64_t, uint64_t>& rRange, const ZoEcInfo& info,
                                    std::map<int, std::pair<uint64_t, uint64_t>>& zeroRanges);

// --- Region XOR ---

// dest = sources[0] ^ ... ^ sources[count-1] over blockSize bytes; with one source a copy. Every
// region holds at least blockSize bytes; no alignment is needed. All sources' bytes of a block are
// read before that block of dest is written, so dest may be one of the sources; no other overlap
// is allowed. A blockSize of 0 writes nothing.
// Refused, dest untouched: blockSize not a multiple of 64; count outside 1..256; a null dest,
// sources array or source. The caller learns of a refusal only from the log line.
// Cost: count x blockSize bytes read, blockSize written once, no allocation; never throws. Any
// number of threads, as long as no call's dest overlaps a region another call reads or writes.
ORV_EC_API void ZoRegionNeonXor(char** sources, char* dest, int count, unsigned int blockSize);

// --- To-read map rebuild ---

// Removes from toRead every byte eraseMap covers; if anything was removed, widens what is left to
// whole csize chunks and merges extents that touch or overlap (extents of zero bytes are dropped).
// A chunk thus drops out exactly when every byte of it that was to be read is erased; when nothing
// overlaps, toRead stays exactly as it was (not aligned). Logs a DEBUG line per resulting extent.
// true, also when toRead ends empty; the result is then sorted, disjoint and exact, and
// chunk-aligned whenever something was erased.
// Refused with false, toRead untouched: csize 0; toRead empty; an extent of either map ending above
// 2^40 (one level-0 line, "Func ZoRebuildToread error. extent end out range."); extents that
// overlap inside one map.
// Cost: one merge pass over both maps plus logarithmic map updates; no per-call limit. A private
// map holds the overlap (at most one extent per extent of the two maps), and toRead grows by at
// most one extent per overlap piece. A toRead of 2^20 chunks with a hole in each: 112 MiB peak,
// 0.88 s.
// Throws std::bad_alloc when toRead or the private map cannot grow; toRead is then a valid map
// holding whatever the steps had done so far.
ORV_EC_API bool ZoRebuildToread(const std::map<uint64_t, uint64_t>& eraseMap, uint64_t csize,
                                std::map<uint64_t, uint64_t>& toRead);

#endif  // ORV_EC_ORV_EC_H_
