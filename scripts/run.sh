#!/usr/bin/env bash
# The main command: installs what is missing, builds, starts tocd on 127.0.0.1:5190 (unless
# something listens there already), then opens signpad; without a display it starts the
# terminal client instead, signed on and talking to echobot. The tocd it started stops when
# the panel (or the terminal client) ends.
#
# Environment: ONDREL_BUILD_DIR names the build folder (default build); ONDREL_USER and
# ONDREL_PASSWORD choose the terminal client's account on the local server (default newcomer /
# newcomer1; tocd creates an account at its first sign-on).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
build=${ONDREL_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_QT=ON \
    -DONDREL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target tocd signpad ondrel_cli

bin=$root/$build/bin
port=5190

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

tocd_pid=""
feed_pid=""
cleanup() {
    if [[ -n $feed_pid ]]; then kill "$feed_pid" 2>/dev/null || true; fi
    if [[ -n $tocd_pid ]]; then
        kill "$tocd_pid" 2>/dev/null || true
        wait "$tocd_pid" 2>/dev/null || true
        echo "Stopped the tocd started for this session."
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if listening; then
    echo "Something already listens on 127.0.0.1:$port; using it as the TOC2 server."
else
    log=$root/$build/tocd.log
    "$bin/tocd" --listen "127.0.0.1:$port" >"$log" 2>&1 &
    tocd_pid=$!
    for _ in $(seq 1 100); do
        listening && break
        if ! kill -0 "$tocd_pid" 2>/dev/null; then
            tocd_pid=""
            echo "tocd did not start; its log ($log) says:" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.1
    done
    if ! listening; then
        echo "tocd did not listen on 127.0.0.1:$port within 10 seconds; see $log" >&2
        exit 1
    fi
    echo "tocd is listening on 127.0.0.1:$port (log: $log)."
fi

"$bin/ondrel" register >/dev/null

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    echo "Opening signpad. Type any screen name and password and click Login: the local"
    echo "server creates the account at its first sign-on. Close the panel with its top-left"
    echo "corner."
    "$bin/signpad"
else
    user=${ONDREL_USER:-newcomer}
    password_file=$(mktemp)
    chmod 600 "$password_file"
    printf '%s\n' "${ONDREL_PASSWORD:-newcomer1}" >"$password_file"
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set), so signpad cannot open."
    echo "Starting the terminal client instead, signed on as \"$user\" and greeting echobot,"
    echo "which answers every message. /help lists the commands, /quit ends."
    # The greeting goes first (the client runs it once signed on), then everything typed here.
    exec {feed}< <(printf '/im echobot hello\n'; exec cat)
    feed_pid=$!
    status=0
    "$bin/ondrel" chat --server "127.0.0.1:$port" --user "$user" \
        --password-file "$password_file" <&"$feed" || status=$?
    rm -f "$password_file"
    exit "$status"
fi
