#!/bin/bash
# Runs benchmarks of nanoseconds at many stack placements and prints, per library and benchmark,
# the median, least and greatest CPU time.
#
# A call of a few nanoseconds can take 15% longer or shorter with no change to the code, only
# because the process's stack starts at another offset within its page (the length of the
# environment and of the arguments decides it), which changes which addresses of the stack and
# of the library's data share low address bits. One run shows one placement; this script pads
# the environment by STEP bytes at a time through a whole page and runs each library at each
# placement in turn, so that two libraries are compared over the same placements, interleaved.
#
# usage: bench/placement_sweep.sh BENCH_BINARY FILTER [LIBDIR...]
#   LIBDIR: a directory put first on LD_LIBRARY_PATH for that library's runs (for example a copy
#   of an older build's libmoxlog.so.1); none: the libraries the binary finds itself.
#   Environment: STEP (bytes, default 256), MIN_TIME (seconds per run, default 0.2), CPU (the core
#   to pin to, default 1).
set -euo pipefail

if [[ $# -lt 2 ]]; then
  sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
binary=$1
filter=$2
shift 2
libs=("$@")
if [[ ${#libs[@]} -eq 0 ]]; then
  libs=(default)
fi
step=${STEP:-256}
min_time=${MIN_TIME:-0.2}
cpu=${CPU:-1}

results=$(mktemp)
trap 'rm -f "$results"' EXIT

for ((pad = 0; pad < 4096; pad += step)); do
  padding=$(printf '%*s' "$pad" '')
  for lib in "${libs[@]}"; do
    path=${LD_LIBRARY_PATH:-}
    if [[ $lib != default ]]; then
      path=$lib${path:+:$path}
    fi
    # Google Benchmark's console line: name, real time, unit, CPU time, unit, iterations.
    env PLACEMENT_PAD="$padding" LD_LIBRARY_PATH="$path" taskset -c "$cpu" "$binary" \
        --benchmark_filter="$filter" --benchmark_min_time="$min_time" 2>/dev/null |
      awk -v lib="$lib" '/^BM_|^[A-Za-z]+\// && NF >= 6 { print lib, $1, $4, $5 }' >>"$results"
  done
done

sort -k1,1 -k2,2 -k3,3g "$results" | awk '
  function flush() {
    if (n > 0) printf "%-24s %-60s median %8.2f  min %8.2f  max %8.2f %s  (%d placements)\n", lib, name, v[int((n + 1) / 2)], v[1], v[n], unit, n
  }
  { if ($1 != lib || $2 != name) { flush(); lib = $1; name = $2; n = 0 } v[++n] = $3; unit = $4 }
  END { flush() }'
