"""The options dialog as a screen reader sees it: under Xvfb with a session bus and the AT-SPI
bus, every control on every tab is listed with a role and a name (options_driver --show)."""
import json
import subprocess
import sys
from pathlib import Path

import pytest

from test_options import driver_path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import a11y_desktop  # noqa: E402


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


@pytest.fixture
def desktop(tmp_path):
    """Xvfb, a session bus and the AT-SPI bus; yields the environment for programs on them."""
    lack = a11y_desktop.missing_tools()
    if lack:
        pytest.skip(lack)
    with a11y_desktop.desktop(tmp_path) as env:
        yield env


def test_every_control_on_every_tab_has_a_name(desktop, kestserv_path, tmp_path):
    env = desktop
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
