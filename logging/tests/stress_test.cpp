// Several writer threads on two modules while another thread stops, starts, reloads, dumps and
// queries them: every record whose write returned 0 is in its module's file exactly once and in
// its thread's order, unless a "More than VEC_NEW_MAX." report accounts for it; every write that
// found no module was reported. And writers at every level while reloads change the module's
// thresholds: a record written while one set of thresholds was in force from before the call to
// after it reaches the file exactly when its level passes the file threshold. Module names of up
// to 16 bytes and longer ones are both used: a write checks them by different paths.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log_test_support.h"
#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

constexpr int kWriters = 4;
// Each writer writes at least kMinRecords and goes on while the controller works, up to
// kRecordsPerWriter; the controller makes kControlOps operations.
constexpr int kMinRecords = 2000;
constexpr int kRecordsPerWriter = 10000;
constexpr int kControlOps = 60;

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

// Parses "T\tS <level> w<thread> s<seq>" (plain or dumped); false for any other line.
bool ParseRecord(const std::string& line, bool& dumped, int& thread, int& seq) {
  std::string rest = line;
  dumped = rest.compare(0, 10, "MemLog >> ") == 0;
  if (dumped) {
    rest.erase(0, 10);
  }
  int level = 0;
  char tail = 0;
  return std::sscanf(rest.c_str(), "T\tS %d w%d s%d%c", &level, &thread, &seq, &tail) == 3 && thread >= 0 &&
         thread < kWriters && seq >= 0 && seq < kRecordsPerWriter;
}

// A module name unique to `scratch`: 8 bytes when `shortName`, else 23.
std::string ModuleName(const orv_test::ScratchDir& scratch, const char* prefix, bool shortName) {
  const std::string unique = scratch.name();  // orv-test-XXXXXX
  return shortName ? std::string(prefix, 2) + unique.substr(unique.size() - 6) : prefix + unique;
}

