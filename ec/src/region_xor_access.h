// Memory access of the region XOR kernel beyond the plain NEON load and store: a load from an
// address known to be 16-byte aligned, a non-temporal store of two registers for results too
// large to stay in the caches, and cache hints for sources streamed from memory. These are the
// places where the kernel's source differs between hosts: on x86-64 an aligned load can be folded
// into the XOR that uses it (SSE2 has no unaligned memory operands), the non-temporal store is
// STNP on aarch64, the SSE2 streaming store on x86-64 (which needs 16-byte aligned addresses) and
// the ordinary store anywhere else, and the source hints are SSE prefetches on x86-64 only.
#ifndef ORV_EC_REGION_XOR_ACCESS_H_
#define ORV_EC_REGION_XOR_ACCESS_H_

#include <cstdint>
#include <cstring>

#include "orv_platform/neon.h"

#if !defined(__aarch64__) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orv_ec {

// Whether LoadAligned differs from vld1q_u8 on this host, so that a kernel for aligned sources is
// worth having.
#if !defined(__aarch64__) && defined(__SSE2__)
constexpr bool kAlignedLoadsFold = true;
#else
constexpr bool kAlignedLoadsFold = false;
#endif

// vld1q_u8(p) for a 16-byte aligned p.
inline uint8x16_t LoadAligned(const uint8_t* p) {
#if !defined(__aarch64__) && defined(__SSE2__)
  const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
  uint8x16_t v;
  std::memcpy(&v, &x, sizeof v);
  return v;
#else
  return vld1q_u8(p);
#endif
}

// Whether StorePairNonTemporal can write 32 bytes at p.
inline bool NonTemporalStoreFits(const void* p) {
#if defined(__aarch64__)
  (void)p;
  return true;
#elif defined(__SSE2__)
  return (reinterpret_cast<uintptr_t>(p) & 15u) == 0;
#else
  (void)p;
  return false;
#endif
}

// Writes a to p[0..15] and b to p[16..31], bypassing the caches where the host can.
// Requires NonTemporalStoreFits(p).
inline void StorePairNonTemporal(uint8_t* p, uint8x16_t a, uint8x16_t b) {
#if defined(__aarch64__)
  // The memory operand names the 32 bytes written, so the compiler keeps every load of the same
  // bytes ahead of this store.
  asm("stnp %q1, %q2, [%3]" : "=m"(*reinterpret_cast<uint8_t(*)[32]>(p)) : "w"(a), "w"(b), "r"(p));
#elif defined(__SSE2__)
  __m128i x;
  __m128i y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  _mm_stream_si128(reinterpret_cast<__m128i*>(p), x);
  _mm_stream_si128(reinterpret_cast<__m128i*>(p + 16), y);
#else
  vst1q_u8(p, a);
  vst1q_u8(p + 16, b);
#endif
}

// Whether PrefetchToPass does anything on this host. It is measured on x86-64 only; elsewhere it
// compiles to nothing and the kernel streams large regions without it.
#if !defined(__aarch64__) && defined(__SSE2__)
constexpr bool kSourceHints = true;
#else
constexpr bool kSourceHints = false;
#endif

// Hints that the 64-byte line holding address a will be read once, soon, and should not displace
// what the caches hold. A hint never faults and changes no result, so a may lie past the region.
// It is an asm statement rather than __builtin_prefetch: a function that only prefetches looks
// free of effects to the compiler, which then drops calls to it.
inline void PrefetchToPass(uintptr_t a) {
#if !defined(__aarch64__) && defined(__SSE2__)
  asm volatile("prefetchnta %0" : : "m"(*reinterpret_cast<const char*>(a)));
#else
  (void)a;
#endif
}

// Makes earlier non-temporal stores ordered before later ordinary memory accesses.
inline void NonTemporalStoresDone() {
#if !defined(__aarch64__) && defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace orv_ec

#endif  // ORV_EC_REGION_XOR_ACCESS_H_
