#!/usr/bin/env bash
# Times the window's grid load of a Mailout of generated pairs (offscreen)
# against `qvue --list` of the same folder, and reports how often the
# counters were repainted during the load.
#   bench/window_load_bench.sh [--pairs N] [--runs K] [--quick] [BUILD_DIR]
# BUILD_DIR defaults to build-release; it must hold window/qvue,
# bench/window_load_bench and bench/make_bench_queue.
set -euo pipefail

bench=window_load_bench
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
usage() { sed -n '2,7p' "$0"; }
pairs=100000
while [[ $# -gt 0 ]]; do
  case "$1" in
    --pairs) pairs=${2:?--pairs needs a number}; shift 2 ;;
    --quick) pairs=2000; shift ;;
    --strict|--generator) refuse_option "$1" ;;
    *) common_option "$@"; shift "$used" ;;
  esac
done
build=${target:-build-release}
positive "$pairs" "$runs"
bench_setup
"$build/bench/make_bench_queue" --pairs "$pairs" "$work/gen" >/dev/null

# The window lists ROOT/Mail/Mailout/Wait at start-up: put the queue there.
mkdir -p "$work/root/Mail/Mailout"
mv "$work/gen/Mailout" "$work/root/Mail/Mailout/Wait"
# Both programs read Filter.ini beside themselves.
mkdir -p "$work/prog"
cp "$build/window/qvue" "$build/bench/window_load_bench" "$work/prog/"
cp "$work/gen/Filter.ini" "$work/prog/"
folder="$work/root/Mail/Mailout/Wait"
warm "$folder"

echo "window load benchmark: $pairs pairs, best of $runs"
best_list=""
for ((i = 1; i <= runs; i++)); do
  timed "$work/prog/qvue" --list "$folder" >/dev/null 2>&1
  printf '   qvue --list   %s s\n' "$run_seconds"
  best_list=$(min "$best_list" "$run_seconds")
done

out=$("$work/prog/window_load_bench" "$work/root" "$runs")
echo "$out" | sed 's/^/   window /'
best_load=$(echo "$out" | awk '{print $2}' | sort -n | head -1)
rate=$(echo "$out" | sort -k2 -n | head -1 | sed -E 's/.*\(([0-9.]+) per second\).*/\1/')
load_ratio=$(ratio "$best_load" "$best_list")
judge "$load_ratio" '<=' 1.2
printf '   best: window %.3f s, --list %.3f s, ratio %s (target <= 1.2) %s\n' "$best_load" "$best_list" "$load_ratio" "$judged"
printf '   counters repainted %s times a second in the best run (target >= 10)\n' "$rate"
