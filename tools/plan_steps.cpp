// The steps of orv_plan: each calls the libraries for one part of the plan and keeps their answers,
// with notes where an answer means something other than it seems.
#include "plan_steps.h"

#include <algorithm>
#include <string>

#include "device_levels.h"

namespace orv_plan {
namespace {

constexpr uint64_t kUnset = ~uint64_t{0};

std::string JoinShards(const std::set<int>& shards) {
  std::string text;
  for (int s : shards) text += (text.empty() ? "" : " ") + std::to_string(s);
  return text.empty() ? "(none)" : text;
}

void ExplainWrite(const PlanOptions& o, const ZoEcInfo& info, WritePlan& p) {
  if (p.chunks.size() != p.touchedChunks) {
    p.notes.push_back("the write touches " + std::to_string(p.touchedChunks) +
                      " chunks, more than liborv_ec lists in one call (its log says so): the chunk list is empty");
  }
  if (p.update && p.updateChunks.count != p.touchedChunks) {
    p.notes.push_back("the write touches " + std::to_string(p.touchedChunks) + " chunk(s); the update's count of " +
                      std::to_string(p.updateChunks.count) + " is whole chunks of data (" +
                      std::to_string(o.write.second) + " / " + std::to_string(o.chunkSize) + ", at most k)");
  }
  if (p.shardsToWrite != p.shardsToWriteMapped) {
    std::string coding;
    for (uint64_t pos = info.k; pos < info.chunkCount; ++pos) {
      coding += " " + std::to_string(pos) + "->" + std::to_string(ShardOf(o.mapping, pos));
    }
    p.notes.push_back("liborv_ec lists the coding positions as shard ids without the mapping; mapped (position->shard):" +
                      coding + ", so the shards to write are " + JoinShards(p.shardsToWriteMapped));
  }
  if (!p.zeroRanges.empty()) {
    p.notes.push_back("zero ranges assume the object ends where the write ends (byte " +
                      std::to_string(o.write.first + o.write.second) +
                      "): the rest of its last stripe then reads as zeros; if the object goes on, those bytes are data");
  }
}

}  // namespace

int ShardOf(const std::vector<int>& mapping, uint64_t p) {
  return p < mapping.size() ? mapping[p] : static_cast<int>(p);
}

WritePlan PlanWrite(const PlanOptions& o, const ZoEcInfo& info) {
  WritePlan p;
  p.range = o.write;
  ZoSetWriteSection(o.write.first, o.write.second, o.chunkSize, p.section.first, p.section.second);
  p.touchedChunks = p.section.second / o.chunkSize;
  ZoReconstructPrepare(info, o.write, p.chunks);
  p.update = ZoShouldUseUpdate(info, o.write);
  std::map<uint64_t, uint64_t> toRead;
  if (p.update) {
    // An update reads the old contents of the chunks it writes.
    ZoPrepareUpdateChunks(info, o.write.first, o.write.second, p.updateChunks);
    toRead[p.section.first] = p.section.second;
  } else {
    // An overwrite reads the rest of its stripes: every chunk the write does not cover whole.
    const Range stripes = ZoOffsetLenToChunkBounds(o.write, info.sWidth);
    toRead[stripes.first] = stripes.second;
    ZoRebuildToread({{o.write.first, o.write.second}}, o.chunkSize, toRead);
  }
  for (const auto& extent : toRead) ZoGetShardsRangeToRead(extent, info, p.readFirst);

  const std::map<uint64_t, uint64_t> section{{p.section.first, p.section.second}};
  ZoGetWriteToShards(section, info, p.shardsToWrite);
  ZoEcInfo dataOnly = info;
  dataOnly.chunkCount = info.k;
  ZoGetWriteToShards(section, dataOnly, p.shardsToWriteMapped);
  if (!p.shardsToWriteMapped.empty()) {
    for (uint64_t pos = info.k; pos < info.chunkCount; ++pos) p.shardsToWriteMapped.insert(ShardOf(o.mapping, pos));
  }
  ZoGetShardZeroRange(o.write, info, p.zeroRanges);
  ExplainWrite(o, info, p);
  return p;
}

ReadPlan PlanRead(const PlanOptions& o, const ZoEcInfo& info) {
  ReadPlan r;
  r.range = o.read;
  ZoGetRelatedShards(o.read, info, r.dataShards);
  ZoGetShardsRangeToRead(o.read, info, r.ranges);
  return r;
}

ParityResult FormParity(const PlanOptions& o) {
  ParityResult r;
  r.bytes = o.chunkSize;
  if (o.codingChunks == 0) {
    r.notes.push_back("no coding chunks (--m 0): there is no parity to form");
    return r;
  }
  // The region XOR works in 64-byte blocks: the chunks are padded with zeros to a whole block,
  // which leaves the parity of the chunk bytes as it is.
  const uint64_t block = (o.chunkSize + 63) / 64 * 64;
  std::vector<std::vector<char>> data(o.k, std::vector<char>(block, 0));
  std::vector<char*> sources;
  uint32_t state = 12345;
  for (auto& chunk : data) {
    for (uint64_t i = 0; i < o.chunkSize; ++i) {
      state = state * 1103515245u + 12345u;
      chunk[i] = static_cast<char>(state >> 24);
    }
    sources.push_back(chunk.data());
  }
  std::vector<char> parity(block, 0);
  ZoRegionNeonXor(sources.data(), parity.data(), static_cast<int>(o.k), static_cast<unsigned int>(block));

  r.matchesReference = true;
  r.checksum = 1469598103934665603ull;
  for (uint64_t i = 0; i < o.chunkSize; ++i) {
    char x = 0;
    for (const auto& chunk : data) x = static_cast<char>(x ^ chunk[i]);
    r.matchesReference = r.matchesReference && x == parity[i];
    r.checksum = (r.checksum ^ static_cast<unsigned char>(parity[i])) * 1099511628211ull;
  }
  r.formed = true;
  r.shard = ShardOf(o.mapping, o.k);
  r.notFormed = o.codingChunks - 1;
  if (r.notFormed > 0) {
    r.notes.push_back("XOR parity is the first coding chunk only (position " + std::to_string(o.k) + ", shard " +
                      std::to_string(r.shard) + "); the other " + std::to_string(r.notFormed) +
                      " coding chunk(s) need Galois-field arithmetic, which this project does not provide");
  }
  return r;
}

AllocationResult AllocateShards(const PlanOptions& o, const WritePlan& write) {
  AllocationResult r;
  r.units = o.deviceBytes / o.unitBytes;
  std::vector<uint64_t> l0 = FragmentedLevelZero(r.units);
  std::vector<uint64_t> l1;
  std::vector<uint64_t> l2;
  r.freeUnitsBefore = CountFreeUnits(l0);
  uint64_t partial = 0;
  uint64_t full = 0;
  OrvAllocator alloc(o.wordsPerEntry, o.unitBytes, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
  BuildLevels(alloc, l0, l1, l2);
  r.partialBefore = partial;
  r.freeBefore = full;

  // Each written shard gets one chunk per stripe that the write's section touches, in whole units.
  const uint64_t sWidth = o.k * o.chunkSize;
  const uint64_t stripes = (write.section.first + write.section.second - 1) / sWidth - write.section.first / sWidth + 1;
  const uint64_t shardUnits = (stripes * o.chunkSize + o.unitBytes - 1) / o.unitBytes;
  for (int shard : write.shardsToWriteMapped) {
    r.requests.push_back({"shard " + std::to_string(shard), shardUnits * o.unitBytes, 0, {}});
  }
  // Two more requests, sized to the space left, show the fast path and extent merging.
  const uint64_t wanted = shardUnits * write.shardsToWriteMapped.size();
  const uint64_t left = r.freeUnitsBefore > wanted ? r.freeUnitsBefore - wanted : 0;
  if (left / 8 > 0) r.requests.push_back({"journal", std::min<uint64_t>(64, left / 8) * o.unitBytes, 0, {}});
  if (left / 4 > 0) r.requests.push_back({"large object", std::min<uint64_t>(1000, left / 4) * o.unitBytes, 0, {}});

  for (auto& request : r.requests) {
    request.allocated =
        alloc.OrvAllocate(OrvAllocInfoS{request.requested, o.unitBytes}, l0, l1, l2, request.extents);
  }
  r.partialAfter = partial;
  r.freeAfter = full;

  uint64_t checkPartial = 0;
  uint64_t checkFree = 0;
  OrvAllocator fresh(o.wordsPerEntry, o.unitBytes, OrvAllocPosS{kUnset, kUnset, 0}, checkPartial, checkFree);
  std::vector<uint64_t> checkL1;
  std::vector<uint64_t> checkL2;
  BuildLevels(fresh, l0, checkL1, checkL2);
  r.levelsConsistent = l1 == checkL1 && l2 == checkL2 && partial == checkPartial && full == checkFree;
  return r;
}

bool ProcessorAccepted() {
  uint64_t partial = 0;
  uint64_t full = 0;
  OrvAllocator probe(1, 1, OrvAllocPosS{kUnset, kUnset, 0}, partial, full);
  std::vector<uint64_t> l0(1, ~uint64_t{0});
  std::vector<uint64_t> l1;
  std::vector<uint64_t> l2;
  BuildLevels(probe, l0, l1, l2);
  std::vector<OrvExtentS> out;
  return probe.OrvAllocate(OrvAllocInfoS{1, 1}, l0, l1, l2, out) == 1;
}

}  // namespace orv_plan
