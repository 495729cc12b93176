#!/usr/bin/python3
"""Checks the zone dialogs the way a screen reader sees them: starts kest_zone_dialogs_demo with
accessibility on, waits for its eight windows on the AT-SPI bus and lists every control by role
and name; a control without a name is a defect (exit status 1).

Run on a desktop of its own (CTest: editor_zones_a11y), for example:
  tests/support/a11y_desktop.py tests/editor/atspi_zone_dialogs.py build/tests/editor/kest_zone_dialogs_demo
"""
import os
import subprocess
import sys
import time

import pyatspi

WINDOWS = {"Zone \"example.com\" Properties", "Quick Domain Wizard", "Copy Zone",
           "Reverse Zone Wizard", "Reverse Zone Look Up", "Host Name", "Auto Fill",
           "Select Reverse Zone"}
CONTROLS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_CHECK_BOX,
            pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE,
            pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_PAGE_TAB,
            pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SCROLL_BAR}


def find_app(name, deadline):
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                titles = {w.name for w in app if w is not None}
                if WINDOWS <= titles:
                    return app
        time.sleep(0.2)
    return None


def walk(node, depth, out):
    for child in node:
        if child is None:
            continue
        out.append((depth, child.getRoleName(), child.name, child.getRole()))
        walk(child, depth + 1, out)


def main():
    exe = sys.argv[1]
    proc = subprocess.Popen([exe])
    try:
        app = find_app(os.path.basename(exe), time.monotonic() + 60)
        if app is None:
            print("the dialogs did not appear on the AT-SPI bus")
            return 2
        missing = 0
        for window in app:
            rows = []
            walk(window, 1, rows)
            print(f"window: {window.name}")
            for depth, role, name, code in rows:
                # Scroll bars of list views belong to Qt and carry no name of ours.
                unnamed = code in CONTROLS and not name and code != pyatspi.ROLE_SCROLL_BAR
                missing += unnamed
                flag = "   <-- no name" if unnamed else ""
                if code in CONTROLS or unnamed:
                    print(f"{'  ' * depth}{role}: {name!r}{flag}")
        print(f"{missing} control(s) without a name")
        return 1 if missing else 0
    finally:
        proc.terminate()
        proc.wait()


if __name__ == "__main__":
    sys.exit(main())