TEST(Stress, RecordsSurviveRacingStopsStartsAndReloadsInOrder) {
  orv_test::ScratchDir scratch;
  const std::string names[2] = {ModuleName(scratch, "stressA-", true), ModuleName(scratch, "stressB-", false)};
  auto paramOf = [&](int m) { return MoxlogParam{names[m], scratch.dir(), "", 4, 4, 100}; };
  for (int m = 0; m < 2; ++m) {
    MoxlogParam p = paramOf(m);
    ASSERT_EQ(MoxlogSetAndInit(p), 0);
  }

  // rc[t][seq]; the module of a record is seq's parity.
  std::vector<std::vector<int>> rc(kWriters, std::vector<int>(kRecordsPerWriter, 99));
  std::atomic<bool> controllerDone{false};
  std::atomic<int> controlOps{0};
  orv_test::StderrCapture capture;

  std::vector<std::thread> writers;
  for (int t = 0; t < kWriters; ++t) {
    writers.emplace_back([&, t] {
      for (int seq = 0; seq < kRecordsPerWriter && (seq < kMinRecords || !controllerDone.load()); ++seq) {
        rc[static_cast<size_t>(t)][static_cast<size_t>(seq)] =
            MoxlogWriteLog(seq % 5, names[seq % 2], "S", "w%d s%d", t, seq);
      }
    });
  }
  std::thread controller([&] {
    std::mt19937 rng(4242);
    for (int ops = 1; ops <= kControlOps; ++ops) {
      const int m = static_cast<int>(rng() % 2);
      MoxlogParam p = paramOf(m);
      switch (rng() % 4) {
        case 0:
          MoxlogReloadParam(names[m], p);
          break;
        case 1:
          MoxlogStopRecordLog(names[m]);
          std::this_thread::yield();
          MoxlogSetAndInit(p);
          break;
        case 2:
          MoxlogMemToFile(names[m]);
          break;
        default: {
          MoxlogParam got{};
          MoxlogGetCurParam(names[m], got);
          break;
        }
      }
      controlOps.store(ops);
      std::this_thread::yield();
    }
    controllerDone.store(true);
  });
  for (std::thread& w : writers) {
    w.join();
  }
  controller.join();
  EXPECT_EQ(MoxlogStopRecordLog(names[0]), 0);
  EXPECT_EQ(MoxlogStopRecordLog(names[1]), 0);
  const std::string errors = capture.Text();

  size_t accepted = 0;
  size_t notFound = 0;
  for (const auto& perThread : rc) {
    for (const int r : perThread) {
      if (r == 99) {
        continue;  // not written: the writer stopped earlier
      }
      ASSERT_TRUE(r == 0 || r == 1) << r;
      accepted += r == 0 ? 1 : 0;
      notFound += r == 1 ? 1 : 0;
    }
  }
  EXPECT_EQ(CountOf(errors, "MoxLog ERROR: MoxlogWriteLog. Can not find moduleName["), notFound);
  const size_t dropped = CountOf(errors, "MoxLog ERROR: More than VEC_NEW_MAX.\n");

  std::set<std::pair<int, int>> written;
  std::set<std::pair<int, int>> dumpedRecords;
  for (int m = 0; m < 2; ++m) {
    const std::vector<std::string> lines =
        moxlog_test::NormalisedLines(orv_test::ReadFile(scratch.dir() + names[m] + ".log"));
    std::vector<int> lastSeq(kWriters, -1);
    for (const std::string& line : lines) {
      bool dumped = false;
      int t = 0;
      int seq = 0;
      if (!ParseRecord(line, dumped, t, seq)) {
        // The only other lines are those of the parameter records.
        const bool paramLine = line == "T\t 0 Print current param:" || line == "MemLog >> T\t 0 Print current param:" ||
                               line.compare(0, 28, std::string(27, ' ') + "u") == 0 ||
                               line.compare(0, 28, std::string(27, ' ') + "f") == 0 ||
                               line.compare(0, 28, std::string(27, ' ') + "m") == 0;
        ASSERT_TRUE(paramLine) << line;
        continue;
      }
      ASSERT_EQ(seq % 2, m) << "record in the other module's file: " << line;
      ASSERT_EQ(rc[static_cast<size_t>(t)][static_cast<size_t>(seq)], 0) << "refused record written: " << line;
      if (dumped) {
        ASSERT_TRUE(dumpedRecords.insert({t, seq}).second) << "dumped twice: " << line;
        continue;
      }
      ASSERT_TRUE(written.insert({t, seq}).second) << "written twice: " << line;
      ASSERT_GT(seq, lastSeq[static_cast<size_t>(t)]) << "out of order: " << line;
      lastSeq[static_cast<size_t>(t)] = seq;
    }
  }
  // A record reaches the ring only by being written, so every dumped record was written too.
  for (const auto& record : dumpedRecords) {
    EXPECT_EQ(written.count(record), 1u) << record.first << " " << record.second;
  }
  EXPECT_LE(accepted - written.size(), dropped) << "records lost without a report";
  EXPECT_GT(written.size(), 0u);
  std::printf("control operations %d, records written %zu, not found %zu, queue-full drops %zu\n", controlOps.load(),
              written.size(), notFound, dropped);
}

// The thresholds the controller cycles through: (file, memory).
constexpr int kLevelSets[][2] = {{4, 4}, {1, 0}, {3, 1}, {0, 4}, {2, 2}};
constexpr int kLevelSetCount = static_cast<int>(sizeof kLevelSets / sizeof kLevelSets[0]);

class FilteredWriters : public testing::TestWithParam<bool> {};

