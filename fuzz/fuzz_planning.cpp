// Fuzz target: every planning function of liborv_ec on random geometry (zero, tiny, huge and
// inconsistent sizes), chunk mappings of any size with repeated and negative ids (or none at
// all), and ranges anywhere in the 64-bit space, called on outputs that already hold elements.
//
// Checked on every call: an output is only appended to (a vector keeps its elements as a prefix,
// a set keeps its ids, a map keeps its shards and each shard's ranges; only the zero-range map
// may replace a shard's pair); the CPU time stays within a fixed allowance plus a small cost per
// element the call adds or reads. Checked where an exact answer is cheap: the widening and the
// sum comparison against wide arithmetic, the reconstruct pieces (positive, within their chunk,
// at the right chunk position, summing to the range), the bytes of a read plan on a consistent
// geometry (summing to the range), and the write-to shards against the chunk-counting rule.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "fuzz_ec_log.h"
#include "fuzz_support.h"
#include "orv_ec/orv_ec.h"

namespace {

using Range = std::pair<uint64_t, uint64_t>;
using ShardRanges = std::map<int, std::set<Range>>;

constexpr uint64_t kCap = uint64_t{1} << 40;
// Allowance per call, and per element added or read, in CPU seconds. Sanitizers included, a
// call takes well under a microsecond per element; a walk that does not follow its output (k
// steps per extent, say) blows through this at once.
constexpr double kCallAllowance = 0.5;
constexpr double kPerElement = 5e-6;

// Calls that would add between 2^14 and 2^25 elements are skipped: they are valid up to the
// library's limit of 2^24 (and refused past it), but under the fuzzer's instrumentation one
// costs up to half a minute and a gigabyte. Their cost is linear, which smaller calls show.
bool Costly(unsigned __int128 elements) {
  return elements > (uint64_t{1} << 14) && elements <= (uint64_t{1} << 25);
}

// A 64-bit value from the classes where planning arithmetic breaks: small, powers of two and
// their neighbours, around the 2^40 cap, around 2^64, multiples of 4096, or anything.
uint64_t DrawValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
      return in.ConsumeIntegralInRange<uint64_t>(0, 16);
    case 1:
      return in.ConsumeIntegralInRange<uint64_t>(0, uint64_t{1} << 17);
    case 2:
      return (uint64_t{1} << in.ConsumeIntegralInRange<int>(0, 63)) + in.ConsumeIntegralInRange<uint64_t>(0, 4) - 2;
    case 3:
      return kCap + in.ConsumeIntegralInRange<uint64_t>(0, uint64_t{1} << 17) - (uint64_t{1} << 16);
    case 4:
      return UINT64_MAX - in.ConsumeIntegralInRange<uint64_t>(0, uint64_t{1} << 17);
    case 5:
      return 4096 * in.ConsumeIntegralInRange<uint64_t>(0, uint64_t{1} << 24);
    default:
      return in.ConsumeIntegral<uint64_t>();
  }
}

struct Geometry {
  ZoEcInfo info{};
  std::vector<int> mapping;
};

