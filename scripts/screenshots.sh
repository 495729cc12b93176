#!/usr/bin/env bash
# Screenshots of the programs' windows for the README's tour, taken under Xvfb in a private
# network namespace (the server binds port 53 there, and nothing leaves the machine):
# docs/screenshots/<program>.png for each program this tree builds that shows a window.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/, built here when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${1:-build}
out=$top/docs/screenshots

if [ "${KEST_SHOTS_INSIDE:-}" != 1 ]; then
    scripts/install-deps.sh
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    ninja -C "$build" kestprograms
    export KEST_SHOTS_INSIDE=1
    exec unshare --net -- "$0" "$build"
fi

ip link set lo up
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$out"

# A display of our own, numbered by Xvfb itself.
exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
for _ in $(seq 1 100); do
    display=$(head -n1 "$work/displayfd" 2>/dev/null || true)
    [ -n "$display" ] && break
    sleep 0.1
done
[ -n "${display:-}" ] || { cat "$work/xvfb.log"; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display QT_QPA_PLATFORM=xcb

# shoot NAME KEYS EXECUTABLE ARGS...: starts the program on a copy of the examples, waits for
# its first visible window, types KEYS there (xdotool key names, blank-separated; "" for none:
# to open a child window or a menu before the picture) and saves it.
shoot() {
    local name=$1 keys=$2 exe=$3
    shift 3
    if [ ! -x "$exe" ]; then
        echo "$name: not built in this tree, skipped"
        return
    fi
    local home=$work/home-$name
    mkdir -p "$home"
    cp -r examples/. "$home/"
    KESTRUNE_HOME=$home XDG_CONFIG_HOME=$work/config-$name \
        "$exe" "$@" >"$work/$name.log" 2>&1 &
    local pid=$!
    local win
    if ! win=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | head -n1) ||
        [ -z "$win" ]; then
        echo "$name: shows no window, skipped"
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        return
    fi
    if [ -n "$keys" ]; then
        # shellcheck disable=SC2086
        xdotool windowactivate --sync "$win" key --delay 100 $keys 2>/dev/null || true
    fi
    # The window is mapped; give it a moment to paint its contents.
    sleep 1
    xwd -silent -id "$win" | xwdtopnm 2>/dev/null | pnmtopng > "$out/$name.png"
    echo "$name: $out/$name.png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

shoot kestserv "" "$build/server/kestserv" -n
shoot kestzone "" "$build/editor/kestzone"
shoot lookup "" "$build/lookup/lookup"
