#!/usr/bin/env bash
# DHCP benchmark: Kestrune against dnsmasq and Kea, driven by perfdhcp. Installs what is missing,
# builds kestserv (release) unless $KESTSERV names one, then runs the driver, which makes its own
# private network namespaces. Run as root; arguments go to the driver (--help).
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" -ne 0 ]; then
    echo "bench: run as root (network namespaces, port 67)" >&2
    exit 1
fi

# The peers; their system services are neither started nor enabled.
packages=(dnsmasq-base kea-dhcp4-server kea-admin nftables util-linux iproute2 python3)
scripts/install-deps.sh --run-only "${packages[@]}"

if [ -z "${KESTSERV:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C build-bench kestserv
    export KESTSERV="$PWD/build-bench/server/kestserv"
fi

exec /usr/bin/python3 bench/dhcp/bench.py "$@"
