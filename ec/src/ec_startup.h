// The supported-processor check that runs after every successful start or reload of the
// library's log module.
#ifndef ORV_EC_EC_STARTUP_H_
#define ORV_EC_EC_STARTUP_H_

namespace orv_ec {

// True when the processor is accepted (implementer 0x41 with any part, or implementer 0xC0 with
// part 0xAC3). Otherwise logs, at level 0 with tag "PROC" under ecModuleName,
// "unsupported Platform VID=0x%x, PID=0x%x\n" with the implementer and part number read (0 and 0
// when the register cannot be read) and returns false. The register is read once per process.
bool IsSupportedPlatform();

}  // namespace orv_ec

#endif  // ORV_EC_EC_STARTUP_H_
