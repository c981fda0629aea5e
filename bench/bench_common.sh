# Helpers shared by the benchmark scripts (sourced, not run). A script sets
# $bench to its name, parses its options with common_option, then calls
# bench_setup for the scratch folder $work and the counters targets_missed
# and checks_failed.

runs=3 quick=0 strict=0 generator="" target="" baseline=""
# fail STATUS TEXT...: the script's name and TEXT on stderr, then exit.
fail() {
  local status=$1
  shift
  echo "$bench: $*" >&2
  exit "$status"
}
# common_option ARGS...: one option every benchmark takes, or the script's
# single operand (into $target). Sets `used` to the arguments it took.
common_option() {
  used=1
  case "$1" in
    --runs) runs=${2:?--runs needs a number}; used=2 ;;
    --generator) generator=${2:?--generator needs a path}; used=2 ;;
    --baseline) baseline=${2:?--baseline needs a path}; used=2 ;;
    --quick) quick=1 ;;
    --strict) strict=1 ;;
    -h|--help) usage; exit 0 ;;
    -*) refuse_option "$1" ;;
    *) target=$1 ;;
  esac
}
refuse_option() {
  echo "$bench: unknown option $1" >&2
  usage >&2
  exit 2
}
# positive N...: exits 2 unless every N is a positive whole number.
positive() {
  local n
  for n; do [[ $n =~ ^[0-9]+$ && $n -gt 0 ]] || fail 2 "sizes must be positive numbers"; done
}
need_program() { [[ -x $1 ]] || fail 2 "no $1 ($2)"; }  # need_program PATH HINT
bench_setup() {
  [[ -x /usr/bin/time ]] || fail 2 "/usr/bin/time is missing (package time)"
  work=$(mktemp -d "/tmp/$bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  trap 'exit 130' INT TERM
  checks_failed=0
  targets_missed=0
}

# Runs a command under /usr/bin/time; sets run_seconds, run_kib, run_status,
# and run_cpu (user + system seconds, which a busy machine disturbs less).
timed() {
  local t0 t1
  run_status=0
  t0=$(date +%s%N)
  /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" || run_status=$?
  t1=$(date +%s%N)
  run_seconds=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  read -r run_kib run_cpu < <(tail -n 1 "$work/rss" | awk '{ printf "%s %.2f\n", $1, $2 + $3 }')
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# judge VALUE OP LIMIT: sets "judged" to ok or MISSED and counts misses.
judge() {
  if awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN { exit !((op == "<=") ? v <= l : v < l) }'; then
    judged=ok
  else
    judged=MISSED
    targets_missed=$((targets_missed + 1))
  fi
}
check() {  # check WHAT ACTUAL EXPECTED
  if [[ $2 == "$3" ]]; then
    echo "   check: $1 = $2, as expected"
  else
    echo "   check: $1 = $2, expected $3  FAILED"
    checks_failed=$((checks_failed + 1))
  fi
}
count_q0() { find "$1" -maxdepth 1 -type f -name '*.q0' | wc -l; }
# make_program_folder NAME RULES: a folder with copies of $sievbat and $qvue
# (those the script has) and RULES as their Filter.ini, which each program
# reads next to its resolved executable, so a link would not do; sets
# "program".
make_program_folder() {
  program=$work/program-$1
  mkdir -p "$program"
  [[ -z ${sievbat:-} ]] || cp "$sievbat" "$program/sievbat"
  [[ -z ${qvue:-} ]] || cp "$qvue" "$program/qvue"
  cp "$2" "$program/Filter.ini"
}
# make_baseline_folder NAME PROGRAM RULES: when --baseline gave an earlier
# build of PROGRAM (sievbat or qvue), a folder with a copy of it named
# PROGRAM and RULES as its Filter.ini; sets "baseline_program" (empty
# without --baseline).
make_baseline_folder() {
  baseline_program=""
  [[ -n $baseline ]] || return 0
  need_program "$baseline" "--baseline takes an earlier build of $2"
  baseline_program=$work/baseline-$1
  mkdir -p "$baseline_program"
  cp "$baseline" "$baseline_program/$2"
  cp "$3" "$baseline_program/Filter.ini"
}
# cold_compare A B: where the page cache can be dropped, runs the commands
# A and B (each one run under `timed`) after a drop each, in the order A, B,
# B, A, and sets cold_a and cold_b to their best times: on a virtual machine
# the first read of the disk may also fill the host's cache, and this order
# charges that to neither alone. Status 1 when the cache cannot be dropped.
cold_compare() {
  sync && echo 3 2> /dev/null > /proc/sys/vm/drop_caches || return 1
  cold_a="" cold_b=""
  local step
  for step in a b b a; do
    sync && echo 3 > /proc/sys/vm/drop_caches
    if [[ $step == a ]]; then
      "$1"
      cold_a=$(min "$cold_a" "$run_seconds")
    else
      "$2"
      cold_b=$(min "$cold_b" "$run_seconds")
    fi
  done
}
warm() { find "$@" -type f -exec cat {} + > /dev/null; }
# The listing baseline: find names the header files, grep reads them.
# find_grep FOLDER PATTERNS prints the matching files; under `timed` it is
# the time an ordinary tool pipeline needs for the same pass.
find_grep() {
  find "$1" -name '*.q0' -print0 | LC_ALL=C xargs -0 grep -ilF -f "$2"
  return 0  # xargs says 123 when one batch matched nothing
}
export -f find_grep
# need_space KIB: exits 2 when $work has less than KIB free.
need_space() {
  local free_kib
  free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
  (( free_kib >= $1 )) || fail 2 "about $(( $1 / 1024 )) MiB needed under /tmp, $(( free_kib / 1024 )) MiB free"
}
# must_succeed WHAT [MAX]: after `timed`, exits 1 when the status was over
# MAX (0 unless given; grep says 1 for no match).
must_succeed() { (( run_status <= ${2:-0} )) || fail 1 "$1 exited with status $run_status"; }
# finish: the closing line; exit 1 after a failed check, or after a missed
# target under --strict.
finish() {
  if (( checks_failed > 0 )); then
    echo "$bench: $checks_failed check(s) failed"
    exit 1
  fi
  if (( strict && targets_missed > 0 )); then
    echo "$bench: $targets_missed target(s) missed"
    exit 1
  fi
  echo "$bench: done ($targets_missed target(s) missed)"
}
