#!/usr/bin/env bash
# Benchmarks `qvue --list` on generated queues against a grep baseline that
# looks for the same patterns: a Mailout of pairs (grep reads the .q0 files)
# and a MailIn of one-file messages (grep reads whole files, qvue only the
# header block), with qvue's peak memory and checks of what it lists.
# Builds nothing: give it a built qvue (and make_bench_queue next to it in the
# build tree, or say where with --generator).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/qvue_list_bench.sh [options] [QVUE]

QVUE defaults to build-release/window/qvue.

  --pairs N           pairs in the Mailout queue (default 100000)
  --single N          one-file messages in the MailIn queue (default 100000)
  --rules-per-list R  rules for each of From, Subject, To, Newsgroups (default 1000)
  --runs K            timed runs per measurement, best one counts (default 3)
  --quick             smoke run: 2000 pairs and 2000 one-file messages
  --generator PATH    make_bench_queue (default: bench/make_bench_queue in the
                      build tree that holds QVUE)
  --baseline PATH     an earlier build of qvue: the CPU time of the pairs'
                      listing is also compared with its one-thread listing
  --strict            exit 1 when a target is missed
  -h, --help          this text

Exit status: 0 done, 1 a check failed (qvue did not list or classify what the
generated queues hold, or with --strict a target was missed), 2 usage.
EOF
}

bench=qvue_list_bench
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
pairs=""
single=""
rules=1000
while [[ $# -gt 0 ]]; do
  case "$1" in
    --pairs) pairs=${2:?--pairs needs a number}; shift 2 ;;
    --single) single=${2:?--single needs a number}; shift 2 ;;
    --rules-per-list) rules=${2:?--rules-per-list needs a number}; shift 2 ;;
    *) common_option "$@"; shift "$used" ;;
  esac
done
qvue=${target:-build-release/window/qvue}
# Explicit sizes win over --quick in any order.
if [[ $quick -eq 1 ]]; then
  pairs=${pairs:-2000}
  single=${single:-2000}
fi
pairs=${pairs:-100000}
single=${single:-100000}
generator=${generator:-$(dirname "$qvue")/../bench/make_bench_queue}
positive "$pairs" "$single" "$rules" "$runs"
need_program "$qvue" "build first, or run scripts/bench"
need_program "$generator" "use --generator"
bench_setup
# Small files take a 4 KiB block each; a pair is two files, a one-file
# message with a long body now and then two blocks.
need_space $(( (pairs * 2 + single * 2) * 4 ))

# qvue_list NAME ARGS...: lists with the program folder's qvue, stdout to
# /dev/null and stderr to $work/NAME.err, under `timed`.
qvue_list() {
  local name=$1
  shift
  timed "$program/qvue" --list "$@" > /dev/null 2> "$work/$name.err"
  if [[ $run_status -ne 0 ]]; then
    echo "$bench: qvue --list $* exited with status $run_status:" >&2
    tail -n 3 "$work/$name.err" >&2
    exit 1
  fi
}
# check_listing WHAT MESSAGES MATCHING ARGS...: one untimed listing into a
# file, then the row count, the stderr summary line and the classified rows.
check_listing() {
  local what=$1 messages=$2 matching=$3 last
  shift 3
  "$program/qvue" --list "$@" > "$work/rows" 2> "$work/rows.err" || fail 1 "qvue --list $* exited with status $?"
  check "$what rows listed" "$(awk 'END { print NR - 1 }' "$work/rows")" "$messages"
  last=$(tail -n 1 "$work/rows.err")
  if [[ $last == "Files Processed (Number/Size): "* ]]; then
    # The counts are grouped with blanks: "100 000 / 254 012 345, empty: 0".
    check "$what files in qvue's summary line" "$(sed 's/^[^:]*: //; s/ \/.*//; s/ //g' <<<"$last")" "$messages"
  else
    check "$what last stderr line" "\"$last\"" '"Files Processed (Number/Size): ..."'
  fi
  check "$what rows classified by a rule" "$(awk -F'\t' 'NR > 1 && $4 != "" { n++ } END { print n + 0 }' "$work/rows")" "$matching"
  rm -f "$work/rows" "$work/rows.err"
}

