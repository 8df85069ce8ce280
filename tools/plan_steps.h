// The four steps of orv_plan - write plan, read plan, parity, allocation - as results, with the
// notes that explain where the libraries' answers surprise. Output lives in plan_report.
#ifndef ORV_TOOLS_PLAN_STEPS_H_
#define ORV_TOOLS_PLAN_STEPS_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <orv_alloc/orv_alloc.h>
#include <orv_ec/orv_ec.h>

#include "plan_options.h"

namespace orv_plan {

using ShardRanges = std::map<int, std::set<Range>>;

struct WritePlan {
  Range range{0, 0};
  Range section{0, 0};                 // ZoSetWriteSection: whole chunks covering the write
  std::vector<Range> chunks;           // ZoReconstructPrepare: (chunk position, bytes) per touched chunk
  uint64_t touchedChunks = 0;          // chunks of the section (the list above may be refused)
  bool update = false;                 // ZoShouldUseUpdate
  ZoChunkInfo updateChunks{0, 0, 0};   // ZoPrepareUpdateChunks, when update
  ShardRanges readFirst;               // shard ranges to read before writing
  std::set<int> shardsToWrite;         // ZoGetWriteToShards as the library gives it
  std::set<int> shardsToWriteMapped;   // the same with coding positions mapped to their shards
  std::map<int, Range> zeroRanges;     // ZoGetShardZeroRange
  std::vector<std::string> notes;
};

struct ReadPlan {
  Range range{0, 0};
  std::set<int> dataShards;  // ZoGetRelatedShards
  ShardRanges ranges;        // ZoGetShardsRangeToRead
};

struct ParityResult {
  uint64_t bytes = 0;          // bytes of each chunk
  uint64_t checksum = 0;       // FNV-1a of the XOR parity
  bool matchesReference = false;
  bool formed = false;         // false when there are no coding chunks
  int shard = -1;              // shard of the first coding position, when formed
  uint64_t notFormed = 0;      // coding chunks this tool cannot form
  std::vector<std::string> notes;
};

struct AllocationRequest {
  std::string name;
  uint64_t requested = 0;
  uint64_t allocated = 0;
  std::vector<OrvExtentS> extents;
};

struct AllocationResult {
  uint64_t units = 0;
  uint64_t freeUnitsBefore = 0;
  uint64_t partialBefore = 0, freeBefore = 0, partialAfter = 0, freeAfter = 0;
  std::vector<AllocationRequest> requests;
  bool levelsConsistent = false;  // levels and counters match a rebuild from level 0 afterwards
};

// The shard of chunk position p under `mapping` (p itself past its end).
int ShardOf(const std::vector<int>& mapping, uint64_t p);

WritePlan PlanWrite(const PlanOptions& o, const ZoEcInfo& info);
ReadPlan PlanRead(const PlanOptions& o, const ZoEcInfo& info);
ParityResult FormParity(const PlanOptions& o);
AllocationResult AllocateShards(const PlanOptions& o, const WritePlan& write);

// True when the processor passes the libraries' gate: one unit is allocated from a private,
// wholly free bitmap (liborv_alloc refuses every allocation on an unsupported processor).
bool ProcessorAccepted();

}  // namespace orv_plan

#endif  // ORV_TOOLS_PLAN_STEPS_H_
