#!/usr/bin/env bash
# Checks the Debian package as an operator gets it: builds it (scripts/package
# fails on lintian errors), reads its control data, unpacks it into a temporary
# root and runs the programs there, sievbat with the shipped empty rules and
# the example rules (found through the program folder's link into etc), then
# as the unit's system user (check-least-privilege.sh). Last, `cmake --install`
# of the same build into a prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/../.."

fail() { echo "check-package: $*" >&2; exit 1; }
expect_equal() {  # WHAT ACTUAL EXPECTED
  [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# The build's output is shown only when it fails.
scripts/package >"$scratch/package.out" || { cat "$scratch/package.out"; fail "scripts/package failed"; }
deb=$(tail -n 1 "$scratch/package.out")
[ -f "$deb" ] || fail "scripts/package wrote no package ($deb)"
echo "checking $deb"

version=$(dpkg-deb -f "$deb" Version)
expect_equal "package file name" "$(basename "$deb")" \
  "kestrane-queue-tools_${version}_$(dpkg-deb -f "$deb" Architecture).deb"
expect_equal "conffiles" "$(dpkg-deb -I "$deb" conffiles)" "/etc/kestrane/Filter.ini"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libstdc++6 libqt6widgets6 fonts-liberation; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
programs="$root/usr/lib/kestrane"
expect_equal "rules link" "$(readlink "$programs/Filter.ini")" "../../../etc/kestrane/Filter.ini"
for program in sievbat qvue; do
  expect_equal "/usr/bin/$program" "$(readlink "$root/usr/bin/$program")" "../lib/kestrane/$program"
  expect_equal "$program --version" "$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version)" "$program $version"
  warnings=$(man --warnings -l "$root/usr/share/man/man1/$program.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$program.1: $warnings"
done
[ -f "$root/etc/kestrane/Filter.ini" ] && [ ! -s "$root/etc/kestrane/Filter.ini" ] ||
  fail "etc/kestrane/Filter.ini is not an empty file"
desktop-file-validate "$root/usr/share/applications/kestrane-qvue.desktop"
# The postinst makes the timed pass's system user from the shipped sysusers.d
# file: tried on the unpacked root (DPKG_ROOT), not on this machine.
dpkg-deb -e "$deb" "$scratch/control"
sysusers=$(DPKG_ROOT="$root" sh "$scratch/control/postinst" configure 2>&1) || fail "postinst: $sysusers"
expect_equal "home and shell of the user the postinst made" \
  "$(grep '^kestrane:' "$root/etc/passwd" | cut -d: -f6,7)" "/nonexistent:/usr/sbin/nologin"
# The units run the installed sievbat, so they are checked with their
# program path pointed into the unpacked root, for one instance.
if command -v systemd-analyze >/dev/null; then
  units="$scratch/units"
  mkdir -p "$units"
  for unit in "$root"/lib/systemd/system/kestrane-sievbat@.*; do
    sed "s|/usr/bin/sievbat|$root/usr/bin/sievbat|" "$unit" >"$units/$(basename "$unit")"
  done
  instance=$(systemd-escape --path "$scratch/queue")
  # Unknown keys are only warned about, so any output is a fault too.
  verify=$(cd "$units" && systemd-analyze verify --man=no \
             "kestrane-sievbat@$instance.service" "kestrane-sievbat@$instance.timer" 2>&1) &&
    [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
fi

# A queue of three pairs: one for each action of the example rules
# (delete on the subject, hold on the sender) and one no rule matches.
make_queue() {  # FOLDER
  rm -rf "$1" && mkdir -p "$1/Wait"
  local pair name subject sender
  for pair in "spam:cheap viagra:a" "bulk:news:newsletter" "plain:hello:b"; do
    IFS=: read -r name subject sender <<<"$pair"
    printf 'remailer line\r\n12/06/26 14:03:22\r\nSubject: %s\r\nFrom: %s@example.org\r\n\r\n' \
      "$subject" "$sender" >"$1/$name.q0"
    printf 'body\r\n' >"$1/$name.q1"
  done
}
listing() { (cd "$1" && find . -type f | sort | tr '\n' ' '); }
queue="$scratch/queue"

make_queue "$queue"
"$root/usr/bin/sievbat" "$queue" || fail "a pass with the shipped empty rules failed"
expect_equal "queue after a pass with no rules" "$(listing "$queue")" \
  "./bulk.q0 ./bulk.q1 ./plain.q0 ./plain.q1 ./spam.q0 ./spam.q1 "

cp "$root/usr/share/doc/kestrane-queue-tools/examples/Filter.ini" "$root/etc/kestrane/Filter.ini"
"$root/usr/bin/sievbat" "$queue" || fail "a pass with the example rules failed"
expect_equal "queue after a pass with the example rules" "$(listing "$queue")" \
  "./Wait/bulk.q0 ./Wait/bulk.q1 ./plain.q0 ./plain.q1 "

# The timed pass as the package's system user, with the unit's hardening.
tests/package/check-least-privilege.sh "$root" "$scratch"

# The same build installed with cmake into a prefix: the layout under it,
# the link resolving to the prefix's own etc.
prefix="$scratch/prefix"
cmake --install build-package --prefix "$prefix" >/dev/null
expect_equal "installed rules link" "$(readlink "$prefix/lib/kestrane/Filter.ini")" "../../etc/kestrane/Filter.ini"
[ -f "$prefix/lib/systemd/system/kestrane-sievbat@.timer" ] || fail "cmake --install put no timer unit under the prefix"
[ -f "$prefix/lib/sysusers.d/kestrane-queue-tools.conf" ] || fail "cmake --install put no sysusers.d file under the prefix"
make_queue "$queue"
printf '"SPAM-","Subject: ","viagra"\n' >"$prefix/etc/kestrane/Filter.ini"
"$prefix/bin/sievbat" "$queue" || fail "a pass of the sievbat installed by cmake failed"
expect_equal "queue after a pass of the installed sievbat" "$(listing "$queue")" \
  "./bulk.q0 ./bulk.q1 ./plain.q0 ./plain.q1 "
echo "package checked: $deb"
