#!/usr/bin/env bash
# Parallel LAZ decoding on one core and on every core, with laz-perf's speed on the same file in
# the same run. Each run starts with the machine's load: other work on the cores depresses the
# speed-up (cpu_ms_all_threads stays comparable: equal for 1 and 2 threads when the parallel path
# costs nothing extra). The control at the end shows what a second thread can gain right now:
# the scheduler shares the cores between sessions, not threads, so on a busy machine two
# independent processes of this session take about twice as long as one.
# Two threads can gain at most chunks / ceil(chunks / 2): 2.0 for the 14 equal chunks of the
# default file, 1.83 for the 11 of lone-star.laz.
#   bash scripts/build.sh release --target bench_laz && bash bench/laz_threads.sh [multi-chunk.laz]
set -euo pipefail
cd "$(dirname "$0")/.."
file="${1:-../shared/data/lidar/pdal/las_with_several_extra_byte_bloc.laz}"
bin=build/release/bench/bench_laz
for cpus in 0 "0-$(($(nproc) - 1))"; do
  echo "== taskset -c $cpus, $(uptime)"
  taskset -c "$cpus" "$bin" --multi="$file" --benchmark_filter=Threads --benchmark_min_time=1 \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
done
spin() { perl -e 'my $s = 0; $s += $_ for 1 .. 30000000'; }
now() { date +%s.%N; }
t0=$(now); spin; t1=$(now); spin & spin & wait; t2=$(now)
echo "== control, $(uptime): one busy process $(echo "$t1 - $t0" | bc) s, two at once $(echo "$t2 - $t1" | bc) s"
