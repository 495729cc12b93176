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
    ninja -C "$build" kestprograms window_driver
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
# its first visible window, types KEYS there (xdotool key names and type:TEXT, blank-separated;
# "" for none: to open a child window or ask a question before the picture) and saves it.
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
        # No window manager here: focus the window directly.
        xdotool windowfocus --sync "$win" 2>/dev/null || true
        local k
        for k in $keys; do
            case $k in
                type:*) xdotool type --delay 30 "${k#type:}" 2>/dev/null || true ;;
                *) xdotool key "$k" 2>/dev/null || true ;;
            esac
        done
    fi
    # The window is mapped; give it a moment to paint its contents.
    sleep 1
    xwd -silent -id "$win" | xwdtopnm 2>/dev/null | pnmtopng > "$out/$name.png"
    echo "$name: $out/$name.png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# The server with its three child windows open while a client sends queries (its own script
# drives the menus through the accessibility interface).
if [ -x "$build/server/kestserv" ]; then
    /usr/bin/python3 scripts/server_window_shots.py "$build" "$work/server" >"$work/server.log" 2>&1 &&
        cp "$work/server/main-window.png" "$out/kestserv.png" && echo "kestserv: $out/kestserv.png" ||
        { cat "$work/server.log"; echo "kestserv: no picture"; }
fi
shoot kestzone "" "$build/editor/kestzone"
# The look-up tool asks a windowless server on the example zones.
if [ -x "$build/server/kestserv" ]; then
    mkdir -p "$work/home-dns"
    cp -r examples/. "$work/home-dns/"
    KESTRUNE_HOME=$work/home-dns QT_QPA_PLATFORM=offscreen "$build/server/kestserv" -n \
        >"$work/dns.log" 2>&1 &
    for _ in $(seq 1 100); do
        dig +time=1 +tries=1 @127.0.0.1 kestrune.test SOA >/dev/null 2>&1 && break
        sleep 0.1
    done
fi
shoot lookup "type:www.kestrune.test Return" "$build/lookup/lookup"
