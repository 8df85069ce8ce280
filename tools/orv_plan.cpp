// orv_plan: plans a partial write and a read of an erasure-coded object with liborv_ec, forms the
// XOR parity with the region XOR, allocates space for the written shards with liborv_alloc on a
// fragmented device, and logs through libmoxlog. Without arguments it runs on a built-in default.
// Exit status: 0 done, 1 the libraries refused to start or an allocation came back short, 2 a bad
// option.
#include <moxlog/moxlog.h>
#include <orv_alloc/orv_alloc.h>
#include <orv_ec/orv_ec.h>

#include <cstdio>
#include <string>

#include "plan_options.h"
#include "plan_report.h"
#include "plan_steps.h"

#ifndef ORV_PROJECT_VERSION
#error "ORV_PROJECT_VERSION must be defined by the build"
#endif

namespace {

constexpr const char* kModule = "orv_plan";

// Starts liborv_ec's logging; on a refusal prints the one line that names the reason.
bool StartLibraries(const orv_plan::PlanOptions& o) {
  const MoxlogParam param{kModule, o.logDir, "", MOXLOG_DEBUG, MOXLOG_DEBUG, 1000};
  if (ZoInit(param) == 0) return true;
  if (!orv_plan::ProcessorAccepted()) {
    std::fprintf(stderr,
                 "orv_plan: processor not supported: the libraries refuse to run on it (liborv_ec did not start; "
                 "its log under %s names the processor)\n",
                 o.logDir.c_str());
  } else {
    std::fprintf(stderr,
                 "orv_plan: log directory refused: %s (liborv_ec did not start; logs go under /var/log/ or /home/)\n",
                 o.logDir.c_str());
  }
  return false;
}

// The first allocation that came back short, or nullptr.
const orv_plan::AllocationRequest* ShortRequest(const orv_plan::AllocationResult& a) {
  for (const auto& r : a.requests) {
    if (r.allocated < r.requested) return &r;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  orv_plan::PlanOptions o;
  std::string error;
  switch (orv_plan::ParsePlanOptions(argc, argv, o, error)) {
    case orv_plan::ParseOutcome::kHelp:
      std::fputs(orv_plan::UsageText(), stdout);
      return 0;
    case orv_plan::ParseOutcome::kVersion:
      std::printf("orv_plan %s\n", ORV_PROJECT_VERSION);
      return 0;
    case orv_plan::ParseOutcome::kError:
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    case orv_plan::ParseOutcome::kRun:
      break;
  }
  if (!StartLibraries(o)) return 1;

  const ZoEcInfo info{o.k, o.k + o.codingChunks, &o.mapping, o.chunkSize, o.k * o.chunkSize, o.alignSize};
  const orv_plan::WritePlan write = orv_plan::PlanWrite(o, info);
  const orv_plan::ReadPlan read = orv_plan::PlanRead(o, info);
  const orv_plan::ParityResult parity = orv_plan::FormParity(o);
  const orv_plan::AllocationResult allocation = orv_plan::AllocateShards(o, write);

  MoxlogParam current{};
  std::string logFile = "(unknown)";
  if (MoxlogGetCurParam(kModule, current) == 0) logFile = current.fullFileName;
  ZoFinish();

  const orv_plan::PlanRun run{o, info, write, read, parity, allocation, logFile};
  const std::string report = o.json ? orv_plan::JsonReport(run, ORV_PROJECT_VERSION) : orv_plan::TextReport(run);
  std::fputs(report.c_str(), stdout);

  if (const orv_plan::AllocationRequest* r = ShortRequest(allocation)) {
    std::fprintf(stderr, "orv_plan: allocation came back short: %s got %llu of %llu bytes (device too small)\n",
                 r->name.c_str(), static_cast<unsigned long long>(r->allocated),
                 static_cast<unsigned long long>(r->requested));
    return 1;
  }
  if (!allocation.levelsConsistent) {
    std::fprintf(stderr, "orv_plan: the allocator's levels are out of step with level 0 after allocating\n");
    return 1;
  }
  return 0;
}
