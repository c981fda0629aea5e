#!/usr/bin/env bash
# Benchmarks sievbat on generated queues:
#   1. throughput on a large Mailout against a grep baseline, with peak memory;
#   2. a real pass that changes nothing, on the queue that part 1 left (every
#      match already deleted or held), against the same pass on one reading
#      thread, --dry-run, and ripgrep (rg) with its threads and with one;
#   3. holding every message into an empty Wait folder and into a full one.
# Builds nothing: give it a built sievbat (and make_bench_queue next to it in
# the build tree, or say where with --generator).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/sievbat_bench.sh [options] [SIEVBAT]

SIEVBAT defaults to build/batch/sievbat.

  --pairs N           pairs in the throughput queue (default 100000)
  --hold-pairs N      pairs in the hold queue and in the full Wait (default 10000)
  --rules-per-list R  rules for each of From, Subject, To, Newsgroups (default 1000)
  --runs K            timed runs per measurement, best one counts (default 3)
  --quick             smoke run: 2000 pairs in both parts
  --generator PATH    make_bench_queue (default: bench/make_bench_queue in the
                      build tree that holds SIEVBAT)
  --baseline PATH     an earlier build of sievbat: the CPU time of the pass
                      that changes nothing is also compared with its pass
  --strict            exit 1 when a target is missed
  -h, --help          this text

Exit status: 0 done, 1 a check failed (sievbat did not delete or hold what
the generated queue calls for, or with --strict a target was missed), 2 usage.
EOF
}

bench=sievbat_bench
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
pairs=""
hold_pairs=""
rules=1000
while [[ $# -gt 0 ]]; do
  case "$1" in
    --pairs) pairs=${2:?--pairs needs a number}; shift 2 ;;
    --hold-pairs) hold_pairs=${2:?--hold-pairs needs a number}; shift 2 ;;
    --rules-per-list) rules=${2:?--rules-per-list needs a number}; shift 2 ;;
    *) common_option "$@"; shift "$used" ;;
  esac
done
sievbat=${target:-build/batch/sievbat}
# Explicit sizes win over --quick in any order.
if [[ $quick -eq 1 ]]; then
  pairs=${pairs:-2000}
  hold_pairs=${hold_pairs:-2000}
fi
pairs=${pairs:-100000}
hold_pairs=${hold_pairs:-10000}
generator=${generator:-$(dirname "$sievbat")/../bench/make_bench_queue}
positive "$pairs" "$hold_pairs" "$rules" "$runs"
need_program "$sievbat" "build first, or run scripts/bench"
need_program "$generator" "use --generator"
bench_setup
# A pair takes two small files; with file system blocks count about 8 KiB a
# pair, for the master queue and one working copy (the hold part keeps three
# sets of its queue).
need_space $(( (pairs * 2 + hold_pairs * 5) * 8 ))

run_sievbat() {  # run_sievbat PROGRAM FOLDER
  timed "$1/sievbat" "$2"
  must_succeed "sievbat on $2"
}

echo "sievbat benchmark: $sievbat, $(nproc) cores, best of $runs runs"
echo

# ---- 1. Throughput against grep ---------------------------------------------
data=$work/throughput
summary=$("$generator" --pairs "$pairs" --rules-per-list "$rules" --match-percent 1 --seed 1 "$data")
deletes=$(sed -n 's/.* \([0-9]*\) delete,.*/\1/p' <<<"$summary")
holds=$(sed -n 's/.* \([0-9]*\) hold,.*/\1/p' <<<"$summary")
labels=$(sed -n 's/.* \([0-9]*\) label;.*/\1/p' <<<"$summary")
make_program_folder throughput "$data/Filter.ini"
make_baseline_folder throughput sievbat "$data/Filter.ini"
warm "$data" "$program" ${baseline_program:+"$baseline_program"}

echo "1. Throughput: $pairs pairs, $((rules * 4)) rules, 1% matching ($deletes delete, $holds hold, $labels label)"
grep_files=$(LC_ALL=C grep -rilF --include='*.q0' -f "$data/patterns.txt" "$data/Mailout" | wc -l || true)
check "files grep finds" "$grep_files" $((deletes + holds + labels))
check "files find | xargs grep finds" "$(find_grep "$data/Mailout" "$data/patterns.txt" | wc -l)" $((deletes + holds + labels))
printf '   %-5s %12s %12s %12s\n' run sievbat grep "find|grep"
best_sievbat="" best_grep="" best_find="" peak_kib=0
for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/run"
  cp -a "$data/Mailout" "$work/run"
  sync
  run_sievbat "$program" "$work/run"
  best_sievbat=$(min "$best_sievbat" "$run_seconds")
  (( run_kib > peak_kib )) && peak_kib=$run_kib
  t_sievbat=$run_seconds
  if [[ $i -eq 1 ]]; then
    left=$(count_q0 "$work/run")
    held=$(count_q0 "$work/run/Wait")
  fi
  LC_ALL=C timed grep -rilF --include='*.q0' -f "$data/patterns.txt" "$data/Mailout" > /dev/null
  must_succeed grep 1
  best_grep=$(min "$best_grep" "$run_seconds")
  t_grep=$run_seconds
  timed bash -c 'find_grep "$1" "$2" > /dev/null' _ "$data/Mailout" "$data/patterns.txt"
  best_find=$(min "$best_find" "$run_seconds")
  printf '   %-5s %10s s %10s s %10s s\n' "$i" "$t_sievbat" "$t_grep" "$run_seconds"
