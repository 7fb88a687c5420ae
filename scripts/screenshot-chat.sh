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
tocd_pid=
at_exit() {
    [ -n "$tocd_pid" ] && kill "$tocd_pid" 2>/dev/null && wait "$tocd_pid" 2>/dev/null
}
"$build/bin/tocd" --listen 127.0.0.1:0 >"$scratch/tocd.out" 2>"$scratch/tocd.log" &
tocd_pid=$!
for _ in $(seq 100); do
    grep -q "listening on" "$scratch/tocd.out" 2>/dev/null && break
    sleep 0.1
done
port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$scratch/tocd.out" | head -1)
[ -n "$port" ] || { echo "tocd did not start:" >&2; cat "$scratch/tocd.log" >&2; exit 1; }
echo "Ondrel4all" >"$scratch/password"

QT_QPA_PLATFORM=offscreen "$build/bin/chat_screenshot" "$port" "$scratch/password" "$out"
echo "Saved $out"
