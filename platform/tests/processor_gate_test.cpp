// The cached processor verdict of this process against the verdict the test run declares
// (a simulated register value on non-Arm hosts, an emulated processor model under qemu).
#include <gtest/gtest.h>

#include <cstdlib>

#include "orv_platform/processor_id.h"
#include "orv_test/gate_expectation.h"

namespace {

TEST(ProcessorGate, VerdictMatchesTheDeclaredProcessor) {
  const orv_test::GateExpectation expected = orv_test::ExpectedGate();
  if (expected == orv_test::GateExpectation::kUnknown) {
    GTEST_SKIP() << "ORV_EXPECTED_GATE not set";
  }
  const orv::platform::ProcessorVerdict& verdict = orv::platform::ProcessorCheck();
  EXPECT_EQ(verdict.accepted, expected == orv_test::GateExpectation::kAccept)
      << "midr=0x" << std::hex << verdict.midr;
#if !defined(__aarch64__)
  // Simulated register: the value is exactly what ORV_MIDR says, when it parses.
  uint64_t simulated = 0;
  const char* text = std::getenv("ORV_MIDR");
  if (text != nullptr && orv::platform::ParseMidrText(text, simulated)) {
    EXPECT_TRUE(verdict.registerRead);
    EXPECT_EQ(verdict.midr, simulated);
  } else if (text != nullptr) {
    EXPECT_FALSE(verdict.registerRead);
  }
#else
  EXPECT_TRUE(verdict.registerRead);
#endif
}

}  // namespace
