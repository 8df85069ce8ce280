// ZoRegionNeonXor: argument checks and the 64-byte-block NEON kernel; on hosts without NEON the
// same intrinsics come from the portable SIMD layer.
#include "region_xor.h"

#include <cstdint>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "orv_platform/neon.h"

namespace orv_ec {

namespace {

inline const uint8_t* Bytes(const char* p) { return reinterpret_cast<const uint8_t*>(p); }

}  // namespace

void XorRegions(const char* const* sources, size_t count, char* dest, size_t size) {
  const uint8_t* first = Bytes(sources[0]);
  uint8_t* out = reinterpret_cast<uint8_t*>(dest);
  size_t o = 0;
  for (; size - o >= 64; o += 64) {
    uint8x16_t v0 = vld1q_u8(first + o);
    uint8x16_t v1 = vld1q_u8(first + o + 16);
    uint8x16_t v2 = vld1q_u8(first + o + 32);
    uint8x16_t v3 = vld1q_u8(first + o + 48);
    for (size_t s = 1; s < count; ++s) {
      const uint8_t* src = Bytes(sources[s]) + o;
      v0 = veorq_u8(v0, vld1q_u8(src));
      v1 = veorq_u8(v1, vld1q_u8(src + 16));
      v2 = veorq_u8(v2, vld1q_u8(src + 32));
      v3 = veorq_u8(v3, vld1q_u8(src + 48));
    }
    vst1q_u8(out + o, v0);
    vst1q_u8(out + o + 16, v1);
    vst1q_u8(out + o + 32, v2);
    vst1q_u8(out + o + 48, v3);
  }
  for (; size - o >= 16; o += 16) {
    uint8x16_t v = vld1q_u8(first + o);
    for (size_t s = 1; s < count; ++s) {
      v = veorq_u8(v, vld1q_u8(Bytes(sources[s]) + o));
    }
    vst1q_u8(out + o, v);
  }
  for (; o < size; ++o) {
    uint8_t b = first[o];
    for (size_t s = 1; s < count; ++s) {
      b = static_cast<uint8_t>(b ^ Bytes(sources[s])[o]);
    }
    out[o] = b;
  }
}

void RegionXorReference(const char* const* sources, size_t count, char* dest, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    unsigned char b = 0;
    for (size_t s = 0; s < count; ++s) {
      b = static_cast<unsigned char>(b ^ static_cast<unsigned char>(sources[s][i]));
    }
    dest[i] = static_cast<char>(b);
  }
}

}  // namespace orv_ec

void ZoRegionNeonXor(char** sources, char* dest, int count, unsigned int blockSize) {
  using orv_ec::ecInterfaceTag;
  if ((blockSize & 63u) != 0) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRegionNeonXor blocksize is not a multiple of 64.");
    return;
  }
  if (count < 1 || count > orv_ec::kMaxXorSources) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRegionNeonXor count=%d is out of range.", count);
    return;
  }
  if (sources == nullptr || dest == nullptr) {
    ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRegionNeonXor region pointer is null.");
    return;
  }
  // Region table: the destination, then the sources in the caller's order.
  const char* regions[orv_ec::kMaxXorSources + 1];
  regions[0] = dest;
  for (int s = 0; s < count; ++s) {
    if (sources[s] == nullptr) {
      ZO_LOG(MOXLOG_CRITICAL, ecInterfaceTag, "Func ZoRegionNeonXor region pointer is null.");
      return;
    }
    regions[s + 1] = sources[s];
  }
  if (blockSize == 0) {
    return;
  }
  orv_ec::XorRegions(regions + 1, static_cast<size_t>(count), dest, blockSize);
}
