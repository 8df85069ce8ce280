// orv_plan's two outputs of one run: the text report and the JSON document (described in
// orv_plan.1).
#ifndef ORV_TOOLS_PLAN_REPORT_H_
#define ORV_TOOLS_PLAN_REPORT_H_

#include <string>

#include "plan_steps.h"

namespace orv_plan {

struct PlanRun {
  const PlanOptions& options;
  const ZoEcInfo& info;
  const WritePlan& write;
  const ReadPlan& read;
  const ParityResult& parity;
  const AllocationResult& allocation;
  std::string logFile;
};

std::string TextReport(const PlanRun& run);
std::string JsonReport(const PlanRun& run, const std::string& version);

}  // namespace orv_plan

#endif  // ORV_TOOLS_PLAN_REPORT_H_
