// One NEON source for every host: the real intrinsics on aarch64, SIMDe's portable implementation
// of the same intrinsics (with their native names) elsewhere.
#ifndef ORV_PLATFORM_NEON_H_
#define ORV_PLATFORM_NEON_H_

#if defined(__aarch64__) || defined(__ARM_NEON)
#include <arm_neon.h>
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/arm/neon.h>
#endif

#endif  // ORV_PLATFORM_NEON_H_
