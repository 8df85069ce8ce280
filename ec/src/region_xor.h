// Byte-wise XOR of equally long memory regions: the 128-bit SIMD kernel behind ZoRegionNeonXor and
// the plain scalar reference it is checked against.
#ifndef ORV_EC_REGION_XOR_H_
#define ORV_EC_REGION_XOR_H_

#include <cstddef>

namespace orv_ec {

// Largest number of sources one ZoRegionNeonXor call takes.
constexpr int kMaxXorSources = 256;

// dest[i] = sources[0][i] ^ ... ^ sources[count - 1][i] for every i < size.
// Requires count >= 1 and `size` readable bytes behind every source and writable bytes behind
// dest; no alignment is needed. Works in wide blocks held in 128-bit registers with the sources
// in the inner loop (256 bytes on aarch64, 128 bytes on hosts with 16 vector registers), then
// 64-byte blocks, 16-byte steps and single bytes for the rest. Every source byte of a block is
// read before the destination of that block is written, and each destination byte is written
// once, so dest may be one of the sources; other overlaps are not supported. Reads the sources
// table only at indexes below count. Results too large for the caches are written with
// non-temporal stores, and on x86-64 their sources beyond the first few megabytes are read with
// hints (prefetches) to pass through the caches, so that the first ones stay there from one call
// to the next.
void XorRegions(const char* const* sources, size_t count, char* dest, size_t size);

// The same result, one byte at a time, with no vector code: the reference for tests and
// benchmarks. Same requirements as XorRegions.
void RegionXorReference(const char* const* sources, size_t count, char* dest, size_t size);

}  // namespace orv_ec

#endif  // ORV_EC_REGION_XOR_H_
