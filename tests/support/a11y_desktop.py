#!/usr/bin/python3
"""A desktop of its own for the accessibility checks: Xvfb on a display it picks itself, a session
bus and the AT-SPI bus. Tests run in parallel, so a display number is never guessed.

As a module: `with desktop(folder) as env:` gives the environment for programs on it.
As a program: `a11y_desktop.py COMMAND ARGS...` runs the command on a new desktop and exits with
its status.
"""
import contextlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def missing_tools():
    """What this machine lacks for the checks ("" when nothing)."""
    for tool in ("Xvfb", "dbus-daemon", "dbus-send"):
        if not shutil.which(tool):
            return f"{tool} is not installed (xvfb, dbus)"
    if not os.access(LAUNCHER, os.X_OK):
        return "at-spi2-core is not installed"
    if subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"],
                      capture_output=True).returncode:
        return "python3-pyatspi is not installed"
    return ""


def x_accepts(display):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        s.connect(f"/tmp/.X11-unix/X{display}")
        return True
    except OSError:
        return False
    finally:
        s.close()


def start_xvfb(folder, procs):
    """An Xvfb on a display it chose (-displayfd); returns ":n". One that ends or does not accept
    is started again. -noreset: a server that resets when its last client leaves refuses the
    connections made in the meantime."""
    for attempt in range(10):
        display_file = folder / f"display{attempt}"
        with open(display_file, "w") as f:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(f.fileno()), "-screen", "0",
                                     "1280x1024x24", "-nolisten", "tcp", "-noreset"],
                                    pass_fds=(f.fileno(),), stdout=subprocess.DEVNULL,
                                    stderr=open(folder / f"xvfb{attempt}.log", "w"))
        procs.append(xvfb)
        deadline = time.monotonic() + 60
        while (time.monotonic() < deadline and xvfb.poll() is None
               and not display_file.read_text().strip()):
            time.sleep(0.05)
        display = display_file.read_text().strip()
        if display and xvfb.poll() is None and x_accepts(display):
            return ":" + display
        xvfb.terminate()
        xvfb.wait()
    raise RuntimeError("Xvfb did not start")


def wait_for_a11y_bus(env):
    """Qt looks for the accessibility bus once, at start: programs start when it answers."""
    ask = ["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply", "/org/a11y/bus",
           "org.a11y.Bus.GetAddress"]
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if subprocess.run(ask, env=env, capture_output=True, timeout=60).returncode == 0:
            return
        time.sleep(0.05)
    raise RuntimeError("the AT-SPI bus never answered")


@contextlib.contextmanager
def desktop(folder):
    """Xvfb, a session bus and the AT-SPI bus, with home and runtime folders under `folder`;
    yields the environment for programs on them (Qt on xcb with accessibility on)."""
    folder = Path(folder)
    runtime = folder / "runtime"
    runtime.mkdir(mode=0o700, exist_ok=True)
    env = dict(os.environ)
    env.update({"XDG_RUNTIME_DIR": str(runtime), "HOME": str(folder),
                "XDG_CONFIG_HOME": str(folder / "config"), "QT_QPA_PLATFORM": "xcb",
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
                "NO_AT_BRIDGE": "0"})
    procs = []
    try:
        env["DISPLAY"] = start_xvfb(folder, procs)
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


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    lack = missing_tools()
    if lack:
        print(lack + " (scripts/install-deps.sh)", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="kest-desktop-") as folder:
        with desktop(folder) as env:
            return subprocess.run(argv, env=env).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