done
throughput_ratio=$(ratio "$best_sievbat" "$best_grep")
find_ratio=$(ratio "$best_sievbat" "$best_find")
peak_mib=$(mib "$peak_kib")
printf '   %-5s %10s s %10s s %10s s\n' best "$best_sievbat" "$best_grep" "$best_find"
judge "$throughput_ratio" '<=' 1.5
echo "   ratio sievbat/grep: $throughput_ratio (target <= 1.5) $judged"
judge "$find_ratio" '<=' 1.1
echo "   ratio sievbat/(find | xargs grep): $find_ratio (target <= 1.1) $judged"
judge "$peak_mib" '<' 64
echo "   peak memory of sievbat: $peak_mib MiB (target < 64) $judged"
check "pairs left in the queue" "$left" $((pairs - deletes - holds))
check "pairs held in Wait" "$held" "$holds"
echo

# ---- 2. A pass that changes nothing: threads, one thread, dry run, ripgrep --
# What the last pass of part 1 left: its matches are gone, so a real pass
# reads and classifies every message and acts on none, as the dry run does.
# The pass with its reading threads (one per processor) is timed against the
# same pass on one thread (KESTRANE_THREADS=1, CPU time), and against ripgrep
# looking for the same patterns in the same header files with its default
# threads and with one.
tree_sum() { find "$1" -printf '%P %y %s %T@\n' | sort | md5sum; }
rg_run() { timed rg "$@" -l -i -F -f "$data/patterns.txt" -g '*.q0' --no-ignore "$work/run" > /dev/null; must_succeed rg 1; }
have_rg=0
command -v rg > /dev/null && have_rg=1
echo "2. A pass that changes nothing: $(count_q0 "$work/run") pairs"
sum_before=$(tree_sum "$work/run")
printf '   %-5s %12s %12s %12s %12s %12s\n' run "real pass" "1 thread" "dry run" "rg" "rg -j1"
best_real="" best_one="" best_dry="" best_rg="" best_rg1="" cpu_real="" cpu_one="" cpu_rg="" cpu_base="" peak_pass=0
for ((i = 1; i <= runs; i++)); do
  run_sievbat "$program" "$work/run"
  best_real=$(min "$best_real" "$run_seconds")
  cpu_real=$(min "$cpu_real" "$run_cpu")
  (( run_kib > peak_pass )) && peak_pass=$run_kib
  t_real=$run_seconds
  KESTRANE_THREADS=1 run_sievbat "$program" "$work/run"
  best_one=$(min "$best_one" "$run_seconds")
  cpu_one=$(min "$cpu_one" "$run_cpu")
  t_one=$run_seconds
  if [[ -n $baseline_program ]]; then
    KESTRANE_THREADS=1 run_sievbat "$baseline_program" "$work/run"
    cpu_base=$(min "$cpu_base" "$run_cpu")
  fi
  timed "$program/sievbat" --dry-run "$work/run" > "$work/dry-run.out"
  must_succeed "sievbat --dry-run"
  best_dry=$(min "$best_dry" "$run_seconds")
  t_dry=$run_seconds
  t_rg=- t_rg1=-
  if (( have_rg )); then
    rg_run
    best_rg=$(min "$best_rg" "$run_seconds")
    cpu_rg=$(min "$cpu_rg" "$run_cpu")
    t_rg=$run_seconds
    rg_run -j1
    best_rg1=$(min "$best_rg1" "$run_seconds")
    t_rg1=$run_seconds
  fi
  printf '   %-5s %10s s %10s s %10s s %10s s %10s s\n' "$i" "$t_real" "$t_one" "$t_dry" "$t_rg" "$t_rg1"
