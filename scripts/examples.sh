#!/usr/bin/env bash
# Installs libondrel into a temporary prefix and builds examples/ against the installed
# package the way a user's project would: once with find_package(Ondrel), once with
# pkg-config. Then runs the console example against a closed local port, which must end by
# itself with a WinsockError, and the Python bot (examples/bridge_bot.py) on the installed
# `ondrel bridge` against tocd, once with a bridge of its own and twice on one daemon, whose
# session outlives the first run. Usage: scripts/examples.sh [EXISTING_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

build=${1:-}
if [ -z "$build" ]; then
    build=$work/build
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target ondrel ondrel_cli tocd man_pages -j2
prefix=$work/prefix
# What the packages libondrel2, libondrel-dev and ondrel hold.
for component in libondrel2 libondrel-dev ondrel; do
    cmake --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
echo "installed: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"

cmake -S "$root/examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/examples" -j2

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
[ "$(pkg-config --modversion ondrel)" = "2.0.0.0" ]
# shellcheck disable=SC2046
c++ -std=c++20 -fPIC -Wall -Wextra -Werror "$root/examples/console_signon.cpp" \
    $(pkg-config --cflags --libs ondrel) -Wl,-rpath,"$prefix/lib" -o "$work/console_pc"

# Port 1 on 127.0.0.1 refuses connections: the program reports it and stops by itself.
for program in "$work/examples/ondrel_console" "$work/console_pc" "$work/examples/ondrel_minimal_console"; do
    set +e
    out=$(timeout 20 "$program" 127.0.0.1 1 someone secret 10)
    rc=$?
    set -e
    echo "$out"
    if [ "$rc" -ne 1 ] || ! grep -q '^WinsockError' <<<"$out"; then
        echo "examples: $program did not report the refused connection (exit $rc)" >&2
        exit 1
    fi
done
# The installed program registers the installed library, found next to it.
record=$work/components.ini
ONDREL_REGISTRY=$record "$prefix/bin/ondrel" register
library=$(grep -o 'Library=.*' "$record" | head -1 | cut -d= -f2-)
case "$library" in
"$prefix"/lib*/libondrel.so*) ;;
*)
    echo "examples: the installed ondrel registered '$library', not the installed library" >&2
    exit 1
    ;;
esac

# The bot on the installed bridge, asked by a second bridge client as a person would.
"$build/bin/tocd" --listen 127.0.0.1:0 --password-cost min --open-registration-rate 0 >"$work/tocd.out" 2>"$work/tocd.log" &
pids+=($!)
for _ in $(seq 50); do grep -q 'listening on' "$work/tocd.out" && break; sleep 0.2; done
port=$(sed -n 's/^tocd listening on .*:\([0-9]*\)$/\1/p' "$work/tocd.out")
ondrel=$prefix/bin/ondrel
export PYTHONDONTWRITEBYTECODE=1
ask() { # ask USER: !echo and !reverse, each answered as typed
    python3 - "$root/examples" "$ondrel" "$port" "$1" <<'PY'
import sys, time
sys.path.insert(0, sys.argv[1])
from bridge_bot import Bridge, BridgeError
ondrel, port, user = sys.argv[2], int(sys.argv[3]), sys.argv[4]
me = Bridge.spawn(ondrel, ["--text", "plain", "--events", "LoggedIn,InstantMessage,Error"])
me.call("Login", user, "pw", "127.0.0.1", port)
event = me.next_event(10)
while event and event[0] != "LoggedIn":
    event = me.next_event(10)
assert event, f"{user} did not sign on"
for question, expected in [("!echo <3 & <b>x</b>", "<3 & <b>x</b>"), ("!reverse abc", "cba")]:
    for _ in range(40):  # the bot may still be signing on: the server says it is not online
        me.call("SendIM", "examplebot", question, False)
        event = me.next_event(10)
        if event and event[0] == "InstantMessage":
            break
        time.sleep(0.5)
    print(f"{user} > {question!r}   examplebot < {event[1]['strMessage']!r}")
    assert event[1]["strMessage"] == expected, event
me.close()
PY
}
ONDREL_PASSWORD=botpw python3 "$root/examples/bridge_bot.py" --ondrel "$ondrel" \
    --server "127.0.0.1:$port" --user examplebot 2>"$work/bot.log" &
bot=$!
pids+=($bot)
ask asker1
kill "$bot"
wait "$bot" || true

socket=$work/bridge.sock
"$ondrel" bridge --text plain --listen "unix:$socket" 2>"$work/daemon.log" &
daemon=$!
pids+=($daemon)
for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.2; done
for run in 1 2; do
    ONDREL_PASSWORD=botpw python3 "$root/examples/bridge_bot.py" --socket "$socket" \
        --server "127.0.0.1:$port" --user examplebot 2>>"$work/bot.log" &
    bot=$!
    pids+=($bot)
    ask "asker$((run + 1))"
    kill "$bot"
    wait "$bot" || true
done
grep -q 'the session is signed on already, as examplebot' "$work/bot.log"
kill -TERM "$daemon"
wait "$daemon"
[ ! -e "$socket" ]
cat "$work/bot.log" "$work/daemon.log"
echo "examples: built against the installed package and ran, and the Python bot answered"
