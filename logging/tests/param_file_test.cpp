// Starting modules from parameter files through the public interface: the file grammar, level
// words and ring sizes, the fallbacks to the default record with their exact reports, paths that
// cannot be used, and the reload. Parameter files and log directories live in a unique scratch
// directory under /var/log; every module started is stopped again.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

namespace fs = std::filesystem;

const std::string kWrongLevel = "ORV_EC log level is wrong.\n";

struct Started {
  int result;
  std::string report;  // standard error during the call
};

class ParamFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    orv_test::StderrCapture quiet;
    for (const std::string& name : modules_) {
      MoxlogStopRecordLog(name);
    }
    for (const std::string& file : strayFiles_) {
      std::remove(file.c_str());
    }
  }

  // A module name unique to this test.
  std::string Module(const std::string& suffix = "") { return scratch_.name() + suffix; }

  std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = scratch_.dir() + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  Started Start(const std::string& module, const std::string& paramFile) {
    modules_.push_back(module.empty() ? DEFAULT_MODULE_NAME : module);
    orv_test::StderrCapture capture;
    const int result = MoxlogSetAndInit(module, paramFile);
    return Started{result, capture.Text()};
  }

  MoxlogParam Current(const std::string& module) {
    MoxlogParam p{"unset", "unset", "unset", -7, -7, 7};
    EXPECT_EQ(MoxlogGetCurParam(module, p), 0) << module;
    return p;
  }

  // Stops the module, expecting it to be registered.
  void Stop(const std::string& module) { EXPECT_EQ(MoxlogStopRecordLog(module), 0) << module; }

  // A module that falls back to the default directory writes /var/log/<module>.log: removed
  // after the test.
  void ExpectStrayFile(const std::string& path) { strayFiles_.push_back(path); }

  void ExpectDefaultRecord(const std::string& module) {
    const MoxlogParam p = Current(module);
    EXPECT_EQ(p.usrModuleName, "moxlog");
    EXPECT_EQ(p.fullPath, "/var/log/");
    EXPECT_EQ(p.fullFileName, "/var/log/moxlog.log");
    EXPECT_EQ(p.fileLogLevel, 0);
    EXPECT_EQ(p.memLogLevel, 1);
    EXPECT_EQ(p.memLogSize, 100u);
  }

  // Registered, but its start was refused: writes fail with -1, the stop removes it.
  void ExpectRegisteredNotStarted(const std::string& module) {
    EXPECT_EQ(MoxlogWriteLog(0, module, "t", "x"), -1);
    Stop(module);
  }

  orv_test::ScratchDir scratch_;
  std::vector<std::string> modules_;
  std::vector<std::string> strayFiles_;
};

TEST_F(ParamFileTest, SectionKeysCommentsAndFirstMatch) {
  const std::string m = Module();
  const std::string logs = scratch_.dir() + "logs";
  const std::string file = WriteFile(
      "params.ini", "# full_path=" + scratch_.dir() + "comment\n"
                    "// [" + m + "]\n"
                    "[other]\n"
                    "full_path=" + scratch_.dir() + "other\n"
                    "[" + m + "]\n"
                    "\n"
                    "x\n"
                    " full_path=" + scratch_.dir() + "indented\n"
                    "full_path\n"
                    "log_level=  ERROR/DEBUG\n"
                    "full_path =   " + logs + "\n"
                    "mem_log_size=500\n"
                    "[" + m + "x]\n"
                    "mem_log_size=700\n"
                    "[" + m + "]\n"
                    "full_path=" + scratch_.dir() + "second\n");
  const Started s = Start(m, file);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.report, "");
  const MoxlogParam p = Current(m);
  EXPECT_EQ(p.usrModuleName, m);
  EXPECT_EQ(p.fullPath, logs + "/");
  EXPECT_EQ(p.fullFileName, logs + "/" + m + ".log");
  EXPECT_EQ(p.fileLogLevel, 1);
  EXPECT_EQ(p.memLogLevel, 4);
  EXPECT_EQ(p.memLogSize, 500u);
  // The module runs in the directory the file named and records its parameters there.
  EXPECT_TRUE(orv_test::WaitUntil([&] {
    return orv_test::ReadFile(p.fullFileName).find("Print current param:") != std::string::npos;
  }));
  EXPECT_FALSE(fs::exists(scratch_.dir() + "other"));
  EXPECT_FALSE(fs::exists(scratch_.dir() + "indented"));
  Stop(m);
}

