// The processor verdict a gate test expects, from ORV_EXPECTED_GATE ("accept" or "reject").
// Unset means the test runs where nobody declared the processor (a native aarch64 machine):
// gate tests then skip their verdict checks.
#ifndef ORV_TEST_GATE_EXPECTATION_H_
#define ORV_TEST_GATE_EXPECTATION_H_

#include <cstdlib>
#include <cstring>

namespace orv_test {

enum class GateExpectation { kUnknown, kAccept, kReject };

inline GateExpectation ExpectedGate() {
  const char* text = std::getenv("ORV_EXPECTED_GATE");
  if (text == nullptr) {
    return GateExpectation::kUnknown;
  }
  if (std::strcmp(text, "accept") == 0) {
    return GateExpectation::kAccept;
  }
  if (std::strcmp(text, "reject") == 0) {
    return GateExpectation::kReject;
  }
  return GateExpectation::kUnknown;
}

}  // namespace orv_test

#endif  // ORV_TEST_GATE_EXPECTATION_H_
