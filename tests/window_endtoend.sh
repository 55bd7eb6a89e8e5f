#!/usr/bin/env bash
# Starts the built window, copied into a temporary folder as an admin would place it, under a
# virtual X server, and checks what a user would see. Screenshots go to the build folder.
#   window_endtoend.sh PROGRAM BUILD_DIR SAMPLE_ACCOUNTS
# build/window-endtoend.png shows the window on the sample accounts; docs/window.png is a copy.
set -euo pipefail
program=$1
shots=$2
samples=$3
caption="Orvantis v1.4 - by Quellmar"

if [ -z "${ORVANTIS_UNDER_XVFB:-}" ]; then
  export ORVANTIS_UNDER_XVFB=1
  # -noreset: the server stays up between one program and the next, which would otherwise find
  # it resetting after the last one closed.
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$@"
fi
unset QT_QPA_PLATFORM

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap '[ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

# The id of the first visible window with this exact name, waiting up to thirty seconds (a
# sanitizer build on a busy machine starts slowly).
find_window() {
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Closes the window `id` of the program `pid` as a window manager does, and waits for the
# program to end, setting `status` to its exit status. A sanitizer build checks its memory as it
# ends, so it is given time; a close request that the X server may have passed by before the
# window took it is sent again, twice at most, and said so. Fails when the program has not ended.
close_and_wait() {
  local id=$1 pid=$2 what=$3
  for attempt in 1 2 3; do
    "$(dirname "$0")/support/x11close.py" "$id" 2>/dev/null || true
    for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null || break
    echo "$what: still running 15 s after close request $attempt" >&2
  done
  kill -0 "$pid" 2>/dev/null && fail "$what: the program did not end when its window was closed"
  status=0
  wait "$pid" || status=$?
}

# With an accounts folder: the window opens at its place and size, with the ranking.
mkdir -p "$work/with"
cp -r "$samples" "$work/with/accounts"
cp "$program" "$work/with/orvantis"
"$work/with/orvantis" & pid=$!
id=$(find_window "$caption") || fail "the main window did not appear"
sleep 0.5
geometry=$(xdotool getwindowgeometry "$id")
echo "$geometry"
echo "$geometry" | grep -q "Position: 97,149" || fail "window not at 97,149"
echo "$geometry" | grep -q "Geometry: 504x435" || fail "window not 504x435"
import -window "$id" "$shots/window-endtoend.png" || true
# The window carries the program's icon in each of its sizes, for task bars and switchers.
icons=$(xprop -len 1000000 -id "$id" _NET_WM_ICON 2>/dev/null | grep -o 'Icon ([0-9]* x [0-9]*)' |
        tr '\n' ' ')
for size in 16 24 32 48 64 128 256; do
  echo "$icons" | grep -q "Icon ($size x $size)" || fail "the window has no $size x $size icon (it has: $icons)"
done

# Closed as a window manager closes it: the program ends at once, with status 0.
close_and_wait "$id" "$pid" "unscaled"
[ "$status" -eq 0 ] || fail "exit status $status after closing the window"
pid=

# Scaled by 1.25, 1.5 or 1.75, the fixed place would put its bottom off this 1024 x 768 screen:
# it moves up to lie wholly inside it, to the last pixel, and keeps its size.
for scale in 1.25 1.5 1.75; do
  QT_SCALE_FACTOR=$scale "$work/with/orvantis" & pid=$!
  id=$(find_window "$caption") || fail "the window scaled by $scale did not appear"
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$id")"
  echo "scaled by $scale: ${WIDTH}x${HEIGHT} at $X,$Y"
  least_width=$(awk -v s="$scale" 'BEGIN { print int(504 * s) - 1 }')
  least_height=$(awk -v s="$scale" 'BEGIN { print int(435 * s) - 1 }')
  [ "$WIDTH" -ge "$least_width" ] && [ "$HEIGHT" -ge "$least_height" ] ||
    fail "window scaled by $scale not about $((least_width + 1))x$((least_height + 1))"
  [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
    fail "window scaled by $scale not inside the screen: its last pixel at $((X + WIDTH)),$((Y + HEIGHT))"
  [ "$scale" = 1.5 ] && { import -window "$id" "$shots/window-endtoend-scaled.png" || true; }
  close_and_wait "$id" "$pid" "scaled by $scale"
  [ "$status" -eq 0 ] || fail "exit status $status after closing the window scaled by $scale"
done
pid=

# Given a FOLDER, from a program with no accounts beside it: the window reads that folder.
mkdir -p "$work/elsewhere"
cp "$program" "$work/elsewhere/orvantis"
"$work/elsewhere/orvantis" "$work/with" & pid=$!
id=$(find_window "$caption") || fail "the window on a FOLDER argument did not appear"
close_and_wait "$id" "$pid" "given a FOLDER"
[ "$status" -eq 0 ] || fail "exit status $status after closing the window given a FOLDER"
pid=

# Following changes, switched on from the list's menu by keyboard: files rewritten in place,
# renamed over, added and removed, then a burst of 200 mixed changes; the rows copied from the
# window are then those of orvantis-rank on the same folder, in the same order.
account() { printf '[GENERAL]\nLogin=%s\n[CHAR1]\nName=Hero %s\nLevel=%s\n' "$1" "$1" "$2"; }
mkdir -p "$work/live/accounts"
for n in $(seq 0 299); do account "user$n" $((1000 - n)) >"$work/live/accounts/u$n.ini"; done
cp "$program" "$work/live/orvantis"
rank=$(dirname "$program")/orvantis-rank
"$work/live/orvantis" & pid=$!
id=$(find_window "$caption") || fail "the window on the live folder did not appear"
sleep 0.5
xdotool windowfocus --sync "$id" 2>/dev/null || true
xdotool key shift+F10
sleep 0.5
xdotool key Up Return # the menu's last item
sleep 1
# The window's rows as Copy gives them, once they are those of orvantis-rank (10 s at most).
rows_match() {
  for _ in $(seq 20); do
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key ctrl+a ctrl+c
    sleep 0.3
    xclip -o -selection clipboard >"$work/copied" 2>/dev/null || true
    "$rank" "$work/live" >"$work/ranked" 2>/dev/null || true
    cmp -s "$work/copied" "$work/ranked" && return 0
    sleep 0.2
  done
  diff "$work/copied" "$work/ranked" | head -5 >&2
  return 1
}
printf '[GENERAL]\nLogin=user7\n[CHAR1]\nName=Hero\nLevel=5000\n' >"$work/live/accounts/u7.ini.tmp"
cat "$work/live/accounts/u7.ini.tmp" >"$work/live/accounts/u7.ini" # rewritten in place
rm "$work/live/accounts/u7.ini.tmp"
rows_match || fail "a file rewritten in place did not show"
account user9 4000 >"$work/live/accounts/u9.new" && mv "$work/live/accounts/u9.new" "$work/live/accounts/u9.ini"
account newcomer 4500 >"$work/live/accounts/newcomer.ini"
rm "$work/live/accounts/u1.ini"
rows_match || fail "a file renamed over, one added and one removed did not show"
for c in $(seq 200); do
  n=$((RANDOM % 320))
  case $((RANDOM % 4)) in
    0) rm -f "$work/live/accounts/u$n.ini" ;;
    1) printf '[GENERAL]\nLogin=\n' >"$work/live/accounts/u$n.ini" ;;
    *) account "user$n" $((RANDOM % 60)) >"$work/live/accounts/u$n.ini" ;;
  esac
