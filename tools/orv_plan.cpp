// orv_plan: plans a partial write and a read of an erasure-coded object with liborv_ec, forms the
// parity with the region XOR, allocates space for the written shards with liborv_alloc on a
// fragmented device, and logs through libmoxlog. Without arguments it runs on a built-in default.
#include <moxlog/moxlog.h>
#include <orv_alloc/orv_alloc.h>
#include <orv_ec/orv_ec.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint64_t kUnset = ~uint64_t{0};

struct Options {
  uint64_t k = 4;
  uint64_t codingChunks = 2;
  uint64_t chunkSize = 4096;
  uint64_t alignSize = 512;
  std::vector<int> mapping;  // empty: shard id = chunk position
  std::pair<uint64_t, uint64_t> write{5000, 10000};
  std::pair<uint64_t, uint64_t> read{1000, 30000};
  std::string logDir = "/var/log/orv_plan/";
  uint64_t deviceBytes = uint64_t{1} << 30;
  uint64_t unitBytes = 4096;
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: orv_plan [options]\n"
               "  --k N             data chunks per stripe (default 4)\n"
               "  --m N             coding chunks per stripe (default 2)\n"
               "  --chunk BYTES     chunk size (default 4096)\n"
               "  --align BYTES     alignment unit (default 512)\n"
               "  --mapping a,b,..  shard id of each chunk position (default: the position)\n"
               "  --write OFF:LEN   byte range written (default 5000:10000)\n"
               "  --read OFF:LEN    byte range read (default 1000:30000)\n"
               "  --log-dir DIR     log directory under /var/log/ or /home/ (default /var/log/orv_plan/)\n"
               "  --device BYTES    device size for the allocation (default 1073741824)\n"
               "  --unit BYTES      allocation unit (default 4096)\n");
}

bool ParseNumber(const char* text, uint64_t& value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0') return false;
  value = v;
  return true;
}

bool ParseRange(const char* text, std::pair<uint64_t, uint64_t>& range) {
  const char* colon = text ? std::strchr(text, ':') : nullptr;
  if (colon == nullptr) return false;
  const std::string first(text, colon);
  return ParseNumber(first.c_str(), range.first) && ParseNumber(colon + 1, range.second);
}

bool ParseMapping(const char* text, std::vector<int>& mapping) {
  mapping.clear();
  std::string item;
  for (const char* p = text;; ++p) {
    if (*p == ',' || *p == '\0') {
      uint64_t v = 0;
      if (!ParseNumber(item.c_str(), v) || v > 0x7fffffff) return false;
      mapping.push_back(static_cast<int>(v));
      item.clear();
      if (*p == '\0') return true;
    } else {
      item.push_back(*p);
    }
  }
}

// Returns 0 to go on, 1 for a usage error, 2 after --help.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 2;
    }
    const char* value = (i + 1 < argc) ? argv[i + 1] : nullptr;
    bool ok = value != nullptr;
    if (arg == "--k") ok = ok && ParseNumber(value, o.k);
    else if (arg == "--m") ok = ok && ParseNumber(value, o.codingChunks);
    else if (arg == "--chunk") ok = ok && ParseNumber(value, o.chunkSize);
    else if (arg == "--align") ok = ok && ParseNumber(value, o.alignSize);
    else if (arg == "--mapping") ok = ok && ParseMapping(value, o.mapping);
    else if (arg == "--write") ok = ok && ParseRange(value, o.write);
    else if (arg == "--read") ok = ok && ParseRange(value, o.read);
    else if (arg == "--log-dir") o.logDir = value ? value : "";
    else if (arg == "--device") ok = ok && ParseNumber(value, o.deviceBytes);
    else if (arg == "--unit") ok = ok && ParseNumber(value, o.unitBytes);
    else {
      std::fprintf(stderr, "orv_plan: unknown option %s\n", arg.c_str());
      return 1;
    }
    if (!ok) {
      std::fprintf(stderr, "orv_plan: bad or missing value for %s\n", arg.c_str());
      return 1;
    }
    ++i;
  }
  const uint64_t limit = uint64_t{1} << 20;
  if (o.k == 0 || o.k > 256 || o.codingChunks > 256 || o.chunkSize == 0 || o.chunkSize > limit ||
      o.alignSize == 0 || o.chunkSize % o.alignSize != 0) {
    std::fprintf(stderr, "orv_plan: need 1 <= k <= 256, m <= 256, 0 < chunk <= 1 MiB, align dividing chunk\n");
    return 1;
  }
  if (o.unitBytes == 0 || o.unitBytes > (uint64_t{1} << 26) || o.deviceBytes < 64 * o.unitBytes ||
      o.deviceBytes / o.unitBytes > (uint64_t{1} << 28)) {
    std::fprintf(stderr, "orv_plan: need 0 < unit <= 64 MiB and 64 <= device/unit <= 2^28\n");
    return 1;
  }
  const uint64_t cap = uint64_t{1} << 40;
  if (o.write.first > cap || o.write.second > cap - o.write.first || o.read.first > cap ||
      o.read.second > cap - o.read.first) {
    std::fprintf(stderr, "orv_plan: ranges must end at or below 2^40\n");
    return 1;
  }
  return 0;
}

