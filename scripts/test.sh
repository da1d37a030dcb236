#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the sanitizer build and runs every
# test (unit, integration, interop, browser), then a short fuzz smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/install-node-deps.sh

bash scripts/build.sh check
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
(cd build/check && ctest -j2 --output-on-failure --timeout 900)

if [ -n "$(ls fuzz/fuzz_*.cpp 2>/dev/null)" ]; then
  bash scripts/build.sh fuzz --target fuzz_all
  bash scripts/fuzz-smoke.sh "${VELDRA_FUZZ_SECONDS:-10}"
fi
