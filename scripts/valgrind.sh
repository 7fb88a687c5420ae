#!/usr/bin/env bash
# The end-to-end tests and the fault tests under valgrind memcheck: any invalid access or use
# of uninitialised memory, and any definite leak, fails the script.
#   scripts/valgrind.sh                 uses ./build (what scripts/test.sh builds)
#   BUILD_DIR=build-perf scripts/valgrind.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_QT=ON \
        -DONDREL_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" -j2 --target e2e_tests robustness_tests
export QT_QPA_PLATFORM=offscreen
status=0
for t in e2e_tests robustness_tests; do
    log=$build/valgrind-$t.log
    echo "== $t under memcheck (log: $log)"
    if ! valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite --show-leak-kinds=definite --track-origins=yes \
        --num-callers=30 --log-file="$log" "$build/bin/$t" --gtest_brief=1; then
        status=1
        echo "!! $t: memcheck or the tests failed" >&2
    fi
    grep -E "ERROR SUMMARY|definitely lost" "$log" | head -2
done
exit $status
