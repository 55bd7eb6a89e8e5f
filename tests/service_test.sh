#!/usr/bin/env bash
# orvantis-serve's service unit as the build installs it: systemd-analyze verify finds no fault
# in it, rates its exposure 1.5 or lower, and every system call the server makes (watching the
# folder, reading it through io_uring, serving, stopping) is one its filter allows.
#   service_test.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

root="$work/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install"; }
unit=/lib/systemd/system/orvantis-serve.service
[ -f "$root$unit" ] || fail "no $unit"
[ -f "$root/etc/default/orvantis-serve" ] || fail "no /etc/default/orvantis-serve"
# The targets it is ordered after are systemd's own.
cp -n /lib/systemd/system/*.target "$root/lib/systemd/system/"

systemd-analyze verify --man=no --root="$root" "$unit" || fail "systemd-analyze verify"
systemd-analyze security --offline=true --root="$root" "$unit" >"$work/security" 2>&1 || true
score=$(sed -n 's/.*Overall exposure level for orvantis-serve.service: \([0-9.]*\).*/\1/p' "$work/security")
[ -n "$score" ] || { cat "$work/security"; fail "no exposure level"; }
awk -v s="$score" 'BEGIN { exit !(s <= 1.5) }' || { cat "$work/security"; fail "exposure $score above 1.5"; }
echo "exposure level $score"

# The calls the unit's filter allows: those of a system service, less privileged ones and those
# of resources.
allowed() {
  systemd-analyze syscall-filter "$1" | sed -n 's/^    \([a-z_0-9]*\)$/\1/p'
}
{ allowed @system-service; for group in $(systemd-analyze syscall-filter @system-service | sed -n 's/^    \(@[a-z-]*\)$/\1/p'); do allowed "$group"; done; } | sort -u >"$work/allowed"
{ allowed @privileged; allowed @resources; } | sort -u >"$work/denied"
if ! command -v strace >/dev/null; then
  echo "strace is not installed: the calls are not checked"
  exit 0
fi
folder="$work/game"
mkdir -p "$folder/accounts"
for n in 1 2 3; do printf '[GENERAL]\nLogin=p%s\n[CHAR1]\nName=N\nLevel=%s\n' "$n" "$n" >"$folder/accounts/p$n.ini"; done
strace -f -qq -o "$work/calls" "$root/opt/orvantis/orvantis-serve" --listen 127.0.0.1:0 \
  --history "$work/history.db" "$folder" 2>"$work/serve.err" &
server=$!
for _ in $(seq 200); do grep -q " accounts from " "$work/serve.err" && break; sleep 0.1; done
port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/serve.err")
[ -n "$port" ] || { cat "$work/serve.err"; fail "orvantis-serve did not start"; }
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /?q=p HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
cat <&3 >/dev/null
exec 3<&-
printf '[GENERAL]\nLogin=p9\n[CHAR1]\nName=N\nLevel=99\n' >"$folder/accounts/p9.ini"
sleep 1
# The server is strace's child: end it, and strace ends with its status.
pkill -TERM -P "$server"
wait "$server" || fail "orvantis-serve under strace did not end with 0"
grep -q "through io_uring" "$work/serve.err" || echo "note: io_uring is not to be had here"
# The history it kept, in the folder the unit gives it and the default options name.
python3 -c 'import sqlite3, sys; sys.exit(sqlite3.connect(sys.argv[1]).execute(
  "SELECT count(*) FROM accounts WHERE CAST(file AS TEXT) = ?", ("p9.ini",)).fetchone()[0] != 1)' \
  "$work/history.db" || fail "the history does not hold the account added"
grep -qx "StateDirectory=orvantis" "$root$unit" || fail "no StateDirectory"
grep -q -- "--history /var/lib/orvantis/" "$root/etc/default/orvantis-serve" ||
  fail "/etc/default/orvantis-serve keeps no history in the state folder"
# Each call made after the program started, by name.
sed -n 's/^[0-9]* *\([a-z_0-9]*\)(.*/\1/p' "$work/calls" | sort -u >"$work/made"
grep -v -x -f "$work/allowed" "$work/made" | grep -v -x -e execve >"$work/outside" || true
grep -x -f "$work/denied" "$work/made" >>"$work/outside" || true
[ ! -s "$work/outside" ] || fail "calls the unit's filter refuses: $(tr '\n' ' ' <"$work/outside")"
echo "service: verified, exposure $score, its $(wc -l <"$work/made") system calls allowed"
