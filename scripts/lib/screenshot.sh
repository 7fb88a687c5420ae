# Shared steps of the screenshot scripts, sourced from the repository root once `out` (the
# picture to write) is set: the build folder ($build, from ONDREL_BUILD_DIR, default build), a
# scratch folder ($scratch) removed at exit after the script's own at_exit, and a run under
# Xvfb that leaves the user's registration record and runtime folder untouched.

build=${ONDREL_BUILD_DIR:-build}
mkdir -p "$(dirname "$out")"
scratch=$(mktemp -d)
at_exit() { :; }
trap 'at_exit || :; rm -rf "$scratch"' EXIT

# screenshot_build TARGET...: installs what is missing, configures $build and builds TARGET...
screenshot_build() {
    scripts/install-deps.sh
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_QT=ON \
        -DONDREL_BUILD_TESTS=ON >/dev/null
    cmake --build "$build" --target "$@"
}

# run_under_xvfb WIDTHxHEIGHT PROGRAM ARG...: runs PROGRAM on a fresh Xvfb screen of that size,
# with a private registration record and runtime folder in $scratch.
run_under_xvfb() {
    local size=$1
    shift
    ONDREL_REGISTRY=$scratch/components.ini XDG_RUNTIME_DIR=$scratch QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 ${size}x24" "$@"
}