TEST_F(ParamFileTest, KeyIsMatchedOnItsLengthOnlyAndTheValueKeepsTrailingBlanks) {
  const std::string m = Module();
  const std::string file = WriteFile("p.ini", "[" + m + "]\nfull_pathname=" + scratch_.dir() +
                                                  "sp \nfull_path=" + scratch_.dir() + "plain\n");
  EXPECT_EQ(Start(m, file).result, 0);
  const MoxlogParam p = Current(m);
  EXPECT_EQ(p.fullPath, scratch_.dir() + "sp /");
  EXPECT_EQ(p.fullFileName, scratch_.dir() + "sp /" + m + ".log");
  EXPECT_TRUE(fs::is_directory(scratch_.dir() + "sp "));
  Stop(m);
}

TEST_F(ParamFileTest, LevelWords) {
  const struct {
    std::string value;
    int file;
    int mem;
    int wrongReports;
  } cases[] = {
      {"debug", 4, 4, 0},          {"ERROR/DEBUG", 1, 4, 0},     {"/WARNING/", 2, 2, 0},
      {"InFoRmAtIoN", 3, 3, 0},    {"critical//warning", 0, 2, 0}, {"INFO", 0, 0, 2},
      {"DEBUG / ERROR", 0, 0, 2},  {"DEBUG ", 0, 0, 2},          {"DEBUG/bogus", 4, 0, 1},
      {"a/b/c", 0, 1, 0},          {"/", 0, 1, 0},               {"", 0, 1, 0},
      {"DEBUG/" + std::string(1100, 'x'), 0, 1, 0},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string m = Module("-" + std::to_string(index++));
    const std::string file = WriteFile("lv.ini", "[" + m + "]\nfull_path=" + scratch_.dir() +
                                                     "lv\nlog_level=" + c.value + "\n");
    const Started s = Start(m, file);
    EXPECT_EQ(s.result, 0) << c.value;
    std::string want;
    for (int i = 0; i < c.wrongReports; ++i) {
      want += kWrongLevel;
    }
    EXPECT_EQ(s.report, want) << c.value;
    const MoxlogParam p = Current(m);
    EXPECT_EQ(p.fileLogLevel, c.file) << c.value;
    EXPECT_EQ(p.memLogLevel, c.mem) << c.value;
    Stop(m);
  }
}

TEST_F(ParamFileTest, RingSizeValues) {
  const struct {
    std::string line;
    uint32_t size;
  } cases[] = {
      {"mem_log_size=50", 100},          {"mem_log_size=500", 500},
      {"mem_log_size=1001", 1000},       {"mem_log_size=-1", 1000},
      {"mem_log_size=abc", 100},         {"mem_log_size=+700", 700},
      {"mem_log_size=\t300", 300},       {"mem_log_size=1234567890", 100},
      {"mem_log_size=500 # note", 100},  {"mem_log_size=", 100},
      {"# no size", 100},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string m = Module("-" + std::to_string(index++));
    const std::string file = WriteFile("sz.ini", "[" + m + "]\nfull_path=" + scratch_.dir() +
                                                     "sz\n" + c.line + "\n");
    EXPECT_EQ(Start(m, file).result, 0) << c.line;
    EXPECT_EQ(Current(m).memLogSize, c.size) << c.line;
    Stop(m);
  }
}

TEST_F(ParamFileTest, LongLinesAreReadWhole) {
  const std::string m = Module();
  std::string dir = scratch_.dir();
  for (int i = 0; i < 8; ++i) {
    dir += std::string(150, static_cast<char>('a' + i)) + "/";
  }
  const std::string file =
      WriteFile("long.ini", "#" + std::string(5000, 'c') + "\n[" + m + "]\nzzz=" +
                                std::string(7000, 'z') + "\nlog_level=WARNING\nfull_path=" + dir + "\n");
  const Started s = Start(m, file);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.report, "");
  const MoxlogParam p = Current(m);
  EXPECT_EQ(p.fullPath, dir);
  EXPECT_EQ(p.fileLogLevel, 2);
  Stop(m);
}

