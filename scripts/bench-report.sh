#!/usr/bin/env bash
# Builds every benchmark (bench_*, Release, in its own build folder), runs them
# all in one go and prints one table: each benchmark's time per iteration and
# its ratio to the baseline measured in the same run, plus the counters a
# benchmark reports (frame rates, delays, memory).
#   scripts/bench-report.sh [Google Benchmark options, e.g. --benchmark_filter=Ingest]
# Environment: QUARVEL_BENCH_BUILD_DIR (default build-bench), QUARVEL_BENCH_OUT
# (folder for the JSON files, default <build>/bench-results).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BENCH_BUILD_DIR:-$root/build-bench}
out=${QUARVEL_BENCH_OUT:-$build/bench-results}

"$root/scripts/install-deps.sh"
if ! command -v python3 >/dev/null; then
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends python3 >/dev/null
fi

# Tests stay configured (the end-to-end run uses their simulator launcher);
# only the benchmarks and what they need are built.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARVEL_BUILD_TESTS=ON \
    -DQUARVEL_BUILD_BENCH=ON >/dev/null
benches=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(bench_[A-Za-z0-9_]*\).*/\1/p' \
    | grep -v '_autogen$' | sort)
if [ -z "$benches" ]; then
    echo "no benchmarks (is libbenchmark-dev installed?)" >&2
    exit 1
fi
# The simulator too, for benchmarks that stream from it end to end.
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $benches kavrix-sim >/dev/null
export KAVRIX_SIM=$build/sim/kavrix-sim
export QUARVEL_SOURCE_DIR=$root

# The views need OpenGL: without a display every benchmark runs under a
# virtual X server (one per benchmark, xvfb-run -a picks a free number).
run=()
if [ -z "${DISPLAY:-}" ]; then
    run=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi

rm -rf "$out"
mkdir -p "$out"
status=0
for b in $benches; do
    exe=$(find "$build" -type f -name "$b" -perm -u+x | head -n 1)
    echo "running $b ..." >&2
    # A private port registry for benchmarks that start the simulator.
    runtime=$(mktemp -d)
    case $b in
    *_e2e)
        # Not a Google Benchmark program: the real main window against the
        # simulator, which prints its own figures; a clean and a hostile stream.
        seconds=${QUARVEL_BENCH_E2E_SECONDS:-20}
        XDG_RUNTIME_DIR=$runtime "$exe" --seconds "$seconds" --fps 100 >"$out/$b.clean.txt" 2>"$out/$b.clean.log" \
            || { echo "$b (clean) reported lost frames or failed; see $out/$b.clean.txt" >&2; status=1; }
        XDG_RUNTIME_DIR=$runtime "$exe" --seconds "$seconds" --fps 100 --chunk 16384 --chunk-random 3 \
            --chunk-gap 0 --garbage 300 --multi-frame 2 --marker-in-data --status10-every 10 \
            >"$out/$b.hostile.txt" 2>"$out/$b.hostile.log" \
            || { echo "$b (hostile) reported lost frames or failed; see $out/$b.hostile.txt" >&2; status=1; }
        # The point cloud window on a display, fed 30 and 60 frames/s.
        for fps in 30 60; do
            XDG_RUNTIME_DIR=$runtime "${run[@]}" "$exe" --seconds "$seconds" --fps $fps --pointcloud \
                >"$out/$b.pointcloud$fps.txt" 2>"$out/$b.pointcloud$fps.log" \
                || { echo "$b (point cloud, $fps/s) reported lost frames or failed; see $out/$b.pointcloud$fps.txt" >&2; status=1; }
        done
        ;;
    *_soak)
        # A QTest program: fails when a log is lost or memory grows.
        if ! XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen "$exe" >"$out/$b.txt" 2>&1; then
            echo "$b FAILED; see $out/$b.txt" >&2
            status=1
        fi
        ;;
    *)
        if ! XDG_RUNTIME_DIR=$runtime "${run[@]}" "$exe" --benchmark_out="$out/$b.json" \
                --benchmark_out_format=json "$@" >"$out/$b.log" 2>&1; then
            echo "$b FAILED; see $out/$b.log" >&2
            tail -n 20 "$out/$b.log" >&2
            status=1
        fi
        ;;
    esac
    rm -rf "$runtime"
