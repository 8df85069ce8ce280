// The scratch log directory of the planning benchmarks: a fresh directory under /var/log, and the
// library's log module named after it. Shared by the programs that run liborv_ec's planning
// functions with their trace lines going to a real module. At exit the module is stopped
// (ZoFinish) and the directory removed.
#ifndef ORV_BENCH_PLANNING_LOG_DIR_H_
#define ORV_BENCH_PLANNING_LOG_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "moxlog/moxlog.h"
#include "orv_ec/orv_ec.h"

namespace orv_bench {

class PlanningLogDir {
 public:
  PlanningLogDir() {
    char pattern[] = "/var/log/orv-bench-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
      dir_ = pattern;
      name_ = std::filesystem::path(dir_).filename().string();
    }
  }
  ~PlanningLogDir() {
    if (!dir_.empty()) {
      ZoFinish();
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  PlanningLogDir(const PlanningLogDir&) = delete;
  PlanningLogDir& operator=(const PlanningLogDir&) = delete;

  // False when the directory could not be made; nothing is logged then.
  bool made() const { return !dir_.empty(); }
  // The module's name, which is also the directory's.
  const std::string& name() const { return name_; }
  // The module's log file.
  std::string file() const { return dir_ + "/" + name_ + ".log"; }
  // The module's parameters with the file and memory thresholds both at `level`.
  MoxlogParam Param(int level) const { return MoxlogParam{name_, dir_ + "/", "", level, level, 100}; }

 private:
  std::string dir_;
  std::string name_;
};

}  // namespace orv_bench

#endif  // ORV_BENCH_PLANNING_LOG_DIR_H_