TEST_F(ParamFileTest, SectionWithoutKeysAndHeadersThatNeverOpenTheSection) {
  // A header with a blank after it, or carriage-return line ends, pass the section check, but
  // the key searches never enter the section: the module keeps its name and the defaults.
  const std::vector<std::string> bodies = {
      "[%]\n",
      "[%] \nfull_path=" + scratch_.dir() + "never\nlog_level=DEBUG\n",
      "[%]\r\nfull_path=" + scratch_.dir() + "never\r\nmem_log_size=500\r\n",
  };
  int index = 0;
  for (std::string body : bodies) {
    const std::string m = Module("-" + std::to_string(index++));
    body.replace(body.find('%'), 1, m);
    const std::string file = WriteFile("nokeys.ini", body);
    ExpectStrayFile("/var/log/" + m + ".log");
    const Started s = Start(m, file);
    EXPECT_EQ(s.result, 0) << body;
    EXPECT_EQ(s.report, "") << body;
    const MoxlogParam p = Current(m);
    EXPECT_EQ(p.usrModuleName, m);
    EXPECT_EQ(p.fullPath, "/var/log/");
    EXPECT_EQ(p.fullFileName, "/var/log/" + m + ".log");
    EXPECT_EQ(p.fileLogLevel, 0);
    EXPECT_EQ(p.memLogLevel, 1);
    EXPECT_EQ(p.memLogSize, 100u);
    Stop(m);
  }
  EXPECT_FALSE(fs::exists(scratch_.dir() + "never"));
}

TEST_F(ParamFileTest, UnusableFilesStartTheDefaultRecord) {
  // Every file below that can be read names the module's directory; none of it may be applied.
  const std::string m = Module();
  const std::string content = "[" + m + "]\nfull_path=" + scratch_.dir() + "unused\n";
  const std::string noSection = "MoxLog ERROR: Section [" + m + "] is not exist, use default.\n";
  const std::string noFile = "MoxLog ERROR: ParamFile is invalid, use default.\n";
  const std::string badName = "MoxLog ERROR: ParamFilepath is invalid, use default.\n";
  ASSERT_EQ(mkfifo((scratch_.dir() + "fifo.ini").c_str(), 0600), 0);
  fs::create_directory(scratch_.dir() + "dir.ini");
  const struct {
    std::string path;
    std::string report;
  } cases[] = {
      {scratch_.dir() + "missing.ini", noFile},
      {scratch_.dir() + "nodir/x.ini", noFile},
      {"", noFile},
      {WriteFile("p+q.ini", content), badName},
      {WriteFile("p~q.ini", content), badName},
      {WriteFile("p:q.ini", content), badName},
      {WriteFile("nosection.ini", "[other]\n" + content.substr(content.find('\n') + 1)), noSection},
      // A FIFO or a directory holds no section (and reading them can neither block nor run on).
      {scratch_.dir() + "fifo.ini", noSection},
      {scratch_.dir() + "dir.ini", noSection},
  };
  for (const auto& c : cases) {
    const Started s = Start(m, c.path);
    EXPECT_EQ(s.result, 0) << c.path;
    EXPECT_EQ(s.report, c.report) << c.path;
    ExpectDefaultRecord(m);
    Stop(m);
  }
  EXPECT_FALSE(fs::exists(scratch_.dir() + "unused"));
}

TEST_F(ParamFileTest, OverLongModuleNameFailsTheSectionCheck) {
  const std::string m = Module("-" + std::string(1100, 'n'));
  const std::string file = WriteFile("p.ini", "[" + m + "]\nfull_path=" + scratch_.dir() + "x\n");
  const Started s = Start(m, file);
  EXPECT_EQ(s.result, 0);
  // The report itself is cut at 511 characters.
  EXPECT_EQ(s.report,
            "MoxLog ERROR: " + ("Section [" + m + "] is not exist, use default.").substr(0, 511) + "\n");
  ExpectDefaultRecord(m);
  Stop(m);
}

TEST_F(ParamFileTest, UnresolvablePathsFailWithoutStarting) {
  const std::string plain = WriteFile("plain.ini", "x\n");
  const struct {
    std::string path;
    std::string report;
  } cases[] = {
      {plain + "/sub.ini", "MoxLog ERROR: MoxlogSetAndInit realpath 20\n"},
      {std::string("/var/log/a\0b.ini", 16), "MoxLog ERROR: MoxlogSetAndInit realpath 22\n"},
      {"/var/log/" + std::string(5000, 'p'), "MoxLog ERROR: MoxlogSetAndInit realpath 36\n"},
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string m = Module("-" + std::to_string(index++));
    const Started s = Start(m, c.path);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.report, c.report);
    ExpectRegisteredNotStarted(m);
  }
}

TEST_F(ParamFileTest, EmptyOrOverLongDirectoryFailsSilently) {
  const std::vector<std::string> values = {"", std::string(4097, 'd')};
  int index = 0;
  for (const std::string& value : values) {
    const std::string m = Module("-" + std::to_string(index++));
    const std::string file = WriteFile("p.ini", "[" + m + "]\nfull_path=" + value + "\n");
    const Started s = Start(m, file);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.report, "");
    ExpectRegisteredNotStarted(m);
  }
}

