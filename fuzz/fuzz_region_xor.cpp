// Fuzz target: ZoRegionNeonXor against a plain byte loop. Every source and the destination is its
// own heap allocation of exactly the block size, so AddressSanitizer reports any access past a
// region; the destination is sometimes one of the sources. Counts outside 1..256 and block sizes
// that are not multiples of 64 must leave the destination as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_ec_log.h"
#include "fuzz_support.h"
#include "orv_ec/orv_ec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orv_fuzz::StartQuietEcLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const unsigned int blockSize = in.ConsumeBool() ? 64u * in.ConsumeIntegralInRange<unsigned int>(0, 40)
                                                  : in.ConsumeIntegralInRange<unsigned int>(0, 2600);
  const int count = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? in.ConsumeIntegralInRange<int>(-2, 300)
                                                               : in.ConsumeIntegralInRange<int>(1, 12);
  const int regionCount = count < 1 ? 1 : count;  // at least one readable source pointer
  const std::vector<uint8_t> pattern = in.ConsumeBytes<uint8_t>(64);
  std::vector<std::unique_ptr<char[]>> regions;
  std::vector<char*> sources;
  for (int r = 0; r < regionCount; ++r) {
    regions.emplace_back(new char[blockSize == 0 ? 1 : blockSize]);
    char* region = regions.back().get();
    const uint8_t seed = in.ConsumeIntegral<uint8_t>();
    for (unsigned int i = 0; i < blockSize; ++i) {
      const uint8_t p = pattern.empty() ? 0 : pattern[(i + static_cast<unsigned int>(r)) % pattern.size()];
      region[i] = static_cast<char>(p ^ static_cast<uint8_t>(seed * (i + 1)));
    }
    sources.push_back(region);
  }
  // The destination: its own region, or one of the sources.
  std::unique_ptr<char[]> ownDest(new char[blockSize == 0 ? 1 : blockSize]);
  std::memset(ownDest.get(), 0x5a, blockSize == 0 ? 1 : blockSize);
  const bool inPlace = in.ConsumeBool();
  char* dest = inPlace ? sources[in.ConsumeIntegralInRange<size_t>(0, sources.size() - 1)] : ownDest.get();

  const size_t bytes = blockSize;
  std::vector<char> before(dest, dest + bytes);
  std::vector<char> expected = before;
  const bool runs = blockSize % 64 == 0 && count >= 1 && count <= 256;
  if (runs) {
    for (size_t i = 0; i < bytes; ++i) {
      unsigned char x = 0;
      for (int s = 0; s < count; ++s) {
        x = static_cast<unsigned char>(x ^ static_cast<unsigned char>(sources[static_cast<size_t>(s)][i]));
      }
      expected[i] = static_cast<char>(x);
    }
  }
  ZoRegionNeonXor(sources.data(), dest, count, blockSize);
  ORV_FUZZ_CHECK(bytes == 0 || std::memcmp(dest, expected.data(), bytes) == 0,
                 "XOR of %d regions of %u bytes%s differs from the byte loop", count, blockSize,
                 inPlace ? " (in place)" : "");
  return 0;
}
