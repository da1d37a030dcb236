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
project="${VELDRA_PROJECT:-$HOME/veldra-projekt.json}"
echo "Starting 'veldra ui' with the project $project."
echo "Open the 'host:' address printed below in a browser on this machine (Ctrl-C stops and saves)."
args=(ui --project "$project")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  args+=(--no-browser)
fi
exec "$bin" "${args[@]}" "$@"
