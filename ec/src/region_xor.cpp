// ZoRegionNeonXor: argument checks and the NEON kernel; on hosts without NEON the same intrinsics
// come from the portable SIMD layer, so one kernel source serves every host.
//
// The kernel keeps a block of the result in vector registers while the sources stream through it,
// one or two sources per step depending on the host. Regions are cut into wide blocks (256 bytes on aarch64, whose 32 vector
// registers hold the block and the loaded data side by side; 128 bytes where there are only 16),
// then 64-byte blocks, 16-byte steps and single bytes for the rest. Every load of a block is done
// before the block is stored, so the destination may be one of the sources. Calls too large for
// the last-level cache store with non-temporal stores and, where the host has them, hint the
// sources beyond the first few megabytes to pass through the caches.
#include "region_xor.h"

#include <cstdint>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "orv_platform/neon.h"
#include "region_xor_access.h"

namespace orv_ec {

namespace {

// How the sources stream through a block on this host. aarch64 has 32 vector registers, so a
// 256-byte block (16 registers) leaves 16 for the incoming data, and a three-operand XOR, so one
// source per step keeps the block in place; the next source's pointer is read a step ahead to
// keep the loads flowing. x86-64 has 16 (SSE) registers, so the block is 128 bytes, and a
// two-operand XOR that, one source per step, costs a register copy per lane; two sources per step
// XOR each other first and then into the block, which needs no copies.
#if defined(__aarch64__)
constexpr int kWideLanes = 16;
constexpr bool kTwoSourcesPerStep = false;
#else
constexpr int kWideLanes = 8;
constexpr bool kTwoSourcesPerStep = true;
#endif

// Results whose regions together span at least this many bytes (three quarters of an 8 MiB
// last-level cache, which other work shares) are written with non-temporal stores: they would
// not stay in that cache beside the sources, and skipping it spares the read of each destination
// line before it is written.
constexpr size_t kNonTemporalBytes = size_t{6} << 20;

// Cache hints for the sources of such a call, where the host has them. Repeated over the same
// regions, sources larger than the last-level cache would evict each line before its next use,
// so none would be found there; instead the first sources, up to kKeptSourceBytes, are read
// plainly and the rest are hinted to pass through the caches, so that the first ones are found
// again. With at most kPrefetchedSources sources the passing lines kHintAhead bytes past each
// block are asked for ahead of their loads; with more, the regions' lines at one offset
// (page-aligned buffers put them all in one set of the first-level cache) would evict each other
// before use, so they are hinted at the block itself.
constexpr size_t kKeptSourceBytes = size_t{5} << 20;
constexpr size_t kPrefetchedSources = 8;
constexpr size_t kHintAhead = 512;

// The hints of one call: the sources from firstPassing on pass through the caches, hinted for
// the lines `ahead` bytes past the current block.
struct SourceHints {
  size_t ahead = 0;
  size_t firstPassing = 0;
};

// The hint for the kBytes at address a (a hint never faults, so a may lie past the region).
template <size_t kBytes>
inline void HintPassing(uintptr_t a) {
#pragma GCC unroll 4
  for (size_t i = 0; i < kBytes; i += 64) {
    PrefetchToPass(a + i);
  }
}

inline const uint8_t* Bytes(const char* p) { return reinterpret_cast<const uint8_t*>(p); }

// acc[i] ^= the i-th 16 bytes at p, for every lane; kAligned: p is 16-byte aligned.
template <int kLanes, bool kAligned>
inline void XorInto(uint8x16_t* acc, const uint8_t* p) {
#pragma GCC unroll 16
  for (int i = 0; i < kLanes; ++i) {
    acc[i] = veorq_u8(acc[i], kAligned ? LoadAligned(p + 16 * i) : vld1q_u8(p + 16 * i));
  }
}

// Blocks of kLanes * 16 bytes from offset o while they fit below size; returns the offset after
// the last one. Each block is loaded from the first source, the other sources are XORed into it,
// then it is stored. The pointers of the first two sources stay in registers. kAligned: every
// source except the first is 16-byte aligned (and so is o). kHinted: each source's lines are
// hinted as `hints` says just before its loads.
template <int kLanes, bool kNonTemporal, bool kAligned = false, bool kHinted = false>
size_t XorBlocks(const char* const* sources, size_t count, uint8_t* out, size_t o, size_t size,
                 const SourceHints& hints = SourceHints()) {
  constexpr size_t kBytes = 16 * kLanes;
  const auto hint = [&hints, &o](size_t source, const uint8_t* p) {
    if (kHinted && source >= hints.firstPassing) HintPassing<kBytes>(reinterpret_cast<uintptr_t>(p) + o + hints.ahead);
  };
  const uint8_t* first = Bytes(sources[0]);
  const uint8_t* second = Bytes(sources[count > 1 ? 1 : 0]);
  // The pairs of sources after the first (and, for an even count, the second).
  const bool evenCount = (count & 1u) == 0;
  const char* const* pairsBegin = sources + (evenCount ? 2 : 1);
  const char* const* const pairsEnd = sources + count;
  for (; size - o >= kBytes; o += kBytes) {
    uint8x16_t acc[static_cast<size_t>(kLanes)];
    hint(0, first);
#pragma GCC unroll 16
    for (int i = 0; i < kLanes; ++i) {
      acc[i] = vld1q_u8(first + o + 16 * i);
    }
    if (kTwoSourcesPerStep) {
      if (evenCount) {
        hint(1, second);
        XorInto<kLanes, kAligned>(acc, second + o);
      }
      for (const char* const* pair = pairsBegin; pair != pairsEnd; pair += 2) {
        const size_t index = static_cast<size_t>(pair - sources);
        hint(index, Bytes(pair[0]));
        hint(index + 1, Bytes(pair[1]));
        XorInto<kLanes, kAligned>(acc, Bytes(pair[0]) + o);
        XorInto<kLanes, kAligned>(acc, Bytes(pair[1]) + o);
      }
    } else if (count > 1) {
      // The pointer of each further source is read one step ahead, so that load is under way
      // while the previous source's data streams in.
      const uint8_t* p = second;
      for (size_t s = 2; s < count; ++s) {
        const uint8_t* next = Bytes(sources[s]);
        hint(s - 1, p);
        XorInto<kLanes, kAligned>(acc, p + o);
        p = next;
      }
      hint(count - 1, p);
      XorInto<kLanes, kAligned>(acc, p + o);
    }
    if (kNonTemporal) {
#pragma GCC unroll 8
      for (int i = 0; i < kLanes; i += 2) {
        StorePairNonTemporal(out + o + 16 * i, acc[i], acc[i + 1]);
      }
    } else {
#pragma GCC unroll 16
      for (int i = 0; i < kLanes; ++i) {
        vst1q_u8(out + o + 16 * i, acc[i]);
      }
    }
  }
  return o;
}

// Whether every source after the first is 16-byte aligned.
bool FurtherSourcesAligned(const char* const* sources, size_t count) {
  uintptr_t bits = 0;
  for (size_t s = 1; s < count; ++s) {
    bits |= reinterpret_cast<uintptr_t>(sources[s]);
  }
  return (bits & 15u) == 0;
}

// The wide blocks of a call written with non-temporal stores, with the source hints of
// kKeptSourceBytes where the host has them.
template <bool kAligned>
size_t XorWideBlocksNonTemporal(const char* const* sources, size_t count, uint8_t* out, size_t size) {
  SourceHints hints;
  hints.firstPassing = kKeptSourceBytes / size;
  hints.ahead = count <= kPrefetchedSources ? kHintAhead : 0;
  // No hints where every source is kept, or where none is and the hints could not run ahead.
  if (!kSourceHints || hints.firstPassing >= count || (hints.firstPassing == 0 && hints.ahead == 0)) {
    return XorBlocks<kWideLanes, true, kAligned>(sources, count, out, 0, size);
  }
  return XorBlocks<kWideLanes, true, kAligned, true>(sources, count, out, 0, size, hints);
}

}  // namespace

void XorRegions(const char* const* sources, size_t count, char* dest, size_t size) {
  uint8_t* out = reinterpret_cast<uint8_t*>(dest);
  size_t o = 0;
  const bool aligned = kAlignedLoadsFold && FurtherSourcesAligned(sources, count);
  if (size * (count + 1) >= kNonTemporalBytes && NonTemporalStoreFits(out)) {
    o = aligned ? XorWideBlocksNonTemporal<kAlignedLoadsFold>(sources, count, out, size)
                : XorWideBlocksNonTemporal<false>(sources, count, out, size);
    NonTemporalStoresDone();
  } else {
    o = aligned ? XorBlocks<kWideLanes, false, kAlignedLoadsFold>(sources, count, out, o, size)
                : XorBlocks<kWideLanes, false>(sources, count, out, o, size);
  }
  o = XorBlocks<4, false>(sources, count, out, o, size);
  o = XorBlocks<1, false>(sources, count, out, o, size);
  for (; o < size; ++o) {
    uint8_t b = Bytes(sources[0])[o];
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
