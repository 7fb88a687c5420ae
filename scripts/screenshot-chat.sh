#!/usr/bin/env bash
# Retakes the README's picture of `ondrel chat` full screen: starts a private tocd, runs the
# client on a pseudo-terminal (signed on as a new user who talks to echobot, a room and a
# second person), renders what it drew with libvterm and paints the screen to a PNG.
# Usage: scripts/screenshot-chat.sh [OUTPUT.png]   (default: docs/screenshot-chat.png)
# ONDREL_BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-chat.png}
source scripts/lib/screenshot.sh

screenshot_build tocd ondrel_cli chat_screenshot
start_tocd

QT_QPA_PLATFORM=offscreen "$build/bin/chat_screenshot" "$port" "$scratch/password" "$out"
echo "Saved $out"
