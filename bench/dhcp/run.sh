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

scripts/install-deps.sh --run-only
packages=(dnsmasq-base kea-dhcp4-server kea-admin nftables util-linux iproute2 python3)
missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
    # The benchmark starts its own Kea; the package's service would hold port 67.
    if command -v systemctl >/dev/null 2>&1; then
        systemctl disable --now kea-dhcp4-server >/dev/null 2>&1 || true
    fi
fi

if [ -z "${KESTSERV:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C build-bench kestserv
    export KESTSERV="$PWD/build-bench/server/kestserv"
fi

exec /usr/bin/python3 bench/dhcp/bench.py "$@"
