#!/usr/bin/env bash
# Measures how many small faults the test suite catches. Each fault listed in
# scripts/mutants.txt (name, file, original text, replacement) is applied in
# turn to a scratch copy of the sources, the copy is rebuilt incrementally and
# the tests run one by one (quick ones and those of the faulty file's folder
# first) until the first failure; then the file is restored.
# Prints one line per fault: caught (by which test), missed, or not applied.
#
#   scripts/mutation-sample.sh [fault name ...]
#
# Environment:
#   MUTANT_LIST     fault list (default scripts/mutants.txt)
#   MUTANT_SCRATCH  scratch folder, kept between runs so rebuilds stay small
#                   (default /tmp/quarvel-mutants)
#   MUTANT_EXCLUDE  ctest regex of tests not run (default: the package build)
#   MUTANT_BUDGET   seconds of testing per fault before it counts as missed (default 900)
#   MUTANT_REPORT   file the table is also written to (default <scratch>/report.txt)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=${MUTANT_LIST:-$root/scripts/mutants.txt}
scratch=${MUTANT_SCRATCH:-/tmp/quarvel-mutants}
exclude=${MUTANT_EXCLUDE:-tst_package}
budget=${MUTANT_BUDGET:-900}
report=${MUTANT_REPORT:-$scratch/report.txt}
src=$scratch/src
build=$scratch/build

# Widget tests that need OpenGL want a display.
if [ -z "${DISPLAY:-}" ] && [ -z "${MUTANT_UNDER_XVFB:-}" ]; then
    MUTANT_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

# Copy the tracked sources; unchanged files keep their time stamps.
mkdir -p "$src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard) >"$scratch/files"
python3 - "$root" "$src" "$scratch/files" <<'EOF'
import filecmp, os, shutil, sys
root, src, listing = sys.argv[1:]
files = [f for f in open(listing, 'rb').read().decode().split('\0') if f]
for f in files:
    a, b = os.path.join(root, f), os.path.join(src, f)
    if not os.path.isfile(a):
        continue
    if not os.path.exists(b) or not filecmp.cmp(a, b, shallow=False):
        os.makedirs(os.path.dirname(b), exist_ok=True)
        shutil.copy(a, b)  # a new time stamp: objects built since must be rebuilt
keep = set(files)
for d, _, names in os.walk(src):
    for n in names:
        rel = os.path.relpath(os.path.join(d, n), src)
        if rel not in keep:
            os.remove(os.path.join(d, n))
EOF

echo "source: $(git -C "$root" rev-parse --short HEAD) $(git -C "$root" status --porcelain | wc -l) local changes"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_BUILD_BENCH=OFF >/dev/null || exit 1
if ! cmake --build "$build" -j2 >"$scratch/build.log" 2>&1; then
    echo "the unmodified sources do not build; see $scratch/build.log"
    exit 1
fi

# Quick tests first: the order of the last clean run, fastest first.
tests=$(ctest --test-dir "$build" -N -E "$exclude" | sed -n 's/^ *Test *#[0-9]*: //p')
timings=$scratch/timings
if [ ! -s "$timings" ] || [ -n "${MUTANT_BASELINE:-}" ]; then
    echo "clean run for test timings"
    : >"$timings"
    for t in $tests; do
        start=$(date +%s.%N)
        if ctest --test-dir "$build" -R "^$t\$" >/dev/null 2>&1; then
            awk -v a="$start" -v b="$(date +%s.%N)" -v t="$t" 'BEGIN { printf "%.1f %s\n", b - a, t }' >>"$timings"
        else
            echo "BASELINE FAILURE: $t (left out)"
        fi
    done
fi
cmake --build "$build" --target help | sed -n 's/^\.\.\. \([A-Za-z0-9_-]*\).*/\1/p' >"$scratch/targets"
ordered=$(sort -n "$timings" | awk '{print $2}' | grep -Fxf <(printf '%s\n' $tests))

only=" $* "
printf '%-32s %-10s %-34s %6s\n' fault result test seconds | tee "$report"
caught=0
total=0
while IFS=$'\t' read -r name file original replacement; do
    case "$name" in '' | '#'*) continue ;; esac
    if [ $# -gt 0 ] && [[ "$only" != *" $name "* ]]; then
        continue
    fi
    total=$((total + 1))
    target=$src/$file
    start=$(date +%s)
    result=missed
    by=-
    cp -p "$target" "$scratch/original" 2>/dev/null || { result=no-file; }
    if [ "$result" = missed ]; then
        python3 - "$target" "$original" "$replacement" <<'EOF'
import sys
path, old, new = sys.argv[1:]
text = open(path).read()
if text.count(old) != 1:
    sys.exit(1)
open(path, 'w').write(text.replace(old, new))
EOF
        [ $? -eq 0 ] || result=not-applied
    fi
    if [ "$result" = missed ]; then
        # Tests of the faulty file's folder first; each test program is only
        # rebuilt when its turn comes, so an early catch costs one link.
        folder=${file%%/*}
        first=$(printf '%s\n' $ordered | grep -i -- "_${folder}_\\|_${folder}\$" || true)
        rest=$(printf '%s\n' $ordered | grep -vFx -f <(printf '%s\n' $first) || true)
        if ! cmake --build "$build" -j2 --target kavrix-sim quarvel >"$scratch/build-$name.log" 2>&1; then
            result=no-build
        fi
        for t in $first $rest; do
            [ "$result" = missed ] || break
            if [ $(($(date +%s) - start)) -gt "$budget" ]; then
                by="(budget spent)"
                break
            fi
            # A test named after its program is built alone; others need every program.
            program=$t
            grep -qx "$t" "$scratch/targets" || program=all
            if ! cmake --build "$build" -j2 --target "$program" >>"$scratch/build-$name.log" 2>&1; then
                result=no-build
                by=$t
                break
            fi
            if ! ctest --test-dir "$build" -R "^$t\$" --output-on-failure >"$scratch/test-$name.log" 2>&1; then
                # A failure that does not come again is the machine, not the fault.
                if ctest --test-dir "$build" -R "^$t\$" >/dev/null 2>&1; then
                    echo "$name: $t failed once, then passed" >>"$scratch/flaky.txt"
                    continue
                fi
                result=caught
                by=$t
                grep -q 'Timeout' "$scratch/test-$name.log" && by="$t (timeout)"
            fi
        done
        [ "$result" = no-build ] || rm -f "$scratch/build-$name.log"
    fi
    if [ -f "$scratch/original" ]; then
        # Restore the content; the new time stamp only costs a cached recompile.
        cp "$scratch/original" "$target"
        rm -f "$scratch/original"
    fi
    [ "$result" = caught ] && caught=$((caught + 1))
    printf '%-32s %-10s %-34s %6s\n' "$name" "$result" "$by" $(($(date +%s) - start)) | tee -a "$report"
done <"$list"
echo "caught $caught of $total" | tee -a "$report"
# Leave the scratch build matching the sources.
cmake --build "$build" -j2 >/dev/null 2>&1 || true
