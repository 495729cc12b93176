#!/usr/bin/env bash
# Installs with apt-get whatever Debian packages the build, the tests or the server need and are
# not there yet. Run as root. Usage: install-deps.sh [--run-only | --package-only] [PACKAGE...];
# the packages named (the benchmarks' peers) come on top of the chosen set.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    python3 python3-pytest python3-dnspython
    bind9-dnsutils knot-dnsutils
    iproute2 util-linux procps
    nsd knot bind9
    xvfb xauth dbus dbus-bin dbus-x11 at-spi2-core python3-pyatspi
    dpkg-dev lintian desktop-file-utils appstream man-db adduser libcap2-bin
    x11-apps netpbm xdotool
    udhcpc isc-dhcp-client
)
case "${1:-}" in
    --run-only)
        packages=(build-essential cmake ninja-build qt6-base-dev libgl-dev libgtest-dev libgmock-dev)
        shift ;;
    --package-only)
        packages=(build-essential cmake ninja-build qt6-base-dev libgl-dev libgtest-dev libgmock-dev
                  dpkg-dev)
        shift ;;
esac
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done

# The peer servers are only run by the tests, inside private namespaces: their packages must not
# start (or enable) system services that would take port 53 from kestserv.
declare -A peer_service=([bind9]=named [nsd]=nsd [knot]=knot [unbound]=unbound
                         [kea-dhcp4-server]=kea-dhcp4-server)
policy=/usr/sbin/policy-rc.d
made_policy=0

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' > "$policy"
        chmod 755 "$policy"
        made_policy=1
        trap 'rm -f "$policy"' EXIT
    fi
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
    if [ "$made_policy" = 1 ]; then
        rm -f "$policy"
        trap - EXIT
    fi
    if command -v systemctl >/dev/null 2>&1; then
        for p in "${missing[@]}"; do
            s=${peer_service[$p]:-}
            [ -n "$s" ] && { systemctl disable --now "$s" >/dev/null 2>&1 || true; }
        done
    fi
fi
