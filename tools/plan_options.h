// The options of orv_plan: their defaults, and the parser that checks every value (decimal
// numbers only, ranges, the chunk mapping) before anything runs.
#ifndef ORV_TOOLS_PLAN_OPTIONS_H_
#define ORV_TOOLS_PLAN_OPTIONS_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orv_plan {

using Range = std::pair<uint64_t, uint64_t>;  // (offset, length) in bytes

// Largest range end the planning functions handle.
constexpr uint64_t kOffsetCap = uint64_t{1} << 40;
// Largest allocation unit: a run of 64 units must fit in a 32-bit extent length.
constexpr uint64_t kMaxUnit = UINT32_MAX / 64u;

struct PlanOptions {
  uint64_t k = 4;
  uint64_t codingChunks = 2;
  uint64_t chunkSize = 4096;
  uint64_t alignSize = 512;
  std::vector<int> mapping;  // empty: shard id = chunk position
  Range write{5000, 10000};
  Range read{1000, 30000};
  std::string logDir = "/var/log/orv_plan/";
  uint64_t deviceBytes = uint64_t{1} << 30;
  uint64_t unitBytes = 4096;
  uint32_t wordsPerEntry = 1;
  bool json = false;
};

enum class ParseOutcome { kRun, kHelp, kVersion, kError };

// Reads argv into `options`. On kError, `error` holds one line naming the option and its value.
ParseOutcome ParsePlanOptions(int argc, const char* const* argv, PlanOptions& options, std::string& error);

// The --help text.
const char* UsageText();

}  // namespace orv_plan

#endif  // ORV_TOOLS_PLAN_OPTIONS_H_
