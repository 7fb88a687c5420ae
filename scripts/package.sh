#!/usr/bin/env bash
# Builds the Debian packages (libondrel2, libondrel-dev, ondrel, ondrel-messenger, signpad,
# tocd) with CPack into BUILD/packages, checks them with lintian (any error fails) and lists
# each with its size and dependencies. With --install-check it then installs them with dpkg
# (as root), runs every program's --help and a sign-on of the installed `ondrel` on the
# installed `tocd`, verifies the systemd unit, and removes the packages again.
#
# Environment: ONDREL_PACKAGE_DIR names the build folder (default build-deb).
set -euo pipefail
cd "$(dirname "$0")/.."
install_check=false
[[ ${1:-} == --install-check ]] && install_check=true

scripts/install-deps.sh
build=${ONDREL_PACKAGE_DIR:-build-deb}
# Installed under /usr the library lies where the loader looks: the programs carry no run path.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DONDREL_BUILD_TESTS=OFF -DONDREL_DEBIAN=ON -DCMAKE_SKIP_INSTALL_RPATH=ON >/dev/null
cmake --build "$build" --parallel 2
out=$PWD/$build/packages
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
debs=("$out"/*.deb)

echo "lintian:"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" || {
    echo "package.sh: lintian reports errors" >&2
    exit 1
}
echo "packages:"
for deb in "${debs[@]}"; do
    dpkg-deb --show --showformat='  ${Package} ${Version}: ${Installed-Size} KiB installed, ' "$deb"
    echo "$(stat -c %s "$deb") bytes as .deb"
    dpkg-deb --show --showformat='    Depends: ${Depends}\n    Recommends: ${Recommends}\n' "$deb"
done

$install_check || exit 0

names=(libondrel2 libondrel-dev ondrel ondrel-messenger signpad tocd)
work=$(mktemp -d)
tocd_pid=""
cleanup() {
    [[ -n $tocd_pid ]] && kill "$tocd_pid" 2>/dev/null
    dpkg --purge "${names[@]}" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
dpkg -i "${debs[@]}" >/dev/null
for program in tocd ondrel ondrel-messenger signpad; do
    QT_QPA_PLATFORM=offscreen "/usr/bin/$program" --help >/dev/null
    echo "installed $program --help: ok"
done
systemd-analyze verify /lib/systemd/system/tocd.service
echo "systemd-analyze verify tocd.service: ok"
if systemctl is-enabled tocd >/dev/null 2>&1 || systemctl is-active tocd >/dev/null 2>&1; then
    echo "package.sh: installing the package enabled or started tocd" >&2
    exit 1
fi

/usr/bin/tocd --listen 127.0.0.1:0 --password-cost min --db "$work/accounts.db" \
    >"$work/tocd.out" 2>"$work/tocd.log" &
tocd_pid=$!
for _ in $(seq 1 100); do
    grep -qs 'listening on' "$work/tocd.out" && break
    sleep 0.1
done
port=$(sed -n 's/.*listening on [^:]*:\([0-9]*\).*/\1/p' "$work/tocd.out")
printf 'secret1\n/im echobot hello\n' |
    /usr/bin/ondrel chat --server "127.0.0.1:$port" --user packaged >"$work/chat.log"
grep -q 'Signed on as packaged' "$work/chat.log"
grep -q '<EchoBot> hello' "$work/chat.log"
echo "installed ondrel signed on to the installed tocd and heard echobot: ok"
/usr/bin/tocd accounts list --db "$work/accounts.db" | grep -q '^packaged '
echo "installed tocd accounts list: ok"
