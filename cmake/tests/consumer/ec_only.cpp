// Uses liborv_ec alone: libmoxlog is loaded only as liborv_ec's own dependency, so it is found
// only through liborv_ec's run path.
#include <orv_ec/orv_ec.h>

#include <cstdio>

int main() {
  uint64_t start = 0;
  uint64_t length = 0;
  if (!ZoSetWriteSection(5000, 10000, 4096, start, length) || start != 4096 || length != 12288) {
    std::puts("orv_ec: ZoSetWriteSection is wrong");
    return 1;
  }
  std::puts("ec-only consumer ok");
  return 0;
}
