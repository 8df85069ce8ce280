// The processor gate of liborv_ec's start-up, run once per simulated Main ID Register value (or
// against the real register on aarch64): every start and reload form returns 0 on an accepted
// processor; on a refused one it returns 1 after logging the start line and the CRITICAL line with
// the register's implementer and part number, and the module is stopped again.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include "ec_log_check.h"
#include "orv_ec/orv_ec.h"
#include "orv_test/gate_expectation.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using ec_test::CountRecordLines;
using orv_test::GateExpectation;

// The register value this process sees, read independently of the library: the real register on
// aarch64, ORV_MIDR elsewhere. 0 when it cannot be had (the library then reports 0 and 0).
uint64_t RegisterValue() {
#if defined(__aarch64__) && defined(__linux__)
  if ((getauxval(AT_HWCAP) & HWCAP_CPUID) == 0) {
    return 0;
  }
  uint64_t value;
  __asm__ volatile("mrs %0, MIDR_EL1" : "=r"(value));
  return value;
#else
  const char* text = std::getenv("ORV_MIDR");
  if (text == nullptr || *text == '\0') {
    return 0;
  }
  char* end = nullptr;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const unsigned long long value = std::strtoull(hex ? text + 2 : text, &end, hex ? 16 : 10);
  return *end == '\0' && end != (hex ? text + 2 : text) ? value : 0;
#endif
}

std::string RefusalMessage() {
  const uint64_t midr = RegisterValue();
  char text[128];
  std::snprintf(text, sizeof text, "unsupported Platform VID=0x%x, PID=0x%x",
                static_cast<unsigned int>((midr >> 24) & 0xFF), static_cast<unsigned int>((midr >> 4) & 0xFFF));
  return text;
}

bool Registered(const std::string& name) {
  MoxlogParam param{};
  orv_test::StderrCapture quiet;
  return MoxlogGetCurParam(name, param) == 0;
}

class EcGate : public ::testing::Test {
 protected:
  void SetUp() override {
    expectation_ = orv_test::ExpectedGate();
    if (expectation_ == GateExpectation::kUnknown) {
      GTEST_SKIP() << "no expected verdict for this processor";
    }
  }
  bool Rejects() const { return expectation_ == GateExpectation::kReject; }
  int Expected() const { return Rejects() ? 1 : 0; }

  // Checks the log of `module` after a start or reload whose DEBUG line is `startLine`.
  void CheckLog(const std::string& module, const std::string& startLine) {
    if (Registered(module)) {
      MoxlogStopRecordLog(module);  // accepted: stop it here to flush the file
    }
    const std::string log = orv_test::ReadFile(dir_.dir() + module + ".log");
    EXPECT_EQ(1, CountRecordLines(log, "PROC", 4, startLine)) << module << "\n" << log;
    const int refusals = CountRecordLines(log, "PROC", 0, RefusalMessage());
    EXPECT_EQ(Rejects() ? 1 : 0, refusals) << module << "\n" << log;
    if (Rejects()) {
      // The message ends in a line feed of its own, so an empty line follows the record.
      EXPECT_NE(std::string::npos, log.find(RefusalMessage() + "\n\n")) << log;
    }
  }

  GateExpectation expectation_ = GateExpectation::kUnknown;
  orv_test::ScratchDir dir_;
};

TEST_F(EcGate, InitByRecord) {
  const MoxlogParam param = ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG);
  ASSERT_EQ(Expected(), ZoInit(param));
  EXPECT_EQ(!Rejects(), Registered(param.usrModuleName));  // a refused start stops the module
  CheckLog(param.usrModuleName, "orv_ec is initialized by param struct.");

  // A later start runs the check again.
  ASSERT_EQ(Expected(), ZoInit(ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG, "-again")));
  CheckLog(param.usrModuleName + "-again", "orv_ec is initialized by param struct.");
}

TEST_F(EcGate, ReloadByRecord) {
  MoxlogParam first = ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG);
  ZoInit(first);
  if (Rejects()) {
    ASSERT_EQ(0, MoxlogSetAndInit(first));  // start the module directly, so there is one to reload
  }
  const MoxlogParam second = ec_test::ModuleParam(dir_, MOXLOG_DEBUG, MOXLOG_DEBUG, "-2");
  ASSERT_EQ(Expected(), ZoReload(second));
  EXPECT_FALSE(Registered(first.usrModuleName));
  EXPECT_EQ(!Rejects(), Registered(second.usrModuleName));
  CheckLog(second.usrModuleName, "orv_ec is reloaded by param struct.");
}

TEST_F(EcGate, InitAndReloadByFile) {
  const std::string path = dir_.dir() + "gate.ini";
  {
    std::ofstream out(path);
    for (const char* suffix : {"one", "two"}) {
      out << "[orvec-" << suffix << "]\nfull_path=" << dir_.path() << "\nlog_level=DEBUG/DEBUG\n";
    }
  }
  ASSERT_EQ(Expected(), ZoInit(path, "one"));
  EXPECT_EQ(!Rejects(), Registered("orvec-one"));
  if (Rejects()) {
    CheckLog("orvec-one", "orv_ec is initialized by param file.");
    ASSERT_EQ(0, MoxlogSetAndInit("orvec-one", path));
  }
  ASSERT_EQ(Expected(), ZoReload(path, "two"));
  EXPECT_FALSE(Registered("orvec-one"));
  EXPECT_EQ(!Rejects(), Registered("orvec-two"));
  CheckLog("orvec-two", "orv_ec is reloaded by param file.");
  if (!Rejects()) {
    CheckLog("orvec-one", "orv_ec is initialized by param file.");
  }
}

}  // namespace
