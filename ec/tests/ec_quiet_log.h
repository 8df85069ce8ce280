// A test environment that gives liborv_ec a running log module for the whole program, in a unique
// directory under /var/log, so that the many trace lines of property tests go to a module that
// filters them instead of to standard error. It is stopped at the end of the program.
#ifndef ORV_EC_TESTS_EC_QUIET_LOG_H_
#define ORV_EC_TESTS_EC_QUIET_LOG_H_

#include <gtest/gtest.h>

#include <memory>

#include "ec_log_check.h"
#include "orv_ec/orv_ec.h"
#include "orv_test/scratch_dir.h"

namespace ec_test {

class QuietLogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<orv_test::ScratchDir>();
    // On a processor the gate refuses the module is stopped again; the functions under test do
    // not depend on it, their lines then only reach standard error.
    ZoInit(ModuleParam(*dir_, MOXLOG_CRITICAL, MOXLOG_CRITICAL));
  }
  void TearDown() override {
    ZoFinish();
    dir_.reset();
  }

 private:
  std::unique_ptr<orv_test::ScratchDir> dir_;
};

// Registers the environment; use as `static auto* env = ec_test::AddQuietLog();` at file scope.
inline ::testing::Environment* AddQuietLog() {
  return ::testing::AddGlobalTestEnvironment(new QuietLogEnvironment);
}

}  // namespace ec_test

#endif  // ORV_EC_TESTS_EC_QUIET_LOG_H_