// Fills `g`, whose mapping vector info.chunkMapping then points at (or is null).
void DrawGeometry(FuzzedDataProvider& in, Geometry& g) {
  ZoEcInfo& info = g.info;
  static const uint64_t kWide[] = {255, 4096, 65534, 65536, 65537};  // around the stripe limits
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      info.k = DrawValue(in);
      break;
    case 1:
      info.k = in.PickValueInArray(kWide);
      break;
    default:
      info.k = in.ConsumeIntegralInRange<uint64_t>(0, 20);
      break;
  }
  info.chunkCount = in.ConsumeBool() ? info.k + in.ConsumeIntegralInRange<uint64_t>(0, 4) : DrawValue(in);
  static const uint64_t kChunkSizes[] = {1, 3, 512, 4096, 4100, 65536, uint64_t{1} << 30};
  info.cSize = in.ConsumeBool() ? in.PickValueInArray(kChunkSizes) : DrawValue(in);
  const bool consistent = in.ConsumeIntegralInRange<int>(0, 3) != 0 && info.cSize != 0 &&
                          info.k <= UINT64_MAX / info.cSize;
  info.sWidth = consistent ? info.k * info.cSize : DrawValue(in);
  info.alignSize = in.ConsumeBool() && info.cSize != 0 ? info.cSize / in.ConsumeIntegralInRange<uint64_t>(1, 8)
                                                         : DrawValue(in);
  // Mapping: short with any ids, or as long as the stripe (repeating a short pattern).
  const size_t drawn = in.ConsumeIntegralInRange<size_t>(0, 24);
  for (size_t i = 0; i < drawn; ++i) {
    g.mapping.push_back(in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-3, 24) : in.ConsumeIntegral<int>());
  }
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0 && info.chunkCount <= 70000) {
    const size_t pattern = g.mapping.size();
    for (size_t i = pattern; i < info.chunkCount; ++i) {
      g.mapping.push_back(pattern == 0 ? static_cast<int>(i) : g.mapping[i % pattern]);
    }
  }
  info.chunkMapping = in.ConsumeIntegralInRange<int>(0, 31) == 0 ? nullptr : &g.mapping;
}

Range DrawRange(FuzzedDataProvider& in, const ZoEcInfo& info) {
  if (in.ConsumeBool() && info.sWidth != 0 && info.sWidth < kCap) {
    // A few stripes somewhere below the cap, often on chunk or stripe boundaries.
    const uint64_t stripes = kCap / info.sWidth;
    uint64_t off = in.ConsumeIntegralInRange<uint64_t>(0, stripes - 1) * info.sWidth;
    off += in.ConsumeIntegralInRange<uint64_t>(0, info.sWidth);
    const uint64_t len = in.ConsumeIntegralInRange<uint64_t>(0, 3 * info.sWidth + 1);
    return {off, len};
  }
  return {DrawValue(in), DrawValue(in)};
}

class CostCheck {
 public:
  explicit CostCheck(const char* what) : what_(what), start_(orv_fuzz::ThreadCpuSeconds()) {}
  void Done(uint64_t elements) const {
    const double used = orv_fuzz::ThreadCpuSeconds() - start_;
    ORV_FUZZ_CHECK(used <= kCallAllowance + kPerElement * static_cast<double>(elements),
                   "%s took %.3f s of CPU for %lu elements", what_, used, static_cast<unsigned long>(elements));
  }

 private:
  const char* what_;
  double start_;
};

size_t CountRanges(const ShardRanges& m) {
  size_t n = 0;
  for (const auto& shard : m) {
    n += shard.second.size();
  }
  return n;
}

void CheckKept(const ShardRanges& before, const ShardRanges& after, const char* what) {
  for (const auto& shard : before) {
    const auto it = after.find(shard.first);
    ORV_FUZZ_CHECK(it != after.end(), "%s dropped shard %d", what, shard.first);
    for (const Range& r : shard.second) {
      ORV_FUZZ_CHECK(it->second.count(r) == 1, "%s dropped a range of shard %d", what, shard.first);
    }
  }
}

// The distinct shard of every data position, or false when two data positions share a shard.
bool DataShardsDistinct(const ZoEcInfo& info) {
  if (info.chunkMapping == nullptr || info.k > 4096) {
    return false;
  }
  std::set<int> seen;
  for (uint64_t p = 0; p < info.k; ++p) {
    const int id = p < info.chunkMapping->size() ? (*info.chunkMapping)[p] : static_cast<int>(p);
    if (!seen.insert(id).second) {
      return false;
    }
  }
  return true;
}

