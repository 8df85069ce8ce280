// Example: plan a partial write of an erasure-coded object with liborv_ec, form the stripe's XOR
// parity with the region XOR, and rebuild a lost data chunk from it.
// Usage: ec_partial_write [LOG_DIR]   (under /var/log/ or /home/; default /var/log/ec-example/)
#include <orv_ec/orv_ec.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

int main(int argc, char** argv) {
  // 1. Start the library's log module; this also checks that the processor is supported.
  const MoxlogParam log{"ec_example", argc > 1 ? argv[1] : "/var/log/ec-example/", "", MOXLOG_INFORMATION,
                        MOXLOG_INFORMATION, 100};
  if (ZoInit(log) != 0) {
    std::fprintf(stderr, "ec_partial_write: liborv_ec did not start (log directory or processor refused)\n");
    return 1;
  }

  // 2. The geometry: stripes of 4 data and 2 coding chunks of 4096 bytes, 512-byte alignment.
  //    An empty mapping stores chunk position p on shard p.
  const std::vector<int> mapping;
  const uint64_t k = 4, cSize = 4096;
  const ZoEcInfo info{k, 6, &mapping, cSize, k * cSize, 512};
  const std::pair<uint64_t, uint64_t> write{5000, 10000};  // bytes [5000, 15000) of the object

  // 3. The whole chunks the write touches, [4096, 16384) here.
  uint64_t start = 0, length = 0;
  ZoSetWriteSection(write.first, write.second, cSize, start, length);
  const std::map<uint64_t, uint64_t> section{{start, length}};

  // 4. Update (read the old chunks being written) or overwrite (read the rest of the stripe)?
  const bool update = ZoShouldUseUpdate(info, write);
  std::map<uint64_t, uint64_t> toRead;
  if (update) {
    toRead = section;
  } else {
    // The whole stripe, less the chunks the write covers entirely.
    const auto stripe = ZoOffsetLenToChunkBounds(write, info.sWidth);
    toRead[stripe.first] = stripe.second;
    ZoRebuildToread({{write.first, write.second}}, cSize, toRead);
  }
  std::map<int, std::set<std::pair<uint64_t, uint64_t>>> reads;
  for (const auto& extent : toRead) ZoGetShardsRangeToRead(extent, info, reads);
  std::printf("decision: %s\nread first:", update ? "update" : "overwrite");
  for (const auto& shard : reads) {
    for (const auto& r : shard.second) {
      std::printf(" shard %d [%llu, +%llu)", shard.first, static_cast<unsigned long long>(r.first),
                  static_cast<unsigned long long>(r.second));
    }
  }

  // 5. The shards the write changes: the data shards it touches and every coding position (coding
  //    positions come back as their own numbers; map them yourself under a non-trivial mapping).
  std::set<int> shards;
  ZoGetWriteToShards(section, info, shards);
  std::printf("\nshards to write:");
  for (int s : shards) std::printf(" %d", s);
  std::printf("\n");

  // 6. The new stripe (old bytes, then the write's bytes), and its XOR parity: the first coding
  //    chunk. (Further coding chunks would need Galois-field arithmetic.)
  std::vector<char> stripe(k * cSize, 'o');
  std::memset(stripe.data() + write.first, 'n', write.second);
  std::vector<char*> data;
  for (uint64_t i = 0; i < k; ++i) data.push_back(stripe.data() + i * cSize);
  std::vector<char> parity(cSize);
  ZoRegionNeonXor(data.data(), parity.data(), static_cast<int>(k), static_cast<unsigned int>(cSize));

  // 7. Lose data chunk 2 and rebuild it: the XOR of the parity and the other data chunks.
  std::vector<char> rebuilt(cSize);
  char* survivors[] = {parity.data(), data[0], data[1], data[3]};
  ZoRegionNeonXor(survivors, rebuilt.data(), 4, static_cast<unsigned int>(cSize));
  const bool ok = std::memcmp(rebuilt.data(), data[2], cSize) == 0;
  std::printf("chunk 2 rebuilt from parity: %s\n", ok ? "identical" : "DIFFERENT");

  ZoFinish();  // stops the log module
  return ok ? 0 : 1;
}
