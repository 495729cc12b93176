#!/usr/bin/env bash
# Zone transfer benchmark: a 100,000-record zone out of Kestrune, BIND 9 and Knot to the same
# kdig AXFR client (xfr_out.py), then into Kestrune and into BIND from the same Knot primary
# (xfr_in.py). Installs what is missing, builds kestserv (release) unless $KESTSERV
# is set. Run as root; the drivers make their own private network namespace. Arguments go to
# each driver (--records N, --rounds N).
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" -ne 0 ]; then
    echo "bench: run as root (private network namespace, port 53)" >&2
    exit 1
fi

# The peers; their system services are neither started nor enabled.
packages=(knot knot-dnsutils bind9 iproute2 python3 python3-dnspython)
scripts/install-deps.sh --run-only "${packages[@]}"

if [ -z "${KESTSERV:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    ninja -C build-bench kestserv
    export KESTSERV="$PWD/build-bench/server/kestserv"
fi

/usr/bin/python3 bench/transfer/xfr_out.py "$@"
/usr/bin/python3 bench/transfer/xfr_in.py "$@"