void FuzzSetWriteSection(FuzzedDataProvider& in) {
  const uint64_t offset = DrawValue(in);
  const uint64_t len = DrawValue(in);
  const uint64_t csize = DrawValue(in);
  uint64_t headStart = 7;
  uint64_t headLength = 9;
  const CostCheck cost("ZoSetWriteSection");
  const bool ok = ZoSetWriteSection(offset, len, csize, headStart, headLength);
  cost.Done(0);
  if (!ok) {
    ORV_FUZZ_CHECK(headLength == 9, "a refused ZoSetWriteSection wrote headLength");
    return;
  }
  ORV_FUZZ_CHECK(len != 0 && csize != 0 && offset + len >= offset, "ZoSetWriteSection accepted bad input");
  if (offset + len <= kCap && csize <= kCap) {
    const unsigned __int128 end = (static_cast<unsigned __int128>(offset + len) + csize - 1) / csize * csize;
    const uint64_t cappedEnd = end > kCap ? kCap : static_cast<uint64_t>(end);
    ORV_FUZZ_CHECK(headStart == offset - offset % csize && headStart + headLength == cappedEnd,
                   "ZoSetWriteSection gave %lu+%lu", static_cast<unsigned long>(headStart),
                   static_cast<unsigned long>(headLength));
  }
}

void FuzzChunkBounds(FuzzedDataProvider& in) {
  const Range range{DrawValue(in), DrawValue(in)};
  const uint64_t csize = DrawValue(in);
  const CostCheck cost("ZoOffsetLenToChunkBounds");
  const Range out = ZoOffsetLenToChunkBounds(range, csize);
  cost.Done(0);
  if (csize == 0 || csize > kCap) {
    return;
  }
  const uint64_t r = range.first % csize;
  if (range.second > kCap - r) {
    return;  // beyond the cap: a length past it has no exact answer
  }
  const uint64_t rounded = (range.second + r + csize - 1) / csize * csize;
  ORV_FUZZ_CHECK(out.first == range.first - r && out.second == (rounded > kCap ? kCap : rounded),
                 "ZoOffsetLenToChunkBounds gave %lu+%lu", static_cast<unsigned long>(out.first),
                 static_cast<unsigned long>(out.second));
}

void FuzzEquAfterPlus(FuzzedDataProvider& in) {
  const uint64_t a = DrawValue(in);
  const uint64_t b = DrawValue(in);
  const uint64_t c = in.ConsumeBool() ? a + b - DrawValue(in) : DrawValue(in);
  const uint64_t d = in.ConsumeBool() ? a + b - c : DrawValue(in);  // often equal sums mod 2^64
  const unsigned __int128 left = static_cast<unsigned __int128>(a) + b;
  const unsigned __int128 right = static_cast<unsigned __int128>(c) + d;
  ORV_FUZZ_CHECK(EquAfterPlus(a, b, c, d) == (left == right), "EquAfterPlus(%lu, %lu, %lu, %lu)",
                 static_cast<unsigned long>(a), static_cast<unsigned long>(b), static_cast<unsigned long>(c),
                 static_cast<unsigned long>(d));
}

void FuzzUpdateDecision(FuzzedDataProvider& in, const ZoEcInfo& info) {
  const Range range = DrawRange(in, info);
  {
    const CostCheck cost("ZoShouldUseUpdate");
    ZoShouldUseUpdate(info, range);
    cost.Done(0);
  }
  ZoChunkInfo chunk{1, 2, 3};
  const CostCheck cost("ZoPrepareUpdateChunks");
  ZoPrepareUpdateChunks(info, range.first, range.second, chunk);
  cost.Done(0);
}

void FuzzReconstructShards(FuzzedDataProvider& in, const ZoEcInfo& info) {
  const uint32_t start = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 40) : in.ConsumeIntegral<uint32_t>();
  const uint32_t count = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 40) : in.ConsumeIntegral<uint32_t>();
  const uint64_t len = DrawValue(in);
  if (info.cSize != 0 && len != 0 && len <= kCap) {
    const uint32_t end = start + count;
    const uint64_t run = end <= 2147483646u && start < end ? end - start : 0;
    if (Costly(static_cast<unsigned __int128>(run) * ((len - 1) / info.cSize + 1))) {
      return;
    }
  }
  const std::vector<int> before{in.ConsumeIntegral<int>(), -1};
  std::vector<int> shards = before;
  const CostCheck cost("ZoGetReconstructShards");
  ZoGetReconstructShards(start, count, len, info, shards);
  cost.Done(shards.size());
  ORV_FUZZ_CHECK(shards.size() >= before.size() && std::equal(before.begin(), before.end(), shards.begin()),
                 "ZoGetReconstructShards changed elements it did not add");
}

