#!/usr/bin/env bash
# Builds Quarvel and runs it against a simulated camera.
#   scripts/run-with-sim.sh [m10|m20] [extra kavrix-sim options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}
model=${1:-m20}
shift || true

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<MSG
Quarvel is a desktop application and this machine has no display (DISPLAY and
WAYLAND_DISPLAY are unset). Either
  - run it on a desktop session, or log in with "ssh -X" so windows reach your screen, or
  - run it under a virtual X server:   xvfb-run -a $0 ${model}
    (it then runs unseen; add "-s '-screen 0 1280x1024x24'" and take screenshots with
    "import -window root shot.png" from imagemagick if you want to look at it).
MSG
    exit 1
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target quarvel kavrix-sim

# The simulator registers itself as a USB serial port that Quarvel finds by its
# vendor and product identifiers; it goes away again when Quarvel exits.
sim_log=$(mktemp -t kavrix-sim.XXXXXX)
"$build/sim/kavrix-sim" --model "$model" "$@" >"$sim_log" 2>&1 </dev/null &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$sim_log"' EXIT
for _ in $(seq 50); do
    grep -q '^plugged' "$sim_log" && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$sim_log" >&2; exit 1; }
    sleep 0.1
done

"$build/quarvel"
