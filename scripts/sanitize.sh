#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan).
# Any error report, leak included, fails the test that caused it and so the script.
#   scripts/sanitize.sh            build and run every test
#   scripts/sanitize.sh -R engine  only the tests matching a ctest regex
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DONDREL_SANITIZE=ON \
    -DONDREL_BUILD_QT=ON -DONDREL_BUILD_TESTS=ON >/dev/null
cmake --build build-asan -j2
export QT_QPA_PLATFORM=offscreen
# intercept_strndup=0: libxkbcommon-x11 (under the Xvfb panel tests) strndup()s a counted,
# unterminated buffer, which is valid C that this ASan's strndup check misreads as an overflow.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:intercept_strndup=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# libdbus (loaded by Qt's xcb platform under Xvfb) keeps a buffer until exit; not ours.
printf 'leak:libdbus-1.so\n' >build-asan/lsan.supp
export LSAN_OPTIONS=suppressions=$PWD/build-asan/lsan.supp:print_suppressions=0
ctest --test-dir build-asan --output-on-failure -j2 --timeout 600 -E '^format$' "$@"
