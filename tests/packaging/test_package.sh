#!/usr/bin/env bash
# The Debian package, as an administrator gets it: built by CPack from this build, its contents
# and lintian's verdict checked, installed with dpkg into a throw-away copy of this machine (an
# overlay over / in a private mount namespace, so nothing of the machine changes), its unit
# checked by systemd-analyze, and the installed kestserv run as the kestrune user, with only the
# unit's capability, in a private network namespace, answering a query on port 53.
# Usage: test_package.sh BUILD_DIR. Everything it makes stays in BUILD_DIR/package-test.
set -euo pipefail

build=$(realpath "$1")
work=$build/package-test

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() {
    echo "SKIPPED: $*" >&2
    case "${CI:-}" in ""|0|false|no) exit 77 ;; *) exit 1 ;; esac
}

if [ "${KEST_PACKAGE_TEST_INSIDE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip "installing the package needs root"
    for tool in cpack dpkg-deb lintian dpkg-shlibdeps systemd-analyze unshare setpriv dig \
                desktop-file-validate appstreamcli; do
        command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh)"
    done
    rm -rf "$work"
    mkdir -p "$work"

    echo "== the package"
    cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log"; fail "cpack"; }
    deb=$(ls "$work"/out/kestrune_*_amd64.deb)
    dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | sort > "$work/contents"
    expected=(
        /usr/bin/kestserv
        /usr/lib/systemd/system/kestrund.service
        /usr/share/applications/kestserv.desktop
        /usr/share/icons/hicolor/scalable/apps/kestrune-kestserv.svg
        /usr/share/metainfo/kestserv.metainfo.xml
        /usr/share/man/man8/kestserv.8.gz
        /usr/share/doc/kestrune/copyright
        /usr/share/doc/kestrune/changelog.gz
        /usr/share/kestrune/examples/kestrund.ini
        /usr/share/kestrune/examples/named.root
        /usr/share/kestrune/examples/whois.dat
    )
    for page in index server settings zones editor lookup replication dhcp files; do
        expected+=("/usr/share/doc/kestrune/manual/$page.html")
    done
    # The editor and the look-up tool come along once they are part of the build.
    for program in kestzone lookup; do
        if [ -x "$build/$program/$program" ]; then
            expected+=("/usr/bin/$program" "/usr/share/applications/$program.desktop"
                       "/usr/share/icons/hicolor/scalable/apps/kestrune-$program.svg"
                       "/usr/share/metainfo/$program.metainfo.xml"
                       "/usr/share/man/man1/$program.1.gz")
        fi
    done
    for f in "${expected[@]}"; do
        grep -qx "$f" "$work/contents" || fail "the package lacks $f"
    done
    # Nothing of the build or the tests rides along.
    if grep -E '/(include|tests?|CMakeFiles)/|\.a$|gtest' "$work/contents"; then
        fail "build files in the package"
    fi
    # The Qt runtime the executables link (found by dpkg-shlibdeps) and what the scripts use.
    depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
    needed=(libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins adduser libc6)
    for lib in $(objdump -p "$build/server/kestserv" | awk '$1 == "NEEDED" && /Qt6/ {print $2}'); do
        needed+=("$(dpkg -S "*/$lib" | awk -F: -v l="/$lib" 'index($0, l) {print $1; exit}')")
    done
    for d in "${needed[@]}"; do
        grep -qx "$d" <<<"$depends" || fail "Depends lacks $d: $(dpkg-deb -f "$deb" Depends)"
    done
    if grep -E -- '-dev$|gtest|cmake' <<<"$depends"; then fail "Depends names a build package"; fi

    echo "== lintian"
    lintian --pedantic -I "$deb" >"$work/lintian.txt" 2>&1 || true
    grep -v '^running with root' "$work/lintian.txt" || true
    if grep -q '^E:' "$work/lintian.txt"; then fail "lintian reports errors"; fi
    dpkg-deb -x "$deb" "$work/extracted"
    # Every link of the installed manual leads to a page that is there.
    manual=$work/extracted/usr/share/doc/kestrune/manual
    for link in $(grep -oh 'href="[^"#:]*' "$manual"/*.html | sed 's/^href="//' | sort -u); do
        [ -f "$manual/$link" ] || fail "the manual links to $link, which is missing"
    done
    desktop-file-validate "$work"/extracted/usr/share/applications/*.desktop ||
        fail "desktop entries"
    appstreamcli validate --no-net --explain "$work"/extracted/usr/share/metainfo/*.xml >/dev/null ||
        fail "AppStream metadata"

    echo "== install and run"
    export KEST_PACKAGE_TEST_INSIDE=1
    exec unshare --mount --propagation private -- "$0" "$build" "$deb"
fi

# Inside a private mount namespace: the machine's own root with a tmpfs on top.
deb=$2
root=$work/root
mkdir -p "$work/layers" "$root"
mount -t tmpfs -o size=512m kest-package-test "$work/layers"
mkdir -p "$work/layers/upper" "$work/layers/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layers/upper,workdir=$work/layers/work" "$root"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --rbind /sys "$root/sys"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs tmpfs "$root/tmp"
in_root() { chroot "$root" "$@"; }

# A machine where the package was never installed.
in_root sh -c 'dpkg -r kestrune >/dev/null 2>&1; dpkg -P kestrune >/dev/null 2>&1;
               deluser --system kestrune >/dev/null 2>&1; rm -rf /var/lib/kestrune; true'
cp "$deb" "$root/tmp/kestrune.deb"
in_root dpkg -i /tmp/kestrune.deb >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }

in_root getent passwd kestrune >/dev/null || fail "no user kestrune"
[ "$(in_root stat -c '%U:%G %a' /var/lib/kestrune)" = "kestrune:kestrune 2775" ] ||
    fail "program directory: $(in_root stat -c '%U:%G %a' /var/lib/kestrune)"
[ -L "$root/etc/systemd/system/multi-user.target.wants/kestrund.service" ] ||
    fail "the unit is not enabled"
in_root systemd-analyze verify /usr/lib/systemd/system/kestrund.service ||
    fail "systemd-analyze verify"

# The unit's identity and capability: its user, CAP_NET_BIND_SERVICE as an ambient capability,
# no new privileges (so the file capability set for desktop starts does not count).
unit=$root/usr/lib/systemd/system/kestrund.service
grep -qx 'User=kestrune' "$unit" && grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$unit" ||
    fail "the unit's user or capability changed; this test runs the server as the unit does"
in_root install -o kestrune -g kestrune -m 664 /dev/stdin /var/lib/kestrune/data/pkgtest.test.dns <<'ZONE'
@ 3600 SOA ns1 hostmaster 1 10800 3600 604800 3600
 3600 NS ns1
ns1 3600 A 192.0.2.53
www 3600 A 192.0.2.80
ZONE

# The unit's view of the system: everything read-only but the program directory
# (ProtectSystem=strict with ReadWritePaths), a private /tmp.
mount --bind "$root/var/lib/kestrune" "$root/var/lib/kestrune"
mount -o remount,bind,ro "$root"
in_root touch /usr/kest-writable 2>/dev/null && fail "the root is not read-only"

in_root unshare --net -- sh -c '
    ip link set lo up
    setpriv --reuid=kestrune --regid=kestrune --init-groups --no-new-privs \
        --inh-caps=-all,+net_bind_service --ambient-caps=-all,+net_bind_service \
        --bounding-set=-all,+net_bind_service \
        /usr/bin/kestserv -n >/tmp/kestserv.out 2>&1 &
    pid=$!
    ok=0
    for i in $(seq 1 300); do
        if dig +time=1 +tries=1 +norec @127.0.0.1 www.pkgtest.test A >/tmp/dig.out 2>&1 &&
           grep -q "status: NOERROR" /tmp/dig.out; then ok=1; break; fi
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    echo "$pid" > /tmp/kestserv.pid
    grep "^Uid:" /proc/$pid/status > /tmp/kestserv.uid || true
    kill -TERM $pid 2>/dev/null || true
    wait $pid
    echo "exit $?" >> /tmp/kestserv.out
    [ $ok = 1 ]
' || { cat "$root/tmp/kestserv.out" "$root/tmp/dig.out" 2>/dev/null; fail "no answer on port 53"; }

echo "-- the installed server's log:"
cat "$root/tmp/kestserv.out"
out=$root/tmp/dig.out
grep -Eq '^www\.pkgtest\.test\.[[:space:]]+3600[[:space:]]+IN[[:space:]]+A[[:space:]]+192\.0\.2\.80$' "$out" ||
    { cat "$out"; fail "wrong answer"; }
grep -q "flags: qr aa" "$out" || { cat "$out"; fail "the answer is not authoritative"; }
uid=$(in_root id -u kestrune)
grep -Eq "^Uid:[[:space:]]+$uid[[:space:]]+$uid" "$root/tmp/kestserv.uid" ||
    fail "kestserv did not run as kestrune: $(cat "$root/tmp/kestserv.uid")"
grep -q "   DNS service started\.$" "$root/tmp/kestserv.out" || { cat "$root/tmp/kestserv.out"; fail "log"; }
grep -qx "exit 0" "$root/tmp/kestserv.out" || { cat "$root/tmp/kestserv.out"; fail "shutdown"; }
# The first start copied the defaults into the program directory, as the service's user.
for f in kestrund.ini named.root whois.dat; do
    [ "$(in_root stat -c %U "/var/lib/kestrune/$f")" = kestrune ] || fail "$f not seeded"
done
grep -q "^ReloadPort:" "$root/var/lib/kestrune/kestrund.ini" || fail "settings not written back"
grep -q "^DNSRecursion: <none>" "$root/var/lib/kestrune/kestrund.ini" || fail "not the package's settings"

# A desktop start by another user binds port 53 too, through the file capability.
in_root unshare --net -- sh -c '
    ip link set lo up
    mkdir -p /tmp/desk && chown nobody /tmp/desk
    KESTRUNE_HOME=/tmp/desk setpriv --reuid=nobody --regid=nogroup --clear-groups \
        /usr/bin/kestserv -n >/tmp/desk.out 2>&1 &
    pid=$!
    for i in $(seq 1 300); do
        grep -q "DNS service" /tmp/desk.out && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM $pid 2>/dev/null || true
    wait $pid || true
' || true
grep -q "   DNS service started\.$" "$root/tmp/desk.out" ||
    { cat "$root/tmp/desk.out"; fail "a desktop start cannot bind port 53"; }

# Purging takes the program directory along.
mount -o remount,bind,rw "$root"
umount "$root/var/lib/kestrune"
in_root dpkg -P kestrune >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -P"; }
[ ! -e "$root/var/lib/kestrune" ] || fail "purge left /var/lib/kestrune"
[ ! -e "$root/usr/bin/kestserv" ] || fail "remove left kestserv"
echo "== package test passed"
