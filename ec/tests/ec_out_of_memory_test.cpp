// Running out of memory, as orv_ec.h states it: the start functions return 1 and throw nothing; a
// planning function that cannot grow the caller's container lets std::bad_alloc through, and the
// container then holds part of the full result and nothing else. The program's operator new is
// replaced so that one chosen allocation of the calling thread fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <new>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ec_log_check.h"
#include "orv_ec/orv_ec.h"
#include "orv_test/counting_new.h"
#include "orv_test/scratch_dir.h"

namespace {

using orv_test::WithFailureAfter;

using Range = std::pair<uint64_t, uint64_t>;

TEST(EcOutOfMemory, StartFunctionsReturnOneAndThrowNothing) {
  orv_test::ScratchDir dir;
  // Names longer than any short-string buffer, so that copying them allocates.
  const std::string suffix = dir.name() + "-a-module-name-that-needs-the-heap";
  const MoxlogParam param = ec_test::ModuleParam(dir, MOXLOG_CRITICAL, MOXLOG_CRITICAL, suffix);
  const std::string paramFile = dir.dir() + "param.ini";
  std::ofstream(paramFile) << "[orvec-" << suffix << "]\nfull_path=" << dir.dir() << "\n";

  struct Start {
    const char* name;
    bool stopsARunningModule;
    int (*call)(const MoxlogParam&, const std::string& file, const std::string& suffix);
  };
  const Start starts[] = {
      {"ZoInit(record)", false, [](const MoxlogParam& p, const std::string&, const std::string&) { return ZoInit(p); }},
      {"ZoInit(file)", false,
       [](const MoxlogParam&, const std::string& f, const std::string& s) { return ZoInit(f, s); }},
      {"ZoReload(record)", true,
       [](const MoxlogParam& p, const std::string&, const std::string&) { return ZoReload(p); }},
      {"ZoReload(file)", true,
       [](const MoxlogParam&, const std::string& f, const std::string& s) { return ZoReload(f, s); }},
  };
  for (const Start& start : starts) {
    for (long failAt = 0; failAt < 40; ++failAt) {
      SCOPED_TRACE(::testing::Message() << start.name << ", allocation " << failAt << " fails");
      if (start.stopsARunningModule) {
        ASSERT_NO_THROW(ZoInit(param));
      }
      int result = -1;
      EXPECT_NO_THROW(result = WithFailureAfter(failAt, [&] { return start.call(param, paramFile, suffix); }));
      EXPECT_TRUE(result == 0 || result == 1) << result;
      ZoFinish();  // whatever is still registered under the current name
      if (failAt == 0) {
        EXPECT_EQ(1, result) << "the first allocation of a start is the library's own";
      }
    }
  }
  // With memory to spare, the library starts as before.
  if (orv_test::ExpectedGate() != orv_test::GateExpectation::kReject) {
    EXPECT_EQ(0, ZoInit(param));
  }
  ZoFinish();
}

TEST(EcOutOfMemory, PlanningLetsBadAllocThroughWithPartOfTheResult) {
  orv_test::ScratchDir dir;
  ZoInit(ec_test::ModuleParam(dir, MOXLOG_CRITICAL, MOXLOG_CRITICAL));
  const std::vector<int> mapping{5, 4, 3, 2, 1, 0};
  const ZoEcInfo info{4, 6, &mapping, 4096, 16384, 512};
  const Range range{1000, 100000};

  std::vector<Range> allPieces;
  ZoReconstructPrepare(info, range, allPieces);
  std::map<int, std::set<Range>> allRanges;
  ZoGetShardsRangeToRead(range, info, allRanges);
  std::vector<int> allIds;
  ZoGetReconstructShards(1, 3, 40000, info, allIds);

  for (long failAt = 0; failAt < 5; ++failAt) {
    SCOPED_TRACE(::testing::Message() << "allocation " << failAt << " fails");
    std::vector<Range> pieces;
    EXPECT_THROW(WithFailureAfter(failAt, [&] { ZoReconstructPrepare(info, range, pieces); }), std::bad_alloc);
    ASSERT_LT(pieces.size(), allPieces.size());
    EXPECT_TRUE(std::equal(pieces.begin(), pieces.end(), allPieces.begin())) << "not a prefix";

    std::vector<int> ids;
    EXPECT_THROW(WithFailureAfter(failAt, [&] { ZoGetReconstructShards(1, 3, 40000, info, ids); }),
                 std::bad_alloc);
    ASSERT_LT(ids.size(), allIds.size());
    EXPECT_TRUE(std::equal(ids.begin(), ids.end(), allIds.begin())) << "not a prefix";

    std::map<int, std::set<Range>> ranges;
    EXPECT_THROW(WithFailureAfter(failAt, [&] { ZoGetShardsRangeToRead(range, info, ranges); }), std::bad_alloc);
    for (const auto& shard : ranges) {
      for (const Range& r : shard.second) {
        EXPECT_EQ(1u, allRanges[shard.first].count(r)) << "shard " << shard.first << " got a range it should not";
      }
    }
  }
  ZoFinish();
}

}  // namespace
