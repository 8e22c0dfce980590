#!/usr/bin/env bash
# Installs every Debian package Quarvel needs to build, test and run, and the
# extra packages named as arguments (for example the package checkers in CI).
# Idempotent: quiet and quick when everything is already present.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libgl-dev
    libqwt-qt5-dev
    libudev-dev
    xvfb xauth
    libbenchmark-dev
    clang libclang-rt-14-dev
    pcl-tools
    librsvg2-bin
    # Debian's default interface font, and one with the full-width forms
    # (the inspector's "X：") that DejaVu lacks.
    fonts-dejavu-core fonts-wqy-microhei
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
