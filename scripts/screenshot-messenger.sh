#!/usr/bin/env bash
# Retakes the README's picture of the messenger: starts a private tocd, runs the messenger under
# Xvfb signed on as a new user whose friends (made up by the messenger, one away, one idle) are
# on the list, chats with one of them, and saves the screen with the buddy list and the
# conversation. The CJK and emoji fonts must be installed for their lines to show.
# Usage: scripts/screenshot-messenger.sh [OUTPUT.png]   (default: docs/screenshot-messenger.png)
# ONDREL_BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-messenger.png}
source scripts/lib/screenshot.sh

screenshot_build tocd ondrel_messenger
start_tocd

# Settings in $scratch too: the user's own stay untouched.
run_under_xvfb 800x480 "$build/bin/ondrel-messenger" \
    --server "127.0.0.1:$port" --settings "$scratch/settings.ini" \
    --user "Robin Vale" --password-file "$scratch/password" --screenshot "$out"
echo "Saved $out"
