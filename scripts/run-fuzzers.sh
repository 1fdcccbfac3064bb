#!/usr/bin/env bash
# Runs each libFuzzer target of a fuzz build for a while, starting from its seed corpus in
# fuzz/corpus/<name>/. New inputs go to <build>/fuzz-corpus/<name>/ (the seeds in the
# repository stay as written); a crash, hang, leak or oversized allocation is written to
# <build>/fuzz-findings/<name>/ and fails the run once every target has had its turn.
#   run-fuzzers.sh <build dir> <seconds per target> <name>...
set -uo pipefail
build_dir=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Nothing a reader does may touch the user's files.
export HOME="$tmp" XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache"
export LANG=C.UTF-8
# ASan keeps freed memory in quarantine (256 MB by default), which alone would pass the limit.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=32"
export LSAN_OPTIONS="suppressions=$root/tests/asan/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for name in "$@"; do
  binary="$build_dir/bin/fuzz_$name"
  corpus="$build_dir/fuzz-corpus/$name"
  findings="$build_dir/fuzz-findings/$name"
  mkdir -p "$corpus" "$findings"
  echo "== fuzz_$name for ${seconds}s"
  # Memory over 256 MB, at once or in all, and any input that takes over 10 s count as findings.
  if ! "$binary" -max_total_time="$seconds" -rss_limit_mb=256 -malloc_limit_mb=256 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$root/fuzz/corpus/$name" \
      >"$build_dir/fuzz-$name.log" 2>&1; then
    tail -n 60 "$build_dir/fuzz-$name.log"
    failed+=("$name")
  else
    grep -E '^(stat::number_of_executed_units|Done )' "$build_dir/fuzz-$name.log" | tr '\n' ' '
    echo
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]} (inputs under $build_dir/fuzz-findings/)"
  exit 1
fi
