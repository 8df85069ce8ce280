// Cost of starting and stopping a logging module from a parameter file, against the record form:
// the file form holds the registry lock while it resolves the file and reads it four times (the
// section check and three key searches), so every other logging call waits that long.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "moxlog/moxlog.h"

namespace {

// A scratch directory under /var/log, removed at exit.
class BenchDir {
 public:
  BenchDir() {
    std::string pattern = "/var/log/orv-bench-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) {
      path_ = buf.data();
    }
  }
  ~BenchDir() {
    std::error_code ec;
    if (!path_.empty()) {
      std::filesystem::remove_all(path_, ec);
    }
  }
  BenchDir(const BenchDir&) = delete;
  BenchDir& operator=(const BenchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

BenchDir& Dir() {
  static BenchDir dir;
  return dir;
}

// A parameter file whose section for "bench" follows `others` sections of other modules.
std::string ParamFile(int others) {
  const std::string path = Dir().path() + "/params-" + std::to_string(others) + ".ini";
  std::ofstream out(path);
  for (int i = 0; i < others; ++i) {
    out << "# module " << i << "\n[other" << i << "]\nfull_path=" << Dir().path() << "/o" << i
        << "\nlog_level=ERROR/DEBUG\nmem_log_size=500\n";
  }
  out << "[bench]\nfull_path=" << Dir().path() << "/logs\nlog_level=ERROR/DEBUG\nmem_log_size=500\n";
  return path;
}

void BM_StartStopFromFile(benchmark::State& state) {
  if (Dir().path().empty()) {
    state.SkipWithError("no scratch directory under /var/log");
    return;
  }
  const std::string file = ParamFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(MoxlogSetAndInit("bench", file));
    MoxlogStopRecordLog("bench");
  }
}
BENCHMARK(BM_StartStopFromFile)->Arg(0)->Arg(100)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_StartStopFromRecord(benchmark::State& state) {
  if (Dir().path().empty()) {
    state.SkipWithError("no scratch directory under /var/log");
    return;
  }
  for (auto _ : state) {
    MoxlogParam param{"bench", Dir().path() + "/logs", "", 1, 4, 500};
    benchmark::DoNotOptimize(MoxlogSetAndInit(param));
    MoxlogStopRecordLog("bench");
  }
}
BENCHMARK(BM_StartStopFromRecord)->Unit(benchmark::kMicrosecond);

}  // namespace
