#!/usr/bin/env bash
# Times `qvue --list --decode` against `qvue --list` on the large sample
# installation (make_sample --size large): every queue folder of both roots
# with its subfolders, the pair queues as pairs and the others with
# --single, best of K runs of the whole round. Target: --decode within 1.2
# times the plain listing.
#   bench/decode_bench.sh [--runs K] [--quick] [BUILD_DIR]
# BUILD_DIR defaults to build-release; it must hold window/qvue and
# demo/make_sample. --quick uses the medium sample.
set -euo pipefail

bench=decode_bench
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
usage() { sed -n '2,10p' "$0"; }
runs=5
while [[ $# -gt 0 ]]; do
  case "$1" in
    --strict|--generator) refuse_option "$1" ;;
    *) common_option "$@"; shift "$used" ;;
  esac
done
build=${target:-build-release}
size=$([[ $quick -eq 1 ]] && echo medium || echo large)
positive "$runs"
bench_setup

"$build/demo/make_sample" --seed 1 --size "$size" "$work/sample" >/dev/null
mkdir -p "$work/prog"
cp "$build/window/qvue" "$work/prog/"
cp "$work/sample/Filter.ini" "$work/prog/"
warm "$work/sample"

# Every folder that holds messages, with the mode the viewer lists it in.
folders=()
modes=()
while IFS= read -r dir; do
  queue=$(basename "$dir")
  [[ $queue == Wait || $queue == Errors || $queue == Local ]] && queue=$(basename "$(dirname "$dir")")
  folders+=("$dir")
  if [[ $queue == Mailout || $queue == NNTP ]]; then modes+=(""); else modes+=(--single); fi
done < <(find "$work/sample/Kestrane/Mail" "$work/sample/Kestran2/Mail" -type d | sort)

# round OUT ARGS...: lists every folder once into OUT; sets round_seconds.
round() {
  local out=$1 t0 t1 i
  shift
  : > "$out"
  t0=$(date +%s%N)
  for i in "${!folders[@]}"; do
    "$work/prog/qvue" --list "$@" ${modes[$i]:+"${modes[$i]}"} "${folders[$i]}" >> "$out" 2>/dev/null
  done
  t1=$(date +%s%N)
  round_seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
}

echo "qvue --list --decode benchmark: $size sample, ${#folders[@]} folders, best of $runs rounds"
best_plain="" best_decode=""
for ((r = 1; r <= runs; r++)); do
  round "$work/plain.txt"
  best_plain=$(min "$best_plain" "$round_seconds")
  t_plain=$round_seconds
  round "$work/decoded.txt" --decode
  best_decode=$(min "$best_decode" "$round_seconds")
  printf '   round %-3s --list %8s s   --list --decode %8s s\n' "$r" "$t_plain" "$round_seconds"
done

rows=$(grep -vc '^N' "$work/plain.txt" || true)
encoded=$(cut -f5-8 "$work/plain.txt" | grep -c '=?' || true)
changed=$(paste -d '\n' "$work/plain.txt" "$work/decoded.txt" | awk 'NR % 2 { a = $0; next } $0 != a { n++ } END { print n + 0 }')
echo "   $rows rows listed, $encoded with \"=?\" in a header cell, $changed shown differently with --decode"
[[ $changed -gt 0 ]] || { echo "   check: the sample holds no encoded word that decodes  FAILED"; checks_failed=1; }
check "rows with --decode" "$(grep -vc '^N' "$work/decoded.txt" || true)" "$rows"
check "file names, sizes and classifications with --decode" \
  "$(cut -f1-4 "$work/decoded.txt" | md5sum | cut -c1-32)" "$(cut -f1-4 "$work/plain.txt" | md5sum | cut -c1-32)"

ratio_value=$(ratio "$best_decode" "$best_plain")
judge "$ratio_value" '<=' 1.2
echo "   best: --list $best_plain s, --list --decode $best_decode s, ratio $ratio_value (target <= 1.2) $judged"
(( checks_failed == 0 ))
