#!/usr/bin/env bash
# Least privilege of the timed pass, on an unpacked package ROOT: the unit's
# exposure score, the system calls of a traced pass against its filter, a
# pass as kestrane without capabilities on a setgid group queue (also in
# namespaces like the unit's) against a root pass, and a pass on a queue that
# user may not write. Needs root and a folder SCRATCH of its own.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
root=$1 scratch=$2

fail() { echo "check-least-privilege: $*" >&2; exit 1; }

sievbat="$root/usr/bin/sievbat"
unit="$root/lib/systemd/system/kestrane-sievbat@.service"
# The unprivileged user needs to reach the unpacked programs.
chmod 755 "$scratch"

# The user as the package makes it, where the package is not installed.
getent passwd kestrane >/dev/null || systemd-sysusers "$root/usr/lib/sysusers.d/kestrane-queue-tools.conf"
as_kestrane=(setpriv --reuid kestrane --regid kestrane --clear-groups --inh-caps=-all --bounding-set=-all)

# The exposure score of one instance; the unit names its program in the
# unpacked root.
instance=$(systemd-escape --path "$scratch/queue")
mkdir -p "$scratch/lp-units"
sed "s|/usr/bin/sievbat|$sievbat|" "$unit" >"$scratch/lp-units/kestrane-sievbat@$instance.service"
security=$(cd "$scratch/lp-units" &&
           systemd-analyze security --offline=yes --no-pager "./kestrane-sievbat@$instance.service" 2>&1) ||
  fail "systemd-analyze security failed: $security"
score=$(sed -nE 's/^.*Overall exposure level for .*: ([0-9.]+) .*$/\1/p' <<<"$security")
[ -n "$score" ] || fail "no exposure level in: $security"
awk -v s="$score" 'BEGIN { exit !(s <= 2.0) }' || fail "exposure $score above 2.0: $security"
echo "exposure level of the unit: $score"

# Rules that delete and hold; the salvaged message is stripped whatever the
# rules say. A name taken in Wait makes the hold draw a collision name.
printf '"SPAM-","Subject: ","viagra"\r\n"bulkW","From: ","newsletter@"\r\n' >"$root/etc/kestrane/Filter.ini"
make_queue() {  # FOLDER
  rm -rf "$1" && mkdir -p "$1/Wait"
  local pair name header
  for pair in "spam:Subject: cheap viagra" "bulk:From: newsletter@example.org" \
              "salv:Subject: hello\r\nX-Salvaged: yes" "plain:Subject: hello"; do
    IFS=: read -r name header <<<"$pair"
    printf "remailer line\r\n12/06/26 14:03:22\r\n$header\r\n\r\n" >"$1/$name.q0"
    printf 'body\r\n' >"$1/$name.q1"
  done
  printf 'held before\r\n' >"$1/Wait/BULK.q0"
  printf 'body\r\n' >"$1/Wait/BULK.q1"
}
# Every file with its mode and content; collision names vary from run to run.
snapshot() {  # FOLDER
  (cd "$1" && find . -type f | LC_ALL=C sort | while read -r f; do
     echo "$f $(stat -c %a "$f") $(sha1sum <"$f" | cut -c1-40)"
   done) | sed -E 's/~col[A-Za-z0-9]{4}/~colXXXX/'
}
share_with_kestrane() {  # FOLDER: owned by root, group kestrane, setgid folders
  chgrp -R kestrane "$1"
  chmod -R g+rwX,o-rwx "$1"
  find "$1" -type d -exec chmod g+s {} +
}

make_queue "$scratch/lp-root"
share_with_kestrane "$scratch/lp-root"
"$sievbat" "$scratch/lp-root" || fail "the root pass failed"
expected=$(snapshot "$scratch/lp-root")
grep -q '^./spam' <<<"$expected" && fail "the root pass deleted nothing: $expected"

# The pass as kestrane, traced.
queue="$scratch/lp-traced"
make_queue "$queue"
share_with_kestrane "$queue"
trace="$scratch/lp-trace"
strace -f -qq -e signal=none -o "$trace" "${as_kestrane[@]}" "$sievbat" --verbose "$queue" >/dev/null ||
  fail "the pass as kestrane failed"
