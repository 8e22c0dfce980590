#!/usr/bin/env bash
# Builds the .deb and checks it as Debian would: desktop-file-validate and
# appstreamcli validate on the files it installs, lintian (no errors allowed,
# warnings printed). As root it also installs the package, starts the installed
# quarvel as an ordinary user under a virtual X server against the installed
# kavrix-sim, and removes the package again, checking that nothing is left.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d -t quarvel-check-package.XXXXXX)
chmod 755 "$work"
installed=0
pids=()
cleanup() {
    status=$?
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ "$installed" = 1 ]; then
        dpkg -r quarvel >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

"$root/scripts/install-deps.sh" lintian desktop-file-utils appstream
deb=$("$root/scripts/package.sh" "$work/out")
echo "== $deb"
dpkg-deb -x "$deb" "$work/root"

echo "== desktop-file-validate"
desktop-file-validate "$work/root/usr/share/applications/quarvel.desktop"
echo "== appstreamcli validate"
appstreamcli validate --no-net --explain "$work/root/usr/share/metainfo/"*.metainfo.xml
echo "== lintian"
lintian --fail-on error --info "$deb"

if [ "$(id -u)" -ne 0 ]; then
    echo "== not root: the package is not installed here"
    exit 0
fi

echo "== install"
if dpkg-query -W -f='${Status}' quarvel 2>/dev/null | grep -q "install ok installed"; then
    echo "quarvel is already installed on this machine: leaving it alone" >&2
    exit 1
fi
installed=1
dpkg -i "$deb"
dpkg -L quarvel >"$work/files"
for p in quarvel kavrix-sim; do
    [ "$(command -v "$p")" = "/usr/bin/$p" ] || { echo "$p is not on the PATH" >&2; exit 1; }
done
# The installed desktop files as the desktop reads them.
desktop-file-validate /usr/share/applications/quarvel.desktop
appstreamcli validate --no-net /usr/share/metainfo/org.kavrix.quarvel.metainfo.xml >/dev/null

echo "== start the installed quarvel as an ordinary user against the installed kavrix-sim"
home=$work/home
mkdir -p "$home"
chown nobody "$home"
start_as_user() { # in a background job, which becomes the program itself
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR= DISPLAY="${display:-}" "$@"
}
wait_for() { # <pattern> <file>
    for _ in $(seq 100); do
        grep -q "$1" "$2" && return 0
        sleep 0.1
    done
    cat "$2" >&2
    return 1
}
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for '^[0-9]' "$work/display"
display=:$(head -1 "$work/display")
start_as_user /usr/bin/kavrix-sim --model m20 >"$work/sim.log" 2>&1 </dev/null &
pids+=($!)
wait_for '^plugged' "$work/sim.log"
start_as_user /usr/bin/quarvel >"$work/quarvel.log" 2>&1 </dev/null &
quarvel_pid=$!
pids+=("$quarvel_pid")
sleep 8
kill -0 "$quarvel_pid" 2>/dev/null || { echo "quarvel did not keep running:" >&2; cat "$work/quarvel.log" >&2; exit 1; }
grep -q '^device Initialize type 3' "$work/quarvel.log" ||
    { echo "quarvel did not find the simulated Kavrix M20:" >&2; cat "$work/quarvel.log" >&2; exit 1; }
data_dir=$home/.local/share/Kavrix/Quarvel
grep -q "applicationDirPath \"$data_dir\"" "$work/quarvel.log" ||
    { echo "quarvel does not use the per-user data folder $data_dir:" >&2; cat "$work/quarvel.log" >&2; exit 1; }
echo "quarvel ran, found the camera and uses $data_dir"

echo "== remove"
dpkg -r quarvel
installed=0
left=0
while read -r path; do
    if [ -e "$path" ] && [ ! -d "$path" ]; then
        echo "left behind: $path" >&2
        left=1
    fi
done <"$work/files"
[ "$left" = 0 ]
echo "== package installs, runs and removes cleanly"
