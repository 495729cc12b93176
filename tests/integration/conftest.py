"""Fixtures for tests that run our programs as real processes.

Every test that uses `netns` runs in a private network namespace of its own: the test's thread is
moved into it (setns), so the processes it starts and the sockets it opens live there, port 53 is
free, and no packet can leave the machine.
"""
import ctypes
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import pytest

from fakenet import fake_internet  # noqa: F401  (the fake internet fixture of resolver tests)

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)
_counter = [0]


def _setns(fd):
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        raise OSError(err, os.strerror(err))


def pytest_addoption(parser):
    parser.addoption("--kestserv", default=os.environ.get("KESTSERV", ""),
                     help="path of the kestserv executable")


@pytest.fixture(scope="session")
def kestserv_path(request):
    path = request.config.getoption("--kestserv")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("kestserv executable not given (--kestserv or $KESTSERV)")
    return path


@pytest.fixture
def netns():
    """A private network namespace with loopback up, entered for the test's duration."""
    if os.geteuid() != 0 or not shutil.which("ip"):
        pytest.skip("private network namespaces need root and iproute2")
    _counter[0] += 1
    name = f"kest-{os.getpid()}-{_counter[0]}"
    made = subprocess.run(["ip", "netns", "add", name], capture_output=True, text=True)
    if made.returncode != 0:
        pytest.skip(f"cannot create a network namespace: {made.stderr.strip()}")
    original = os.open("/proc/self/ns/net", os.O_RDONLY)
    target = os.open(f"/run/netns/{name}", os.O_RDONLY)
    try:
        _setns(target)
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        yield name
    finally:
        _setns(original)
        os.close(target)
        os.close(original)
        subprocess.run(["ip", "netns", "del", name], capture_output=True)


class KestServ:
    """kestserv run as a real process on a program directory of its own."""

    def __init__(self, exe, home, env=None):
        self.exe = exe
        self.home = Path(home)
        self.env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET"):
            self.env.pop(var, None)
        self.env["KESTRUNE_HOME"] = str(self.home)
        self.env.update(env or {})
        self.proc = None
        self.lines = []
        self._queue = queue.Queue()

    @property
    def ini(self):
        return self.home / "kestrund.ini"

    def write_ini(self, text):
        self.ini.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode())

    def start(self, *args):
        self.proc = subprocess.Popen([self.exe, *(args or ("-n",))], env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
        threading.Thread(target=self._reader, daemon=True).start()
        return self

    def _reader(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.lines.append(line)
            self._queue.put(line)
        self._queue.put(None)

    def wait_for(self, pattern, timeout=10):
        """Waits for a log line matching the regular expression; returns it."""
        rx = re.compile(pattern)
        for line in list(self.lines):
            if rx.search(line):
                return line
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            try:
                line = self._queue.get(timeout=left)
            except queue.Empty:
                break
            if line is None:
                break
            if rx.search(line):
                return line
        raise AssertionError(f"no line matching {pattern!r}; output was:\n" + "\n".join(self.lines))

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self, sig=signal.SIGTERM, timeout=15):
        if not self.running():
            return self.proc.returncode if self.proc else None
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("kestserv did not end after " + sig.name)


@pytest.fixture
def kest_home():
    with tempfile.TemporaryDirectory(prefix="kest-home-") as d:
        (Path(d) / "data").mkdir()
        yield Path(d)


@pytest.fixture
def kestserv(kestserv_path, kest_home, netns):
    """A factory of kestserv processes in the test's namespace; all are stopped at the end."""
    made = []

    def make(env=None, home=None):
        k = KestServ(kestserv_path, home or kest_home, env)
        made.append(k)
        return k

    yield make
    for k in made:
        if k.running():
            k.proc.kill()
            k.proc.wait()


def parse_ini(path):
    """The settings file as (key, value) pairs in file order."""
    pairs = []
    for line in Path(path).read_bytes().decode().split("\r\n"):
        if line:
            key, _, value = line.partition(":")
            pairs.append((key.strip(), value.strip()))
    return pairs


def udp_exchange(data, source, timeout=2.0, server=("127.0.0.1", 53)):
    """Sends one datagram from source to the server; the reply's bytes, or None on time-out."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((source, 0))
    s.settimeout(timeout)
    try:
        s.sendto(data, server)
        try:
            return s.recvfrom(65535)[0]
        except socket.timeout:
            return None
    finally:
        s.close()