TEST_F(ParamFileTest, DirectoryOutsideTheRootsIsRefusedByInit) {
  const std::string m = Module();
  const std::string file = WriteFile("p.ini", "[" + m + "]\nfull_path=/tmp/" + m + "\n");
  const Started s = Start(m, file);
  EXPECT_EQ(s.result, 3);
  EXPECT_EQ(s.report,
            "MoxLog ERROR: Log file path is illegal, it must be /var/log/* or /home/*.\n"
            "MoxLog ERROR: Log file full name is fault. [/tmp/" + m + "/" + m + ".log]\n");
  EXPECT_FALSE(fs::exists("/tmp/" + m));
  ExpectRegisteredNotStarted(m);
}

TEST_F(ParamFileTest, EmptyModuleNameReadsTheDefaultSection) {
  const std::string file =
      WriteFile("p.ini", "[moxlog]\nfull_path=" + scratch_.dir() + "dflt\nlog_level=WARNING\n");
  const Started s = Start("", file);
  EXPECT_EQ(s.result, 0);
  const MoxlogParam p = Current("moxlog");
  EXPECT_EQ(p.usrModuleName, "moxlog");
  EXPECT_EQ(p.fullPath, scratch_.dir() + "dflt/");
  EXPECT_EQ(p.fileLogLevel, 2);
  Stop("moxlog");
}

TEST_F(ParamFileTest, RunningModuleKeepsItsParametersUntilReloaded) {
  const std::string a = Module("-a");
  const std::string b = Module("-b");
  const std::string file = WriteFile(
      "p.ini", "[" + a + "]\nfull_path=" + scratch_.dir() + "a\nlog_level=DEBUG\n[" + b +
                   "]\nfull_path=" + scratch_.dir() + "b\nlog_level=ERROR/WARNING\nmem_log_size=300\n");
  ASSERT_EQ(Start(a, file).result, 0);

  WriteFile("p.ini", "[" + a + "]\nfull_path=" + scratch_.dir() + "a2\nlog_level=ERROR\n");
  EXPECT_EQ(Start(a, file).result, 0);
  EXPECT_EQ(Current(a).fullPath, scratch_.dir() + "a/");
  EXPECT_EQ(Current(a).fileLogLevel, 4);

  // Reloading under the same name applies the file as it is now.
  EXPECT_EQ(MoxlogReloadFileParam(a, a, file), 0);
  EXPECT_EQ(Current(a).fullPath, scratch_.dir() + "a2/");
  EXPECT_EQ(Current(a).fileLogLevel, 1);

  // Reloading into another module stops the old one.
  WriteFile("p.ini", "[" + b + "]\nfull_path=" + scratch_.dir() + "b\nlog_level=ERROR/WARNING\n"
                                                                       "mem_log_size=300\n");
  modules_.push_back(b);
  EXPECT_EQ(MoxlogReloadFileParam(a, b, file), 0);
  const MoxlogParam p = Current(b);
  EXPECT_EQ(p.usrModuleName, b);
  EXPECT_EQ(p.fullPath, scratch_.dir() + "b/");
  EXPECT_EQ(p.fileLogLevel, 1);
  EXPECT_EQ(p.memLogLevel, 2);
  EXPECT_EQ(p.memLogSize, 300u);
  {
    orv_test::StderrCapture capture;
    EXPECT_EQ(MoxlogStopRecordLog(a), 1);
    EXPECT_NE(capture.Text().find("Can not find moduleName[" + a + "]"), std::string::npos);
  }
  Stop(b);
}

TEST_F(ParamFileTest, ReloadOfAnUnregisteredModuleReadsNothing) {
  const std::string old = Module("-old");
  const std::string fresh = Module("-new");
  const std::string file = WriteFile("p.ini", "[" + fresh + "]\nfull_path=" + scratch_.dir() + "n\n");
  orv_test::StderrCapture capture;
  EXPECT_EQ(MoxlogReloadFileParam(old, fresh, file), 1);
  const std::string report = capture.Text();
  EXPECT_EQ(report.rfind("MoxLog ERROR: MoxlogStopRecordLog. Can not find moduleName[" + old +
                             "]. size[", 0),
            0u)
      << report;
  EXPECT_FALSE(fs::exists(scratch_.dir() + "n"));
  orv_test::StderrCapture quiet;
  EXPECT_EQ(MoxlogStopRecordLog(fresh), 1);
}

}  // namespace
