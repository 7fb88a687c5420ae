#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with; only missing ones.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libqt6sql6-sqlite libsqlite3-dev libsodium-dev qtkeychain-qt6-dev
    scdoc lintian desktop-file-utils appstream dpkg-dev file systemd
    libncurses-dev libvterm-dev
    xvfb xauth fonts-liberation fonts-noto-cjk fonts-noto-color-emoji dbus-daemon
    clang libclang-rt-14-dev valgrind gnuplot-nox
    python3 curl
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
