#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the optimised program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/install-node-deps.sh
bash scripts/build.sh release --target veldra
bin=build/release/src/veldra
"$bin" --help
echo
echo "Starting 'veldra bridge map': type one JSON message per line, e.g. {\"type\":\"ping\"}; Ctrl-D ends."
exec "$bin" bridge map "$@"