void FuzzRelatedShards(FuzzedDataProvider& in, const ZoEcInfo& info) {
  const Range range = DrawRange(in, info);
  const std::set<int> before{in.ConsumeIntegral<int>()};
  std::set<int> shards = before;
  const CostCheck cost("ZoGetRelatedShards");
  ZoGetRelatedShards(range, info, shards);
  cost.Done(shards.size() + (info.k < (uint64_t{1} << 20) ? info.k : 0));
  ORV_FUZZ_CHECK(shards.count(*before.begin()) == 1, "ZoGetRelatedShards dropped an id");
}

void FuzzWriteToShards(FuzzedDataProvider& in, const ZoEcInfo& info) {
  std::map<uint64_t, uint64_t> writes;
  if (in.ConsumeBool()) {
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, 300);
    for (size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
      const Range r = DrawRange(in, info);
      writes[r.first] = r.second;
    }
  } else {
    // Many extents from a few bytes: a run of equal extents at a fixed stride.
    const uint64_t count = in.ConsumeIntegralInRange<uint64_t>(0, 3000);
    const uint64_t stride = in.ConsumeBool() ? info.sWidth : DrawValue(in);
    const uint64_t len = in.ConsumeBool() ? info.sWidth : DrawValue(in);
    const uint64_t first = DrawValue(in);
    for (uint64_t i = 0; i < count; ++i) {
      writes[first + i * stride] = len;
    }
  }
  std::set<int> before;
  if (in.ConsumeBool()) {
    before.insert(in.ConsumeIntegral<int>());
  }
  std::set<int> shards = before;
  const CostCheck cost("ZoGetWriteToShards");
  ZoGetWriteToShards(writes, info, shards);
  cost.Done(shards.size() + writes.size() + (info.k <= (uint64_t{1} << 16) ? info.k : 0));
  for (int id : before) {
    ORV_FUZZ_CHECK(shards.count(id) == 1, "ZoGetWriteToShards dropped an id");
  }
  // The chunk-counting rule, one step at a time, where that is cheap.
  if (info.sWidth == 0 || info.cSize == 0 || info.k == 0 || info.k > 256 || info.chunkCount > 65536 ||
      info.chunkMapping == nullptr || writes.size() * info.k > 20000) {
    return;
  }
  std::set<int> expected = before;
  for (const auto& w : writes) {
    uint64_t p = (w.first % info.sWidth) / info.cSize;
    const uint64_t n = w.second / info.cSize;
    for (uint64_t step = 0; step < n && step < info.k; ++step) {  // positions cycle after k steps
      if (p >= info.k) {
        p = 0;
      }
      expected.insert(p < info.chunkMapping->size() ? (*info.chunkMapping)[p] : static_cast<int>(p));
      ++p;
    }
  }
  if (!expected.empty()) {
    for (uint64_t i = info.k; i < info.chunkCount; ++i) {
      expected.insert(static_cast<int>(i));
    }
  }
  ORV_FUZZ_CHECK(expected == shards, "ZoGetWriteToShards differs from the chunk-counting rule");
}

void FuzzReconstructPrepare(FuzzedDataProvider& in, const ZoEcInfo& info) {
  const Range range = DrawRange(in, info);
  if (info.cSize != 0 && range.second != 0 && range.first + range.second >= range.first &&
      Costly((range.first + range.second - 1) / info.cSize - range.first / info.cSize + 1)) {
    return;
  }
  const std::vector<Range> before{{in.ConsumeIntegral<uint64_t>(), 5}};
  std::vector<Range> pieces = before;
  const CostCheck cost("ZoReconstructPrepare");
  ZoReconstructPrepare(info, range, pieces);
  cost.Done(pieces.size());
  ORV_FUZZ_CHECK(pieces.size() >= 1 && pieces[0] == before[0], "ZoReconstructPrepare changed an old element");
  if (pieces.size() == 1) {
    return;  // refused, or a range of no bytes
  }
  uint64_t pos = range.first;
  uint64_t sum = 0;
  for (size_t i = 1; i < pieces.size(); ++i) {
    const Range& piece = pieces[i];
    ORV_FUZZ_CHECK(piece.second > 0 && piece.second <= info.cSize - pos % info.cSize,
                   "ZoReconstructPrepare piece %zu of %lu bytes crosses its chunk", i,
                   static_cast<unsigned long>(piece.second));
    ORV_FUZZ_CHECK(piece.first == (pos % info.sWidth) / info.cSize, "ZoReconstructPrepare piece %zu position", i);
    pos += piece.second;
    sum += piece.second;
  }
  ORV_FUZZ_CHECK(sum == range.second, "ZoReconstructPrepare pieces sum to %lu, not %lu",
                 static_cast<unsigned long>(sum), static_cast<unsigned long>(range.second));
}

