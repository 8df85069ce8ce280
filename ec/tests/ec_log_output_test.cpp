// What liborv_ec writes into its log file: a module started with ZoInit at DEBUG levels receives
// the start line, the trace lines and the error lines of the functions called, each as one record
// line "<time>\t<tag> <level> <message>", readable once ZoFinish has stopped and flushed it.
#include <gtest/gtest.h>

#include <cstdint>
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

using EcLogOutput = ec_test::LoggedModuleTest;

TEST_F(EcLogOutput, StartLineAndTraceLines) {
  uint64_t start = 0;
  uint64_t length = 0;
  ASSERT_TRUE(ZoSetWriteSection(5000, 10000, 4096, start, length));
  ZoOffsetLenToChunkBounds({5000, 10000}, 512);
  const std::vector<int> mapping;
  const ZoEcInfo info{4, 6, &mapping, 4096, 16384, 512};
  ZoShouldUseUpdate(info, {5000, 10000});
  ZoChunkInfo chunks{};
  ZoPrepareUpdateChunks(info, 20480, 32768, chunks);

  const std::string log = FinishAndRead();
  EXPECT_EQ(1, CountRecordLines(log, "PROC", 4, "orv_ec is initialized by param struct.")) << log;
  EXPECT_EQ(1, CountRecordLines(log, "PROC", 4,
                                "Func ZoSetWriteSection offset=5000 len=10000 csize=4096 headStart=4096 "
                                "headLength=12288"))
      << log;
  // The decision widens three times (its 512 widening repeats the one above), then sums up.
  EXPECT_EQ(1, CountRecordLines(log, "Interface", 4,
                                "Func ZoOffsetLenToChunkBounds in.first=5000 in.second=10000 csize=16384, "
                                "off=0 len=16384"))
      << log;
  EXPECT_EQ(2, CountRecordLines(log, "Interface", 4,
                                "Func ZoOffsetLenToChunkBounds in.first=5000 in.second=10000 csize=512, "
                                "off=4608 len=10752"))
      << log;
  EXPECT_EQ(1, CountRecordLines(log, "Interface", 4,
                                "Func ZoShouldUseUpdate range<5000,10000> stripe_align<0,16384> "
                                "chunk_align<4096,12288> update_read_count=3 overwrite_read_count=3"))
      << log;
  EXPECT_EQ(1, CountRecordLines(log, "Interface", 4,
                                "Func ZoPrepareUpdateChunks offset=20480 blLength=32768 index=1 count=4 "
                                "chunkLen=8192"))
      << log;
}

TEST_F(EcLogOutput, ErrorLines) {
  uint64_t start = 0;
  uint64_t length = 0;
  ZoSetWriteSection(8, 0, 4096, start, length);
  ZoSetWriteSection(UINT64_MAX - 9, 20, 4096, start, length);
  ZoSetWriteSection(uint64_t{1} << 41, 20, 4096, start, length);
  ZoOffsetLenToChunkBounds({5000, 10000}, 0);
  ZoOffsetLenToChunkBounds({5000, UINT64_MAX}, 4096);
  const std::vector<int> mapping;
  ZoEcInfo info{4, 6, &mapping, 0, 16384, 512};
  ZoShouldUseUpdate(info, {0, 4096});
  ZoChunkInfo chunks{};
  ZoPrepareUpdateChunks(info, 0, 4096, chunks);
  info = ZoEcInfo{2, 4, &mapping, 4096, 40960, 4096};
  ZoShouldUseUpdate(info, {0, 40960});
  std::vector<char> a(128, 1);
  std::vector<char> dest(128);
  char* sources[] = {a.data()};
  ZoRegionNeonXor(sources, dest.data(), 1, 100);
  ZoRegionNeonXor(sources, dest.data(), 0, 64);
  ZoRegionNeonXor(nullptr, dest.data(), 1, 64);

  const std::string log = FinishAndRead();
  const std::pair<std::string, std::string> expected[] = {
      {"Interface", "Func ZoSetWriteSection error. len=0 csize=4096"},
      {"PROC", "Func ZoSetWriteSection add two large number"},
      {"Interface", "Func ZoSetWriteSection error. offset=2199023255552 above limit=1099511627776"},
      {"Interface", "Func ZoOffsetLenToChunkBounds error csize == 0"},
      // The length prints as a signed long, as every %ld value of the library does.
      {"Interface",
       "Func ZoOffsetLenToChunkBounds error. in.first=5000 in.second=-1 csize=4096 add two large number"},
      {"Interface", "Func ZoShouldUseUpdate error div/mod zero."},
      {"Interface", "Func ZoPrepareUpdateChunks error div/mod zero."},
      {"Interface", "Func ZoShouldUseUpdate error inconsistent geometry. k=2 cSize=4096 sWidth=40960"},
      {"Interface", "Func ZoRegionNeonXor blocksize is not a multiple of 64."},
      {"Interface", "Func ZoRegionNeonXor count=0 is out of range."},
      {"Interface", "Func ZoRegionNeonXor region pointer is null."},
  };
  for (const auto& line : expected) {
    EXPECT_EQ(1, CountRecordLines(log, line.first, 0, line.second)) << line.second << "\n" << log;
  }
  // A refused widening traces nothing.
  EXPECT_EQ(std::string::npos, log.find("Interface 4 Func ZoOffsetLenToChunkBounds in.first=5000 in.second=-1"));
}

}  // namespace
