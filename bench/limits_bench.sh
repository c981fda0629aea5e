#!/usr/bin/env bash
# Benchmarks what hostile or unlucky input costs sievbat and `qvue --list`:
#   1. peak memory on a header file whose one header line is 100 MB;
#   2. sievbat on the throughput queue with 100 000 rules against 4 000;
#   3. one message with a 1 MiB Subject against 100 000 rules of 16 random
#      characters, and of 16 letters out of "abcdefgh" (long shared prefixes).
# Builds nothing: give it the build tree that holds sievbat, qvue and
# make_bench_queue.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/limits_bench.sh [options] [BUILD_DIR]

BUILD_DIR defaults to build-release.

  --pairs N      pairs in the queue of part 2 (default 100000)
  --line-mb M    length of the long header line of part 1 in MB (default 100)
  --runs K       timed runs per measurement, best one counts (default 3)
  --quick        smoke run: 2000 pairs, a 20 MB line
  --generator P  make_bench_queue (default: BUILD_DIR/bench/make_bench_queue)
  --strict       exit 1 when a target is missed
  -h, --help     this text

Exit status: 0 done, 1 a check failed (a program failed, or did not delete
what the input calls for, or with --strict a target was missed), 2 usage.
EOF
}

bench=limits_bench
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
pairs=""
line_mb=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --pairs) pairs=${2:?--pairs needs a number}; shift 2 ;;
    --line-mb) line_mb=${2:?--line-mb needs a number}; shift 2 ;;
    *) common_option "$@"; shift "$used" ;;
  esac
done
build=${target:-build-release}
if [[ $quick -eq 1 ]]; then
  pairs=${pairs:-2000}
  line_mb=${line_mb:-20}
fi
pairs=${pairs:-100000}
line_mb=${line_mb:-100}
positive "$pairs" "$line_mb" "$runs"
sievbat=$build/batch/sievbat
qvue=$build/window/qvue
generator=${generator:-$build/bench/make_bench_queue}
for program in "$sievbat" "$qvue" "$generator"; do need_program "$program" "build first, or run scripts/bench"; done
bench_setup
# Two queues of pairs at about 8 KiB a pair with blocks, one working copy,
# and the long line.
need_space $(( pairs * 3 * 8 + line_mb * 1000 ))

# random_text N LENGTH ALPHABET SEED: N lines of LENGTH characters drawn from
# ALPHABET, the same for the same seed.
random_text() {
  awk -v n="$1" -v len="$2" -v alphabet="$3" -v seed="$4" 'BEGIN {
    srand(seed); k = length(alphabet)
    for (i = 0; i < n; i++) {
      line = ""
      for (j = 0; j < len; j++) line = line substr(alphabet, int(rand() * k) + 1, 1)
      print line
    }
  }'
}

echo "limits benchmark: $build, $(nproc) cores, best of $runs runs"
echo

# ---- 1. Peak memory on one long header line ---------------------------------
long=$work/long
mkdir -p "$long"
{
  printf 'Q 1 smtp\r\n12/06/26 14:03:22\r\nFrom: a@x\r\nSubject: '
  head -c "${line_mb}000000" /dev/zero | tr '\0' 'a'
  printf '\r\nTo: op@example.net\r\n\r\n'
} > "$long/long.q0"
echo body > "$long/long.q1"
"$generator" --pairs 1 --rules-per-list 1000 --seed 1 "$work/rules4k" > /dev/null
make_program_folder long "$work/rules4k/Filter.ini"
warm "$long"
echo "1. One header line of $line_mb MB, 4000 rules"
peak_sievbat=0 peak_qvue=0
for ((i = 1; i <= runs; i++)); do
  timed "$program/sievbat" "$long"
  must_succeed sievbat
  (( run_kib > peak_sievbat )) && peak_sievbat=$run_kib
  timed "$program/qvue" --list "$long" > "$work/rows" 2> /dev/null
  must_succeed "qvue --list"
  (( run_kib > peak_qvue )) && peak_qvue=$run_kib
done
check "rows qvue lists" "$(awk 'END { print NR - 1 }' "$work/rows")" 1
check "bytes of the Subject cell" "$(awk -F'\t' 'NR == 2 { print length($5) }' "$work/rows")" $(( (1 << 20) - 9 ))
check "To after the long line" "$(awk -F'\t' 'NR == 2 { print $7 }' "$work/rows")" "op@example.net"
rm -f "$work/rows"
judge "$(mib "$peak_sievbat")" '<' 64
echo "   peak memory of sievbat: $(mib "$peak_sievbat") MiB (target < 64) $judged"
judge "$(mib "$peak_qvue")" '<' 96
echo "   peak memory of qvue --list: $(mib "$peak_qvue") MiB (target < 96) $judged"
rm -rf "$long"
echo

