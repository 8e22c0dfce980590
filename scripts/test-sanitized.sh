#!/usr/bin/env bash
# Builds the whole test suite with clang's AddressSanitizer and
# UndefinedBehaviorSanitizer and runs it; any leak or error report fails a test.
# The same build holds the libFuzzer targets: scripts/run-fuzzers.sh runs them
# (their seeds first) without building the libraries again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_SANITIZE_BUILD_DIR:-$root/build-sanitize}

"$root/scripts/install-deps.sh"
"$root/scripts/configure-sanitized.sh" "$build"
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$root/scripts/ubsan.supp
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600 "$@"
