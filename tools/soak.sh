#!/usr/bin/env bash
# Soak run of the logger (by hand, not in CI): builds moxlog_soak (Release) and runs it with the
# given arguments: [seconds (default 10)] [records per second per writer (default 10000, 0: as
# fast as possible)]. Eight writers, rotation every second by rename and by copy-truncate; prints
# records written, found and reported dropped. Needs to create a directory under /var/log/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORV_BUILD_ROOT:-$root/build}/soak
mkdir -p "$(dirname "$build")"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DORV_BUILD_BENCH=OFF \
  >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "${ORV_JOBS:-2}" --target moxlog_soak >"$build.build.log" 2>&1 \
  || { cat "$build.build.log"; exit 1; }
exec "$build/tools/moxlog_soak" "$@"