TEST_P(FilteredWriters, FollowReloadedThresholds) {
  orv_test::ScratchDir scratch;
  const std::string name = ModuleName(scratch, "stressL-", GetParam());
  auto paramOf = [&](int set) {
    return MoxlogParam{name, scratch.dir(), "", kLevelSets[set][0], kLevelSets[set][1], 100};
  };
  // epoch / 2 is the number of completed controller operations; odd while one is in progress.
  // setAt[k] is the level set in force after operation k.
  constexpr int kOps = 80;
  std::vector<int> setAt(kOps + 1, 0);
  std::atomic<int> epoch{0};
  {
    MoxlogParam p = paramOf(0);
    ASSERT_EQ(MoxlogSetAndInit(p), 0);
  }

  // rc[t][seq], and the level set that was in force throughout the write, or -1 when it changed.
  std::vector<std::vector<int>> rc(kWriters, std::vector<int>(kRecordsPerWriter, 99));
  std::vector<std::vector<int>> stableSet(kWriters, std::vector<int>(kRecordsPerWriter, -1));
  std::atomic<bool> controllerDone{false};
  orv_test::StderrCapture capture;

  std::vector<std::thread> writers;
  for (int t = 0; t < kWriters; ++t) {
    writers.emplace_back([&, t] {
      for (int seq = 0; seq < kRecordsPerWriter && (seq < kMinRecords || !controllerDone.load()); ++seq) {
        if (seq % 100 == 0) {
          // Slow enough for the flush thread: no record is lost to a full queue, which would hide
          // a lost record.
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const int before = epoch.load();
        const int r = MoxlogWriteLog(seq % 5, name, "S", "w%d s%d", t, seq);
        const int after = epoch.load();
        rc[static_cast<size_t>(t)][static_cast<size_t>(seq)] = r;
        if (before == after && before % 2 == 0) {
          stableSet[static_cast<size_t>(t)][static_cast<size_t>(seq)] = setAt[static_cast<size_t>(before / 2)];
        }
      }
    });
  }
  std::thread controller([&] {
    std::mt19937 rng(777);
    for (int op = 1; op <= kOps; ++op) {
      const int set = static_cast<int>(rng() % kLevelSetCount);
      MoxlogParam p = paramOf(set);
      setAt[static_cast<size_t>(op)] = set;  // read by writers only after the epoch below says so
      epoch.fetch_add(1);
      if (rng() % 3 == 0) {
        MoxlogStopRecordLog(name);
        MoxlogSetAndInit(p);
      } else {
        MoxlogReloadParam(name, p);
      }
      epoch.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::microseconds(500 + rng() % 2000));
    }
    controllerDone.store(true);
  });
  for (std::thread& w : writers) {
    w.join();
  }
  controller.join();
  EXPECT_EQ(MoxlogStopRecordLog(name), 0);
  const std::string errors = capture.Text();

  size_t notFound = 0;
  for (const auto& perThread : rc) {
    for (const int r : perThread) {
      ASSERT_TRUE(r == 0 || r == 1 || r == 99) << r;
      notFound += r == 1 ? 1 : 0;
    }
  }
  EXPECT_EQ(CountOf(errors, "MoxLog ERROR: MoxlogWriteLog. Can not find moduleName["), notFound);
  const size_t dropped = CountOf(errors, "MoxLog ERROR: More than VEC_NEW_MAX.\n");

  std::set<std::pair<int, int>> written;
  std::vector<int> lastSeq(kWriters, -1);
  for (const std::string& line : moxlog_test::NormalisedLines(orv_test::ReadFile(scratch.dir() + name + ".log"))) {
    bool dumped = false;
    int t = 0;
    int seq = 0;
    if (!ParseRecord(line, dumped, t, seq) || dumped) {
      continue;  // parameter records and ring dumps
    }
    ASSERT_EQ(rc[static_cast<size_t>(t)][static_cast<size_t>(seq)], 0) << "refused record written: " << line;
    ASSERT_TRUE(written.insert({t, seq}).second) << "written twice: " << line;
    ASSERT_GT(seq, lastSeq[static_cast<size_t>(t)]) << "out of order: " << line;
    lastSeq[static_cast<size_t>(t)] = seq;
    const int set = stableSet[static_cast<size_t>(t)][static_cast<size_t>(seq)];
    if (set >= 0) {
      ASSERT_LE(seq % 5, kLevelSets[set][0]) << "record above the file threshold written: " << line;
    }
  }
  size_t stableChecked = 0;
  size_t missing = 0;
  for (int t = 0; t < kWriters; ++t) {
    for (int seq = 0; seq < kRecordsPerWriter; ++seq) {
      const int set = stableSet[static_cast<size_t>(t)][static_cast<size_t>(seq)];
      if (set < 0 || rc[static_cast<size_t>(t)][static_cast<size_t>(seq)] != 0 || seq % 5 > kLevelSets[set][0]) {
        continue;
      }
      ++stableChecked;
      missing += written.count(std::make_pair(t, seq)) == 0 ? 1u : 0u;
    }
  }
  EXPECT_LE(missing, dropped) << "records that passed the file threshold in force were lost";
  EXPECT_GT(stableChecked, 0u);
  std::printf("records written %zu, checked against a stable threshold %zu, not found %zu, queue-full drops %zu\n",
              written.size(), stableChecked, notFound, dropped);
}

INSTANTIATE_TEST_SUITE_P(Stress, FilteredWriters, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param) { return param.param ? "ShortName" : "LongName"; });

}  // namespace