# ---- 2. sievbat with 100 000 rules against 4 000 ----------------------------
echo "2. sievbat on $pairs pairs, 1% matching, with 4000 and with 100000 rules"
printf '   %-5s %12s %12s\n' run "4000 rules" "100000 rules"
declare -A best cpu times
for rules in 1000 25000; do
  data=$work/q$rules
  summary=$("$generator" --pairs "$pairs" --rules-per-list "$rules" --match-percent 1 --seed 1 "$data")
  deletes=$(sed -n 's/.* \([0-9]*\) delete,.*/\1/p' <<<"$summary")
  holds=$(sed -n 's/.* \([0-9]*\) hold,.*/\1/p' <<<"$summary")
  make_program_folder "q$rules" "$data/Filter.ini"
  warm "$data" "$program"
  for ((i = 1; i <= runs; i++)); do
    rm -rf "$work/run"
    cp -a "$data/Mailout" "$work/run"
    sync
    timed "$program/sievbat" "$work/run"
    must_succeed sievbat
    best[$rules]=$(min "${best[$rules]:-}" "$run_seconds")
    cpu[$rules]=$(min "${cpu[$rules]:-}" "$run_cpu")
    times[$rules,$i]=$run_seconds
  done
  check "pairs left with $((rules * 4)) rules" "$(count_q0 "$work/run")" $((pairs - deletes - holds))
  rm -rf "$work/run" "$data"
done
for ((i = 1; i <= runs; i++)); do
  printf '   %-5s %10s s %10s s\n' "$i" "${times[1000,$i]}" "${times[25000,$i]}"
done
printf '   %-5s %10s s %10s s\n' best "${best[1000]}" "${best[25000]}"
printf '   %-5s %10s s %10s s\n' "CPU" "${cpu[1000]}" "${cpu[25000]}"
rules_ratio=$(ratio "${best[25000]}" "${best[1000]}")
judge "$rules_ratio" '<=' 1.5
echo "   ratio 100000/4000 rules: $rules_ratio (target <= 1.5) $judged;" \
  "CPU time (user + system) ratio $(ratio "${cpu[25000]}" "${cpu[1000]}")"
echo

# ---- 3. A 1 MiB Subject against 100 000 rules --------------------------------
echo "3. One message with a 1 MiB Subject, 100000 Subject rules of 16 characters"
alnum=abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789
for set in alnum abcdefgh; do
  [[ $set == alnum ]] && alphabet=$alnum || alphabet=abcdefgh
  folder=$work/subject-$set
  mkdir -p "$folder" "$folder-empty"
  random_text 100000 16 "$alphabet" 1 | awk '{ printf "\"r%d-\",\"Subject: \",\"%s\"\r\n", NR, $0 }' > "$work/rules.ini"
  {
    printf 'Q 1 smtp\r\n12/06/26 14:03:22\r\nFrom: a@x\r\nSubject: '
    random_text 1024 1024 "$alphabet" 2 | tr -d '\n'
    printf '\r\n\r\n'
  } > "$folder/big.q0"
  echo body > "$folder/big.q1"
  make_program_folder "$set" "$work/rules.ini"
  warm "$folder" "$program"
  best_pass="" best_empty="" best_cpu=""
  for ((i = 1; i <= runs; i++)); do
    timed "$program/sievbat" "$folder"
    must_succeed sievbat
    best_pass=$(min "$best_pass" "$run_seconds")
    # CPU time too: on a busy machine the elapsed time says little.
    /usr/bin/time -f '%U %S' -o "$work/cpu" "$program/sievbat" "$folder"
    best_cpu=$(min "$best_cpu" "$(awk '{ printf "%.2f", $1 + $2 }' "$work/cpu")")
    # The same pass on an empty folder: loading the rules and building the automaton.
    timed "$program/sievbat" "$folder-empty"
    must_succeed sievbat
    best_empty=$(min "$best_empty" "$run_seconds")
  done
  check "pairs left ($set)" "$(count_q0 "$folder")" 1
  judge "$best_pass" '<' 0.5
  echo "   rules over $set: pass $best_pass s, CPU $best_cpu s (target < 0.5) $judged;" \
    "rules loaded and compiled alone: $best_empty s"
  rm -rf "$folder" "$folder-empty"
done
echo

finish
