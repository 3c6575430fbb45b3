#!/usr/bin/env bash
# Builds the test suites with sanitizers and runs them:
#   asan  every unit test under AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan
#         (built with clang: about a third faster than g++ here);
#   tsan  the multi-threaded parts (scan and clean run, settings and activity log, the engine's
#         two-thread walk and deletion) under ThreadSanitizer, in build-tsan.
# End-to-end, packaging and screenshot tests are left to the plain test run.
#
# Usage: tools/run-sanitizers.sh [asan|tsan|all]     (default: all)
# Environment: SWEEPKIN_JOBS (default 2) build and test parallelism.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

JOBS=${SWEEPKIN_JOBS:-2}
EXCLUDE='e2e|packag|screenshot'
stage=${1:-all}

# Every test executable the configured tree defines (tests/** and the fuzz corpus replays).
test_targets() {
    ninja -C "$1" -t targets all | grep ': CXX_EXECUTABLE_LINKER' | cut -d: -f1 |
        grep -E '^(tests|fuzz)/' | grep -vE '\[|\.cmake$|^/|tests/(e2e|package)/|screenshot' |
        xargs -r -n1 basename
}

configure() {
    local preset=$1 dir=$2
    if [ ! -f "$dir/build.ninja" ]; then
        cmake --preset "$preset" >/dev/null
    else
        cmake "$dir" >/dev/null
    fi
}

run_asan() {
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)"
    configure asan build-asan
    # shellcheck disable=SC2046
    cmake --build build-asan -j "$JOBS" --target $(test_targets build-asan)
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build-asan -j "$JOBS" --output-on-failure -E "$EXCLUDE"
}

run_tsan() {
    echo "== ThreadSanitizer (build-tsan)"
    configure tsan build-tsan
    local targets=(test_clean_run test_settings quit_helper engine_tests hardening_tree_test)
    local have=() t defined
    defined=$(test_targets build-tsan)
    for t in "${targets[@]}"; do
        if grep -qx "$t" <<<"$defined"; then have+=("$t"); fi
    done
    cmake --build build-tsan -j "$JOBS" --target "${have[@]}"
    # Qt itself is not instrumented; the suppressions cover reports inside Qt only. Some tests
    # fork helpers from a process that already runs Qt's threads; the child only execs or exits.
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/tests/hardening/tsan.supp" \
        ctest --test-dir build-tsan -j "$JOBS" --output-on-failure \
        -R '^(ops\.test_(clean_run|settings)|AdversarialTree\.|MeasureTest\.)'
}

case "$stage" in
    asan) run_asan ;;
    tsan) run_tsan ;;
    all) run_asan && run_tsan ;;
    *)
        echo "usage: $0 [asan|tsan|all]" >&2
        exit 2
        ;;
esac
