#!/usr/bin/env bash
# Kestrune against its peers: installs what is missing, builds kestserv (release), then runs the
# driver, which makes its own private network namespace. Run as root; arguments go to the driver
# (--quick for a short trial run, --help for the rest).
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" -ne 0 ]; then
    echo "bench: run as root (private network namespace, port 53)" >&2
    exit 1
fi

scripts/install-deps.sh --run-only
packages=(dnsperf knot nsd bind9 unbound dnsmasq-base util-linux iproute2 python3 python3-dnspython git)
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
fi

if [ -z "${KESTSERV:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C build-bench kestserv
    export KESTSERV="$PWD/build-bench/server/kestserv"
fi

exec /usr/bin/python3 bench/peers/bench.py "$@"