done
printf '   %-5s %10s s %10s s %10s s %10s s %10s s\n' best "$best_real" "$best_one" "$best_dry" "${best_rg:--}" "${best_rg1:--}"
echo "   CPU seconds (user + system, best): real pass $cpu_real, 1 thread $cpu_one${cpu_rg:+, rg $cpu_rg}"
dry_ratio=$(ratio "$best_dry" "$best_real")
judge "$dry_ratio" '<=' 1.1
echo "   ratio dry run/real pass: $dry_ratio (target <= 1.1) $judged"
cpu_ratio=$(ratio "$cpu_real" "$cpu_one")
judge "$cpu_ratio" '<=' 1.1
echo "   CPU ratio real pass/1 thread: $cpu_ratio (target <= 1.1) $judged"
if [[ -n $baseline_program ]]; then
  base_ratio=$(ratio "$cpu_real" "$cpu_base")
  judge "$base_ratio" '<=' 1.1
  echo "   CPU ratio real pass/baseline's pass: $base_ratio ($cpu_real s against $cpu_base s, target <= 1.1) $judged"
fi
echo "   wall ratio 1 thread/real pass: $(ratio "$best_one" "$best_real")"
judge "$(mib "$peak_pass")" '<=' 64
echo "   peak memory of the pass: $(mib "$peak_pass") MiB (target <= 64) $judged"
if (( have_rg )); then
  rg_ratio=$(ratio "$best_real" "$best_rg")
  judge "$rg_ratio" '<=' 0.8
  echo "   ratio real pass/rg: $rg_ratio (target <= 0.8) $judged"
  echo "   ratio real pass/rg -j1: $(ratio "$best_real" "$best_rg1"), CPU real pass/rg: $(ratio "$cpu_real" "$cpu_rg")"
  # Cold page cache, where this machine lets the cache be dropped.
  cold_pass() { run_sievbat "$program" "$work/run"; }
  if cold_compare cold_pass rg_run; then
    echo "   cold page cache (best of 2): real pass $cold_a s, rg $cold_b s, ratio $(ratio "$cold_a" "$cold_b")"
  else
    echo "   cold page cache: not measured (the page cache cannot be dropped here)"
  fi
else
  echo "   ripgrep (rg) is not installed: no ratio against it (scripts/bench installs it)"
fi
check "lines of the dry run" "$(wc -l < "$work/dry-run.out")" "$(count_q0 "$work/run")"
check "actions the dry run names" "$(cut -f3 "$work/dry-run.out" | sort -u | tr '\n' ' ')" "keep "
check "queue unchanged by all" "$(tree_sum "$work/run")" "$sum_before"
rm -rf "$work/run" "$data"
echo

# ---- 3. Holding into an empty and into a full Wait --------------------------
hold=$work/hold
"$generator" --pairs "$hold_pairs" --rules-per-list "$rules" --hold-all --seed 2 "$hold" > /dev/null
# Other pairs, from another seed so their names differ, fill the second Wait.
"$generator" --pairs "$hold_pairs" --rules-per-list 3 --match-percent 0 --seed 3 "$work/filler" > /dev/null
cp -a "$hold/Mailout" "$work/full"
find "$work/filler/Mailout" -maxdepth 1 -type f -exec mv -n -t "$work/full/Wait" {} +
rm -rf "$work/filler"
make_program_folder hold "$hold/Filter.ini"
warm "$hold" "$work/full" "$program"

echo "3. Hold: $hold_pairs pairs, every one held"
check "pairs already in the full Wait" "$(count_q0 "$work/full/Wait")" "$hold_pairs"
printf '   %-5s %12s %12s\n' run "empty Wait" "full Wait"
best_empty="" best_full=""
for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/run"
  cp -a "$hold/Mailout" "$work/run"
  sync
  run_sievbat "$program" "$work/run"
  best_empty=$(min "$best_empty" "$run_seconds")
  t_empty=$run_seconds
  [[ $i -eq 1 ]] && empty_held=$(count_q0 "$work/run/Wait")

  rm -rf "$work/run"
  cp -a "$work/full" "$work/run"
  sync
  run_sievbat "$program" "$work/run"
  best_full=$(min "$best_full" "$run_seconds")
  [[ $i -eq 1 ]] && full_held=$(count_q0 "$work/run/Wait")
  printf '   %-5s %10s s %10s s\n' "$i" "$t_empty" "$run_seconds"
done
hold_ratio=$(ratio "$best_full" "$best_empty")
printf '   %-5s %10s s %10s s\n' best "$best_empty" "$best_full"
judge "$hold_ratio" '<=' 2
echo "   ratio full/empty: $hold_ratio (target <= 2) $judged"
check "pairs in the empty Wait after the run" "$empty_held" "$hold_pairs"
check "pairs in the full Wait after the run" "$full_held" $((2 * hold_pairs))
echo

finish
