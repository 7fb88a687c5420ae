#!/usr/bin/env bash
# Retakes the README's picture of signpad: runs the panel under Xvfb and saves the window as
# the X server shows it (pixels outside the window's shape are transparent).
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default: docs/screenshot-signpad.png)
# ONDREL_BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-signpad.png}

scripts/install-deps.sh
build=${ONDREL_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_QT=ON \
    -DONDREL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target signpad

mkdir -p "$(dirname "$out")"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A private registration record and runtime folder: the user's own stay untouched.
ONDREL_REGISTRY=$scratch/components.ini XDG_RUNTIME_DIR=$scratch QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 640x480x24" "$build/bin/signpad" --screenshot "$out"
echo "Saved $out"