std::string RangeText(std::pair<uint64_t, uint64_t> r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "[%" PRIu64 ", +%" PRIu64 ")", r.first, r.second);
  return buf;
}

void PrintShardSet(const char* title, const std::set<int>& shards) {
  std::printf("  %-22s", title);
  if (shards.empty()) std::printf(" (none)");
  for (int s : shards) std::printf(" %d", s);
  std::printf("\n");
}

void PrintShardRanges(const char* title, const std::map<int, std::set<std::pair<uint64_t, uint64_t>>>& ranges) {
  std::printf("  %s\n", title);
  if (ranges.empty()) std::printf("    (none)\n");
  for (const auto& shard : ranges) {
    std::printf("    shard %d:", shard.first);
    for (const auto& r : shard.second) std::printf(" %s", RangeText(r).c_str());
    std::printf("\n");
  }
}

// --- Write and read planning ---------------------------------------------------------------

// The whole chunks of the write: the chunk-aligned section covering the range.
std::map<uint64_t, uint64_t> WrittenChunks(const Options& o) {
  uint64_t start = 0;
  uint64_t length = 0;
  std::map<uint64_t, uint64_t> chunks;
  if (ZoSetWriteSection(o.write.first, o.write.second, o.chunkSize, start, length)) {
    chunks[start] = length;
  }
  return chunks;
}

void PlanWrite(const Options& o, const ZoEcInfo& info, std::set<int>& writtenShards) {
  std::printf("Partial write %s\n", RangeText(o.write).c_str());
  const std::map<uint64_t, uint64_t> chunks = WrittenChunks(o);
  if (chunks.empty()) {
    std::printf("  nothing to write\n");
    return;
  }
  const auto section = *chunks.begin();
  std::printf("  chunk-aligned section  %s\n", RangeText(section).c_str());

  std::vector<std::pair<uint64_t, uint64_t>> pieces;
  ZoReconstructPrepare(info, o.write, pieces);
  std::printf("  chunks (position:len) ");
  for (const auto& p : pieces) std::printf(" %" PRIu64 ":%" PRIu64, p.first, p.second);
  std::printf("\n");

  const bool update = ZoShouldUseUpdate(info, o.write);
  std::map<uint64_t, uint64_t> toRead;
  if (update) {
    ZoChunkInfo ci{0, 0, 0};
    ZoPrepareUpdateChunks(info, o.write.first, o.write.second, ci);
    std::printf("  decision               update (chunk index %" PRIu64 ", %" PRIu64 " whole chunks, %" PRIu64
                " bytes each)\n",
                ci.index, ci.count, ci.chunkLen);
    // An update reads the old contents of the chunks it writes.
    toRead = chunks;
  } else {
    std::printf("  decision               overwrite\n");
    // An overwrite reads the rest of the stripes: every chunk the write does not cover whole.
    const auto stripes = ZoOffsetLenToChunkBounds(o.write, info.sWidth);
    toRead[stripes.first] = stripes.second;
    std::map<uint64_t, uint64_t> written{{o.write.first, o.write.second}};
    ZoRebuildToread(written, o.chunkSize, toRead);
  }
  std::map<int, std::set<std::pair<uint64_t, uint64_t>>> readRanges;
  for (const auto& extent : toRead) ZoGetShardsRangeToRead(extent, info, readRanges);
  PrintShardRanges("shard ranges to read first:", readRanges);

  ZoGetWriteToShards(chunks, info, writtenShards);
  PrintShardSet("shards to write", writtenShards);

  std::map<int, std::pair<uint64_t, uint64_t>> zeros;
  ZoGetShardZeroRange(o.write, info, zeros);
  std::printf("  zero ranges\n");
  if (zeros.empty()) std::printf("    (none)\n");
  for (const auto& z : zeros) std::printf("    shard %d: %s\n", z.first, RangeText(z.second).c_str());
}

