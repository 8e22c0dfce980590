#!/usr/bin/env bash
# Builds every libFuzzer target (clang, in the build scripts/test-sanitized.sh
# uses) and runs each for a bounded time from its seed corpus in
# fuzz/corpus/<name>/. Any crash or sanitizer report fails.
#   scripts/run-fuzzers.sh [seconds per target, default 60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_SANITIZE_BUILD_DIR:-$root/build-sanitize}
seconds=${1:-60}

"$root/scripts/install-deps.sh"
"$root/scripts/configure-sanitized.sh" "$build"
# AUTOMOC adds a fuzz_<name>_autogen helper target per executable: not a fuzzer.
targets=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p' \
    | grep -v '_autogen$' || true)
if [ -z "$targets" ]; then
    echo "no fuzz targets"
    exit 0
fi
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
printf '%-28s %12s %8s %8s\n' target executions cov ft
status=0
for t in $targets; do
    name=${t#fuzz_}
    work=$(mktemp -d)
    seeds=$root/fuzz/corpus/$name
    [ -d "$seeds" ] || seeds=$(mktemp -d)
    log=$build/$t.log
    # The executables live in the build tree's fuzz/ folder.
    exe=$(find "$build" -type f -name "$t" -perm -u+x | head -n 1)
    # New inputs go to a scratch folder; the committed seeds are only read.
    if ! "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/$t-" \
            "$work" "$seeds" >"$log" 2>&1; then
        echo "$t FAILED; see $log" >&2
        tail -n 40 "$log" >&2
        status=1
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    printf '%-28s %12s %8s %8s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}"
    rm -rf "$work"
done
exit $status
