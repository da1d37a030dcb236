#!/usr/bin/env bash
# Configures and builds one flavour of the program into build/<flavour>.
#   release  optimised program and benchmarks
#   check    AddressSanitizer + UndefinedBehaviorSanitizer build used by the tests
#   fuzz     libFuzzer targets (clang-16)
set -euo pipefail
cd "$(dirname "$0")/.."
flavour="${1:-release}"
dir="build/$flavour"
gen=(-G Ninja)
case "$flavour" in
  release) opts=(-DCMAKE_BUILD_TYPE=Release -DVELDRA_TESTS=OFF -DVELDRA_BENCH=ON) ;;
  check)   opts=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" -DVELDRA_SANITIZE=ON -DVELDRA_BENCH=OFF) ;;
  fuzz)    opts=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" -DCMAKE_CXX_COMPILER=clang++-16
                 -DVELDRA_FUZZ=ON -DVELDRA_TESTS=OFF -DVELDRA_BENCH=OFF -DVELDRA_WERROR=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" "${gen[@]}" "${opts[@]}"
fi
shift || true
cmake --build "$dir" -j "${VELDRA_JOBS:-2}" "$@"