void PlanRead(const Options& o, const ZoEcInfo& info) {
  std::printf("Read %s\n", RangeText(o.read).c_str());
  std::set<int> related;
  ZoGetRelatedShards(o.read, info, related);
  PrintShardSet("data shards touched", related);
  std::map<int, std::set<std::pair<uint64_t, uint64_t>>> ranges;
  ZoGetShardsRangeToRead(o.read, info, ranges);
  PrintShardRanges("shard ranges to read:", ranges);
}

// --- Parity ---------------------------------------------------------------------------------

void ComputeParity(const Options& o) {
  const uint64_t block = o.chunkSize - o.chunkSize % 64;
  std::printf("Parity of one stripe (%" PRIu64 " data chunks, %" PRIu64 " bytes each)\n", o.k, block);
  if (block == 0) {
    std::printf("  chunk smaller than one 64-byte block: skipped\n");
    return;
  }
  std::vector<std::vector<char>> data(o.k, std::vector<char>(block));
  std::vector<char*> sources;
  uint32_t state = 12345;
  for (auto& chunk : data) {
    for (char& c : chunk) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 24);
    }
    sources.push_back(chunk.data());
  }
  std::vector<char> parity(block, 0);
  ZoRegionNeonXor(sources.data(), parity.data(), static_cast<int>(o.k), static_cast<unsigned int>(block));

  bool matches = true;
  uint64_t checksum = 1469598103934665603ull;
  for (uint64_t i = 0; i < block; ++i) {
    char x = 0;
    for (const auto& chunk : data) x = static_cast<char>(x ^ chunk[i]);
    matches = matches && x == parity[i];
    checksum = (checksum ^ static_cast<unsigned char>(parity[i])) * 1099511628211ull;
  }
  std::printf("  XOR parity checksum    %016" PRIx64 " (%s the byte-wise reference)\n", checksum,
              matches ? "matches" : "DIFFERS FROM");
}

// --- Allocation -----------------------------------------------------------------------------

// Caller-side bitmaps of a device: level 0 one bit per unit (1 = free), W = 1.
struct Device {
  std::vector<uint64_t> l0, l1, l2;
  uint64_t partialSlots = 0;
  uint64_t freeSlots = 0;
};

void RebuildUpperLevels(Device& d) {
  d.l1.assign((d.l0.size() + 31) / 32, 0);
  d.partialSlots = d.freeSlots = 0;
  for (size_t s = 0; s < d.l0.size(); ++s) {
    uint64_t state = 0;
    if (d.l0[s] == ~uint64_t{0}) {
      state = 3;
      ++d.freeSlots;
    } else if (d.l0[s] != 0) {
      state = 1;
      ++d.partialSlots;
    }
    d.l1[s / 32] |= state << (2 * (s % 32));
  }
  d.l2.assign((d.l1.size() + 63) / 64, 0);
  for (size_t t = 0; t < d.l1.size(); ++t) {
    if (d.l1[t] != 0) d.l2[t / 64] |= uint64_t{1} << (t % 64);
  }
}