echo "qvue --list benchmark: $qvue, $(nproc) cores, best of $runs runs"
echo

data=$work/data
summary=$("$generator" --pairs "$pairs" --single "$single" --rules-per-list "$rules" --match-percent 1 --seed 1 "$data")
pair_matches=$(sed -n 's/.* \([0-9]*\) messages match:.*/\1/p' <<<"$summary")
single_matches=$(sed -n 's/.* \([0-9]*\) of them match a rule;.*/\1/p' <<<"$summary")
pair_mib=$(sed -n 's/.* pairs (\([0-9.]*\) MiB).*/\1/p' <<<"$summary")
single_mib=$(sed -n 's/.* one-file messages (\([0-9.]*\) MiB).*/\1/p' <<<"$summary")
# The grep baselines: for pairs the .q0 files, for one-file messages every
# file, whole.
grep_pairs=(grep -rilF --include='*.q0' -f "$data/patterns.txt" "$data/Mailout")
grep_single=(grep -rilF -f "$data/patterns.txt" "$data/MailIn")
make_program_folder list "$data/Filter.ini"
make_baseline_folder list qvue "$data/Filter.ini"
warm "$data" "$program" ${baseline_program:+"$baseline_program"}

echo "Mailout: $pairs pairs ($pair_mib MiB), MailIn: $single one-file messages ($single_mib MiB)"
echo "$((rules * 4)) rules, 1% matching ($pair_matches pairs, $single_matches one-file messages)"
check "pair files grep finds" "$(LC_ALL=C "${grep_pairs[@]}" | wc -l || true)" "$pair_matches"
check "one-file messages grep finds" "$(LC_ALL=C "${grep_single[@]}" | wc -l || true)" "$single_matches"
check_listing "Mailout" "$pairs" "$pair_matches" "$data/Mailout"
check_listing "MailIn" "$single" "$single_matches" --single "$data/MailIn"
echo

check "pair files find | xargs grep finds" "$(find_grep "$data/Mailout" "$data/patterns.txt" | wc -l)" "$pair_matches"
have_rg=0
command -v rg > /dev/null && have_rg=1
rg_pairs() {
  timed rg -l -i -F -f "$data/patterns.txt" -g '*.q0' --no-ignore "$data/Mailout" > /dev/null
  must_succeed rg 1
}
printf '   %-5s %12s %12s %12s %12s %12s %12s %12s\n' run "qvue pairs" "1 thread" "rg .q0" "grep .q0" "find|grep" "qvue single" "grep files"
best_qp="" best_q1="" best_rg="" best_gp="" best_fp="" best_qs="" best_gs="" peak_pairs=0 peak_single=0
cpu_qp="" cpu_q1="" cpu_base=""
for ((i = 1; i <= runs; i++)); do
  qvue_list pairs "$data/Mailout"
  best_qp=$(min "$best_qp" "$run_seconds")
  cpu_qp=$(min "$cpu_qp" "$run_cpu")
  (( run_kib > peak_pairs )) && peak_pairs=$run_kib
  t_qp=$run_seconds

  KESTRANE_THREADS=1 qvue_list pairs "$data/Mailout"
  best_q1=$(min "$best_q1" "$run_seconds")
  cpu_q1=$(min "$cpu_q1" "$run_cpu")
  t_q1=$run_seconds

  if [[ -n $baseline_program ]]; then
    KESTRANE_THREADS=1 timed "$baseline_program/qvue" --list "$data/Mailout" > /dev/null 2> "$work/baseline.err"
    must_succeed "the baseline qvue --list"
    cpu_base=$(min "$cpu_base" "$run_cpu")
  fi

  t_rg=-
  if (( have_rg )); then
    rg_pairs
    best_rg=$(min "$best_rg" "$run_seconds")
    t_rg=$run_seconds
  fi

  LC_ALL=C timed "${grep_pairs[@]}" > /dev/null
  must_succeed grep 1
  best_gp=$(min "$best_gp" "$run_seconds")
  t_gp=$run_seconds

  timed bash -c 'find_grep "$1" "$2" > /dev/null' _ "$data/Mailout" "$data/patterns.txt"
  best_fp=$(min "$best_fp" "$run_seconds")
  t_fp=$run_seconds

  qvue_list single --single "$data/MailIn"
  best_qs=$(min "$best_qs" "$run_seconds")
  (( run_kib > peak_single )) && peak_single=$run_kib
  t_qs=$run_seconds

  LC_ALL=C timed "${grep_single[@]}" > /dev/null
  must_succeed grep 1
  best_gs=$(min "$best_gs" "$run_seconds")
  printf '   %-5s %10s s %10s s %10s s %10s s %10s s %10s s %10s s\n' "$i" "$t_qp" "$t_q1" "$t_rg" "$t_gp" "$t_fp" "$t_qs" "$run_seconds"
