#!/usr/bin/env bash
# Builds the Debian packages (.deb) with CPack into build/packages/: libmoxlog1, liborv-ec1,
# liborv-alloc1, liborv-dev and orv-tools. The libraries are built in Release for prefix /usr.
# ORV_BUILD_ROOT moves build/ elsewhere; ORV_JOBS sets the build's parallelism (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${ORV_BUILD_ROOT:-$root/build}
build=$build_root/package-release
out=$build_root/packages
"$root/tools/ensure_packages.sh" cmake make g++ libsimde-dev dpkg-dev file fakeroot
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
mkdir -p "$build_root"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF \
  -DORV_BUILD_BENCH=OFF "${launcher[@]}" >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j "${ORV_JOBS:-2}" >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out") >"$build.cpack.log" 2>&1 || { cat "$build.cpack.log"; exit 1; }
rm -rf "$out/_CPack_Packages"
ls -1 "$out"/*.deb