void FuzzShardsRangeToRead(FuzzedDataProvider& in, const ZoEcInfo& info) {
  const Range range = DrawRange(in, info);
  ShardRanges before;
  if (in.ConsumeBool()) {
    before[in.ConsumeIntegral<int>()].insert({DrawValue(in), DrawValue(in)});
  }
  ShardRanges plan = before;
  const CostCheck cost("ZoGetShardsRangeToRead");
  ZoGetShardsRangeToRead(range, info, plan);
  const size_t added = CountRanges(plan) - CountRanges(before);
  cost.Done(added + plan.size() + (info.k <= (uint64_t{1} << 16) ? info.k : 0));
  CheckKept(before, plan, "ZoGetShardsRangeToRead");
  // On a consistent geometry whose data positions have distinct shards, the plan holds each byte
  // of the range once (or nothing, when refused).
  if (!before.empty() || info.cSize == 0 || info.sWidth != info.k * info.cSize || info.k == 0 ||
      info.sWidth / info.k != info.cSize || !DataShardsDistinct(info)) {
    return;
  }
  uint64_t bytes = 0;
  for (const auto& shard : plan) {
    for (const Range& r : shard.second) {
      bytes += r.second;
    }
  }
  ORV_FUZZ_CHECK(bytes == 0 || bytes == range.second, "ZoGetShardsRangeToRead planned %lu bytes of %lu",
                 static_cast<unsigned long>(bytes), static_cast<unsigned long>(range.second));
}

void FuzzShardZeroRange(FuzzedDataProvider& in, const ZoEcInfo& info) {
  const Range range = DrawRange(in, info);
  std::map<int, Range> before;
  if (in.ConsumeBool()) {
    before[in.ConsumeIntegral<int>()] = {1, 2};
  }
  std::map<int, Range> zeros = before;
  const CostCheck cost("ZoGetShardZeroRange");
  ZoGetShardZeroRange(range, info, zeros);
  cost.Done(zeros.size() + (info.chunkCount <= (uint64_t{1} << 16) ? info.chunkCount : 0) +
            (info.k <= (uint64_t{1} << 16) ? info.k : 0));
  for (const auto& shard : before) {
    ORV_FUZZ_CHECK(zeros.count(shard.first) == 1, "ZoGetShardZeroRange dropped shard %d", shard.first);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orv_fuzz::StartQuietEcLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Geometry g;
  DrawGeometry(in, g);
  for (int call = 0; call < 8 && in.remaining_bytes() > 0; ++call) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
      case 0:
        FuzzSetWriteSection(in);
        break;
      case 1:
        FuzzChunkBounds(in);
        break;
      case 2:
        FuzzEquAfterPlus(in);
        break;
      case 3:
        FuzzUpdateDecision(in, g.info);
        break;
      case 4:
        FuzzReconstructShards(in, g.info);
        break;
      case 5:
        FuzzRelatedShards(in, g.info);
        break;
      case 6:
        FuzzWriteToShards(in, g.info);
        break;
      case 7:
        FuzzReconstructPrepare(in, g.info);
        break;
      case 8:
        FuzzShardsRangeToRead(in, g.info);
        break;
      default:
        FuzzShardZeroRange(in, g.info);
        break;
    }
  }
  return 0;
}
