// Completion of a caller's parameter record and the byte-exact error report on standard error.
#include <gtest/gtest.h>

#include <string>

#include "log_param.h"
#include "orv_test/stderr_capture.h"

namespace {

using moxlog::CompleteParam;
using moxlog::PrintError;

MoxlogParam Param(const std::string& name, const std::string& path, uint32_t size) {
  return MoxlogParam{name, path, "/tmp/x.log", 7, 4, size};
}

TEST(CompleteParamTest, EmptyNameAndDirectoryBecomeTheDefaults) {
  MoxlogParam p = Param("", "", 100);
  CompleteParam(p);
  EXPECT_EQ(p.usrModuleName, "moxlog");
  EXPECT_EQ(p.fullPath, "/var/log/");
  EXPECT_EQ(p.fullFileName, "/var/log/moxlog.log");
}

TEST(CompleteParamTest, DirectoryGetsOneSlashAndTheFileNameIsRebuilt) {
  MoxlogParam p = Param("app", "/home/app", 100);
  CompleteParam(p);
  EXPECT_EQ(p.fullPath, "/home/app/");
  EXPECT_EQ(p.fullFileName, "/home/app/app.log");
  CompleteParam(p);
  EXPECT_EQ(p.fullPath, "/home/app/");
  EXPECT_EQ(p.fullFileName, "/home/app/app.log");

  MoxlogParam ec = Param("ec", "/var/log/ec", 50);
  ec.fileLogLevel = 1;
  CompleteParam(ec);
  EXPECT_EQ(ec.usrModuleName, "ec");
  EXPECT_EQ(ec.fullPath, "/var/log/ec/");
  EXPECT_EQ(ec.fullFileName, "/var/log/ec/ec.log");
  EXPECT_EQ(ec.fileLogLevel, 1);
  EXPECT_EQ(ec.memLogLevel, 4);
  EXPECT_EQ(ec.memLogSize, 100u);
}

TEST(CompleteParamTest, RingSizeIsClampedAndLevelsAreKept) {
  const struct {
    uint32_t given;
    uint32_t want;
  } cases[] = {{0, 100}, {99, 100}, {100, 100}, {567, 567}, {1000, 1000}, {1001, 1000},
               {4294967295u, 1000}};
  for (const auto& c : cases) {
    MoxlogParam p = Param("m", "/var/log/m/", c.given);
    CompleteParam(p);
    EXPECT_EQ(p.memLogSize, c.want) << c.given;
    EXPECT_EQ(p.fileLogLevel, 7);
    EXPECT_EQ(p.memLogLevel, 4);
  }
}

TEST(PrintErrorTest, WritesOnePrefixedLine) {
  orv_test::StderrCapture capture;
  PrintError("Open log_file[%s] failed. errno=[%d]", "/var/log/a.log", 13);
  EXPECT_EQ(capture.Text(), "MoxLog ERROR: Open log_file[/var/log/a.log] failed. errno=[13]\n");
}

TEST(PrintErrorTest, CutsTheTextAt511Characters) {
  std::string text;
  for (int i = 0; i < 600; ++i) {
    text.push_back(static_cast<char>('a' + i % 26));
  }
  orv_test::StderrCapture capture;
  PrintError("%s", text.c_str());
  EXPECT_EQ(capture.Text(), "MoxLog ERROR: " + text.substr(0, 511) + "\n");
}

}  // namespace
