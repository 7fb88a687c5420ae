#!/usr/bin/env bash
# The main command: installs what is missing, builds, starts tocd on 127.0.0.1:5190 (or the
# port of --port N) unless a TOC2 server answers there already, registers the control (in
# ~/.config/Lantry/components.ini), then opens signpad; without a display it starts the
# terminal client instead, signed on and talking to echobot. The tocd it started stops when
# the panel (or the terminal client) ends; its accounts stay in
# ${XDG_DATA_HOME:-~/.local/share}/ondrel/tocd.db for the next run.
#
# Usage: scripts/run.sh [--port N]
#
# Environment: ONDREL_BUILD_DIR names the build folder (default build); ONDREL_USER and
# ONDREL_PASSWORD choose the terminal client's account on the local server (default newcomer /
# newcomer1; tocd creates an account at its first sign-on).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

port=5190
while (($#)); do
    case $1 in
        --port)
            port=${2:-}
            shift 2 || true
            ;;
        *)
            echo "Usage: scripts/run.sh [--port N]" >&2
            exit 2
            ;;
    esac
done
if ! [[ $port =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
    echo "run.sh: --port needs a number from 1 to 65535" >&2
    exit 2
fi

scripts/install-deps.sh
build=${ONDREL_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_QT=ON \
    -DONDREL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target tocd signpad ondrel_cli

bin=$root/$build/bin

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
# A TOC2 server answers the greeting with a sign-on frame: '*' and frame type 1.
answers_toc2() {
    (
        exec 3<>"/dev/tcp/127.0.0.1/$port" || exit 1
        printf 'FLAPON\r\n\r\n' >&3
        [[ $(timeout 3 head -c 2 <&3 | od -An -tx1 | tr -d ' \n') == 2a01 ]]
    ) 2>/dev/null
}

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
    if ! answers_toc2; then
        echo "Something listens on 127.0.0.1:$port but does not answer as a TOC2 server;" >&2
        echo "choose a free port: scripts/run.sh --port N" >&2
        exit 1
    fi
    echo "A TOC2 server already listens on 127.0.0.1:$port; using it."
else
    log=$root/$build/tocd.log
    data=${XDG_DATA_HOME:-$HOME/.local/share}/ondrel
    mkdir -p "$data"
    "$bin/tocd" --listen "127.0.0.1:$port" --db "$data/tocd.db" >"$log" 2>&1 &
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
    "$bin/signpad" --server "127.0.0.1:$port"
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
