#!/usr/bin/env bash
# Builds the Debian package quarvel_<version>_<arch>.deb and prints its path.
#   scripts/package.sh [output folder]            installs what is missing, builds, packages
#   scripts/package.sh --built <output folder>    packages the build tree as it is
# Install it with "sudo apt install ./quarvel_<version>_<arch>.deb".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_BUILD_DIR:-$root/build}

built=0
if [ "${1:-}" = "--built" ]; then
    built=1
    shift
fi
out=$(realpath -m "${1:-$build/package}")

if [ "$built" = 0 ]; then
    "$root/scripts/install-deps.sh"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" -j"$(nproc)" --target quarvel-install-files >&2
fi

mkdir -p "$out"
rm -f "$out"/quarvel_*.deb
log="$out/cpack.log"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
rm -rf "$out/_CPack_Packages"
deb=$(find "$out" -maxdepth 1 -name 'quarvel_*.deb' -print -quit)
[ -n "$deb" ] || { cat "$log" >&2; echo "package.sh: cpack made no package" >&2; exit 1; }
echo "$deb"