done
printf '   %-5s %10s s %10s s %10s s %10s s %10s s %10s s %10s s\n' best "$best_qp" "$best_q1" "${best_rg:--}" "$best_gp" "$best_fp" "$best_qs" "$best_gs"
echo

if (( have_rg )); then
  rg_ratio=$(ratio "$best_qp" "$best_rg")
  judge "$rg_ratio" '<=' 1.0
  echo "   pairs:    ratio qvue/rg $rg_ratio (target <= 1.0) $judged"
  list_pairs() { qvue_list pairs "$data/Mailout"; }
  if cold_compare list_pairs rg_pairs; then
    echo "   pairs:    cold page cache (best of 2): qvue $cold_a s, rg $cold_b s, ratio $(ratio "$cold_a" "$cold_b")"
  else
    echo "   pairs:    cold page cache: not measured (the page cache cannot be dropped here)"
  fi
else
  echo "   pairs:    ripgrep (rg) is not installed: no ratio against it (scripts/bench installs it)"
fi
cpu_ratio=$(ratio "$cpu_qp" "$cpu_q1")
judge "$cpu_ratio" '<=' 1.1
echo "   pairs:    CPU seconds $cpu_qp against $cpu_q1 on 1 thread, ratio $cpu_ratio (target <= 1.1) $judged"
if [[ -n $baseline_program ]]; then
  base_ratio=$(ratio "$cpu_qp" "$cpu_base")
  judge "$base_ratio" '<=' 1.1
  echo "   pairs:    CPU seconds $cpu_qp against $cpu_base of the baseline's listing, ratio $base_ratio (target <= 1.1) $judged"
fi

pairs_ratio=$(ratio "$best_qp" "$best_gp")
judge "$pairs_ratio" '<=' 1.5
echo "   pairs:    ratio qvue/grep $pairs_ratio (target <= 1.5) $judged"
find_ratio=$(ratio "$best_qp" "$best_fp")
judge "$find_ratio" '<=' 1.2
echo "   pairs:    ratio qvue/(find | xargs grep) $find_ratio (target <= 1.2) $judged"
single_ratio=$(ratio "$best_qs" "$best_gs")
judge "$single_ratio" '<=' 1.5
echo "   one-file: ratio qvue/grep $single_ratio (target <= 1.5) $judged"
judge "$(mib "$peak_pairs")" '<' 128
echo "   peak memory of qvue --list: $(mib "$peak_pairs") MiB (target < 128) $judged"
judge "$(mib "$peak_single")" '<' 128
echo "   peak memory of qvue --list --single: $(mib "$peak_single") MiB (target < 128) $judged"
echo

finish
