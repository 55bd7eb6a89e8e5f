#!/usr/bin/env bash
# Runs the built orvantis-rank as the system fails it: too few file descriptors, a listing that
# breaks off, calls into io_uring refused for good, little address space. Each run must give the
# reference ranking, or a clear message and a non-zero status: never fewer rows with status 0,
# never a hang or an abort.   fault_injection.sh ORVANTIS_RANK ORVANTIS_GENERATE
set -uo pipefail
rank=$1
generate=$2
fail() { echo "FAIL: $*" >&2; failed=1; }
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$generate" "$work" 3000 7 >/dev/null || { echo "cannot generate accounts" >&2; exit 1; }
"$rank" "$work" >"$work/reference" || { echo "the reference run failed" >&2; exit 1; }

# check NAME COMMAND...: the run gives the reference with status 0, or no ranking on standard
# output with a status of 70 and one line saying why.
check() {
  local name=$1; shift
  timeout 60 "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" -eq 0 ]; then
    cmp -s "$work/out" "$work/reference" || fail "$name: status 0 with $(wc -l <"$work/out") of $(wc -l <"$work/reference") rows"
  elif [ "$status" -eq 70 ]; then
    [ -s "$work/out" ] && fail "$name: status 70 after printing a ranking"
    grep -q '^orvantis-rank: ' "$work/err" || fail "$name: status 70 without a reason"
  elif [ "$status" -eq 127 ] && grep -q "error while loading shared libraries" "$work/err"; then
    : # with the fewest descriptors the system's loader cannot start the program at all
  else
    fail "$name: status $status ($(head -c 300 "$work/err"))"
  fi
  echo "$name: status $status $(head -c 120 "$work/err")"
}

for limit in 4 5 6 8 12 16 24 31 32 40; do
  check "file descriptors $limit" prlimit --nofile=$limit:$limit "$rank" "$work"
done
for size in 200000 400000 1200000; do
  check "address space ${size} KiB" bash -c "ulimit -v $size && exec \"\$0\" \"\$@\"" "$rank" "$work"
  check "address space ${size} KiB, 16 descriptors (no ring)" \
    bash -c "ulimit -v $size && exec prlimit --nofile=16:16 \"\$0\" \"\$@\"" "$rank" "$work"
done

if command -v strace >/dev/null && strace -f -o /dev/null true 2>/dev/null; then
  check "listing read fails" strace -f -o /dev/null -e inject=getdents64:error=EIO:when=2 "$rank" "$work"
  grep -q "Input/output error" "$work/err" || fail "a failed listing read is not reported"
  check "io_uring_enter busy for good" strace -f -o /dev/null -e inject=io_uring_enter:error=EBUSY:when=5+ "$rank" "$work"
  check "io_uring_enter interrupted for good" strace -f -o /dev/null -e inject=io_uring_enter:error=EINTR:when=1+ "$rank" "$work"
  # A watch that cannot be made, the system's limit of watches reached, is said with what it
  # costs, and --watch ends at its start: the folder above (the second watch asked for), and an
  # account file that is a link (the third).
  ln -s "$work/accounts/$(ls "$work/accounts" | head -1)" "$work/accounts/zz-linked.ini"
  for when in 2 3; do
    timeout 60 strace -f -o /dev/null -e inject=inotify_add_watch:error=ENOSPC:when=$when \
      "$rank" --watch --output "$work/live.tsv" "$work" >/dev/null 2>"$work/err"
    status=$?
    [ "$when" = 2 ] && cost="a replaced accounts folder will not be noticed" \
                    || cost="a write through another name will not be noticed"
    [ "$status" -eq 70 ] || fail "watch $when refused: status $status, not 70"
    grep -q "(the system's limit of watches); $cost" "$work/err" ||
      fail "watch $when refused: not said ($(head -c 300 "$work/err"))"
    echo "watch $when refused: status $status $(head -c 160 "$work/err")"
  done
  rm "$work/accounts/zz-linked.ini"
else
  echo "strace cannot trace here: the injected system-call faults are not run"
fi
[ "$failed" -eq 0 ] && echo "fault injection: passed"
exit "$failed"
