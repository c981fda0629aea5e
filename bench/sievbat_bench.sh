#!/usr/bin/env bash
# Benchmarks sievbat on generated queues:
#   1. throughput on a large Mailout against a grep baseline, with peak memory;
#   2. --dry-run against a real pass that changes nothing, on the queue that
#      part 1 left (every match already deleted or held);
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
  --strict            exit 1 when a target is missed
  -h, --help          this text

Exit status: 0 done, 1 a check failed (sievbat did not delete or hold what
the generated queue calls for, or with --strict a target was missed), 2 usage.
EOF
}

sievbat=build/batch/sievbat
generator=""
pairs=""
hold_pairs=""
rules=1000
runs=3
quick=0
strict=0

while [[ $# -gt 0 ]]; do
  case "$1" in
    --pairs) pairs=${2:?--pairs needs a number}; shift 2 ;;
    --hold-pairs) hold_pairs=${2:?--hold-pairs needs a number}; shift 2 ;;
    --rules-per-list) rules=${2:?--rules-per-list needs a number}; shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --generator) generator=${2:?--generator needs a path}; shift 2 ;;
    --quick) quick=1; shift ;;
    --strict) strict=1; shift ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "sievbat_bench: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) sievbat=$1; shift ;;
  esac
done

# Explicit sizes win over --quick in any order.
if [[ $quick -eq 1 ]]; then
  pairs=${pairs:-2000}
  hold_pairs=${hold_pairs:-2000}
fi
pairs=${pairs:-100000}
hold_pairs=${hold_pairs:-10000}
generator=${generator:-$(dirname "$sievbat")/../bench/make_bench_queue}

for n in "$pairs" "$hold_pairs" "$rules" "$runs"; do
  [[ $n =~ ^[0-9]+$ && $n -gt 0 ]] || { echo "sievbat_bench: sizes must be positive numbers" >&2; exit 2; }
done
[[ -x $sievbat ]] || { echo "sievbat_bench: no sievbat at $sievbat (build first, or run scripts/bench)" >&2; exit 2; }
[[ -x $generator ]] || { echo "sievbat_bench: no make_bench_queue at $generator (use --generator)" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "sievbat_bench: /usr/bin/time is missing (package time)" >&2; exit 2; }

work=$(mktemp -d /tmp/sievbat-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# A pair takes two small files; with file system blocks count about 8 KiB a
# pair, for the master queue and one working copy (the hold part keeps three
# sets of its queue).
need_kib=$(( (pairs * 2 + hold_pairs * 5) * 8 ))
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if (( free_kib < need_kib )); then
  echo "sievbat_bench: about $(( need_kib / 1024 )) MiB needed under /tmp, $(( free_kib / 1024 )) MiB free" >&2
  exit 2
fi

checks_failed=0
targets_missed=0

source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
count_q0() { find "$1" -maxdepth 1 -type f -name '*.q0' | wc -l; }
# Sets "program" to a fresh program folder: a copy of sievbat (it reads
# Filter.ini next to its resolved executable, so a symlink would not do) and
# the given Filter.ini.
make_program_folder() {
  program=$work/program-$1
  mkdir -p "$program"
  cp "$sievbat" "$program/sievbat"
  cp "$2" "$program/Filter.ini"
}
run_sievbat() {  # run_sievbat PROGRAM FOLDER
  timed "$1/sievbat" "$2"
  if [[ $run_status -ne 0 ]]; then
    echo "sievbat_bench: sievbat exited with status $run_status on $2" >&2
    exit 1
  fi
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
warm "$data" "$program"

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
  # grep exits 1 when nothing matches; only 2 and up are errors.
  LC_ALL=C timed grep -rilF --include='*.q0' -f "$data/patterns.txt" "$data/Mailout" > /dev/null
  if [[ $run_status -gt 1 ]]; then
    echo "sievbat_bench: grep failed with status $run_status" >&2
    exit 1
  fi
  best_grep=$(min "$best_grep" "$run_seconds")
  t_grep=$run_seconds
  timed bash -c 'find_grep "$1" "$2" > /dev/null' _ "$data/Mailout" "$data/patterns.txt"
  best_find=$(min "$best_find" "$run_seconds")
  printf '   %-5s %10s s %10s s %10s s\n' "$i" "$t_sievbat" "$t_grep" "$run_seconds"
done
throughput_ratio=$(ratio "$best_sievbat" "$best_grep")
find_ratio=$(ratio "$best_sievbat" "$best_find")
peak_mib=$(awk -v k="$peak_kib" 'BEGIN { printf "%.1f", k / 1024 }')
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

# ---- 2. A dry run against a pass that changes nothing -----------------------
# What the last pass of part 1 left: its matches are gone, so a real pass
# reads and classifies every message and acts on none, as the dry run does.
tree_sum() { find "$1" -printf '%P %y %s %T@\n' | sort | md5sum; }
echo "2. --dry-run against a real pass that changes nothing: $(count_q0 "$work/run") pairs"
sum_before=$(tree_sum "$work/run")
printf '   %-5s %12s %12s\n' run "real pass" "dry run"
best_real="" best_dry=""
for ((i = 1; i <= runs; i++)); do
  run_sievbat "$program" "$work/run"
  best_real=$(min "$best_real" "$run_seconds")
  t_real=$run_seconds
  timed "$program/sievbat" --dry-run "$work/run" > "$work/dry-run.out"
  [[ $run_status -eq 0 ]] || { echo "sievbat_bench: sievbat --dry-run exited with status $run_status" >&2; exit 1; }
  best_dry=$(min "$best_dry" "$run_seconds")
  printf '   %-5s %10s s %10s s\n' "$i" "$t_real" "$run_seconds"
done
dry_ratio=$(ratio "$best_dry" "$best_real")
printf '   %-5s %10s s %10s s\n' best "$best_real" "$best_dry"
judge "$dry_ratio" '<=' 1.1
echo "   ratio dry run/real pass: $dry_ratio (target <= 1.1) $judged"
check "lines of the dry run" "$(wc -l < "$work/dry-run.out")" "$(count_q0 "$work/run")"
check "actions the dry run names" "$(cut -f3 "$work/dry-run.out" | sort -u | tr '\n' ' ')" "keep "
check "queue unchanged by both" "$(tree_sum "$work/run")" "$sum_before"
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

if (( checks_failed > 0 )); then
  echo "sievbat_bench: $checks_failed check(s) failed"
  exit 1
fi
if (( strict && targets_missed > 0 )); then
  echo "sievbat_bench: $targets_missed target(s) missed"
  exit 1
fi
echo "sievbat_bench: done ($targets_missed target(s) missed)"