void Allocate(const Options& o, const ZoEcInfo& info, const std::set<int>& writtenShards) {
  const uint64_t units = o.deviceBytes / o.unitBytes;
  std::printf("Allocation on a %" PRIu64 "-byte device of %" PRIu64 "-byte units\n", units * o.unitBytes,
              o.unitBytes);
  Device d;
  d.l0.assign((units + 63) / 64, 0);
  // Fragment it: the first quarter is full; then runs of free units of varying length, with
  // allocated gaps between them; the last half is free.
  uint32_t state = 777;
  for (uint64_t u = units / 4; u < units; ++u) {
    state = state * 1664525u + 1013904223u;
    const bool free = u >= units / 2 || (state >> 28) >= 5;
    if (free) d.l0[u / 64] |= uint64_t{1} << (u % 64);
  }
  RebuildUpperLevels(d);
  std::printf("  before                 partial slots %" PRIu64 ", free slots %" PRIu64 "\n", d.partialSlots,
              d.freeSlots);

  OrvAllocator alloc(1, o.unitBytes, OrvAllocPosS{kUnset, kUnset, 0}, d.partialSlots, d.freeSlots);
  // Space for each written shard: its share of the chunk-aligned section, in whole units.
  const std::map<uint64_t, uint64_t> chunks = WrittenChunks(o);
  const uint64_t sectionBytes = chunks.empty() ? 0 : chunks.begin()->second;
  const uint64_t stripes = (sectionBytes + info.sWidth - 1) / info.sWidth;
  uint64_t perShard = stripes * info.cSize;
  perShard = (perShard + o.unitBytes - 1) / o.unitBytes * o.unitBytes;
  std::vector<std::pair<std::string, uint64_t>> requests;
  for (int shard : writtenShards) requests.emplace_back("shard " + std::to_string(shard), perShard);
  // A few larger requests show the fast path and extent merging on the free half.
  requests.emplace_back("journal", 64 * o.unitBytes);
  requests.emplace_back("large object", 1000 * o.unitBytes);

  for (const auto& request : requests) {
    std::vector<OrvExtentS> extents;
    const uint64_t got =
        alloc.OrvAllocate(OrvAllocInfoS{request.second, o.unitBytes}, d.l0, d.l1, d.l2, extents);
    std::printf("  %-22s %" PRIu64 " of %" PRIu64 " bytes in %zu extent(s):", request.first.c_str(), got,
                request.second, extents.size());
    size_t shown = 0;
    for (const auto& e : extents) {
      if (shown++ == 6) {
        std::printf(" ...");
        break;
      }
      std::printf(" %" PRIu64 "+%" PRIu32, e.offset, e.length);
    }
    std::printf("\n");
  }
  std::printf("  after                  partial slots %" PRIu64 ", free slots %" PRIu64 "\n", d.partialSlots,
              d.freeSlots);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int parsed = ParseOptions(argc, argv, o);
  if (parsed != 0) return parsed == 2 ? 0 : 2;

  MoxlogParam param{"orv_plan", o.logDir, "", MOXLOG_DEBUG, MOXLOG_DEBUG, 1000};
  const int started = ZoInit(param);
  if (started != 0) {
    std::printf("warning: the EC library did not start (log directory refused or processor not supported)\n");
  }

  const ZoEcInfo info{o.k, o.k + o.codingChunks, &o.mapping, o.chunkSize, o.k * o.chunkSize, o.alignSize};
  std::printf("Geometry: k %" PRIu64 ", %" PRIu64 " coding chunks, chunk %" PRIu64 " bytes, stripe %" PRIu64
              " bytes, alignment %" PRIu64 " bytes\n\n",
              info.k, o.codingChunks, info.cSize, info.sWidth, info.alignSize);

  std::set<int> writtenShards;
  PlanWrite(o, info, writtenShards);
  std::printf("\n");
  PlanRead(o, info);
  std::printf("\n");
  ComputeParity(o);
  std::printf("\n");
  Allocate(o, info, writtenShards);
  std::printf("\n");

  MoxlogParam current{};
  if (started == 0 && MoxlogGetCurParam("orv_plan", current) == 0) {
    ZoFinish();
    std::printf("Log: %s\n", current.fullFileName.c_str());
  } else {
    std::printf("Log: not written (see the errors above)\n");
  }
  return 0;
}
