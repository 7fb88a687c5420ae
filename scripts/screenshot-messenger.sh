#!/usr/bin/env bash
# Retakes the README's picture of the messenger: starts a private tocd, runs the messenger under
# Xvfb signed on as a new user who says hello to echobot, and saves the screen with the buddy
# list and the conversation.
# Usage: scripts/screenshot-messenger.sh [OUTPUT.png]   (default: docs/screenshot-messenger.png)
# ONDREL_BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-messenger.png}
source scripts/lib/screenshot.sh

screenshot_build tocd ondrel_messenger
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

# Settings in $scratch too: the user's own stay untouched.
run_under_xvfb 800x480 "$build/bin/ondrel-messenger" \
    --server "127.0.0.1:$port" --settings "$scratch/settings.ini" \
    --user "Robin Vale" --password-file "$scratch/password" --screenshot "$out"
echo "Saved $out"
