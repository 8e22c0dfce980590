#!/usr/bin/env bash
# Runs the live view end-to-end benchmark: "Kavrix M20" depth frames at 100
# frames/s for 20 s into the real main window, clean and with a hostile stream;
# then the point cloud window fed 30 and 60 frames/s (needs a display: run
# the script under xvfb-run).
# Usage: bench/frames_e2e.sh [build directory]
set -euo pipefail
build="${1:-build}"
export KAVRIX_SIM="$build/sim/kavrix-sim"
echo "== clean stream"
"$build/bench/bench_frames_e2e" --seconds 20 --fps 100
echo "== hostile stream: random pieces, garbage, several frames per write, marker copies, status 10"
"$build/bench/bench_frames_e2e" --seconds 20 --fps 100 --chunk 16384 --chunk-random 3 --chunk-gap 0 \
    --garbage 300 --multi-frame 2 --marker-in-data --status10-every 10
for fps in 30 60; do
    echo "== point cloud window, $fps frames/s"
    "$build/bench/bench_frames_e2e" --seconds 20 --fps $fps --pointcloud
done
