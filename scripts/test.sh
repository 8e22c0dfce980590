#!/usr/bin/env bash
# Installs what is missing, builds Quarvel and the simulated camera, and runs the
# whole test suite under a virtual X server (the point cloud view needs OpenGL).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
