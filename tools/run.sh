#!/usr/bin/env bash
# The project's main job on its built-in default: builds the libraries and the planning tool
# (Release), then runs `orv_plan` with any arguments given here (none: the built-in default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORV_BUILD_ROOT:-$root/build}/release
"$root/tools/ensure_packages.sh" cmake make g++ libsimde-dev
mkdir -p "$(dirname "$build")"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DORV_BUILD_BENCH=OFF \
  >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "${ORV_JOBS:-2}" --target orv_plan >"$build.build.log" 2>&1 \
  || { cat "$build.build.log"; exit 1; }
exec "$build/tools/orv_plan" "$@"
