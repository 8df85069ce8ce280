// The exported functions through the shared library: registration and reuse, stop and reload,
// the write path (line format, levels, cut messages, null format), the fallback to the default
// module, the byte-exact error reports, the 65-module rule and the version.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "log_test_support.h"
#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using moxlog_test::NormalisedLines;
using orv_test::ReadFile;
using orv_test::ScratchDir;
using orv_test::StderrCapture;
using orv_test::WaitUntil;
using Lines = std::vector<std::string>;

bool FileHas(const std::string& path, const std::string& text) { return ReadFile(path).find(text) != std::string::npos; }

// Every test leaves the registry empty, so that the reports about missing modules (which depend
// on the default module and the module count) are the same in any order.
class Registry : public ::testing::Test {
 protected:
  MoxlogParam Start(const std::string& name, int fileLevel, int memLevel, const std::string& dir = "") {
    MoxlogParam p{name, dir.empty() ? scratch.dir() : dir, "ignored", fileLevel, memLevel, 100};
    EXPECT_EQ(MoxlogSetAndInit(p), 0) << name;
    started.insert(p.usrModuleName);
    return p;
  }

  void TearDown() override {
    for (const std::string& name : started) {
      StderrCapture quiet;
      MoxlogStopRecordLog(name);
      quiet.Text();
    }
  }

  ScratchDir scratch;
  std::set<std::string> started;
};

TEST_F(Registry, WritesLinesOfTheGivenLevelTagAndText) {
  const MoxlogParam p = Start("writer", 3, 1);
  EXPECT_EQ(p.fullPath, scratch.dir());
  EXPECT_EQ(p.fullFileName, scratch.dir() + "writer.log");
  for (int level = -1; level <= 5; ++level) {
    EXPECT_EQ(MoxlogWriteLog(level, "writer", "Interface", "level %d: %s=%lu", level, "len", 4096UL), 0);
  }
  EXPECT_EQ(MoxlogWriteLog(2, "writer", "", "%s", "empty tag"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "empty tag\n"); }));
  EXPECT_EQ(MoxlogMemToFile("writer"), 0);
  EXPECT_EQ(MoxlogStopRecordLog("writer"), 0);
  started.clear();

  Lines expected = moxlog_test::ParamRecordLines(p);
  for (int level = -1; level <= 3; ++level) {
    expected.push_back("T\tInterface " + std::to_string(level) + " level " + std::to_string(level) + ": len=4096");
  }
  expected.push_back("T\t 2 empty tag");
  expected.push_back("MemLog >> T\t 0 Print current param:");
  for (size_t i = 1; i < 7; ++i) {
    expected.push_back(moxlog_test::ParamRecordLines(p)[i]);
  }
  expected.push_back("MemLog >> T\tInterface -1 level -1: len=4096");
  expected.push_back("MemLog >> T\tInterface 0 level 0: len=4096");
  expected.push_back("MemLog >> T\tInterface 1 level 1: len=4096");
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), expected);
}

TEST_F(Registry, FilteredRecordsCostNothingAndReachNothing) {
  const MoxlogParam p = Start("quiet", 0, 1);
  EXPECT_EQ(MoxlogWriteLog(3, "quiet", "PROC", "filtered %d", 1), 0);
  EXPECT_EQ(MoxlogWriteLog(2, "quiet", "PROC", "filtered %d", 2), 0);
  EXPECT_EQ(MoxlogWriteLog(1, "quiet", "PROC", "ring only"), 0);
  EXPECT_EQ(MoxlogWriteLog(0, "quiet", "PROC", "both"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "both\n"); }));
  EXPECT_EQ(MoxlogStopRecordLog("quiet"), 0);
  started.clear();
  Lines expected = moxlog_test::ParamRecordLines(p);
  expected.push_back("T\tPROC 0 both");
  Lines dumped = moxlog_test::ParamRecordLines(p);
  dumped[0] = "MemLog >> " + dumped[0];
  dumped.push_back("MemLog >> T\tPROC 1 ring only");
  dumped.push_back("MemLog >> T\tPROC 0 both");
  expected.insert(expected.end(), dumped.begin(), dumped.end());
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), expected);
}

