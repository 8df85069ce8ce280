// Start, reload and finish of liborv_ec's log module in both forms: which module name the library
// logs under afterwards (after successes and failures), which module libmoxlog holds, and the
// start lines in the module's file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ec_log.h"
#include "ec_log_check.h"
#include "orv_ec/orv_ec.h"
#include "orv_platform/processor_id.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using ec_test::CountRecordLines;
using ec_test::LogFileOf;
using orv_ec::ecModuleName;

// What the library does before anything started it, observed once before any test runs.
struct BeforeStart {
  std::string name;
  std::string planningStderr;
  std::string finishStderr;
};
BeforeStart g_beforeStart;

class BeforeStartEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_beforeStart.name = ecModuleName;
    {
      orv_test::StderrCapture capture;
      ZoOffsetLenToChunkBounds({5000, 10000}, 4096);
      g_beforeStart.planningStderr = capture.Text();
    }
    orv_test::StderrCapture capture;
    ZoFinish();
    g_beforeStart.finishStderr = capture.Text();
  }
};
[[maybe_unused]] ::testing::Environment* const beforeStart =
    ::testing::AddGlobalTestEnvironment(new BeforeStartEnvironment);

TEST(EcStartupBeforeInit, LogsUnderEcpartial) {
  EXPECT_EQ("ecpartial", g_beforeStart.name);
  // No module of that name (nor the default one) exists: libmoxlog reports the name it was given.
  EXPECT_NE(std::string::npos, g_beforeStart.planningStderr.find("Can not find moduleName[ecpartial]"))
      << g_beforeStart.planningStderr;
  EXPECT_NE(std::string::npos, g_beforeStart.finishStderr.find("Can not find moduleName[ecpartial]"))
      << g_beforeStart.finishStderr;
}

class EcStartup : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!orv::platform::ProcessorCheck().accepted) {
      GTEST_SKIP() << "the processor gate refuses this processor (see the gate test)";
    }
  }

  // A parameter file with one DEBUG section per suffix, all writing into the scratch directory.
  std::string WriteParamFile(const std::vector<std::string>& suffixes, const std::string& fullPath) {
    const std::string path = dir_.dir() + "ec_param.ini";
    std::ofstream out(path);
    out << "# liborv_ec test parameters\n";
    for (const std::string& suffix : suffixes) {
      out << "[orvec-" << suffix << "]\nfull_path=" << fullPath << "\nlog_level=DEBUG/DEBUG\n";
    }
    return path;
  }
  std::string Log(const std::string& moduleName) { return orv_test::ReadFile(LogFileOf(dir_, moduleName)); }
  static bool Registered(const std::string& moduleName) {
    MoxlogParam param{};
    orv_test::StderrCapture quiet;
    return MoxlogGetCurParam(moduleName, param) == 0;
  }

  orv_test::ScratchDir dir_;
};

TEST_F(EcStartup, InitByRecordNamesTheModuleAndKeepsTheCallersRecord) {
  MoxlogParam param{dir_.name(), dir_.path(), "/tmp/ignored.log", MOXLOG_DEBUG, MOXLOG_DEBUG, 7};
  const MoxlogParam given = param;
  ASSERT_EQ(0, ZoInit(param));
  EXPECT_EQ(dir_.name(), ecModuleName);
  EXPECT_TRUE(Registered(dir_.name()));
  EXPECT_EQ(given.fullPath, param.fullPath);
  EXPECT_EQ(given.fullFileName, param.fullFileName);
  EXPECT_EQ(given.memLogSize, param.memLogSize);

  ZoFinish();
  EXPECT_EQ(dir_.name(), ecModuleName);  // finishing keeps the name
  EXPECT_FALSE(Registered(dir_.name()));
  EXPECT_EQ(1, CountRecordLines(Log(dir_.name()), "PROC", 4, "orv_ec is initialized by param struct."));
}

TEST_F(EcStartup, FailedInitByRecordKeepsTheNewName) {
  ecModuleName = "before";
  // A directory outside the allowed log roots: the module is registered but cannot start.
  const std::string name = dir_.name() + "-refused";
  const MoxlogParam param{name, "/tmp/" + dir_.name(), "", MOXLOG_DEBUG, MOXLOG_DEBUG, 100};
  {
    orv_test::StderrCapture quiet;
    EXPECT_EQ(1, ZoInit(param));
  }
  EXPECT_EQ(name, ecModuleName);
  orv_test::StderrCapture quiet;
  EXPECT_EQ(0, MoxlogStopRecordLog(name));  // registered, never started
}

