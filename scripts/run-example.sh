#!/usr/bin/env bash
# Builds kestserv and runs it in the foreground on a writable copy of examples/ (in run/).
# Ctrl-C or SIGTERM shuts it down in order.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --run-only
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build kestserv

mkdir -p run
cp -rn examples/. run/
export KESTRUNE_HOME="$PWD/run"
exec build/server/kestserv -n "$@"