TEST_F(Registry, NullFormatAndLongMessages) {
  const MoxlogParam p = Start("fmt", 4, -1);
  {
    StderrCapture capture;
    EXPECT_EQ(MoxlogWriteLog(0, "fmt", "T", nullptr), 3);
    EXPECT_EQ(capture.Text(), "");
  }
  const std::string longText = std::string(300, 'a') + std::string(300, 'b');
  EXPECT_EQ(MoxlogWriteLog(0, "fmt", "T", "%s", longText.c_str()), 0);
  EXPECT_EQ(MoxlogStopRecordLog("fmt"), 0);
  started.clear();
  const Lines lines = NormalisedLines(ReadFile(p.fullFileName));
  ASSERT_EQ(lines.size(), 8u);
  // The message holds 511 characters; the line, time stamp included, is cut at 512.
  EXPECT_EQ(lines[7], "T\tT 0 " + longText.substr(0, 512 - 26 - 5));
}

TEST_F(Registry, UnknownModulesAreReportedWithoutADefaultModule) {
  Start("one", 0, 0);
  Start("two", 0, 0);
  Start("three", 0, 0);
  StderrCapture capture;
  EXPECT_EQ(MoxlogWriteLog(0, "nosuch", "T", "text"), 1);
  EXPECT_EQ(MoxlogMemToFile("nosuch"), 1);
  MoxlogParam untouched{"keep", "/keep/", "/keep/keep.log", 7, 8, 9};
  EXPECT_EQ(MoxlogGetCurParam("nosuch", untouched), 1);
  EXPECT_EQ(MoxlogStopRecordLog("nosuch"), 1);
  MoxlogParam fresh{"fresh", scratch.dir(), "", 0, 0, 100};
  EXPECT_EQ(MoxlogReloadParam("nosuch", fresh), 1);
  EXPECT_EQ(MoxlogStopRecordLog(""), 1);
  EXPECT_EQ(capture.Text(),
            "MoxLog ERROR: MoxlogWriteLog. Can not find moduleName[nosuch]\n"
            "MoxLog ERROR: MoxlogMemToFile. Can not find moduleName[nosuch]\n"
            "MoxLog ERROR: MoxlogGetCurParam. Can not find moduleName[nosuch]\n"
            "MoxLog ERROR: MoxlogStopRecordLog. Can not find moduleName[nosuch]. size[3]\n"
            "MoxLog ERROR: MoxlogStopRecordLog. Can not find moduleName[nosuch]. size[3]\n"
            "MoxLog ERROR: ModuleName is empty, set default.\n"
            "MoxLog ERROR: MoxlogStopRecordLog. Can not find moduleName[moxlog]. size[3]\n");
  EXPECT_EQ(untouched.usrModuleName, "keep");
  EXPECT_EQ(untouched.fullPath, "/keep/");
  EXPECT_EQ(untouched.fullFileName, "/keep/keep.log");
  EXPECT_EQ(untouched.fileLogLevel, 7);
  EXPECT_EQ(untouched.memLogLevel, 8);
  EXPECT_EQ(untouched.memLogSize, 9u);
  EXPECT_EQ(fresh.fullFileName, "") << "a refused reload does not touch the record";
  StderrCapture quiet;
  EXPECT_EQ(MoxlogGetCurParam("fresh", untouched), 1) << "a refused reload registers nothing";
}

TEST_F(Registry, UnknownModulesFallBackToTheDefaultModule) {
  // The default module, kept inside the scratch directory.
  const MoxlogParam def = Start("moxlog", 4, 4);
  StderrCapture capture;
  EXPECT_EQ(MoxlogWriteLog(2, "unregistered", "PROC", "to default %d", 1), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(def.fullFileName, "to default 1\n"); }));
  MoxlogParam got{};
  EXPECT_EQ(MoxlogGetCurParam("unregistered", got), 0);
  EXPECT_EQ(got.usrModuleName, "moxlog");
  EXPECT_EQ(got.fullFileName, scratch.dir() + "moxlog.log");
  EXPECT_EQ(MoxlogMemToFile("unregistered"), 0);

  // An empty name selects the whole default record; the running default module keeps its own.
  MoxlogParam empty{"", "/somewhere/else", "/x.log", 3, 3, 5};
  EXPECT_EQ(MoxlogSetAndInit(empty), 0);
  EXPECT_EQ(empty.usrModuleName, "moxlog");
  EXPECT_EQ(empty.fullPath, "/var/log/");
  EXPECT_EQ(empty.fullFileName, "/var/log/moxlog.log");
  EXPECT_EQ(empty.fileLogLevel, 0);
  EXPECT_EQ(empty.memLogLevel, 1);
  EXPECT_EQ(empty.memLogSize, 100u);
  EXPECT_EQ(MoxlogStopRecordLog(""), 0);
  started.clear();
  EXPECT_EQ(capture.Text(), "MoxLog ERROR: ModuleName is empty, set default.\n");

  const Lines lines = NormalisedLines(ReadFile(def.fullFileName));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T\tPROC 2 to default 1"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "MemLog >> T\tPROC 2 to default 1"), 1);
  // The second start recorded the running module's parameters once more.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T\t 0 Print current param:"), 2);
}

