#!/usr/bin/python3
"""Screenshots of the server's windows and a check of their accessible names, under Xvfb with a
session bus and the AT-SPI bus. Run as root from the source tree after a build:

    scripts/server_window_shots.py BUILD_DIR OUT_DIR

Needs Debian's xvfb, x11-apps (xwd), dbus-x11, at-spi2-core and python3-pyatspi (not needed by
the build or the tests). Everything runs in a private network namespace: kestserv answers on 127.0.0.1:53 there, a client
sends queries to it, and nothing leaves the machine."""
import ctypes
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib
from pathlib import Path

CLONE_NEWNET = 0x40000000
SRC = Path(__file__).resolve().parents[1]


def query(name, qid):
    q = struct.pack(">HHHHHH", qid, 0x0100, 1, 0, 0, 0)
    for label in name.rstrip(".").split("."):
        q += bytes([len(label)]) + label.encode()
    return q + b"\x00" + struct.pack(">HH", 1, 1)


def client(stop):
    """Queries for the example zone at a rate that changes every few seconds."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(0.2)
    names = ["www.kestrune.test", "mail.kestrune.test", "ns1.kestrune.test", "ftp.kestrune.test"]
    qid, t0 = 1, time.monotonic()
    while not stop.is_set():
        phase = int(time.monotonic() - t0) // 3
        rate = [4, 12, 25, 8, 18, 30, 6][phase % 7]
        for _ in range(rate):
            s.sendto(query(names[qid % len(names)], qid), ("127.0.0.1", 53))
            qid += 1
            try:
                s.recv(4096)
            except OSError:
                pass
        time.sleep(1)


def xwd_to_png(xwd, crop=None):
    """A 24/32-bit ZPixmap dump of xwd as PNG bytes."""
    f = struct.unpack(">25I", xwd[:100])
    header, width, height, byte_order, bpp, stride, ncolors = f[0], f[4], f[5], f[7], f[11], f[12], f[19]
    n = bpp // 8
    if n not in (3, 4):
        raise SystemExit(f"xwd with {bpp} bits per pixel")
    data = xwd[header + ncolors * 12:]
    left, top, right, bottom = crop or (0, 0, width, height)
    rows = []
    for y in range(top, bottom):
        row = data[y * stride + left * n:y * stride + right * n]
        if byte_order == 0:  # B G R (X)
            b, g, r = row[0::n], row[1::n], row[2::n]
        else:                # (X) R G B
            r, g, b = row[n - 3::n], row[n - 2::n], row[n - 1::n]
        rgb = bytearray((right - left) * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = r, g, b
        rows.append(b"\x00" + bytes(rgb))

    def chunk(kind, body):
        c = kind + body
        return struct.pack(">I", len(body)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", right - left, bottom - top, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def shot(display, path, crop=None):
    xwd = subprocess.run(["xwd", "-root", "-silent", "-display", display], capture_output=True,
                         check=True).stdout
    Path(path).write_bytes(xwd_to_png(xwd, crop))


def find_app(name, timeout=30):
    import pyatspi
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.3)
    raise SystemExit(f"{name} never showed on the AT-SPI bus")


def walk(node, depth=0, out=None):
    """(depth, node, role, name) of node and everything below it that still exists."""
    out = [] if out is None else out
    if node is None or depth > 40:
        return out
    try:
        out.append((depth, node, node.getRoleName(), node.name))
        children = list(node)
    except Exception:  # an object that went away while we walked
        return out
    for child in children:
        walk(child, depth + 1, out)
    return out


def do_action(app, name, role):
    for _, node, r, n in walk(app):
        if n == name and r == role:
            node.queryAction().doAction(0)
            return
    raise SystemExit(f"no {role} named {name!r}")


def main():
    children = []
    try:
        run(children)
    finally:
        for p in children:
            if p.poll() is None:
                p.terminate()


def run(children):
    build, out = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    out.mkdir(parents=True, exist_ok=True)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        raise SystemExit("needs root for a private network namespace")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)

    home = Path(tempfile.mkdtemp(prefix="kest-shots-"))
    for f in (SRC / "examples").iterdir():
        (shutil.copytree if f.is_dir() else shutil.copy)(f, home / f.name)
    with open(home / "kestrund.ini", "a") as ini:
        ini.write("DNSBind: 127.0.0.1\r\nLogDetail: No\r\n")
    tomorrow = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() + 86400))
    later = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(time.time() + 5 * 3600))
    (home / "dhcp.dat").write_bytes((
        "; Kestrune - DHCP Leases\r\n"
        f"pc-7.kestrune.test. 192.0.2.150 01000C29ABCDEF 000C29ABCDEF {tomorrow}\r\n"
        f"printer.kestrune.test. 192.0.2.151 01A0B1C2D3E4F5 A0B1C2D3E4F5 {later}\r\n").encode())

    display = ":57"
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1100x760x24", "-nolisten", "tcp"],
                            **quiet)
    children.append(xvfb)
    env = dict(os.environ, DISPLAY=display, KESTRUNE_HOME=str(home), XDG_CONFIG_HOME=str(home / "cfg"),
               XDG_RUNTIME_DIR=str(home), QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", NO_AT_BRIDGE="0")
    bus = subprocess.run(["dbus-launch", "--sh-syntax"], env=env, capture_output=True, text=True,
                         stdin=subprocess.DEVNULL, check=True).stdout
    for line in bus.splitlines():
        if line.startswith("DBUS_SESSION_BUS_ADDRESS=") or line.startswith("DBUS_SESSION_BUS_PID="):
            key, value = line.split("=", 1)
            env[key] = value.rstrip(";").strip("'")
    bus_pid = int(env["DBUS_SESSION_BUS_PID"])

    class Bus:
        def poll(self):
            return None

        def terminate(self):
            # The bus, and what it started for us (the accessibility bus and registry): the
            # processes whose environment names this bus.
            mark = ("DBUS_SESSION_BUS_ADDRESS=" + env["DBUS_SESSION_BUS_ADDRESS"]).encode()
            for proc in Path("/proc").iterdir():
                if not proc.name.isdigit() or int(proc.name) == os.getpid():
                    continue
                try:
                    if mark in (proc / "environ").read_bytes().split(b"\0"):
                        os.kill(int(proc.name), 15)
                except OSError:
                    pass
            try:
                os.kill(bus_pid, 15)
            except OSError:
                pass
    children.append(Bus())
    os.environ.update(env)
    time.sleep(1)  # Xvfb and the bus come up
    server = subprocess.Popen([str(build / "server" / "kestserv"), "-n"], env=env)
    stop = threading.Event()
    traffic = threading.Thread(target=client, args=(stop,), daemon=True)
    try:
        app = find_app("kestserv")
        for item in ("Performance Graph", "Active Log", "DHCP Leases", "Tile Horizontally"):
            do_action(app, item, "menu item")
            time.sleep(0.5)
        traffic.start()
        time.sleep(20)
        shot(display, out / "main-window.png", (0, 0, 900, 620))

        # Every control has a name.
        unnamed, listed = [], []
        for depth, node, role, name in walk(app):
            listed.append(f"{'  ' * depth}{role}: {name!r}")
            if role in ("separator", "filler", "panel", "scroll bar", "table cell", "list item",
                        "page tab list", "viewport", "application"):
                continue
            if not name:
                unnamed.append(f"{role} at depth {depth}")
        (out / "accessible-tree.txt").write_text("\n".join(listed) + "\n")
        print(f"{len(listed)} accessible objects; unnamed controls: {len(unnamed)}")
        for u in unnamed:
            print("  unnamed:", u)
    finally:
        stop.set()
        server.terminate()
        server.wait(timeout=30)

    menu = subprocess.Popen([str(build / "tests" / "server" / "ui" / "window_driver"), str(home),
                             "traymenu", "6"], env=env)
    time.sleep(3)
    shot(display, out / "tray-menu.png", (0, 0, 260, 210))
    menu.wait(timeout=30)
    shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
