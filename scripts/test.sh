#!/usr/bin/env bash
# Builds Veltra and runs every test suite, then runs the parsing, network and thread tests again
# under AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer.
#
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the plain build and its tests only
#
# Installs what is missing first. Rendering tests start a private Xvfb by themselves when no
# display is reachable.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
quick=false
[ "${1:-}" = "--quick" ] && quick=true

build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" "$@" > /dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {
    local dir=$1
    shift
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

"$root/scripts/install-deps.sh" --tests

echo "== build and all tests"
build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_tests "$root/build"

$quick && exit 0

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: unit, network and thread tests"
build "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVELTRA_SANITIZE=address,undefined -DVELTRA_BUILD_BENCHMARKS=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" run_tests "$root/build-asan" -L 'unit|net|threads'

echo "== ThreadSanitizer: network and thread tests"
build "$root/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DVELTRA_SANITIZE=thread -DVELTRA_BUILD_BENCHMARKS=OFF
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/scripts/tsan.supp" run_tests "$root/build-tsan" -L 'net|threads'
