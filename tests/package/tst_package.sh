#!/usr/bin/env bash
# Builds the .deb from a built tree and checks that every installed file is in it
# at its place and usable: binaries that start, an icon of the right size, a menu
# entry whose program and icon are in the package, the udev reload scripts and
# the dependencies dpkg-shlibdeps computed.
#   tst_package.sh <source dir> <build dir> <version> <1 when quarvel-cli is built>
set -uo pipefail
src=$1 build=$2 version=$3 cli=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

deb=$(QUARVEL_BUILD_DIR=$build "$src/scripts/package.sh" --built "$work/out") || { echo "FAIL: no package"; exit 1; }
[ "$(basename "$deb")" = "quarvel_${version}_$(dpkg --print-architecture).deb" ] || fail "package file name $deb"
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"

programs=(quarvel kavrix-sim)
[ "$cli" = 1 ] && programs+=(quarvel-cli)
files=(
    usr/lib/udev/rules.d/70-kavrix.rules
    usr/share/applications/quarvel.desktop
    usr/share/metainfo/org.kavrix.quarvel.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/quarvel.svg
    usr/share/icons/hicolor/64x64/apps/quarvel.png
    usr/share/doc/quarvel/copyright
    usr/share/doc/quarvel/changelog.gz
)
for p in "${programs[@]}"; do
    files+=("usr/bin/$p" "usr/share/man/man1/$p.1.gz")
    [ -x "$root/usr/bin/$p" ] || fail "usr/bin/$p is not executable"
    gzip -t "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null || fail "man page of $p is no gzip file"
done
for f in "${files[@]}"; do
    [ -f "$root/$f" ] || fail "missing /$f"
done
# Nothing else: a stray file would be left to dpkg to own by accident.
extra=$(cd "$root" && find . -type f | sed 's|^\./||' | sort | comm -23 - <(printf '%s\n' "${files[@]}" | sort))
[ -z "$extra" ] || fail "unexpected files: $extra"
dpkg-deb -c "$deb" | awk '$2 != "root/root" { print "FAIL: not owned by root: " $0; bad = 1 } END { exit bad }' ||
    failures=$((failures + 1))

# The stripped, packaged binaries still start.
"$root/usr/bin/kavrix-sim" --help >/dev/null 2>&1 || fail "packaged kavrix-sim --help"

[ "$(od -An -tx1 -j16 -N8 "$root/usr/share/icons/hicolor/64x64/apps/quarvel.png" | tr -d ' \n')" = 0000004000000040 ] ||
    fail "the PNG icon is not 64 x 64"
desktop=$root/usr/share/applications/quarvel.desktop
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ -n "$exec_name" ] && [ -f "$root/usr/bin/$exec_name" ] && [ -x "$root/usr/bin/$exec_name" ] || fail "the menu entry starts '$exec_name', which is not in /usr/bin"
[ -n "$icon_name" ] && [ -f "$root/usr/share/icons/hicolor/64x64/apps/$icon_name.png" ] || fail "the menu entry's icon '$icon_name' is not installed"
grep -q '^Categories=.*Science;.*Engineering;' "$desktop" || fail "menu categories lack Science and Engineering"
grep -q '<launchable type="desktop-id">quarvel.desktop</launchable>' \
    "$root/usr/share/metainfo/org.kavrix.quarvel.metainfo.xml" || fail "metainfo does not launch quarvel.desktop"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.kavrix.quarvel.metainfo.xml" ||
    fail "metainfo release is not $version"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quarvel ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version)"
depends=$(field Depends)
for lib in libc6 libqt5serialport5 libudev1; do
    [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == "$lib" ]] || fail "Depends lacks $lib: $depends"
done
scripts=$(cd "$work/control" && ls | grep -v -x -e control -e md5sums | tr '\n' ' ')
[ "$scripts" = "postinst postrm " ] || fail "maintainer scripts are '$scripts', not postinst and postrm"
for s in postinst postrm; do
    [ -x "$work/control/$s" ] || fail "$s is not executable"
    grep -q 'udevadm control --reload-rules' "$work/control/$s" || fail "$s does not reload the udev rules"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failed checks"
    exit 1
fi
echo "package $deb: all files in place"
