// Test helpers for liborv_ec's log output: a module in a unique directory under /var/log, a test
// fixture that starts it at DEBUG levels, and a check for one exact record line
// "<time>\t<tag> <level> <message>" in its log file.
#ifndef ORV_EC_TESTS_EC_LOG_CHECK_H_
#define ORV_EC_TESTS_EC_LOG_CHECK_H_

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

#include "moxlog/moxlog.h"
#include "orv_ec/orv_ec.h"
#include "orv_test/gate_expectation.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace ec_test {

// A record for a module named after the scratch directory, writing into it with the given levels.
inline MoxlogParam ModuleParam(const orv_test::ScratchDir& dir, int fileLevel, int memLevel,
                               const std::string& suffix = "") {
  return MoxlogParam{dir.name() + suffix, dir.dir(), "", fileLevel, memLevel, 100};
}

// The log file a module named `name` writes in `dir`.
inline std::string LogFileOf(const orv_test::ScratchDir& dir, const std::string& name) {
  return dir.dir() + name + ".log";
}

// Regular-expression text matching `literal` exactly.
inline std::string EscapeRegex(const std::string& literal) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(literal, special, R"(\$&)");
}

// Number of lines of `fileText` that are exactly one record of the given tag, level and message,
// written by a flush pass (not the "MemLog >> " copy of a ring dump).
inline int CountRecordLines(const std::string& fileText, const std::string& tag, int level,
                            const std::string& message) {
  const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}\t)" + EscapeRegex(tag) + " " +
                        std::to_string(level) + " " + EscapeRegex(message));
  std::istringstream in(fileText);
  std::string text;
  int count = 0;
  while (std::getline(in, text)) {
    if (std::regex_match(text, line)) {
      ++count;
    }
  }
  return count;
}

// A test whose library module is started by ZoInit at DEBUG levels in a scratch directory.
class LoggedModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (orv_test::ExpectedGate() == orv_test::GateExpectation::kReject) {
      GTEST_SKIP() << "the processor gate refuses this processor: no module stays started";
    }
    ASSERT_EQ(0, ZoInit(ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG)));
  }

  // Stops the module (which flushes it) and returns its log file.
  std::string FinishAndRead() {
    ZoFinish();
    return orv_test::ReadFile(LogFileOf(dir_, dir_.name()));
  }

  orv_test::ScratchDir dir_;
};

}  // namespace ec_test

#endif  // ORV_EC_TESTS_EC_LOG_CHECK_H_
