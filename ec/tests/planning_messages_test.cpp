// The log lines of shard selection, read planning and the to-read rebuild as they reach the log
// file of a module started at DEBUG levels: exact tags, levels and texts (irregular prefixes and
// final full stops included), trace lines with their values, and one line per refusal.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ec_log_check.h"
#include "orv_ec/orv_ec.h"
#include "orv_test/gate_expectation.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace {

using ec_test::CountRecordLines;
using Range = std::pair<uint64_t, uint64_t>;

class PlanningMessages : public ec_test::LoggedModuleTest {
 protected:
  ZoEcInfo Info() const { return ZoEcInfo{4, 6, &mapping_, 4096, 16384, 512}; }

  std::vector<int> mapping_;
};

struct Line {
  const char* tag;
  int level;
  const char* text;
  int count;
};

void ExpectLines(const std::string& log, const std::vector<Line>& lines) {
  for (const Line& line : lines) {
    EXPECT_EQ(line.count, CountRecordLines(log, line.tag, line.level, line.text)) << line.text << "\n" << log;
  }
}

TEST_F(PlanningMessages, ShardSelection) {
  ZoEcInfo info = Info();
  std::vector<int> run;
  ZoGetReconstructShards(1, 2, 10000, info, run);
  ZoGetReconstructShards(5, 0, uint64_t{1} << 40, info, run);
  ZoGetReconstructShards(0, 1, 0, info, run);
  info.k = 0;
  ZoGetReconstructShards(0, 1, 4096, info, run);
  info = Info();
  info.cSize = 0;
  ZoGetReconstructShards(0, 1, 4096, info, run);

  std::set<int> shards;
  ZoGetRelatedShards({14000, 5000}, Info(), shards);
  ZoGetRelatedShards({1, UINT64_MAX}, Info(), shards);
  info = Info();
  info.sWidth = 0;
  ZoGetRelatedShards({0, 1}, info, shards);

  ZoGetWriteToShards({{4096, 8192}}, Info(), shards);
  ZoGetWriteToShards({}, info, shards);
  info = Info();
  info.cSize = 0;
  ZoGetWriteToShards({}, info, shards);
  info = Info();
  info.k = 0;
  ZoGetWriteToShards({{0, 4096}}, info, shards);

  ExpectLines(FinishAndRead(),
              {
                  {"Interface", 4, "ZoGetReconstructShards start=1 count=2 len=10000", 1},
                  {"Interface", 4, "ZoGetReconstructShards shardID=1", 3},
                  {"Interface", 4, "ZoGetReconstructShards shardID=2", 3},
                  {"Interface", 4, "ZoGetReconstructShards start=5 count=0 len=1099511627776", 1},
                  {"Interface", 0, "ZoGetReconstructShards error. len out range.", 1},
                  {"Interface", 0, "ZoGetReconstructShards error. k == 0.", 1},
                  {"Interface", 0, "ZoGetReconstructShards error. cSize == 0.", 1},
                  {"Interface", 4, "Func ZoGetRelatedShards off=14000 len=5000", 1},
                  {"Interface", 4, "Func ZoGetRelatedShards out=3", 1},
                  {"Interface", 4, "Func ZoGetRelatedShards out=0", 1},
                  {"Interface", 0, "Func ZoGetRelatedShards add two large number", 1},
                  {"Interface", 0, "Func ZoGetRelatedShards error div/mod zero", 1},
                  {"Interface", 4, "Func ZoGetWriteToShards twc<4096,8192>", 1},
                  {"Interface", 4, "Func ZoGetWriteToShards wtr=4", 1},
                  {"Interface", 4, "Func ZoGetWriteToShards wtr=5", 1},
                  {"Interface", 0, "ZoGetWriteToShards error. sWidth == 0.", 1},
                  {"Interface", 0, "ZoGetWriteToShards error. cSize == 0.", 1},
                  {"Interface", 0, "ZoGetWriteToShards error. k == 0.", 1},
              });
}

