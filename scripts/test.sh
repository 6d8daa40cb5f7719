#!/usr/bin/env bash
# Builds Veltra and runs every test suite, then runs the parsing, network and thread tests again
# under AddressSanitizer with UndefinedBehaviorSanitizer, and under ThreadSanitizer. The sanitizer
# builds compile only what the tests of their labels run (the veltra-tests-<label> targets).
#
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the plain build and its tests only
#
# Installs what is missing first. Rendering tests start a private Xvfb by themselves when no
# display is reachable. Prints how long each phase took and closes with one line over all passes:
# "tests: N passed, N failed, N skipped". Exits non-zero when a build or a test failed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
quick=false
[ "${1:-}" = "--quick" ] && quick=true

timings=()
passed=0
failed=0
skipped=0
ran=0 # tests in the last pass

# phase <name> <command...>: runs one phase and notes how long it took.
phase() {
    local name=$1 start=$SECONDS status=0
    shift
    echo "== $name"
    "$@" || status=$?
    local took=$((SECONDS - start))
    timings+=("$(printf '%-44s %3d:%02d' "$name" $((took / 60)) $((took % 60)))")
    echo "== $name: $took s"
    return $status
}

# Compiler cache hits and misses so far, as "hits misses" (nothing without ccache).
cache_counts() {
    command -v ccache > /dev/null || return 0
    ccache --print-stats | awk '$1 ~ /^(direct|preprocessed)_cache_hit$/ { hits += $2 }
        $1 == "cache_miss" { misses += $2 } END { print hits + 0, misses + 0 }'
}
read -r cache_hits_before cache_misses_before <<< "$(cache_counts)"

print_timings() {
    echo "== phase timings (minutes:seconds)"
    printf '%s\n' "${timings[@]}"
    local hits misses
    read -r hits misses <<< "$(cache_counts)"
    [ -n "$hits" ] && echo "compiler cache: $((hits - cache_hits_before)) hits, $((misses - cache_misses_before)) misses"
}
trap print_timings EXIT

# build <dir> "<target...>" <cmake options...>: configures, then builds the targets, or everything
# when none are given.
build() {
    local dir=$1 targets=$2
    shift 2
    # shellcheck disable=SC2086 # the target list splits into words
    cmake -S "$root" -B "$dir" "$@" > /dev/null &&
        cmake --build "$dir" -j "$jobs" ${targets:+--target $targets}
}

# The root element of CTest's JUnit report, first in the file, carries the pass's counts.
report_count() {
    grep -m 1 -oE "\b$1=\"[0-9]+\"" "$2" | grep -oE '[0-9]+'
}

# run_tests <dir> [ctest arguments...]: runs the tests and adds the outcome to the totals. A failing
# test does not end the script: every pass runs, and the closing line counts them all.
run_tests() {
    local dir=$1
    shift
    local report=$dir/ctest-junit.xml
    rm -f "$report"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit "$report" "$@" || true
    ran=0
    if [ ! -s "$report" ]; then
        echo "test.sh: CTest wrote no report in $dir" >&2
        failed=$((failed + 1))
        return
    fi
    local total fails skips
    total=$(report_count tests "$report")
    fails=$(report_count failures "$report")
    skips=$(report_count skipped "$report")
    passed=$((passed + total - fails - skips))
    failed=$((failed + fails))
    skipped=$((skipped + skips))
    ran=$total
}

# run_sanitized_tests <dir> <label regex>: as run_tests, and makes sure the sanitized build ran as
# many tests of these labels as the plain build has, so that a test program left out of its
# label's target cannot pass unnoticed.
run_sanitized_tests() {
    local dir=$1 labels=$2 expected
    run_tests "$dir" -L "$labels"
    expected=$(ctest --test-dir "$root/build" -N -L "$labels" | sed -n 's/^Total Tests: //p')
    if [ "$ran" != "$expected" ]; then
        echo "test.sh: $dir ran $ran tests labelled $labels; the plain build has $expected" >&2
        failed=$((failed + 1))
    fi
}

phase "install" "$root/scripts/install-deps.sh" --tests

phase "build: plain" build "$root/build" "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
phase "tests: plain, every label" run_tests "$root/build"

if ! $quick; then
    phase "build: ASan+UBSan, unit net threads" build "$root/build-asan" \
        "veltra-tests-unit veltra-tests-net veltra-tests-threads" \
        -DCMAKE_BUILD_TYPE=Debug -DVELTRA_SANITIZE=address,undefined -DVELTRA_BUILD_BENCHMARKS=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp" \
        phase "tests: ASan+UBSan, unit net threads" run_sanitized_tests "$root/build-asan" 'unit|net|threads'

    phase "build: TSan, net threads" build "$root/build-tsan" "veltra-tests-net veltra-tests-threads" \
        -DCMAKE_BUILD_TYPE=Debug -DVELTRA_SANITIZE=thread -DVELTRA_BUILD_BENCHMARKS=OFF
    TSAN_OPTIONS="halt_on_error=1 suppressions=$root/scripts/tsan.supp" \
        phase "tests: TSan, net threads" run_sanitized_tests "$root/build-tsan" 'net|threads'
fi

trap - EXIT
print_timings
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
