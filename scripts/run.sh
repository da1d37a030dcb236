#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the optimised program and starts it:
# on the public services when they answer, else on the embedded sample area
# (`veldra ui --demo`). `--demo` or VELDRA_DEMO=1 asks for the demo outright;
# every other argument goes to `veldra ui`.
set -euo pipefail
cd "$(dirname "$0")/.."

demo=0
[ "${VELDRA_DEMO:-0}" = 1 ] && demo=1
passed=()
for a in "$@"; do
  if [ "$a" = --demo ]; then demo=1; else passed+=("$a"); fi
done

bash scripts/install-deps.sh
bash scripts/install-node-deps.sh
bash scripts/build.sh release --target veldra
bin=build/release/src/veldra
"$bin" --help
echo

if [ "$demo" = 0 ]; then
  # Any HTTP answer will do: the question is only whether the host can be reached.
  echo "Checking whether the public map services can be reached (a few seconds)..."
  probe=$(timeout 10 "$bin" fetch https://mapy.geoportal.gov.pl/ --once --timeout 5000 2>/dev/null || true)
  if ! grep -q '^status [1-9]' <<<"$probe"; then
    echo "The public map services cannot be reached from this machine."
    echo "Starting the demo instead: a small sample area carried by the program, no internet needed."
    demo=1
  fi
fi

args=(ui)
if [ "$demo" = 1 ]; then
  # Sample data stay out of the user's own project.
  project="${VELDRA_PROJECT:-$HOME/veldra-demo.json}"
  args+=(--demo)
else
  project="${VELDRA_PROJECT:-$HOME/veldra-projekt.json}"
fi
echo "Starting 'veldra ${args[*]}' with the project $project."
echo "Open the 'host:' address printed below in a browser on this machine (Ctrl-C stops and saves)."
args+=(--project "$project")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  args+=(--no-browser)
fi
exec "$bin" "${args[@]}" "${passed[@]+"${passed[@]}"}"