done

python3 - "$out" <<'EOF'
import glob, json, os, re, sys

# Benchmark -> its baseline, measured in the same executable and run:
# (pattern, replacement), the baseline's name is re.sub(pattern, replacement, name)
# (options such as /iterations:3 or /real_time on either side do not matter).
BASELINES = [
    # frames: ingest against copying the bytes; table colouring against the
    # per-pixel QColor/setPixel way, mode for mode.
    (r"^BM_Ingest/\d+$", "BM_Memcpy"),
    (r"^BM_TableColour/(\d+)$", r"BM_PerPixelQColor/\1"),
    # logging: one M20 depth frame against flushing every line; the point text.
    (r"^BM_LogM20DepthFrame_FrameLogger$", "BM_LogM20DepthFrame_FlushPerLine"),
    (r"^BM_PointText_Fixed6$", "BM_PointText_QStringNumber"),
    # views: the picture window's frame against the image copy it includes.
    (r"^BM_PictureBoxSetImagePaint/.*$", "BM_ImageCopyBaseline"),
    # views: a point cloud redraw against clearing and showing the same window.
    (r"^BM_PointCloudUpdate/.*$", "BM_PointCloudEmptyRedraw"),
    # calibration: the three M20 files in blocks against flush-per-line writing.
    (r"^BM_SaveM20Files_Blocks$", "BM_SaveM20Files_FlushPerLine"),
]
# Without an entry above: a benchmark "X" (or "X/args") whose executable also
# has "X_Baseline" / "XBaseline" (with the same arguments) is compared to it.

OPTION = re.compile(r"^(iterations:\d+|real_time|process_time|min_time:[\d.]+s?|repeats:\d+|threads:\d+|manual_time)$")

def plain(name):
    """The name without Google Benchmark's option parts."""
    return "/".join(p for p in name.split("/") if not OPTION.match(p))

UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}

def fmt_time(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale or unit == "ns":
            return "%.3g %s" % (seconds / scale, unit)

def fmt_counter(name, value):
    if "rss" in name.lower() and value > 1 << 20:
        return "%s=%.1f MB" % (name, value / (1 << 20))
    if abs(value) >= 1e6 or (abs(value) < 0.01 and value != 0):
        return "%s=%.3g" % (name, value)
    return "%s=%.4g" % (name, value)

SKIP = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads", "iterations",
        "real_time", "cpu_time", "time_unit", "family_index", "per_family_instance_index",
        "aggregate_name", "aggregate_unit", "error_occurred", "error_message", "label",
        "bytes_per_second", "items_per_second"}

rows = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "bench_*.json"))):
    exe = os.path.basename(path)[:-5]
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError) as e:
        rows.append((exe, "(no results: %s)" % e, None, None, None, ""))
        continue
    runs = {}
    order = []
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        # With repetitions the median stands for the benchmark.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("run_type") == "iteration" and name in runs and runs[name].get("run_type") == "aggregate":
            continue
        if name not in runs:
            order.append(name)
        if b.get("run_type") == "aggregate" or name not in runs:
            runs[name] = b
    for name in order:
        b = runs[name]
        if b.get("error_occurred"):
            rows.append((exe, name, None, None, None, "ERROR: " + b.get("error_message", "")))
            continue
        scale = UNITS[b.get("time_unit", "ns")]
        real, cpu = b["real_time"] * scale, b["cpu_time"] * scale
        counters = [fmt_counter(k, v) for k, v in b.items()
                    if k not in SKIP and isinstance(v, (int, float)) and not isinstance(v, bool)]
        rows.append((exe, name, real, cpu, b, " ".join(counters)))

by_name = {(r[0], r[1]): r for r in rows if r[2] is not None}
by_plain = {(r[0], plain(r[1])): r[1] for r in rows if r[2] is not None}
def baseline_of(exe, name):
    key = plain(name)
    for pattern, repl in BASELINES:
        if re.match(pattern, key):
            return by_plain.get((exe, re.sub(pattern, repl, key)))
    family, _, args = key.partition("/")
    for suffix in ("_Baseline", "Baseline"):
        for candidate in (family + suffix + ("/" + args if args else ""), family + suffix):
            if (exe, candidate) in by_plain:
                return by_plain[(exe, candidate)]
    return None

