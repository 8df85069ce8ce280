#!/usr/bin/env bash
# Measures lost records per logrotate stanza under a steady load (not part of the test suite):
# 4 writer threads at ORV_LOGROTATE_RATE records/s in all (default 40000), logrotate -f every
# ORV_LOGROTATE_PERIOD_MS (default 2000) for ORV_LOGROTATE_MS per stanza (default 60000); the
# `size 100M` stanza runs logrotate without -f and writes 200 more bytes per record. Every file,
# rotated and compressed ones included, is read back and each numbered record looked for.
# ORV_LOGROTATE_STANZA="size 100M" (a title of the table) measures one stanza only.
# Prints a Markdown table. Needs root (the log goes under /var/log/orv-test-*) and logrotate.
# Usage: tools/logrotate_loss.sh [build directory, default build/release]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
if [ ! -x "$build/logging/tests/logging_logrotate_test" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j "${ORV_JOBS:-2}" --target logging_logrotate_test
fi
export ORV_LOGROTATE_RATE=${ORV_LOGROTATE_RATE:-40000}
export ORV_LOGROTATE_PERIOD_MS=${ORV_LOGROTATE_PERIOD_MS:-2000}
export ORV_LOGROTATE_MS=${ORV_LOGROTATE_MS:-60000}
echo "rate ${ORV_LOGROTATE_RATE}/s, logrotate -f every ${ORV_LOGROTATE_PERIOD_MS} ms, ${ORV_LOGROTATE_MS} ms per stanza"
"$build/logging/tests/logging_logrotate_test" --gtest_also_run_disabled_tests \
  --gtest_filter='Logrotate.DISABLED_MeasureLossPerStanza' | grep -E '^\||Failure|Which is|Expected'
