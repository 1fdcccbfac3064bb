#!/usr/bin/env bash
# The guard's judgement on strace lines of each kind: loopback, unix and netlink traffic
# passes; every line of leaves.strace must fail on its own.
set -uo pipefail
here=$(dirname "$0")
guard="$here/loopback-guard.sh"
samples="$here/loopback-guard"
failures=0

if ! out=$(bash "$guard" --check "$samples/stays-local.strace" 2>&1); then
  printf 'FAIL: loopback traffic was refused:\n%s\n' "$out"
  failures=$((failures + 1))
fi

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
lines=0
while IFS= read -r line; do
  lines=$((lines + 1))
  printf '%s\n' "$line" >"$tmp"
  if bash "$guard" --check "$tmp" >/dev/null 2>&1; then
    printf 'FAIL: not caught: %s\n' "$line"
    failures=$((failures + 1))
  fi
done <"$samples/leaves.strace"
[ $lines -ge 10 ] || { echo "FAIL: only $lines sample lines read"; failures=$((failures + 1)); }

# A program the guard runs: a loopback connection passes.
if command -v strace >/dev/null && command -v python3 >/dev/null; then
  if ! out=$(bash "$guard" python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.connect(("127.0.0.1", 9))' 2>&1); then
    printf 'FAIL: a loopback program was refused:\n%s\n' "$out"
    failures=$((failures + 1))
  fi
fi

echo "loopback guard self-test: $failures wrong judgements in $((lines + 1)) samples"
[ $failures -eq 0 ]
