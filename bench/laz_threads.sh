#!/usr/bin/env bash
# Parallel LAZ decoding on one core and on every core, with laz-perf's speed on the same file in
# the same run. Each run starts with the machine's load: other work on the cores depresses the
# speed-up (cpu_ms_all_threads stays comparable: equal for 1 and 2 threads when the parallel path
# costs nothing extra).
#   bash scripts/build.sh release --target bench_laz && bash bench/laz_threads.sh [multi-chunk.laz]
set -euo pipefail
cd "$(dirname "$0")/.."
file="${1:-../shared/data/lidar/pdal/lone-star.laz}"
bin=build/release/bench/bench_laz
for cpus in 0 "0-$(($(nproc) - 1))"; do
  echo "== taskset -c $cpus, $(uptime)"
  taskset -c "$cpus" "$bin" --multi="$file" --benchmark_filter=Threads --benchmark_min_time=1 \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
done
