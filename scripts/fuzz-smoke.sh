#!/usr/bin/env bash
# Runs every fuzz target briefly on its seed corpus; any crash fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
status=0
for bin in build/fuzz/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name="$(basename "$bin")"
  corpus="fuzz/corpus/${name#fuzz_}"
  work="$(mktemp -d)"
  seeds=()
  [ -d "$corpus" ] && seeds=("$corpus")
  echo "fuzz: $name for ${secs}s"
  if ! "$bin" -max_total_time="$secs" -rss_limit_mb=2048 -artifact_prefix="$work/" "$work" "${seeds[@]}" \
       > "$work/log" 2>&1; then
    tail -40 "$work/log"
    echo "fuzz: $name FAILED (artifacts in $work)"
    status=1
  else
    grep -E "^(#[0-9]+ +DONE|Done)" "$work/log" | tail -1 || true
  fi
done
exit $status