TEST_F(EcStartup, ReloadByRecordMovesToTheNewModule) {
  ASSERT_EQ(0, ZoInit(ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG)));
  const std::string second = dir_.name() + "-2";
  ASSERT_EQ(0, ZoReload(ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG, "-2")));
  EXPECT_EQ(second, ecModuleName);
  EXPECT_FALSE(Registered(dir_.name()));
  EXPECT_TRUE(Registered(second));
  ZoFinish();
  EXPECT_EQ(1, CountRecordLines(Log(second), "PROC", 4, "orv_ec is reloaded by param struct."));
}

TEST_F(EcStartup, FailedReloadByRecordKeepsTheCurrentName) {
  ASSERT_EQ(0, ZoInit(ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG)));
  ZoFinish();  // the current module no longer exists: the reload cannot stop it
  {
    orv_test::StderrCapture quiet;
    EXPECT_EQ(1, ZoReload(ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG, "-2")));
  }
  EXPECT_EQ(dir_.name(), ecModuleName);
  EXPECT_FALSE(Registered(dir_.name() + "-2"));
}

TEST_F(EcStartup, InitAndReloadByFile) {
  const std::string first = dir_.name();
  const std::string second = dir_.name() + "-b";
  const std::string file = WriteParamFile({first, second}, dir_.path());

  ASSERT_EQ(0, ZoInit(file, first));
  EXPECT_EQ("orvec-" + first, ecModuleName);
  EXPECT_TRUE(Registered("orvec-" + first));

  ASSERT_EQ(0, ZoReload(file, second));
  EXPECT_EQ("orvec-" + second, ecModuleName);
  EXPECT_FALSE(Registered("orvec-" + first));
  ZoFinish();
  EXPECT_FALSE(Registered("orvec-" + second));

  EXPECT_EQ(1, CountRecordLines(Log("orvec-" + first), "PROC", 4, "orv_ec is initialized by param file."));
  EXPECT_EQ(1, CountRecordLines(Log("orvec-" + second), "PROC", 4, "orv_ec is reloaded by param file."));
}

TEST_F(EcStartup, EmptySuffixNamesTheModuleOrvecDash) {
  const std::string file = WriteParamFile({""}, dir_.path());
  ASSERT_EQ(0, ZoInit(file, ""));
  EXPECT_EQ("orvec-", ecModuleName);
  ZoFinish();
  EXPECT_EQ(1, CountRecordLines(Log("orvec-"), "PROC", 4, "orv_ec is initialized by param file."));
}

TEST_F(EcStartup, FailedReloadByFileLogsUnderTheNewNameAndRestoresTheOld) {
  const std::string file = WriteParamFile({dir_.name(), "other"}, dir_.path());
  ASSERT_EQ(0, ZoInit(file, dir_.name()));
  ZoFinish();
  orv_test::StderrCapture capture;
  EXPECT_EQ(1, ZoReload(file, "other"));
  const std::string err = capture.Text();
  EXPECT_EQ("orvec-" + dir_.name(), ecModuleName);
  // The ERROR line named the new module, which libmoxlog does not know.
  EXPECT_NE(std::string::npos, err.find("Can not find moduleName[orvec-other]")) << err;
  EXPECT_FALSE(Registered("orvec-other"));
}

TEST_F(EcStartup, FailedInitByFileKeepsTheNewName) {
  // An empty full_path: libmoxlog refuses the start and keeps the module registered, not started.
  const std::string file = WriteParamFile({dir_.name()}, "");
  {
    orv_test::StderrCapture quiet;
    EXPECT_EQ(1, ZoInit(file, dir_.name()));
  }
  EXPECT_EQ("orvec-" + dir_.name(), ecModuleName);
  orv_test::StderrCapture quiet;
  EXPECT_EQ(0, MoxlogStopRecordLog("orvec-" + dir_.name()));
}

// The header's version is the one the library is built and installed as (liborv_ec.so.1.M.P),
// and the same as libmoxlog's, which ships with it.
static_assert(ORV_EC_VERSION_MAJOR == ORV_PROJECT_VERSION_MAJOR && ORV_EC_VERSION_MINOR == ORV_PROJECT_VERSION_MINOR &&
                  ORV_EC_VERSION_PATCH == ORV_PROJECT_VERSION_PATCH,
              "orv_ec.h's version macros differ from the project version");
static_assert(ORV_EC_VERSION_MAJOR == MOXLOG_VERSION_MAJOR && ORV_EC_VERSION_MINOR == MOXLOG_VERSION_MINOR &&
                  ORV_EC_VERSION_PATCH == MOXLOG_VERSION_PATCH,
              "orv_ec.h and moxlog.h give different versions");

}  // namespace
