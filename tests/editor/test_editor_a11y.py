"""kestzone as a screen reader sees it: on a desktop of its own (Xvfb, a session bus, the
accessibility bus), every control of the main window and of the record dialog has a role and a
name (AT-SPI)."""
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from a11y_desktop import desktop, missing_tools  # noqa: E402

# Roles a user works with; each needs a name a screen reader can say.
CONTROLS = {"push button", "toggle button", "check box", "combo box", "text", "list",
            "table", "tree table", "tree", "menu item", "check menu item", "scroll bar",
            "page tab", "spin button", "radio button", "menu", "tool bar", "list item"}

ZONE = (
    "@ 3600 SOA ns1 hostmaster 2026010101 7200 900 1209600 300\r\n"
    " 3600 NS ns1\r\n"
    "www 3600 A 10.0.0.80\r\n"
)


@pytest.fixture
def kestzone(request):
    path = os.environ.get("KESTZONE", "")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("kestzone not given ($KESTZONE)")
    lack = missing_tools()
    if lack:
        pytest.fail(lack + " (scripts/install-deps.sh)")
    return path


WALKER = r'''
import sys, time, pyatspi
from gi.repository import Atspi
CONTROLS = set(sys.argv[2].split(","))

def app(name, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for a in desktop:
            if a is not None and a.name == name:
                return a
        time.sleep(0.1)
    raise SystemExit("no application " + name)

def walk(node, out, depth=0):
    if node is None or depth > 40:
        return
    role = node.getRoleName()
    states = node.getState()
    if role in CONTROLS and states.contains(pyatspi.STATE_SHOWING):
        out.append((role, node.name))
    for child in node:
        walk(child, out, depth + 1)

def window(a, title, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for w in a:
            if w is not None and w.name == title:
                return w
        time.sleep(0.1)
    raise SystemExit("no window " + title)

def find(node, role, name):
    if node is None:
        return None
    if node.getRoleName() == role and node.name == name:
        return node
    for child in node:
        hit = find(child, role, name)
        if hit is not None:
            return hit
    return None

a = app(sys.argv[1])
main = window(a, "Kestrune - Edit DNS Records")
found = []
walk(main, found)
for role, name in found:
    print("main\t%s\t%s" % (role, name))
item = find(main, "menu item", "New Record...")
try:
    # The dialog is modal: the action's reply only comes once it is closed, so wait for it a
    # moment only.
    Atspi.set_timeout(1000, 1000)
    item.queryAction().doAction(0)
except Exception:
    pass
Atspi.set_timeout(25000, 25000)
dialog = window(a, "Record Properties")
found = []
walk(dialog, found)
for role, name in found:
    print("dialog\t%s\t%s" % (role, name))
cancel = find(dialog, "push button", "Cancel")
try:
    cancel.queryAction().doAction(0)
except Exception:
    pass
'''


def test_every_control_has_a_name(kestzone, tmp_path):
    home = tmp_path / "home"
    (home / "data").mkdir(parents=True)
    (home / "data" / "example.com.dns").write_bytes(ZONE.encode())
    walker = tmp_path / "walker.py"
    walker.write_text(WALKER)
    with desktop(tmp_path) as env:
        env["KESTRUNE_HOME"] = str(home)
        app = subprocess.Popen([kestzone], env=env)
        try:
            r = subprocess.run([sys.executable, str(walker), "kestzone", ",".join(sorted(CONTROLS))],
                               env=env, capture_output=True, text=True, timeout=240)
        finally:
            app.terminate()
            app.wait(timeout=30)
    assert r.returncode == 0, r.stdout + r.stderr
    rows = [line.split("\t") for line in r.stdout.splitlines() if "\t" in line]
    print("\n".join("\t".join(row) for row in rows))
    unnamed = [row for row in rows if len(row) < 3 or not row[2].strip()]
    assert rows and not unnamed, unnamed
    names = {(w, role, name) for w, role, name in rows}
    for expected in [("main", "list", "Zones"), ("main", "tree", "Records"),
                     ("main", "push button", "New"), ("dialog", "text", "Name"),
                     ("dialog", "text", "first byte of the address"), ("dialog", "text", "Days"),
                     ("dialog", "check box", "Update Reverse Zone"),
                     ("dialog", "push button", "O K")]:
        assert expected in names, expected
    # A combo box is said with its value ("A"), its caption comes from its label.
    assert any(w == "dialog" and role == "combo box" for w, role, _ in rows)
