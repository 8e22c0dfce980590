#!/usr/bin/env bash
# How large the tests are beside the code they test: lines of C++ (.cpp and .h,
# every line) in tests/ and fuzz/ against the program's own folders, and the
# ratio. The project aims for a quarter to a third; quarvel-cli's own
# lines (cli/) are shown apart, as its tests sit in tests/ too.
#   scripts/test-share.sh [revision]   (default: the working tree)
set -euo pipefail
cd "$(dirname "$0")/.."
revision=${1:-}
code=(app device frames views deviceinfo calibration firmware check sim)

lines() {
    if [ -n "$revision" ]; then
        git ls-tree -r --name-only "$revision" -- "$@" | { grep -E '\.(cpp|h)$' || true; } \
            | while read -r f; do git show "$revision:$f"; done | wc -l
    else
        find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null \
            | xargs -0 -r cat | wc -l
    fi
}

program=$(lines "${code[@]}")
cli=$(lines cli)
tests=$(lines tests fuzz)
awk -v p="$program" -v c="$cli" -v t="$tests" -v folders="${code[*]}" 'BEGIN {
    printf "code (%s): %d lines\n", folders, p
    printf "tests/ and fuzz/: %d lines\n", t
    printf "ratio: %.3f\n", t / p
    printf "with cli/ (%d lines) in the code: %.3f\n", c, t / (p + c)
}'