[ "$(snapshot "$queue")" = "$expected" ] ||
  fail "the pass as kestrane left another tree than a root pass:"$'\n'"$(diff <(echo "$expected") <(snapshot "$queue"))"

# The calls from the program's start on (setpriv's own come before it).
traced=$(sed -n "\|execve(\"$sievbat\"|,\$p" "$trace" | sed -nE 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/p' | sort -u)
[ -n "$traced" ] || fail "no system calls of sievbat in the trace"
declare -A expanded=()
expand() {  # NAME...: system call names, with every @group expanded
  local item
  for item in "$@"; do
    if [[ $item == @* ]]; then
      [ -z "${expanded[$item]:-}" ] || continue
      expanded[$item]=1
      expand $(systemd-analyze syscall-filter --no-pager "$item" | awk 'NR > 1 && NF && $1 !~ /^#/ { print $1 }')
    else
      echo "$item"
    fi
  done
}
allow=$(sed -n 's/^SystemCallFilter=\([^~]\)/\1/p' "$unit")
deny=$(sed -n 's/^SystemCallFilter=~//p' "$unit")
[ -n "$allow" ] || fail "the unit has no SystemCallFilter= allow list"
admitted=$(comm -23 <(expand $allow | sort -u) <(expand $deny | sort -u))
outside=$(comm -23 <(echo "$traced") <(echo "$admitted"))
[ -z "$outside" ] || fail "system calls of a pass that the unit's filter refuses: $(echo $outside)"
echo "system calls of a pass: $(echo $traced)"

# The pass as kestrane in what the unit sets up around it: a user namespace
# that maps root and kestrane alone (PrivateUsers=; the queue's owner is
# unmapped there) and /proc mounted hidepid=invisible, subset=pid
# (ProtectProc=, ProcSubset=). The pass still finds its program folder, and
# so Filter.ini, through /proc/self/exe, and still changes the queue
# through its group.
if unshare --user --mount --pid --fork true 2>/dev/null; then
  queue="$scratch/lp-namespaces"
  make_queue "$queue"
  chown -R nobody "$queue"
  share_with_kestrane "$queue"
  unshare --user sh -c '
    until [ -n "$(cat /proc/self/gid_map)" ]; do sleep 0.05; done
    exec unshare --mount --pid --fork sh -c "mount -t proc -o hidepid=invisible,subset=pid proc /proc && exec \"\$@\"" sh "$@"' \
    sh "${as_kestrane[@]}" "$sievbat" "$queue" &
  namespaced=$!
  until [ "$(readlink "/proc/$namespaced/ns/user")" != "$(readlink /proc/self/ns/user)" ]; do sleep 0.01; done
  write_map() {  # uid|gid ID: root and ID, in one write (the kernel takes no second)
    printf '0 0 1\n%s %s 1\n' "$2" "$2" | dd of="/proc/$namespaced/$1_map" bs=4096 iflag=fullblock status=none
  }
  write_map uid "$(id -u kestrane)"
  write_map gid "$(id -g kestrane)"
  wait "$namespaced" || fail "the pass in the unit's namespaces failed"
  [ "$(snapshot "$queue")" = "$expected" ] || fail "the pass in the unit's namespaces left another tree"
else
  echo "check-least-privilege: no user namespace here; the pass in the unit's namespaces was not tried" >&2
fi

# A queue the user may read but not change: nothing changes, stderr says why.
queue="$scratch/lp-foreign"
make_queue "$queue"
before=$(snapshot "$queue")
"${as_kestrane[@]}" "$sievbat" --verbose "$queue" >/dev/null 2>"$scratch/lp-err" || true
[ "$(snapshot "$queue")" = "$before" ] || fail "a pass without rights changed the queue"
grep -qF "$queue" "$scratch/lp-err" || fail "a pass without rights did not name the folder on stderr: $(cat "$scratch/lp-err")"
echo "least privilege checked"
