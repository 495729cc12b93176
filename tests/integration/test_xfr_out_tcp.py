"""Port 53 over TCP of a real kestserv: queries resolved in the fake internet and answered on the
client's connection, and peers that misbehave (garbage, a stalled message, 200 idle connections,
one that never reads a large transfer) while UDP answers keep flowing."""
import select
import socket
import struct
import time

import dns.flags
import dns.message
import dns.query
import dns.rcode
import pytest

from fakenet import answer_set
from test_resolver import RESOLVER, dig, resolver  # noqa: F401  (the fixture)
from xfr_out_peers import start_primary, zone_text

ZONE = "example.test."


def test_client_on_tcp_gets_a_resolved_answer_over_its_connection(fake_internet, resolver):
    f = fake_internet
    k = resolver()
    for name, rtype in (("ftp.alpha.test.", "A"), ("chain.alpha.test.", "A")):
        status, flags, answer = dig(name, rtype, "+tcp")
        assert (status, answer) == ("NOERROR", set(f.answers[(name, rtype)].answer)), name
        assert {"qr", "rd", "ra"} <= flags
    q = dns.message.make_query("www.glueless.test.", "A")
    r = dns.query.tcp(q, RESOLVER, timeout=10)
    assert r.id == q.id and r.rcode() == dns.rcode.NOERROR
    assert answer_set(r) == set(f.answers[("www.glueless.test.", "A")].answer)
    k.wait_for(r"   Request from 127\.0\.0\.1 for A-record for www\.glueless\.test\. \(TCP\)$")


# ---- Misbehaving peers --------------------------------------------------------------------------

def udp_answers(name="www." + ZONE, tries=3):
    """True when the server answers a UDP query for a record of its zone."""
    for _ in range(tries):
        q = dns.message.make_query(name, "A")
        try:
            r = dns.query.udp(q, "127.0.0.1", timeout=2)
        except dns.exception.Timeout:
            continue
        return r.rcode() == dns.rcode.NOERROR and len(r.answer) == 1
    return False


def connect():
    s = socket.create_connection(("127.0.0.1", 53), timeout=10)
    return s


def closed_by_server(s, timeout=10):
    """True when the server closes the connection (end of stream or reset) within the time."""
    s.settimeout(timeout)
    try:
        while True:
            data = s.recv(65536)
            if not data:
                return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def wait_closed(socks, want, timeout=10):
    """The sockets the server has closed, waiting until want of them are (or the time is up)."""
    closed = set()
    deadline = time.monotonic() + timeout
    while len(closed) < want and time.monotonic() < deadline:
        ready, _, _ = select.select([s for s in socks if s not in closed], [], [], 0.2)
        for s in ready:
            try:
                if not s.recv(65536, socket.MSG_DONTWAIT):
                    closed.add(s)
            except ConnectionResetError:
                closed.add(s)
            except BlockingIOError:
                pass
    # A moment more for any that should not have been closed.
    ready, _, _ = select.select([s for s in socks if s not in closed], [], [], 0.3)
    return closed | set(ready)


@pytest.fixture
def big_primary(kestserv):
    # 60,000 records: far more than a socket's buffers hold.
    k = start_primary(kestserv, {ZONE: zone_text(ZONE, 1, hosts=60_000, secure=False)})
    yield k
    assert k.stop() == 0


def test_garbage_and_an_overlong_prefix_are_survived(big_primary):
    k = big_primary
    s = connect()
    # Messages of junk behind valid prefixes: dropped or answered, never fatal.
    junk = bytes(range(256)) * 4
    for n in (1, 5, 12, 13, 40, 300, 1024):
        s.sendall(struct.pack("!H", n) + junk[:n])
    assert udp_answers()
    # An announced length beyond any request: one log line and the connection is closed.
    s.sendall(b"\xff\xff" + junk)
    assert closed_by_server(s)
    k.wait_for(r"ctlZT DataArrival: message of 65535 bytes from 127\.0\.0\.1 \(TCP\)")
    assert udp_answers()
    assert not (k.home / "support.txt").exists()


def test_a_stalled_message_and_200_idle_connections_leave_udp_flowing(big_primary):
    stalled = connect()
    stalled.sendall(struct.pack("!H", 300) + b"\0" * 100)
    idle = [connect() for _ in range(200)]
    # 64 are served at once (the stalled one among them); the others are closed at once.
    closed = wait_closed(idle, want=200 - 63)
    assert len(closed) == 200 - 63
    assert udp_answers()
    # A served connection still answers a query over TCP with the prefix.
    alive = [s for s in idle if s not in closed]
    q = dns.message.make_query("www." + ZONE, "A")
    r = dns.query.tcp(q, "127.0.0.1", timeout=5, sock=alive[0])
    assert r.rcode() == dns.rcode.NOERROR and len(r.answer) == 1
    for s in idle + [stalled]:
        s.close()
    # Once they are gone, new connections are served again.
    deadline = time.monotonic() + 10
    while True:
        s = connect()
        try:
            r = dns.query.tcp(q, "127.0.0.1", timeout=2, sock=s)
            break
        except (EOFError, ConnectionError, dns.exception.Timeout):
            assert time.monotonic() < deadline, "no TCP service after the idle connections went"
        finally:
            s.close()
    assert r.rcode() == dns.rcode.NOERROR


def test_a_peer_that_never_reads_its_transfer_is_closed_and_udp_flows(big_primary):
    k = big_primary
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", 53))
    q = dns.message.make_query(ZONE, "AXFR")
    wire = q.to_wire()
    s.sendall(struct.pack("!H", len(wire)) + wire)
    k.wait_for(r"   Sending Zone Transfer to 127\.0\.0\.1 for example\.test\.$", timeout=30)
    # Never read: the server keeps answering UDP meanwhile, then gives the reader up.
    for _ in range(5):
        assert udp_answers()
    k.wait_for(r"   Closing TCP connection of 127\.0\.0\.1: the peer stopped reading$", timeout=90)
    assert udp_answers()
    s.close()
