#!/usr/bin/env bash
# Builds the .deb and checks it as Debian would: desktop-file-validate and
# appstreamcli validate on the files it installs, lintian (no errors allowed,
# warnings printed). As root it also installs the package, starts the installed
# quarvel under a virtual X server against the installed kavrix-sim, as an
# ordinary user and as root, and removes the package again, checking that
# nothing is left.
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
        dpkg --purge quarvel >/dev/null 2>&1 || true
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

start_as() { # <user> <home> <program...>, in a background job, which becomes the program itself
    local user=$1 home=$2
    shift 2
    exec setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/run" DISPLAY="$display" "$@"
}
wait_for() { # <pattern> <file>
    for _ in $(seq 150); do
        grep -q "$1" "$2" && return 0
        sleep 0.1
    done
    echo "no '$1' in $2:" >&2
    cat "$2" >&2
    return 1
}
stop() { # <pid>
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
# Starts the installed quarvel as <user> against the installed kavrix-sim and
# checks that it finds the camera and keeps its files in the per-user data folder.
run_installed() { # <user>
    local user=$1 home=$work/home-$1 sim_pid quarvel_pid
    mkdir -p "$home/run"
    chmod 700 "$home/run"
    chown -R "$user" "$home"
    start_as "$user" "$home" /usr/bin/kavrix-sim --model m20 >"$home/sim.log" 2>&1 </dev/null &
    sim_pid=$!
    pids+=("$sim_pid")
    wait_for '^plugged' "$home/sim.log"
    start_as "$user" "$home" /usr/bin/quarvel >"$home/quarvel.log" 2>&1 </dev/null &
    quarvel_pid=$!
    pids+=("$quarvel_pid")
    wait_for '^device Initialize type 3' "$home/quarvel.log"
    wait_for '^applicationDirPath' "$home/quarvel.log"
    sleep 2
    kill -0 "$quarvel_pid" 2>/dev/null || { echo "quarvel did not keep running:" >&2; cat "$home/quarvel.log" >&2; exit 1; }
    stop "$quarvel_pid"
    stop "$sim_pid"
    grep -q "^applicationDirPath \"$home/.local/share/Kavrix/Quarvel\"" "$home/quarvel.log" ||
        { echo "quarvel run by $user does not use its per-user data folder:" >&2; grep '^applicationDirPath' "$home/quarvel.log" >&2; exit 1; }
    echo "quarvel run by $user found the camera and uses $home/.local/share/Kavrix/Quarvel"
}
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for '^[0-9]' "$work/display"
display=:$(head -1 "$work/display")
echo "== start the installed quarvel against the installed kavrix-sim"
run_installed nobody
# An administrator could write to /usr/bin, but an installed copy stays out of it.
run_installed root

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
# dpkg keeps the removal script for a later purge: purge, as this machine was before.
dpkg --purge quarvel >/dev/null
echo "== package installs, runs and removes cleanly"
