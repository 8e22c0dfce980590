#!/usr/bin/env bash
# Configures the clang build with AddressSanitizer, UndefinedBehaviorSanitizer,
# the test suite and the libFuzzer targets, shared by scripts/test-sanitized.sh
# and scripts/run-fuzzers.sh.
#   scripts/configure-sanitized.sh <build folder>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
CC=clang CXX=clang++ cmake -S "$root" -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUARVEL_SANITIZE=ON -DQUARVEL_FUZZ=ON -DQUARVEL_BUILD_BENCH=OFF >/dev/null
