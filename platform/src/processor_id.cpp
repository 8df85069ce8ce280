// Reading (or simulating) the Main ID Register and caching the processor verdict.
#include "orv_platform/processor_id.h"

#include <cstdlib>

#if defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace orv {
namespace platform {

bool ParseMidrText(const char* text, uint64_t& value) {
  if (text == nullptr || *text == '\0') {
    return false;
  }
  uint64_t base = 10;
  const char* p = text;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
    if (*p == '\0') {
      return false;
    }
  }
  uint64_t result = 0;
  for (; *p != '\0'; ++p) {
    uint64_t digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<uint64_t>(*p - '0');
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = static_cast<uint64_t>(*p - 'a' + 10);
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = static_cast<uint64_t>(*p - 'A' + 10);
    } else {
      return false;
    }
    if (result > (UINT64_MAX - digit) / base) {
      return false;
    }
    result = result * base + digit;
  }
  value = result;
  return true;
}

namespace {

// Fills `midr` with the register value; false when it cannot be had.
bool ReadMidr(uint64_t& midr) {
#if defined(__aarch64__) && defined(__linux__)
  if ((getauxval(AT_HWCAP) & HWCAP_CPUID) == 0) {
    return false;
  }
  uint64_t value;
  __asm__ volatile("mrs %0, MIDR_EL1" : "=r"(value));
  midr = value;
  return true;
#elif defined(__aarch64__)
  (void)midr;
  return false;
#else
  const char* simulated = std::getenv("ORV_MIDR");
  if (simulated == nullptr) {
    midr = kSimulatedDefaultMidr;
    return true;
  }
  return ParseMidrText(simulated, midr);
#endif
}

ProcessorVerdict ComputeVerdict() {
  ProcessorVerdict verdict{false, 0, ProcessorId{0, 0}, false};
  uint64_t midr = 0;
  if (ReadMidr(midr)) {
    verdict.registerRead = true;
    verdict.midr = midr;
    verdict.id = DecodeMidr(midr);
    verdict.accepted = IsAcceptedProcessor(verdict.id);
  }
  return verdict;
}

}  // namespace

const ProcessorVerdict& ProcessorCheck() {
  static const ProcessorVerdict verdict = ComputeVerdict();
  return verdict;
}

}  // namespace platform
}  // namespace orv
