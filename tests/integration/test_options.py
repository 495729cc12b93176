"""The options dialog on a live server: a test program (options_driver --serve) runs the server
object on its own program directory inside a private namespace and fills in and confirms the
dialog's widgets as a user would; dig and plain sockets check what the server then does."""
import os
import queue
import socket
import subprocess
import threading
import time
from pathlib import Path

import pytest

from conftest import HostFolders, parse_ini, probe_query


def driver_path(kestserv_path):
    path = os.environ.get("KEST_OPTIONS_DRIVER") or str(
        Path(kestserv_path).parent.parent / "tests" / "server" / "options" / "options_driver")
    if not os.access(path, os.X_OK):
        pytest.fail(f"options_driver not found at {path} (set $KEST_OPTIONS_DRIVER)")
    return path


class Driver:
    def __init__(self, exe, home, host):
        env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "INVOCATION_ID"):
            env.pop(var, None)
        env.update(host.env())
        env["KESTRUNE_HOME"] = str(home)
        env["QT_QPA_PLATFORM"] = "offscreen"
        self.lines = []
        self._queue = queue.Queue()
        self.proc = subprocess.Popen([exe, "--serve"], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        threading.Thread(target=self._reader, daemon=True).start()

    def _reader(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.lines.append(line)
            self._queue.put(line)
        self._queue.put(None)

    def wait_for(self, text, timeout=60):
        """Waits for an output line containing text (lines seen before count too)."""
        seen = list(self.lines)
        for line in seen:
            if text in line:
                return line
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self._queue.get(timeout=deadline - time.monotonic())
            except queue.Empty:
                break
            if line is None:
                break
            if text in line:
                return line
        raise AssertionError(f"no line with {text!r}; output was:\n" + "\n".join(self.lines))

    def cmd(self, line):
        start = len(self.lines)
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            for out in self.lines[start:]:
                if out in ("OK " + line, "ERR " + line):
                    assert out.startswith("OK"), "\n".join(self.lines)
                    return self.lines[start:]
            self.wait_for_more(len(self.lines), deadline)
        raise AssertionError(f"{line!r} not answered:\n" + "\n".join(self.lines))

    def wait_for_more(self, count, deadline):
        while len(self.lines) <= count and time.monotonic() < deadline:
            try:
                if self._queue.get(timeout=deadline - time.monotonic()) is None:
                    raise AssertionError("the driver ended:\n" + "\n".join(self.lines))
            except queue.Empty:
                return

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.flush()
            try:
                self.proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def dig(server, port):
    out = subprocess.run(["dig", f"@{server}", "-p", str(port), "+tries=1", "+time=10",
                          "probe.invalid", "AAAA"], capture_output=True, text=True, timeout=60)
    return out.stdout


def refused(server, port, source="127.0.0.1"):
    """True when a datagram to server:port comes back as port unreachable (nothing bound)."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    s.settimeout(10)
    try:
        s.connect((server, port))
        s.send(probe_query())
        try:
            s.recv(512)
        except ConnectionRefusedError:
            return True
        return False
    finally:
        s.close()


@pytest.fixture
def second_address(netns):
    """A second address of the machine: 10.53.0.1 on the namespace's loopback interface."""
    subprocess.run(["ip", "addr", "add", "10.53.0.1/32", "dev", "lo"], check=True)
    return "10.53.0.1"


@pytest.fixture
def driver(kestserv_path, kest_home, second_address, tmp_path):
    (kest_home / "kestrund.ini").write_bytes(b"Name: ns1\r\nDNSPort: 5300\r\n")
    host = HostFolders(tmp_path / "host")
    d = Driver(driver_path(kestserv_path), kest_home, host)
    d.host = host
    try:
        d.wait_for("READY")
        yield d
    finally:
        d.close()


def test_new_address_and_port_are_bound_at_once_and_written(driver, kest_home):
    assert "status: NOTIMP" in dig("127.0.0.1", 5300)
    for line in ("open", "check chkBind 1", "combo comBind 10.53.0.1", "text txtPort 5353",
                 "click cmdOK"):
        driver.cmd(line)
    driver.wait_for("DNS service started on 10.53.0.1")
    assert "status: NOTIMP" in dig("10.53.0.1", 5353)
    assert refused("127.0.0.1", 5300)
    ini = parse_ini(kest_home / "kestrund.ini")
    assert ("DNSBind", "10.53.0.1") in ini
    assert ("DNSPort", "5353") in ini
    assert ("PrimaryIP", "10.53.0.1") in ini
    assert not [l for l in driver.lines if l.startswith("BOX")]
    # No service, no log-on start: nothing written outside the program directory.
    assert driver.host.changes() == []


def test_an_address_added_to_the_block_list_is_blocked_at_once_and_saved(driver, kest_home):
    # An address to send from, added after the start so the machine's list does not show it.
    subprocess.run(["ip", "addr", "add", "10.53.0.9/32", "dev", "lo"], check=True)
    for line in ("open", "ip ipBlock 10.53.0.9", "click cmdAddBlock", "click cmdOK"):
        driver.cmd(line)
    blocks = (kest_home / "blocks.dat").read_bytes().decode().split("\r\n")
    assert "10.53.0.9" in blocks

    blocked = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    blocked.bind(("10.53.0.9", 0))
    blocked.setblocking(False)
    blocked.sendto(probe_query(qid=0x0B0C), ("127.0.0.1", 5300))
    # Answered after the blocked one was handled: the blocked one got nothing.
    assert "status: NOTIMP" in dig("127.0.0.1", 5300)
    driver.wait_for("Request from 10.53.0.9 on Block list. Ignored!")
    with pytest.raises(BlockingIOError):
        blocked.recv(512)
    blocked.close()


def test_a_port_that_will_not_bind_keeps_the_server_where_it_was(driver, kest_home):
    # Another program holds the new port.
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", 5400))
    try:
        for line in ("open", "check chkBind 1", "combo comBind 10.53.0.1", "text txtPort 5400",
                     "click cmdOK"):
            driver.cmd(line)
        driver.wait_for("Binding DNS service to 10.53.0.1 failed - DNS service not started!")
        driver.wait_for("BOX Could not start DNS service on 10.53.0.1")
        box = driver.wait_for("BOX Kestrune goes on answering")
        assert "all addresses, port 5300" in box
        assert "status: NOTIMP" in dig("127.0.0.1", 5300)
        assert "status: NOTIMP" in dig("10.53.0.1", 5300)
    finally:
        holder.close()
    # The file holds what was chosen, for the next start.
    ini = parse_ini(kest_home / "kestrund.ini")
    assert ("DNSPort", "5400") in ini
    assert ("DNSBind", "10.53.0.1") in ini
