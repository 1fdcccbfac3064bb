#!/usr/bin/env bash
# Runs every benchmark program the build produced; each prints its own table.
set -euo pipefail
build_dir=${1:-build}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp" XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache"
export XDG_RUNTIME_DIR="$tmp/runtime" DO_NOT_TRACK=1 LANG=C.UTF-8
# Benchmarks reach nothing but loopback.
export BRAMBLE_TELEMETRY_URL=http://127.0.0.1:9 BRAMBLE_UPDATE_FEED_URL=http://127.0.0.1:9/updates/
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
found=0
for b in "$build_dir"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
  echo
done
[ "$found" = 1 ] || echo "no benchmarks were built"