baselines = set()
for exe, name, real, *_ in rows:
    if real is not None:
        b = baseline_of(exe, name)
        if b:
            baselines.add((exe, b))

def measured(row):
    # Benchmarks that time wall-clock (UseRealTime, I/O) are compared on it, the rest on CPU time.
    return row[2] if row[1].endswith("/real_time") or row[1].startswith("BM_PointCloudStream") else row[3]

header = ("benchmark", "real/iter", "cpu/iter", "vs baseline", "baseline", "counters")
table = []
for row in rows:
    exe, name, real, cpu, b, counters = row
    if real is None:
        table.append((exe + ": " + name, "-", "-", "-", "", counters))
        continue
    base = baseline_of(exe, name)
    ratio, base_text = "", ""
    if base:
        t, bt = measured(row), measured(by_name[(exe, base)])
        if t > 0 and bt > 0:
            ratio = ("%.1fx faster" % (bt / t)) if bt >= t else ("%.1fx slower" % (t / bt))
        base_text = base
    elif (exe, name) in baselines:
        ratio = "(baseline)"
    table.append((exe + ": " + name, fmt_time(real), fmt_time(cpu), ratio, base_text, counters))

widths = [max(len(str(r[i])) for r in table + [header]) for i in range(len(header) - 1)]
def line(r):
    text = "  ".join(str(c).ljust(w) if i == 0 or i >= 3 else str(c).rjust(w)
                     for i, (c, w) in enumerate(zip(r, widths))) + ("  " + r[-1] if r[-1] else "")
    return text.rstrip()
print(line(header))
print("-" * (sum(widths) + 2 * len(widths) + len("counters")))
for r in table:
    print(line(r))
print("\nRatios compare the benchmark with its baseline from the same run (wall-clock time for")
print("real_time and streaming benchmarks, CPU time otherwise). JSON: " + sys.argv[1])

# End-to-end runs: the main window against the simulated camera.
e2e = sorted(glob.glob(os.path.join(sys.argv[1], "bench_*_e2e.*.txt")))
if e2e:
    print("\nEnd to end, \"Kavrix M20\" depth frames into the real main window (offscreen):")
    head = ("run", "written", "to show", "shown", "lost", "delay median", "p95", "max", "rss before", "rss after", "peak rss")
    out = []
    for path in e2e:
        text = open(path).read()
        run = os.path.basename(path)[:-4]
        m = re.search(r"frames written (\d+) \(to be shown (\d+)\), announced by the window (\d+), lost (-?\d+)", text)
        d = re.search(r"median ([\d.]+)\s+p95 ([\d.]+)\s+p99 ([\d.]+)\s+max ([\d.]+)", text)
        mem = re.search(r"before streaming rss (\d+); after rss (\d+), peak (\d+)", text)
        if not m:
            out.append((run, "(no figures; see %s)" % path) + ("",) * (len(head) - 2))
            continue
        mb = lambda kib: "%.1f MB" % (int(kib) / 1024.0)
        out.append((run, m.group(1), m.group(2), m.group(3), m.group(4),
                    (d.group(1) + " ms") if d else "-", (d.group(2) + " ms") if d else "-",
                    (d.group(4) + " ms") if d else "-",
                    mb(mem.group(1)) if mem else "-", mb(mem.group(2)) if mem else "-",
                    mb(mem.group(3)) if mem else "-"))
    w = [max(len(str(r[i])) for r in out + [head]) for i in range(len(head))]
    for r in [head] + out:
        print("  ".join(str(c).ljust(w[i]) if i == 0 else str(c).rjust(w[i]) for i, c in enumerate(r)).rstrip())
    print("(written: frames the camera wrote, to show: those without status 10; delay: last byte written ->")
    print(" pictureReady; rss: resident set of the window's process before and after streaming, and its peak)")

for path in sorted(glob.glob(os.path.join(sys.argv[1], "bench_*_soak.txt"))):
    for soak in re.findall(r"soak: .*", open(path).read()):
        print("\n" + soak)
EOF
exit $status
