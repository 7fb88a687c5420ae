# Shared steps of the screenshot scripts, sourced from the repository root once `out` (the
# picture to write) is set: the build folder ($build, from ONDREL_BUILD_DIR, default build), a
# scratch folder ($scratch) removed at exit after the script's own at_exit, and a run under
# Xvfb that leaves the user's registration record, runtime folder and data (histories)
# untouched.

build=${ONDREL_BUILD_DIR:-build}
mkdir -p "$(dirname "$out")"
scratch=$(mktemp -d)
tocd_pid=
at_exit() { :; }
trap 'at_exit || :; [ -n "$tocd_pid" ] && kill "$tocd_pid" 2>/dev/null && wait "$tocd_pid" 2>/dev/null; rm -rf "$scratch"' EXIT

# screenshot_build TARGET...: installs what is missing, configures $build and builds TARGET...
screenshot_build() {
    scripts/install-deps.sh
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_QT=ON \
        -DONDREL_BUILD_TESTS=ON >/dev/null
    cmake --build "$build" --target "$@"
}

# run_under_xvfb WIDTHxHEIGHT PROGRAM ARG...: runs PROGRAM on a fresh Xvfb screen of that size,
# with a private registration record, runtime folder and data folder in $scratch.
run_under_xvfb() {
    local size=$1
    shift
    ONDREL_REGISTRY=$scratch/components.ini XDG_RUNTIME_DIR=$scratch \
        XDG_DATA_HOME=$scratch/data QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 ${size}x24" "$@"
}

# start_tocd: a private tocd from $build on a free loopback port, stopped at exit; sets $port
# and writes the password the pictures' sign-ons use to $scratch/password.
start_tocd() {
    "$build/bin/tocd" --listen 127.0.0.1:0 >"$scratch/tocd.out" 2>"$scratch/tocd.log" &
    tocd_pid=$!
    for _ in $(seq 100); do
        grep -q "listening on" "$scratch/tocd.out" 2>/dev/null && break
        sleep 0.1
    done
    port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$scratch/tocd.out" | head -1)
    [ -n "$port" ] || { echo "tocd did not start:" >&2; cat "$scratch/tocd.log" >&2; exit 1; }
    echo "Ondrel4all" >"$scratch/password"
}
