"""The master directory with real files and modification times: new, updated and removed zones,
ml.dat across a restart, and a directory that cannot be reached."""
import os
import re
import shutil
import time

import dns.flags

from xfr_in_peers import answers, ask, kest_settings, wait_until

ZONE_A1 = b"@ 3600 SOA ns1 hm 1 3600 600 86400 60\r\nwww 300 A 192.0.2.1\r\n"
ZONE_A2 = b"@ 3600 SOA ns1 hm 2 3600 600 86400 60\r\nwww 300 A 192.0.2.2\r\n"
ZONE_B = b"@ 3600 SOA ns1 hm 1 3600 600 86400 60\r\nwww 300 A 192.0.2.20\r\n"
ZONE_C = b"@ 3600 SOA ns1 hm 1 3600 600 86400 60\r\nwww 300 A 192.0.2.30\r\n"
ZONE_D = b"@ 3600 SOA ns1 hm 1 3600 600 86400 60\r\nwww 300 A 192.0.2.40\r\n"

T1 = 1_767_000_000  # whole seconds
T2 = T1 + 86_400 + 15


def put(folder, name, data, mtime):
    (folder / name).write_bytes(data)
    os.utime(folder / name, (mtime, mtime))


def www(zone):
    r = ask(f"www.{zone}", "A")
    return answers(r) if r is not None and r.flags & dns.flags.AA else None


def local_text(t):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(t))


# What a pass itself logs; answers to test queries can fall between its lines.
PASS_LINES = ("-> New zone: ", "-> Updated zone: ", "-> Removed Zone: ", "** Failed to synchronize!")


def sync_lines(k, start):
    """The log lines of the pass whose "Synchronizing with" line is at index start or later."""
    out = None
    for line in k.lines[start:]:
        text = line.split("   ", 1)[-1]
        if text.startswith("Synchronizing with"):
            if out is not None:
                break
            out = []
        if out is not None:
            out.append(text)
    return out or []


def test_master_directory(netns, kestserv, kest_home, tmp_path):
    master = tmp_path / "master"
    master.mkdir()
    put(master, "a.test.dns", ZONE_A1, T1)
    put(master, "b.test.dns", ZONE_B, T1)
    (kest_home / "data" / "c.test.dns").write_bytes(ZONE_C)  # a zone made here
    settings = kest_settings(f"MasterDir: {master}\nMasterSync: 1\n")

    k = kestserv()
    k.write_ini(settings)
    k.start()
    k.wait_for(r"-> Removed Zone: c\.test\.", 30)
    first = sync_lines(k, 0)
    assert [l for l in first if l.startswith(PASS_LINES)] == [
        "-> New zone: a.test.", "-> New zone: b.test.", "-> Removed Zone: c.test."]
    assert www("a.test.") == {"www.a.test. A 192.0.2.1"}
    assert www("b.test.") == {"www.b.test. A 192.0.2.20"}
    assert www("c.test.") is None
    assert not (kest_home / "data" / "c.test.dns").exists()
    assert (kest_home / "data" / "a.test.dns").read_bytes() == ZONE_A1
    ml = kest_home / "ml.dat"
    want = (f"a.test. {local_text(T1)}\r\nb.test. {local_text(T1)}\r\n").encode()
    wait_until(lambda: ml.exists() and ml.read_bytes() == want, 10, "ml.dat after the pass")

    # The next pass, a minute on: a changed file, a removed one and a new one.
    put(master, "a.test.dns", ZONE_A2, T2)
    (master / "b.test.dns").unlink()
    put(master, "d.test.dns", ZONE_D, T1)
    mark = len(k.lines)
    k.wait_for(r"-> Removed Zone: b\.test\.", 100)
    second = sync_lines(k, mark)
    assert [l for l in second if l.startswith(PASS_LINES)] == [
        "-> Updated zone: a.test.", "-> New zone: d.test.", "-> Removed Zone: b.test."]
    assert www("a.test.") == {"www.a.test. A 192.0.2.2"}
    assert www("d.test.") == {"www.d.test. A 192.0.2.40"}
    assert www("b.test.") is None
    want = (f"a.test. {local_text(T2)}\r\nd.test. {local_text(T1)}\r\n").encode()
    wait_until(lambda: ml.read_bytes() == want, 10, "ml.dat after the second pass")
    assert k.stop() == 0
    assert ml.read_bytes() == want

    # A restart with ml.dat: unchanged master files are neither copied nor loaded again.
    (kest_home / "data" / "a.test.dns").write_bytes(ZONE_A1)  # would be overwritten by a copy
    k2 = kestserv()
    k2.start()
    k2.wait_for(r"Synchronizing with", 30)
    wait_until(lambda: www("d.test."), 10, "answers after the pass")
    assert [l for l in sync_lines(k2, 0) if l.startswith(PASS_LINES)] == []
    assert (kest_home / "data" / "a.test.dns").read_bytes() == ZONE_A1
    assert k2.stop() == 0

    # A master directory that cannot be reached changes nothing.
    shutil.move(master, tmp_path / "elsewhere")
    k3 = kestserv()
    k3.start()
    k3.wait_for(r"\*\* Failed to synchronize!", 30)
    assert www("a.test.") == {"www.a.test. A 192.0.2.1"}
    assert www("d.test.") == {"www.d.test. A 192.0.2.40"}
    assert (kest_home / "data" / "d.test.dns").exists()
