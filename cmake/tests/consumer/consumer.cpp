// Uses one function of each installed library and checks its answer.
#include <moxlog/moxlog.h>
#include <orv_alloc/orv_alloc.h>
#include <orv_ec/orv_ec.h>

#include <cstdio>

int main() {
  std::string version;
  if (MoxlogGetVersion(version) != 0 || version != "V1.0.0") {
    std::puts("moxlog: wrong version");
    return 1;
  }
  if (!EquAfterPlus(~0ULL, 1, 1, ~0ULL)) {
    std::puts("orv_ec: EquAfterPlus is wrong");
    return 1;
  }
  uint64_t partial = 0;
  uint64_t full = 1;
  OrvAllocator alloc(1, 4096, OrvAllocPosS{~0ULL, ~0ULL, 0}, partial, full);
  std::vector<uint64_t> l0(1, ~0ULL), l1(1, 3), l2(1, 1);
  std::vector<OrvExtentS> out;
  if (alloc.OrvAllocate(OrvAllocInfoS{8192, 4096}, l0, l1, l2, out) != 8192 || out.size() != 1) {
    std::puts("orv_alloc: wrong allocation");
    return 1;
  }
  std::puts("consumer ok");
  return 0;
}
