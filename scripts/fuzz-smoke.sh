#!/usr/bin/env bash
# Runs every fuzz target briefly on its seed corpus, as many at once as there are build jobs
# (VELDRA_JOBS, 2 by default); any crash fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
jobs="${VELDRA_JOBS:-2}"

# One target: its log and artifacts stay in a folder of their own; the summary goes to stdout.
run_one() {
  local bin="$1" name corpus work
  name="$(basename "$bin")"
  corpus="fuzz/corpus/${name#fuzz_}"
  work="$(mktemp -d)"
  local seeds=()
  [ -d "$corpus" ] && seeds=("$corpus")
  if ! "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -artifact_prefix="$work/" "$work" "${seeds[@]}" \
       > "$work/log" 2>&1; then
    tail -40 "$work/log"
    echo "fuzz: $name FAILED (artifacts in $work)"
    return 1
  fi
  echo "fuzz: $name for ${secs}s: $(grep -E "^(#[0-9]+ +DONE|Done)" "$work/log" | tail -1)"
}

status=0
running=0
for bin in build/fuzz/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_one "$bin" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
