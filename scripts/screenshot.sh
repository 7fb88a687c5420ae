#!/usr/bin/env bash
# Retakes the README's picture of signpad: runs the panel under Xvfb and saves the window as
# the X server shows it (pixels outside the window's shape are transparent).
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default: docs/screenshot-signpad.png)
# ONDREL_BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-signpad.png}
source scripts/lib/screenshot.sh

screenshot_build signpad
run_under_xvfb 640x480 "$build/bin/signpad" --screenshot "$out"
echo "Saved $out"
