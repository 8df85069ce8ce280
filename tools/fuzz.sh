#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang-14, -DORV_FUZZ=ON) and runs each for a bounded time
# on its seed corpus. The test suite runs them for 30 s each; run them longer by hand:
#
#   tools/fuzz.sh                       # every target, 10 minutes each
#   tools/fuzz.sh -t 3600 planning      # one target for an hour
#   tools/fuzz.sh --list                # the target names
#
# Options: -t SECONDS per target (default 600), -b BUILD_DIR (default build/fuzz), -j JOBS,
# --build-only, --no-build. New inputs go to BUILD_DIR/corpus/<target>/ (the seeds in
# fuzz/corpus/<target>/ are only read); a finding is saved in BUILD_DIR/findings/<target>/ and
# makes the exit status non-zero. Prints one line per target: inputs run and the verdict.
# A finding becomes a seed (copy it into fuzz/corpus/<target>/) and, where it shows a fault, a test.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=600
build_dir=$root/build/fuzz
jobs=${ORV_JOBS:-2}
build=1
run=1
targets=()
all_targets=(toread_rebuild planning allocator region_xor param_file message_format)

while [ $# -gt 0 ]; do
  case $1 in
    -t) seconds=$2; shift 2 ;;
    -b) build_dir=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    --build-only) run=0; shift ;;
    --no-build) build=0; shift ;;
    --list) printf '%s\n' "${all_targets[@]}"; exit 0 ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

if [ "$build" -eq 1 ]; then
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  mkdir -p "$build_dir"
  if ! CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build_dir" -DORV_FUZZ=ON -DORV_WERROR=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DORV_BUILD_BENCH=OFF -DORV_BUILD_TOOLS=OFF \
      "${launcher[@]}" >"$build_dir/configure.log" 2>&1; then
    cat "$build_dir/configure.log"
    echo "fuzz: configure failed" >&2
    exit 1
  fi
  if ! cmake --build "$build_dir" -j "$jobs" --target "${targets[@]/#/fuzz_}"; then
    echo "fuzz: build failed" >&2
    exit 1
  fi
fi
[ "$run" -eq 0 ] && exit 0

failed=0
for t in "${targets[@]}"; do
  exe=$build_dir/fuzz/fuzz_$t
  corpus=$build_dir/corpus/$t
  findings=$build_dir/findings/$t
  log=$build_dir/fuzz_$t.log
  mkdir -p "$corpus" "$findings"
  # Findings abort: ASan and UBSan stop at the first report, a failed check aborts, an input
  # running longer than 20 s or a process above 2.5 GB counts as a finding too.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -close_fd_mask=2 -print_final_stats=1 -error_exitcode=1 \
    -artifact_prefix="$findings/" "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -1)
  if [ "$rc" -eq 0 ]; then
    echo "fuzz_$t: ${runs:-?} inputs in ${seconds} s, no finding"
  elif [ "$rc" -eq 77 ]; then
    echo "fuzz_$t: skipped: $(grep -m1 "^fuzz_$t:" "$log")"
  else
    failed=1
    echo "fuzz_$t: FINDING after ${runs:-?} inputs (exit $rc), log $log, input in $findings/"
    grep -E -m5 'FUZZ FINDING|ERROR: |runtime error|SUMMARY' "$log" | sed 's/^/  /'
  fi
done
exit "$failed"