TEST_F(PlanningMessages, ReadPlanning) {
  std::vector<Range> pieces{{7, 8}};
  ZoReconstructPrepare(Info(), {5000, 10000}, pieces);
  ZoEcInfo info = Info();
  info.sWidth = 0;
  ZoReconstructPrepare(info, {1, 2}, pieces);

  std::map<int, std::set<Range>> ranges;
  ZoGetShardsRangeToRead({16384, 16384}, Info(), ranges);
  ZoGetShardsRangeToRead({1, 2}, info, ranges);
  ZoGetShardsRangeToRead({UINT64_MAX, 2}, Info(), ranges);
  ZoGetShardsRangeToRead({(uint64_t{1} << 40) + 1, 2}, Info(), ranges);
  info = Info();
  info.k = 0;
  ZoGetShardsRangeToRead({0, 16384}, info, ranges);

  std::map<int, Range> zeros;
  ZoGetShardZeroRange({0, 1000}, Info(), zeros);
  info = Info();
  info.alignSize = 0;
  ZoGetShardZeroRange({0, 1000}, info, zeros);
  ZoGetShardZeroRange({UINT64_MAX, 1}, Info(), zeros);

  ExpectLines(FinishAndRead(),
              {
                  {"Interface", 4, "Func ZoReconstructPrepare rRange.first=5000 rRange.second=10000", 1},
                  // Every element is traced, the one that was there before included.
                  {"Interface", 4, "ZoReconstructPrepare tailLen cInfo<7,8>", 1},
                  {"Interface", 4, "ZoReconstructPrepare tailLen cInfo<1,3192>", 1},
                  {"Interface", 4, "ZoReconstructPrepare tailLen cInfo<3,2712>", 1},
                  {"Interface", 4, "Func ZoReconstructPrepare rRange.first=1 rRange.second=2", 1},
                  {"Interface", 0, "ZoReconstructPrepare error. sWidth == 0.", 1},
                  {"Interface", 4, "Func ZoGetShardsRangeToRead rRange<16384,16384>", 1},
                  {"Interface", 4, "Func GetShardsRange chunk=2 es<4096,4096>", 1},
                  {"Interface", 0, "cSize or sWidth is zero.", 1},
                  {"Interface", 0, "Func ZoGetShardsRangeToRead add two large number", 1},
                  {"Interface", 0, "Func ZoGetShardsRangeToRead error. rRange out range.", 1},
                  {"Interface", 0, "Func GetShardsRange error. k == 0.", 1},
                  {"Interface", 4, "Func ZoGetShardZeroRange rRange.first=0 rRange.second=1000", 2},
                  {"Interface", 0, "Func ZoGetShardZeroRange error div/mod zero.", 1},
                  {"Interface", 0, "Func ZoGetShardZeroRange add two large number", 1},
              });
}

TEST_F(PlanningMessages, ToreadRebuild) {
  std::map<uint64_t, uint64_t> empty;
  ZoRebuildToread({}, 4096, empty);
  std::map<uint64_t, uint64_t> toRead{{0, 16384}};
  ZoRebuildToread({{4096, 8192}}, 4096, toRead);
  const uint64_t top = UINT64_MAX - 4095;
  std::map<uint64_t, uint64_t> atTop{{0, 8192}, {top, 4096}};
  ZoRebuildToread({{0, 100}}, 4096, atTop);
  std::map<uint64_t, uint64_t> overlapping{{0, 200}, {100, 200}};
  ZoRebuildToread({{0, 100}}, 4096, overlapping);

  ExpectLines(FinishAndRead(),
              {
                  {"Interface", 0, "Func ZoRebuildToread error. len=0 csize=4096", 1},
                  {"Interface", 4, "Func ZoRebuildToread toRead<0,4096>", 1},
                  {"Interface", 4, "Func ZoRebuildToread toRead<12288,4096>", 1},
                  // An extent past the 2^40 cap: one refusal line and nothing else.
                  {"Interface", 0, "Func ZoRebuildToread error. extent end out range.", 1},
                  {"PROC", 0, "Func MakeChunkAligned add two large number", 0},
                  {"PROC", 0, "Func RebuildMap 3 add two large number", 0},
                  {"Interface", 4, "Func ZoRebuildToread toRead<0,8192>", 0},
                  {"Interface", 4, "Func ZoRebuildToread toRead<-4096,4096>", 0},
                  {"Interface", 0, "Func ZoRebuildToread error. extents overlap.", 1},
              });
}

}  // namespace
