// Running out of memory in any exported function: no exception leaves the library, the result is
// a failure code (or success where the allocation was not needed), and the registry stays usable:
// afterwards the same module starts, writes and stops as usual. The program's operator new is
// replaced so that one chosen allocation of the calling thread fails; sweeping that choice over
// every allocation of a call reaches every place where one can fail.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>

#include "moxlog/moxlog.h"
#include "orv_test/counting_new.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using orv_test::WithFailureAfter;

class OutOfMemory : public ::testing::Test {
 protected:
  // Names longer than a short string, so that copies of them allocate.
  OutOfMemory() : module_("oom-module-with-a-long-name-" + dir_.name()) {}

  MoxlogParam Param() const { return MoxlogParam{module_, dir_.dir(), "", MOXLOG_DEBUG, MOXLOG_DEBUG, 100}; }

  // Starts the module with a record in its file and one in its memory ring.
  void StartWithRecords() {
    MoxlogParam p = Param();
    ASSERT_EQ(0, MoxlogSetAndInit(p));
    ASSERT_EQ(0, MoxlogWriteLog(MOXLOG_ERROR, module_, "T", "a record that is long enough to allocate %d", 1));
    ASSERT_TRUE(orv_test::WaitUntil([&] { return ReadLog().find("allocate 1") != std::string::npos; }));
  }

  std::string ReadLog() const { return orv_test::ReadFile(dir_.dir() + module_ + ".log"); }

  // The module can be started (again), written to and stopped, and nothing else is registered.
  void ExpectUsable() {
    MoxlogParam p = Param();
    EXPECT_EQ(0, MoxlogSetAndInit(p));
    EXPECT_EQ(0, MoxlogWriteLog(MOXLOG_ERROR, module_, "T", "still usable"));
    EXPECT_EQ(0, MoxlogStopRecordLog(module_));
    EXPECT_NE(std::string::npos, ReadLog().find("still usable"));
    orv_test::StderrCapture quiet;
    EXPECT_EQ(1, MoxlogStopRecordLog(module_));
    EXPECT_EQ(1, MoxlogStopRecordLog(DEFAULT_MODULE_NAME));
  }

  orv_test::ScratchDir dir_;
  const std::string module_;
};

// Allocations the calling thread makes in `call` when none fails.
template <typename Call>
long AllocationsOf(Call call) {
  const size_t before = orv_test::AllocationsOnThisThread();
  call();
  return static_cast<long>(orv_test::AllocationsOnThisThread() - before);
}

TEST_F(OutOfMemory, StartsFailWithACode) {
  const std::string file = dir_.dir() + "param.ini";
  std::ofstream(file) << "[" << module_ << "]\nfull_path=" << dir_.dir() << "\nlog_level=DEBUG\n";
  MoxlogParam p;
  const auto startByRecord = [&] { return MoxlogSetAndInit(p); };
  const auto startByFile = [&] { return MoxlogSetAndInit(module_, file); };
  for (const auto& start : {std::function<int()>(startByRecord), std::function<int()>(startByFile)}) {
    p = Param();
    const long allocations = AllocationsOf(start);
    ASSERT_EQ(0, MoxlogStopRecordLog(module_));
    ASSERT_GT(allocations, 0);
    for (long failAt = 0; failAt <= allocations; ++failAt) {
      SCOPED_TRACE(::testing::Message() << "allocation " << failAt << " of " << allocations << " fails");
      p = Param();
      int r = 0;
      orv_test::StderrCapture quiet;
      EXPECT_NO_THROW(r = WithFailureAfter(failAt, start));
      if (failAt < allocations) {
        EXPECT_TRUE(r == 0 || r == -99) << r;
      } else {
        EXPECT_EQ(0, r) << "every allocation of the start was reached";
      }
      MoxlogStopRecordLog(module_);
      ExpectUsable();
    }
  }
}

TEST_F(OutOfMemory, CallsOnARunningModuleFailWithACode) {
  const std::string longTag = "a-tag-longer-than-a-short-string";
  for (long failAt = 0; failAt < 16; ++failAt) {  // more than any of these calls allocates (at most 8)
    SCOPED_TRACE(::testing::Message() << "allocation " << failAt << " fails");
    StartWithRecords();
    int r = 0;
    orv_test::StderrCapture quiet;
    EXPECT_NO_THROW(r = WithFailureAfter(failAt, [&] {
                      return MoxlogWriteLog(MOXLOG_ERROR, module_, longTag, "a message longer than a short string");
                    }));
    EXPECT_TRUE(r == 0 || r == -1) << r;
    MoxlogParam out;
    EXPECT_NO_THROW(r = WithFailureAfter(failAt, [&] { return MoxlogGetCurParam(module_, out); }));
    EXPECT_TRUE(r == 0 || r == -1) << r;
    EXPECT_NO_THROW(r = WithFailureAfter(failAt, [&] { return MoxlogMemToFile(module_); }));
    EXPECT_TRUE(r == 0 || r == -1) << r;
    ASSERT_EQ(0, MoxlogWriteLog(MOXLOG_ERROR, module_, "T", "in the ring again"));
    ASSERT_TRUE(orv_test::WaitUntil([&] { return ReadLog().find("in the ring again") != std::string::npos; }));
    // A stop dumps the ring first; running out of memory there must not stop the stop.
    EXPECT_NO_THROW(r = WithFailureAfter(failAt, [&] { return MoxlogStopRecordLog(module_); }));
    EXPECT_EQ(0, r);
    ExpectUsable();
  }
}

}  // namespace
