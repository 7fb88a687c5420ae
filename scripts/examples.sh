#!/usr/bin/env bash
# Installs libondrel into a temporary prefix and builds examples/ against the installed
# package the way a user's project would: once with find_package(Ondrel), once with
# pkg-config. Then runs the console example against a closed local port, which must end by
# itself with a WinsockError. Usage: scripts/examples.sh [EXISTING_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build=${1:-}
if [ -z "$build" ]; then
    build=$work/build
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target ondrel ondrel_cli man_pages -j2
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
echo "examples: built against the installed package and ran"
