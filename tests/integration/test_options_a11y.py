"""The options dialog as a screen reader sees it: under Xvfb with a session bus and the AT-SPI
bus, every control on every tab is listed with a role and a name (options_driver --show)."""
import json
import os
import shutil
import socket
import subprocess
import sys
import time

import pytest

from test_options import driver_path

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"

# Run in a process of its own, so pyatspi meets the test's buses. Prints the role and name of
# everything the dialog shows, as JSON.
WALKER = r'''
import json, sys, time
import pyatspi

def walk(node, out):
    for child in node:
        if child is None:
            continue
        # What labels it (a combo box's name is its value; its caption comes by relation).
        label = [t.name or "" for r in child.getRelationSet()
                 if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                 for t in (r.getTarget(i) for i in range(r.getNTargets()))]
        out.append([child.getRoleName(), child.name or "", label])
        walk(child, out)

deadline = time.monotonic() + 60
while time.monotonic() < deadline:
    apps = [a for a in pyatspi.Registry.getDesktop(0)
            if a is not None and a.name == "options_driver" and a.childCount]
    if apps:
        out = []
        walk(apps[0], out)
        print(json.dumps(out))
        sys.exit(0)
    time.sleep(0.1)
sys.exit("the dialog never appeared on the accessibility bus")
'''

CONTROL_ROLES = {"push button", "check box", "combo box", "text", "list", "page tab",
                 "scroll bar", "spin button", "list item", "radio button", "entry"}


def x_accepts(display):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect(f"/tmp/.X11-unix/X{display}")
        return True
    except OSError:
        return False
    finally:
        s.close()


def start_xvfb(tmp_path, procs):
    """An Xvfb on a display of its own; returns ":n". One that ends or does not accept is
    started again. -noreset: a server that resets when its last client leaves (the probe here,
    the AT-SPI launcher) refuses the connections made in the meantime."""
    for attempt in range(10):
        display_file = tmp_path / f"display{attempt}"
        with open(display_file, "w") as f:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(f.fileno()), "-screen", "0",
                                     "1280x1024x24", "-nolisten", "tcp", "-noreset"],
                                    pass_fds=(f.fileno(),),
                                    stdout=subprocess.DEVNULL,
                                    stderr=open(tmp_path / f"xvfb{attempt}.log", "w"))
        procs.append(xvfb)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and xvfb.poll() is None and not (
                display_file.read_text().strip()):
            time.sleep(0.05)
        display = display_file.read_text().strip()
        if display and xvfb.poll() is None and x_accepts(display):
            return ":" + display
        xvfb.terminate()
        xvfb.wait()
    raise AssertionError("Xvfb did not start")


def wait_for_a11y_bus(env):
    """Waits until the AT-SPI bus answers on the session bus, so the dialog finds it at start."""
    ask = ["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply", "/org/a11y/bus",
           "org.a11y.Bus.GetAddress"]
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if subprocess.run(ask, env=env, capture_output=True, timeout=60).returncode == 0:
            return
        time.sleep(0.05)
    raise AssertionError("the AT-SPI bus never answered")


@pytest.fixture
def desktop(tmp_path):
    """Xvfb, a session bus and the AT-SPI bus; yields the environment for programs on them."""
    for tool in ("Xvfb", "dbus-daemon", "dbus-send"):
        if not shutil.which(tool):
            pytest.skip(f"{tool} is not installed (xvfb, dbus)")
    if not os.access(LAUNCHER, os.X_OK):
        pytest.skip("at-spi2-core is not installed")
    if subprocess.run([sys.executable, "-c", "import pyatspi"], capture_output=True).returncode:
        pytest.skip("python3-pyatspi is not installed")
    procs = []
    runtime = tmp_path / "runtime"
    runtime.mkdir(mode=0o700)
    env = dict(os.environ)
    env.update({"XDG_RUNTIME_DIR": str(runtime), "HOME": str(tmp_path),
                "XDG_CONFIG_HOME": str(tmp_path / "config")})
    try:
        env["DISPLAY"] = start_xvfb(tmp_path, procs)
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, env=env, text=True)
        procs.append(bus)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        procs.append(subprocess.Popen([LAUNCHER, "--launch-immediately"], env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for_a11y_bus(env)
        yield env
    finally:
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def test_every_control_on_every_tab_has_a_name(desktop, kestserv_path, tmp_path):
    env = dict(desktop)
    env.update({"QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
                "QT_ACCESSIBILITY": "1"})
    dialog = subprocess.Popen([driver_path(kestserv_path), "--show"], env=env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=open(tmp_path / "dialog.log", "w"), text=True)
    tabs = {}
    try:
        for i, title in enumerate(["General", "DNS Resolution", "DNS Records", "Blocking", "DHCP"]):
            dialog.stdin.write(f"tab {i}\n")
            dialog.stdin.flush()
            answer = dialog.stdout.readline().strip()
            assert answer == f"OK tab {i}", (f"the dialog ended with status {dialog.wait()}:\n"
                                             + (tmp_path / "dialog.log").read_text()
                                             + "".join(p.read_text() for p in tmp_path.glob("xvfb*.log")))
            walked = subprocess.run([sys.executable, "-c", WALKER], env=env,
                                    capture_output=True, text=True, timeout=180)
            assert walked.returncode == 0, walked.stderr
            tabs[title] = json.loads(walked.stdout)
    finally:
        dialog.terminate()
        dialog.wait(timeout=30)
    # The page tabs themselves, and each tab's own controls.
    assert [n for r, n, _ in tabs["General"] if r == "page tab"] == list(tabs)
    unnamed = sorted({f"{tab}: {role}" for tab, nodes in tabs.items()
                      for role, name, label in nodes
                      if role in CONTROL_ROLES and not name.strip()})
    assert unnamed == []
    names = {(role, name) for nodes in tabs.values() for role, name, _ in nodes}
    labelled = {(role, text) for nodes in tabs.values() for role, _, labels in nodes
                for text in labels}
    for combo in ("Bind to this IP:", "Recursion for clients:", "Interface:"):
        assert ("combo box", combo) in labelled, (combo, labelled)
    for expected in [("text", "Server name"), ("check box", "Bind to this IP"),
                     ("check box", "Run as NT System Service"), ("list", "Forwarding servers"),
                     ("text", "Hosts file"), ("push button", "Edit the hosts file"),
                     ("list", "Blocked addresses"), ("text", "first byte of the address"),
                     ("push button", "OK"), ("push button", "Cancel")]:
        assert expected in names, (expected, sorted(n for n in names if n[0] == expected[0]))