done
rows_match || fail "after a burst of 200 mixed changes the rows are not those of orvantis-rank"
xdotool key ctrl+Home
sleep 0.5
import -window "$id" "$shots/window-endtoend-live.png" || true
close_and_wait "$id" "$pid" "following changes"
[ "$status" -eq 0 ] || fail "exit status $status after closing the window following changes"
pid=

# --help, --version and bad usage need no display.
env -u DISPLAY -u QT_QPA_PLATFORM "$program" --version | grep -qx "orvantis 1.4" || fail "--version"
env -u DISPLAY -u QT_QPA_PLATFORM "$program" --help | grep -q "^Usage: orvantis \[OPTION\]... \[FOLDER\]" || fail "--help"
status=0; env -u DISPLAY "$program" --bogus 2>"$work/usage" || status=$?
[ "$status" -eq 2 ] && [ "$(wc -l <"$work/usage")" -eq 1 ] || fail "bad usage: status $status"
status=0; env -u DISPLAY "$program" one two 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "two FOLDERs: status $status"

# Without one: only the message box, titled "Orvantis"; Enter ends the program.
mkdir -p "$work/without"
cp "$program" "$work/without/orvantis"
"$work/without/orvantis" & pid=$!
box=$(find_window "Orvantis") || fail "no message box titled Orvantis"
sleep 0.5
if xdotool search --onlyvisible --name "^$caption\$" >/dev/null 2>&1; then
  fail "the main window was shown although the accounts folder is missing"
fi
import -window root "$shots/window-endtoend-missing.png" || true
xdotool windowfocus "$box" 2>/dev/null || true
sleep 0.3
xdotool key Return
for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after OK"
status=0; wait "$pid" || status=$?
[ "$status" -eq 1 ] || fail "exit status $status without an accounts folder (1 expected)"
pid=
echo "window end-to-end: passed"
