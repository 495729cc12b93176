#!/usr/bin/env bash
# Installs with apt-get whatever Debian packages the build, the tests or the server need and are
# not there yet. Run as root.
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
)
if [ "${1:-}" = "--run-only" ]; then
    packages=(build-essential cmake ninja-build qt6-base-dev libgl-dev libgtest-dev libgmock-dev)
fi

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
