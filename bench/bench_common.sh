# Helpers shared by the benchmark scripts (sourced, not run). They expect
# $work (a scratch folder) and count into targets_missed and checks_failed.

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
warm() { find "$@" -type f -exec cat {} + > /dev/null; }
# The listing baseline: find names the header files, grep reads them.
# find_grep FOLDER PATTERNS prints the matching files; under `timed` it is
# the time an ordinary tool pipeline needs for the same pass.
find_grep() {
  find "$1" -name '*.q0' -print0 | LC_ALL=C xargs -0 grep -ilF -f "$2"
  return 0  # xargs says 123 when one batch matched nothing
}
export -f find_grep
# need_space SCRIPT KIB: exits 2 when $work has less than KIB free.
need_space() {
  local free_kib
  free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
  if (( free_kib < $2 )); then
    echo "$1: about $(( $2 / 1024 )) MiB needed under /tmp, $(( free_kib / 1024 )) MiB free" >&2
    exit 2
  fi
}
# finish SCRIPT STRICT: the closing line; exit 1 after a failed check, or
# after a missed target when STRICT is 1.
finish() {
  if (( checks_failed > 0 )); then
    echo "$1: $checks_failed check(s) failed"
    exit 1
  fi
  if (( $2 && targets_missed > 0 )); then
    echo "$1: $targets_missed target(s) missed"
    exit 1
  fi
  echo "$1: done ($targets_missed target(s) missed)"
}