TEST_F(Registry, ARunningModuleKeepsItsParametersUntilReloaded) {
  ScratchDir second;
  const MoxlogParam first = Start("reuse", 4, 4);
  MoxlogParam again{"reuse", second.path(), "", 1, 1, 600};
  EXPECT_EQ(MoxlogSetAndInit(again), 0);
  EXPECT_EQ(again.fullPath, second.dir());
  EXPECT_EQ(again.fullFileName, second.dir() + "reuse.log");
  EXPECT_EQ(again.memLogSize, 600u);
  MoxlogParam got{};
  ASSERT_EQ(MoxlogGetCurParam("reuse", got), 0);
  EXPECT_EQ(got.fullPath, scratch.dir());
  EXPECT_EQ(got.fileLogLevel, 4);
  EXPECT_EQ(got.memLogSize, 100u);
  EXPECT_EQ(moxlog_test::FileSize(again.fullFileName), -1);
  // Both parameter records are written before the reload's stop dumps the ring.
  ASSERT_TRUE(WaitUntil([&] {
    const Lines lines = NormalisedLines(ReadFile(first.fullFileName));
    return std::count(lines.begin(), lines.end(), "T\t 0 Print current param:") == 2;
  }));

  EXPECT_EQ(MoxlogReloadParam("reuse", again), 0);
  ASSERT_EQ(MoxlogGetCurParam("reuse", got), 0);
  EXPECT_EQ(got.fullPath, second.dir());
  EXPECT_EQ(got.fullFileName, second.dir() + "reuse.log");
  EXPECT_EQ(got.fileLogLevel, 1);
  EXPECT_EQ(got.memLogSize, 600u);
  EXPECT_EQ(MoxlogWriteLog(1, "reuse", "R", "after reload"), 0);
  EXPECT_EQ(MoxlogWriteLog(2, "reuse", "R", "filtered now"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(again.fullFileName, "after reload\n"); }));
  EXPECT_EQ(MoxlogStopRecordLog("reuse"), 0);
  started.clear();

  // First file: the record of the first start, twice (the second start recorded it again).
  Lines expectedFirst = moxlog_test::ParamRecordLines(first);
  const Lines firstRecord = expectedFirst;
  expectedFirst.insert(expectedFirst.end(), firstRecord.begin(), firstRecord.end());
  const Lines firstLines = NormalisedLines(ReadFile(first.fullFileName));
  ASSERT_GE(firstLines.size(), 14u);
  EXPECT_EQ(Lines(firstLines.begin(), firstLines.begin() + 14), expectedFirst);
  const Lines secondLines = NormalisedLines(ReadFile(again.fullFileName));
  ASSERT_GE(secondLines.size(), 8u);
  EXPECT_EQ(Lines(secondLines.begin(), secondLines.begin() + 7), moxlog_test::ParamRecordLines(again));
  EXPECT_EQ(secondLines[7], "T\tR 1 after reload");
  EXPECT_EQ(ReadFile(again.fullFileName).find("filtered now"), std::string::npos);
}

TEST_F(Registry, AFailedStartStaysRegisteredUntilStopped) {
  MoxlogParam p{"badpath", "/tmp/orv-no-log-root", "", 4, 4, 50};
  StderrCapture capture;
  EXPECT_EQ(MoxlogSetAndInit(p), 3);
  EXPECT_EQ(capture.Text(),
            "MoxLog ERROR: Log file path is illegal, it must be /var/log/* or /home/*.\n"
            "MoxLog ERROR: Log file full name is fault. [/tmp/orv-no-log-root/badpath.log]\n");
  EXPECT_EQ(p.fullPath, "/tmp/orv-no-log-root/");
  EXPECT_EQ(p.fullFileName, "/tmp/orv-no-log-root/badpath.log");
  EXPECT_EQ(p.memLogSize, 100u);
  EXPECT_EQ(MoxlogWriteLog(0, "badpath", "T", "nothing"), -1);
  EXPECT_EQ(MoxlogWriteLog(7, "badpath", "T", "nothing"), -1);
  EXPECT_EQ(MoxlogMemToFile("badpath"), 0);
  MoxlogParam got{};
  EXPECT_EQ(MoxlogGetCurParam("badpath", got), 0);
  EXPECT_EQ(got.usrModuleName, "moxlog");  // the initial values: Init never got that far
  EXPECT_EQ(MoxlogStopRecordLog("badpath"), 0);
}

