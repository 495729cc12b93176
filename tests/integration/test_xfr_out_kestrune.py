"""Kestrune on both ends: a secondary Kestrune copying a zone from a Kestrune primary with its
own several-records request, and the copy read back whole. (The chain BIND -> Kestrune -> Knot is
tested with the secondary side's tests.)"""
import socket
import struct
import tempfile
import threading
from pathlib import Path

import pytest

from xfr_out_peers import (add_address, crlf, parse_presentation,
                           start_primary, wait_serial, zone_text)
from test_xfr_out import assert_transfer, run

ZONE = "chain.test."

KEST_SECOND = "127.0.0.4"
RELAY_IP = "127.0.0.5"


class Relay:
    """Stands between the secondary and the primary on RELAY_IP:53 (UDP and TCP) and keeps what
    went each way over TCP, so the test sees the messages of our own client's transfer."""

    def __init__(self, ip, target=("127.0.0.1", 53)):
        self.target = target
        self.requests = b""
        self.replies = b""
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind((ip, 53))
        self.tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.tcp.bind((ip, 53))
        self.tcp.listen(4)
        self.closing = False
        for fn in (self._udp, self._accept):
            threading.Thread(target=fn, daemon=True).start()

    def _udp(self):
        up = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        up.settimeout(2)
        while not self.closing:
            try:
                data, client = self.udp.recvfrom(65535)
                up.sendto(data, self.target)
                self.udp.sendto(up.recv(65535), client)
            except OSError:
                continue

    def _accept(self):
        while not self.closing:
            try:
                conn, _ = self.tcp.accept()
            except OSError:
                return
            up = socket.create_connection(self.target)
            threading.Thread(target=self._pipe, args=(conn, up, "requests"), daemon=True).start()
            threading.Thread(target=self._pipe, args=(up, conn, "replies"), daemon=True).start()

    def _pipe(self, src, dst, keep):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                setattr(self, keep, getattr(self, keep) + data)
                dst.sendall(data)
        except OSError:
            pass
        finally:
            for s in (src, dst):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def close(self):
        self.closing = True
        self.udp.close()
        self.tcp.close()


def frames(stream):
    out, at = [], 0
    while len(stream) - at >= 2:
        n = struct.unpack_from("!H", stream, at)[0]
        out.append(stream[at + 2:at + 2 + n])
        at += 2 + n
    return out


@pytest.fixture
def folder():
    with tempfile.TemporaryDirectory(prefix="kest-k2k-") as d:
        yield Path(d)


def start_secondary_kest(kestserv, folder, ip, zone, primary, notify=()):
    """A kestserv on ip holding zone as a secondary of primary (header lines only to begin)."""
    home = folder / f"kest-{ip}"
    (home / "data").mkdir(parents=True)
    # Not secure, so that the test can read the copy back.
    head = (f"; PRIMARYIP {primary}\n" + (f"; NOTIFY {' '.join(notify)}\n" if notify else "")
            + "; NOTSECURE\n")
    (home / "data" / (zone + "dns")).write_bytes(crlf(head))
    k = kestserv(home=home)
    k.write_ini(f"DNSBind: {ip}\nLogDetail: NO\n")
    k.start()
    k.wait_for(r"   DNS service started on " + ip.replace(".", r"\.") + "$")
    return k


def test_a_kestrune_secondary_copies_a_kestrune_primary(kestserv, folder):
    # Not secure: the primary sees the relay's connection, which leaves from 127.0.0.1.
    text = zone_text(ZONE, 11, hosts=500, notify=(KEST_SECOND,), secure=False)
    top = start_primary(kestserv, {ZONE: text})
    add_address(KEST_SECOND)
    relay = Relay(RELAY_IP)
    try:
        second = start_secondary_kest(kestserv, folder, KEST_SECOND, ZONE, RELAY_IP)
        wait_serial(KEST_SECOND, ZONE, 11, timeout=90)
        second.wait_for(r"Received Zone Transfer from 127\.0\.0\.5 for chain\.test\.$")
    finally:
        relay.close()
    top.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.1 for chain\.test\.$")
    # Our client asks for several records per message, and gets messages just past 1000 bytes.
    (request,) = frames(relay.requests)
    assert request.endswith(b"MS") and struct.unpack_from("!H", request, len(request) - 4)[0] == 1
    sizes = [len(m) for m in frames(relay.replies)]
    assert len(sizes) > 5 and all(1000 < n < 1100 for n in sizes[:-1]), sizes
    # The copy holds with authority what the primary holds.
    out = run(["dig", "+nocookie", "-b", "127.0.0.4", "@127.0.0.4", ZONE, "AXFR"])
    assert_transfer(parse_presentation(out.stdout), text, ZONE)
    assert second.stop() == 0
    assert top.stop() == 0
