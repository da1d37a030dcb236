#!/usr/bin/env bash
# Parallel LAZ decoding on one core and on every core, with laz-perf's speed on the same file in
# the same run. Each run starts with the machine's load: other work on the cores depresses the
# speed-up (cpu_ms_all_threads stays comparable: equal for 1 and 2 threads when the parallel path
# costs nothing extra). The scheduler shares the cores between sessions, not threads, so while
# another session keeps a core busy a second thread gains nothing.
#
# The figures to quote come from the quiet turns (bench_laz --quiet-turns): 1 and 2 threads in
# turns, each decode timed only while other processes use under 5 % of the cores, against the
# control of two one-thread decodes at once. The control is the ceiling: on these 2-core virtual
# machines it is not 2.0 but 1.8x-1.97x, and it moves from minute to minute (one-thread decodes
# of the same file take 254-318 ms), so judge the 2-thread time against the control's half, not
# only the ratio. Quiet turns (12-15 each, two sessions, load average 0.9-1.9), default 14-chunk
# file:
#   before (one copy per point into a fresh 2 MB slot per chunk): 2 threads 172-177 ms, 107-111 %
#     of the control's half, CPU +3-12 %; speed-up 1.65x-1.85x
#   now (batches decoded in place, slot buffers kept between files): 2 threads 154-166 ms, 100-103 %
#     of the control's half, CPU -3.5 to +3 % (once +8.5 %, the control's then as much); speed-up
#     1.77x-1.97x as the control moves
# lone-star.laz (11 chunks, format 1): before 1.67x-1.70x, CPU +12-14 %; now 1.63x-1.84x, 102-107 %
# of the control's half.
# Two threads can gain at most chunks / ceil(chunks / 2): 2.0 for the 14 equal chunks of the
# default file, 1.83 for the 11 of lone-star.laz.
#
# Last, the whole program: veldra laz2e57 on the file with VELDRA_THREADS=1 and 2 in turns
# (decoding, the accumulator and the E57 writer; only the decoding runs in parallel): medians
# 0.44-0.455 s on one thread, 0.27-0.28 s on two (1.57x-1.68x), the same CPU time; 1.59x before.
#   bash scripts/build.sh release --target bench_laz --target veldra && bash bench/laz_threads.sh [multi-chunk.laz] [turns]
set -euo pipefail
cd "$(dirname "$0")/.."
file="${1:-../shared/data/lidar/pdal/las_with_several_extra_byte_bloc.laz}"
turns="${2:-12}"
bin=build/release/bench/bench_laz
veldra=build/release/src/veldra
for cpus in 0 "0-$(($(nproc) - 1))"; do
  echo "== taskset -c $cpus, $(uptime)"
  taskset -c "$cpus" "$bin" --multi="$file" --benchmark_filter=Threads --benchmark_min_time=1 \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
done
spin() { perl -e 'my $s = 0; $s += $_ for 1 .. 30000000'; }
now() { date +%s.%N; }
t0=$(now); spin; t1=$(now); spin & spin & wait; t2=$(now)
echo "== control, $(uptime): one busy process $(echo "$t1 - $t0" | bc) s, two at once $(echo "$t2 - $t1" | bc) s"

echo "== quiet turns, $(uptime)"
"$bin" --multi="$file" --quiet-turns="$turns"

[ -x "$veldra" ] || exit 0
echo "== veldra laz2e57, $turns turns, $(uptime)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
for ((turn = 0; turn < turns; turn++)); do
  for t in $((1 + turn % 2)) $((2 - turn % 2)); do
    /usr/bin/time -f "%e %U %S" -o "$out/time" env VELDRA_THREADS="$t" "$veldra" laz2e57 "$file" \
      --out "$out/x.e57" > /dev/null
    read -r wall user sys < "$out/time"
    echo "$wall" >> "$out/wall$t"
    echo "$user + $sys" | bc >> "$out/cpu$t"
  done
done
w1=$(median < "$out/wall1"); w2=$(median < "$out/wall2")
echo "median s elapsed: 1 thread $w1, 2 threads $w2 ($(echo "scale=2; $w1 / $w2" | bc)x); median s CPU:" \
  "1 thread $(median < "$out/cpu1"), 2 threads $(median < "$out/cpu2")"
