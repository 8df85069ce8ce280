#!/usr/bin/env bash
# The whole test suite: installs what it needs, then builds and tests
#   1. natively with warnings as errors,
#   2. with AddressSanitizer + UndefinedBehaviorSanitizer,
#   3. with ThreadSanitizer,
#   4. cross-built for aarch64 and run under qemu-aarch64 (QEMU_CPU=neoverse-n1, an accepted
#      processor), plus the processor-gate tests on a rejected processor (QEMU_CPU=a64fx),
#   5. the libFuzzer targets of fuzz/ (clang-14), 30 s each on their seed corpora (tools/fuzz.sh;
#      each target counts as one test, a finding fails it).
# Build trees go to build/ (override with ORV_BUILD_ROOT). Exit status is non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${ORV_BUILD_ROOT:-$root/build}
jobs=${ORV_JOBS:-2}

"$root/tools/ensure_packages.sh" cmake make g++ pkgconf binutils libgtest-dev googletest \
  libbenchmark-dev libspdlog-dev libsimde-dev qemu-user crossbuild-essential-arm64 \
  nlohmann-json3-dev dpkg-dev fakeroot file lintian logrotate libisal-dev clang \
  libclang-rt-14-dev || exit 1

total_passed=0
total_failed=0
failed_stages=()
ctest_prefix=()

# run_ctest <name> <ctest args...>: runs ctest in $build_root/<name> (behind ${ctest_prefix[@]})
# and adds up its counts.
run_ctest() {
  local name=$1; shift
  local log="$build_root/$name-ctest.log"
  (cd "$build_root/$name" && "${ctest_prefix[@]}" ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    total_passed=$((total_passed + total - failed))
    total_failed=$((total_failed + failed))
  fi
  if [ "$rc" -ne 0 ]; then
    failed_stages+=("$name: ctest $*")
  fi
}

# build <name> <cmake args...>
build() {
  local name=$1; shift
  echo "=== [$name] configure and build"
  if ! cmake -S "$root" -B "$build_root/$name" "$@" >"$build_root/$name-configure.log" 2>&1; then
    cat "$build_root/$name-configure.log"
    failed_stages+=("$name: configure")
    return 1
  fi
  if ! cmake --build "$build_root/$name" -j "$jobs"; then
    failed_stages+=("$name: build")
    return 1
  fi
}

mkdir -p "$build_root"

if build native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_WERROR=ON; then
  echo "=== [native] tests"
  run_ctest native
fi

if build asan -DCMAKE_BUILD_TYPE=Debug -DORV_WERROR=ON -DORV_SANITIZE=address,undefined \
    -DORV_BUILD_BENCH=OFF; then
  echo "=== [asan] tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest asan
fi

if build tsan -DCMAKE_BUILD_TYPE=Debug -DORV_WERROR=ON -DORV_SANITIZE=thread -DORV_BUILD_BENCH=OFF \
    -DORV_BUILD_TOOLS=OFF; then
  echo "=== [tsan] tests (ThreadSanitizer)"
  # ThreadSanitizer needs the classic address-space layout on kernels with high mmap randomisation.
  ctest_prefix=(setarch "$(uname -m)" -R)
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest tsan -LE build
  ctest_prefix=()
fi

if build aarch64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_WERROR=ON -DORV_GTEST_FROM_SOURCE=ON \
    -DORV_BUILD_BENCH=OFF; then
  echo "=== [aarch64] tests under qemu-aarch64, QEMU_CPU=neoverse-n1 (accepted processor)"
  QEMU_CPU=neoverse-n1 ORV_EXPECTED_GATE=accept run_ctest aarch64
  echo "=== [aarch64] processor-gate tests under qemu-aarch64, QEMU_CPU=a64fx (rejected processor)"
  QEMU_CPU=a64fx ORV_EXPECTED_GATE=reject run_ctest aarch64 -L gate
fi

echo "=== [fuzz] libFuzzer targets, ${ORV_FUZZ_SECONDS:-30} s each"
if "$root/tools/fuzz.sh" --build-only -b "$build_root/fuzz" -j "$jobs" >"$build_root/fuzz-build.log" 2>&1; then
  for target in $("$root/tools/fuzz.sh" --list); do
    if line=$("$root/tools/fuzz.sh" --no-build -b "$build_root/fuzz" -t "${ORV_FUZZ_SECONDS:-30}" "$target"); then
      case $line in
        *skipped*) ;;
        *) total_passed=$((total_passed + 1)) ;;
      esac
    else
      total_failed=$((total_failed + 1))
      failed_stages+=("fuzz: $target")
    fi
    echo "$line"
  done
else
  cat "$build_root/fuzz-build.log"
  failed_stages+=("fuzz: build")
fi

echo
echo "=== Summary"
if [ ${#failed_stages[@]} -ne 0 ]; then
  printf 'FAILED: %s\n' "${failed_stages[@]}"
fi
echo "all stages: $total_passed passed, $total_failed failed"
[ ${#failed_stages[@]} -eq 0 ] && [ "$total_failed" -eq 0 ]
