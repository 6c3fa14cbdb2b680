#!/usr/bin/env bash
# Fuzzes the datagram decoder for a number of seconds (default 120), starting
# from a copy of fuzz/corpus/ so that the seeds stay as committed. Exits
# non-zero on any finding (crash, sanitizer report, leak, timeout); the input
# that caused it is kept in fuzz/findings/.
#
#   fuzz/run.sh [seconds]                  builds fuzz_decoder first
#   fuzz/run.sh path/to/fuzz_decoder [seconds]
#
# The build goes with clang into build-fuzz/ (as the "fuzz" preset does), or
# into $VELTO_FUZZ_BUILD_DIR when that is set.
set -euo pipefail

fuzz_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$fuzz_dir")"
findings="$fuzz_dir/findings"

if [ $# -ge 1 ] && [ -f "$1" ] && [ -x "$1" ]; then
    fuzzer="$1"
    seconds="${2:-120}"
else
    seconds="${1:-120}"
    build="${VELTO_FUZZ_BUILD_DIR:-$root/build-fuzz}"
    cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELTO_FUZZ=ON -DVELTO_BUILD_TESTS=OFF -DVELTO_BUILD_BENCH=OFF -DVELTO_BUILD_TOOLS=OFF >/dev/null
    cmake --build "$build" --target fuzz_decoder -j2
    fuzzer="$build/fuzz/fuzz_decoder"
fi
case "$seconds" in
    '' | *[!0-9]*) echo "run.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$fuzz_dir"/corpus/* "$work"/
mkdir -p "$findings"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# 65506 bytes is the largest datagram that a listener receives.
"$fuzzer" "$work" \
    -dict="$fuzz_dir/osc.dict" \
    -max_total_time="$seconds" \
    -max_len=65506 \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" \
    -print_final_stats=1
echo "fuzz_decoder: no finding in ${seconds} s"
