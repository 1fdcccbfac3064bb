#!/usr/bin/env bash
# Runs a test program under strace and fails when it, or anything it starts, connects or sends
# to an Internet address outside 127.0.0.0/8 and ::1: a public or private host, the DNS
# resolver, anything. Unix and netlink sockets are fine. Only the traffic is judged here: the
# program's own failures are its own test's to report.
#
#   loopback-guard.sh PROGRAM [ARGS...]   run and judge
#   loopback-guard.sh --check LOG...      judge strace logs already written
set -uo pipefail

# Prints the calls in the logs that name an Internet address off the machine.
offences() {
  grep -hE '(connect|sendto|sendmsg|sendmmsg)\(' "$@" | grep -E 'sa_family=AF_INET6?\b' |
    while IFS= read -r line; do
      bad=""
      # IPv4 as inet_addr("a.b.c.d"), IPv6 as inet_pton(AF_INET6, "addr", ...).
      addresses=$(grep -oE 'inet_addr\("[^"]*"\)|inet_pton\(AF_INET6, "[^"]*"' <<<"$line" |
        sed -E 's/.*"([^"]*)".*/\1/')
      # An Internet address strace could not spell out is taken to leave the machine.
      [ -z "$addresses" ] && bad=1
      while IFS= read -r address; do
        case "$address" in
          '') ;;
          127.*|::1|::ffff:127.*) ;;
          *) bad=1 ;;
        esac
      done <<<"$addresses"
      if [ -n "$bad" ]; then printf '%s\n' "$line"; fi
    done
  return 0
}

if [ "${1:-}" = "--check" ]; then
  shift
  found=$(offences "$@")
  if [ -n "$found" ]; then
    printf 'loopback guard: traffic leaves the machine:\n%s\n' "$found" >&2
    exit 1
  fi
  exit 0
fi

if [ $# -eq 0 ]; then
  echo "usage: $0 PROGRAM [ARGS...] | --check LOG..." >&2
  exit 2
fi

if ! command -v strace >/dev/null; then
  echo "loopback guard: strace is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

log=$(mktemp "${TMPDIR:-/tmp}/loopback-guard-XXXXXX")
trap 'rm -f "$log"' EXIT
# Only the traced calls stop the program (seccomp), so everything else runs at full speed.
strace -f -q --seccomp-bpf -e trace=connect,sendto,sendmsg,sendmmsg -e signal=none \
  -o "$log" -- "$@" >/dev/null
status=$?
# strace writes how each process ended; nothing at all means the program was never traced.
if ! grep -qE '\+\+\+ (exited|killed)' "$log"; then
  echo "loopback guard: $1 could not be run under strace (status $status)" >&2
  exit 1
fi
[ $status -ne 0 ] && echo "loopback guard: note: $(basename "$1") itself ended with status $status"

found=$(offences "$log")
if [ -n "$found" ]; then
  printf 'loopback guard: %s sent traffic off the machine:\n%s\n' "$(basename "$1")" "$found" >&2
  exit 1
fi
echo "loopback guard: $(basename "$1") stayed on loopback"
exit 0