TEST_F(Registry, BeyondSixtyFiveModulesTheDefaultModuleTakesOver) {
  std::vector<MoxlogParam> params;
  for (int i = 0; i < 65; ++i) {
    params.push_back(Start("m" + std::to_string(i), 4, -1));
  }
  // The 66th name lands on the default module, created now with the caller's record.
  MoxlogParam extra{"m65", scratch.dir(), "", 4, -1, 100};
  EXPECT_EQ(MoxlogSetAndInit(extra), 0);
  started.insert("moxlog");
  MoxlogParam got{};
  ASSERT_EQ(MoxlogGetCurParam("m65", got), 0);
  EXPECT_EQ(got.usrModuleName, "m65");
  EXPECT_EQ(got.fullFileName, scratch.dir() + "m65.log");
  ASSERT_EQ(MoxlogGetCurParam("moxlog", got), 0);
  EXPECT_EQ(got.usrModuleName, "m65");

  // A registered name now goes to the (running) default module too, which ignores the record.
  ScratchDir other;
  MoxlogParam again{"m3", other.path(), "", 0, 0, 100};
  EXPECT_EQ(MoxlogSetAndInit(again), 0);
  ASSERT_EQ(MoxlogGetCurParam("m3", got), 0);
  EXPECT_EQ(got.fullFileName, scratch.dir() + "m3.log");
  EXPECT_EQ(moxlog_test::FileSize(other.dir() + "m3.log"), -1);

  EXPECT_EQ(MoxlogWriteLog(1, "m65", "X", "extra"), 0);
  EXPECT_EQ(MoxlogWriteLog(1, "m3", "X", "own"), 0);
  {
    StderrCapture capture;
    EXPECT_EQ(MoxlogStopRecordLog("m65"), 1);
    EXPECT_EQ(capture.Text(), "MoxLog ERROR: MoxlogStopRecordLog. Can not find moduleName[m65]. size[66]\n");
  }
  EXPECT_EQ(MoxlogStopRecordLog("moxlog"), 0);
  EXPECT_EQ(MoxlogStopRecordLog("m3"), 0);

  const Lines extraLines = NormalisedLines(ReadFile(extra.fullFileName));
  EXPECT_EQ(std::count(extraLines.begin(), extraLines.end(), "T\tX 1 extra"), 1);
  EXPECT_EQ(std::count(extraLines.begin(), extraLines.end(), "T\t 0 Print current param:"), 2);
  const Lines ownLines = NormalisedLines(ReadFile(params[3].fullFileName));
  EXPECT_EQ(std::count(ownLines.begin(), ownLines.end(), "T\tX 1 own"), 1);
}

TEST(RegistryVersion, IsV100WithoutAnyModule) {
  std::string version = "old";
  EXPECT_EQ(MoxlogGetVersion(version), 0);
  EXPECT_EQ(version, "V1.0.0");
}

// The header's version is the one the library is built and installed as, and the one it reports.
static_assert(MOXLOG_VERSION_MAJOR == ORV_PROJECT_VERSION_MAJOR && MOXLOG_VERSION_MINOR == ORV_PROJECT_VERSION_MINOR &&
                  MOXLOG_VERSION_PATCH == ORV_PROJECT_VERSION_PATCH,
              "moxlog.h's version macros differ from the project version");
TEST(RegistryVersion, MatchesTheHeaderMacros) {
  std::string version;
  ASSERT_EQ(MoxlogGetVersion(version), 0);
  EXPECT_EQ(version, "V" + std::to_string(MOXLOG_VERSION_MAJOR) + "." + std::to_string(MOXLOG_VERSION_MINOR) + "." +
                         std::to_string(MOXLOG_VERSION_PATCH));
}

}  // namespace
