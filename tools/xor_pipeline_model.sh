#!/usr/bin/env bash
# Static pipeline model of the region XOR kernel on aarch64, side by side with ISA-L's xor_gen_neon
# (from Debian's libisal2:arm64, downloaded and unpacked, never installed).
#
# Both kernels are cross-compiled or unpacked for aarch64, run once under qemu-aarch64 with one
# instruction per translation block, and the executed instructions of one steady-state block (from
# one visit of the block loop's first instruction to the next) are taken from the trace. That
# sequence, with its inner source loop unrolled the way it really ran, is disassembled with
# llvm-objdump and fed to llvm-mca. Printed: cycles per 64 bytes per source for ours and ISA-L at
# 2/4/8/16 sources, and the load+store bound of the model (n 128-bit loads per source and four
# 128-bit stores per 64 bytes, with no other work).
#
# Usage: tools/xor_pipeline_model.sh [cpu...]     (default: neoverse-n1 neoverse-v1)
# Environment: ISAL_ARM64_DEB=path of libisal2_*_arm64.deb (otherwise it is looked for in the
# scratch directory and downloaded there with apt-get download); XOR_MODEL_WORK=scratch directory
# (default: a new one under /tmp, removed at the end).
# Needs: aarch64-linux-gnu-g++, qemu-aarch64, llvm-objdump-19, llvm-mca-19, dpkg-deb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cpus=("$@")
[ ${#cpus[@]} -gt 0 ] || cpus=(neoverse-n1 neoverse-v1)
counts=(2 4 8 16)
blocks=6                    # 256-byte blocks per traced call
size=$((blocks * 256))
iterations=100              # llvm-mca repetitions of the block
cxx=aarch64-linux-gnu-g++
objdump=llvm-objdump-19
mca=llvm-mca-19
sysroot=/usr/aarch64-linux-gnu

if [ -n "${XOR_MODEL_WORK:-}" ]; then
  work=$XOR_MODEL_WORK
  mkdir -p "$work"
else
  work=$(mktemp -d /tmp/xor-model.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi

# --- ISA-L for aarch64 -------------------------------------------------------------------------
deb=${ISAL_ARM64_DEB:-}
if [ -z "$deb" ]; then
  deb=$(ls "$work"/libisal2_*_arm64.deb 2>/dev/null | head -1 || true)
fi
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "Downloading libisal2:arm64 into $work" >&2
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" dpkg --add-architecture arm64
  "${sudo_cmd[@]}" apt-get update -qq
  (cd "$work" && apt-get download libisal2:arm64)
  deb=$(ls "$work"/libisal2_*_arm64.deb | head -1)
fi
mkdir -p "$work/isal"
dpkg-deb -x "$deb" "$work/isal"
isal_so=$(ls "$work"/isal/usr/lib/aarch64-linux-gnu/libisal.so.2.* | head -1)
isal_dir=$(dirname "$isal_so")

# --- the two programs ----------------------------------------------------------------------------
# One call of the kernel on `blocks` 256-byte blocks; the program prints the kernel's address.
cat >"$work/driver.cpp" <<'EOF'
#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "region_xor.h"
typedef int (*IsalXor)(int, int, void**);
int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const bool isal = argv[1][0] == 'i';
  const int n = std::atoi(argv[2]);
  const int size = std::atoi(argv[3]);
  std::vector<std::vector<char>> regions(static_cast<size_t>(n) + 1, std::vector<char>(static_cast<size_t>(size) + 64, 1));
  std::vector<void*> table;
  for (auto& r : regions) table.push_back(r.data());
  if (isal) {
    IsalXor f = reinterpret_cast<IsalXor>(dlsym(RTLD_DEFAULT, "xor_gen_neon"));
    if (f == nullptr) return 3;
    std::printf("%p\n", reinterpret_cast<void*>(f));
    std::fflush(stdout);
    return f(n + 1, size, table.data());  // n sources, then the destination
  }
  std::printf("%p\n", reinterpret_cast<void*>(&orv_ec::XorRegions));
  std::fflush(stdout);
  orv_ec::XorRegions(reinterpret_cast<const char* const*>(table.data()), static_cast<size_t>(n),
                     static_cast<char*>(table[static_cast<size_t>(n)]), static_cast<size_t>(size));
  return 0;
}
EOF
# The kernel is compiled as the library compiles it (RelWithDebInfo: -O2, PIC, hidden symbols).
"$cxx" -std=c++17 -O2 -g -fPIC -fvisibility=hidden -I"$root/ec/src" -I"$root/ec/include" \
  -I"$root/platform/include" -I"$root/logging/include" -c "$root/ec/src/region_xor.cpp" -o "$work/region_xor.o"
"$cxx" -std=c++17 -O2 -no-pie -I"$root/ec/src" -c "$work/driver.cpp" -o "$work/driver.o"
# ZoRegionNeonXor's log call stays unresolved: the program never calls it.
"$cxx" -no-pie -o "$work/driver" "$work/driver.o" "$work/region_xor.o" -L"$isal_dir" -Wl,--no-as-needed -l:"$(basename "$isal_so")" \
  -ldl -Wl,--unresolved-symbols=ignore-in-object-files

qemu=(qemu-aarch64 -L "$sysroot" -E LD_LIBRARY_PATH="$isal_dir")
if qemu-aarch64 -h | grep -q -- '-one-insn-per-tb'; then step=-one-insn-per-tb; else step=-singlestep; fi

# block_trace <ours|isal> <n> <image> <symbol-offset-in-image>: the disassembled instructions of
# one steady-state block, branch targets replaced by a label.
block_trace() {
  local kind=$1 n=$2 image=$3 symoff=$4
  local addr
  if ! addr=$("${qemu[@]}" "$work/driver" "$kind" "$n" "$size"); then
    echo "the $kind kernel did not run under qemu-aarch64" >&2
    return 1
  fi
  local start=$((addr)) end=$((addr + 0x10000))
  local log="$work/trace-$kind-$n.log"
  rm -f "$log"
  local again
  again=$("${qemu[@]}" "$step" -d exec,nochain -dfilter "$(printf '0x%x+0x10000' "$start")" -D "$log" \
    "$work/driver" "$kind" "$n" "$size")
  if [ "$again" != "$addr" ]; then
    echo "kernel moved between runs ($addr, $again)" >&2
    return 1
  fi
  # Executed pcs as offsets into the image, in order.
  awk -v start="$start" -v symoff="$symoff" '
    function hex(s,   v, i) { v = 0; s = tolower(s)
      for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
      return v }
    /^Trace/ { split($0, f, "["); split(f[2], g, "/"); pc = hex(g[2]);
               printf "%x\n", pc - start + symoff }' "$log" >"$work/pcs-$kind-$n"
  # The block loop head: the first executed instruction that runs once per block; one block is
  # everything from its second visit to its third.
  awk -v blocks="$blocks" '
    { seq[NR] = $1; count[$1]++ }
    END {
      for (i = 1; i <= NR; i++) if (count[seq[i]] == blocks) { head = seq[i]; break }
      if (head == "") exit 1
      visit = 0
      for (i = 1; i <= NR; i++) {
        if (seq[i] == head) visit++
        if (visit == 2) print seq[i]
        if (visit == 3) break
      }
    }' "$work/pcs-$kind-$n" >"$work/block-$kind-$n"
  # Disassembly of the image: offset -> instruction text.
  "$objdump" -d --no-show-raw-insn --mattr=+neon "$image" |
      awk '/^ *[0-9a-f]+:[ \t]/ { off = $1; sub(":", "", off); $1 = ""; sub(/^ +/, "");
             sub(/\/\/.*/, ""); gsub(/\t/, " "); sub(/ 0x[0-9a-f]+ <[^>]*>/, " L0"); print off "\t" $0 }' \
      >"$work/dis-$kind"
  echo "L0:"
  awk -F'\t' 'NR == FNR { text[$1] = $2; next } { if (!($1 in text)) { print "missing " $1 > "/dev/stderr"; exit 1 } print text[$1] }' \
    "$work/dis-$kind" "$work/block-$kind-$n"
}

# mca_cycles <cpu> <file>: cycles per block from llvm-mca.
mca_cycles() {
  "$mca" -mtriple=aarch64 -mcpu="$1" -iterations="$iterations" "$2" 2>/dev/null |
    awk -v it="$iterations" '/^Total Cycles:/ { print $3 / it }'
}

ours_sym=$("$objdump" -t "$work/driver" | awk '/XorRegions/ && !a { a = $1 } END { print a }')
isal_sym=$("$objdump" -T "$isal_so" | awk '$NF == "xor_gen_neon" { a = $1 } END { print a }')
for n in "${counts[@]}"; do
  block_trace ours "$n" "$work/driver" "$((0x$ours_sym))" >"$work/ours-$n.s"
  block_trace isal "$n" "$isal_so" "$((0x$isal_sym))" >"$work/isal-$n.s"
  # The bound: per 64 bytes, 4n independent 128-bit loads and four 128-bit stores.
  {
    for ((i = 0; i < 4 * n; i++)); do echo "ldr q$((i % 16)), [x0, #$((16 * i))]"; done
    for ((i = 0; i < 4; i += 2)); do echo "stp q$((16 + i)), q$((17 + i)), [x1, #$((16 * i))]"; done
  } >"$work/bound-$n.s"
done

for cpu in "${cpus[@]}"; do
  echo "llvm-mca -mcpu=$cpu: cycles per 64 B per source (one 256-byte block of the real loop)"
  printf '%8s %8s %8s %8s %12s %12s\n' sources ours ISA-L bound ours/ISA-L ours/bound
  for n in "${counts[@]}"; do
    ours=$(mca_cycles "$cpu" "$work/ours-$n.s")
    isal=$(mca_cycles "$cpu" "$work/isal-$n.s")
    bound=$(mca_cycles "$cpu" "$work/bound-$n.s")
    awk -v n="$n" -v o="$ours" -v i="$isal" -v b="$bound" 'BEGIN {
      ours = o / 4 / n; isal = i / 4 / n; bound = b / n
      printf "%8d %8.3f %8.3f %8.3f %12.3f %12.3f\n", n, ours, isal, bound, ours / isal, ours / bound }'
  done
  echo
done
