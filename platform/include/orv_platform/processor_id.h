// Processor identification for the supported-processor gate of liborv_ec and liborv_alloc.
//
// The Main ID Register (MIDR_EL1) names the processor: implementer code in bits 31..24, part
// number in bits 15..4. On aarch64 it is read with `mrs` once the kernel advertises HWCAP_CPUID;
// without that capability the register is unreadable and the processor is not accepted. On every
// other host the register is simulated: ORV_MIDR (hexadecimal "0x..." or decimal) gives its value,
// otherwise a built-in accepted value is used. An ORV_MIDR that does not parse is not accepted.
//
// The register is read and judged once per process; ProcessorCheck() then costs one load.
#ifndef ORV_PLATFORM_PROCESSOR_ID_H_
#define ORV_PLATFORM_PROCESSOR_ID_H_

#include <cstdint>

namespace orv {
namespace platform {

struct ProcessorId {
  uint32_t implementer;  // bits 31..24
  uint32_t partNumber;   // bits 15..4
};

// Accepted processors: implementer 0x41 with any part number, and implementer 0xC0 with part
// number 0xAC3 only.
constexpr uint32_t kAnyPartImplementer = 0x41;
constexpr uint32_t kSinglePartImplementer = 0xC0;
constexpr uint32_t kSinglePartNumber = 0xAC3;

// Value the simulated register holds on non-Arm hosts when ORV_MIDR is not set.
constexpr uint64_t kSimulatedDefaultMidr = 0x414fd0c1;

constexpr ProcessorId DecodeMidr(uint64_t midr) {
  return ProcessorId{static_cast<uint32_t>((midr >> 24) & 0xFFu),
                     static_cast<uint32_t>((midr >> 4) & 0xFFFu)};
}

constexpr bool IsAcceptedProcessor(ProcessorId id) {
  return id.implementer == kAnyPartImplementer ||
         (id.implementer == kSinglePartImplementer && id.partNumber == kSinglePartNumber);
}

// Parses a register value as written in ORV_MIDR: "0x" or "0X" followed by hexadecimal digits,
// or decimal digits, with nothing else and no overflow of 64 bits. Returns false otherwise.
bool ParseMidrText(const char* text, uint64_t& value);

struct ProcessorVerdict {
  bool registerRead;  // false: no register access (or an unparsable simulated value)
  uint64_t midr;      // the value read; 0 when registerRead is false
  ProcessorId id;     // decoded from midr
  bool accepted;      // registerRead && IsAcceptedProcessor(id)
};

// The verdict for this process, computed on the first call and cached; thread-safe.
const ProcessorVerdict& ProcessorCheck();

}  // namespace platform
}  // namespace orv

#endif  // ORV_PLATFORM_PROCESSOR_ID_H_
