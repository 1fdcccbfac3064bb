# Shared by the packaging tests: a private temporary folder that also serves as HOME and the
# XDG folders of every program they start, and small assertions.
set -euo pipefail
work=$(mktemp -d "${TMPDIR:-/tmp}/bramble-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export XDG_CACHE_HOME="$work/home/cache" XDG_RUNTIME_DIR="$work/home/runtime" DO_NOT_TRACK=1
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
finish() {
  if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed" >&2; exit 1; fi
  echo "all checks passed"
}
# Width and height of a PNG file, from its IHDR chunk.
png_size() {
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
  echo "${w}x${h}"
}
# `bramble --version` of a program, run with the environment above.
version_of() { "$@" --version 2>&1 | head -n 1; }
