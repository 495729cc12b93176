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

# The peers; their system services are neither started nor enabled.
packages=(dnsperf knot nsd bind9 unbound dnsmasq-base util-linux iproute2 python3 python3-dnspython git)
scripts/install-deps.sh --run-only "${packages[@]}"

if [ -z "${KESTSERV:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C build-bench kestserv
    export KESTSERV="$PWD/build-bench/server/kestserv"
fi

exec /usr/bin/python3 bench/peers/bench.py "$@"
