"""A raw-packet DHCP client in Python for what real clients cannot show: the reply bytes read by
an independent decoder, requests naming another server, truncated and short datagrams, declines.
The client lives in a namespace of its own behind a veth pair; kestserv runs as a real process.

To know that the server sent nothing for a message without waiting for a time-out, each case is
followed by a discovery with a transaction ID of its own: the server answers in order, so when
that offer arrives, every earlier reply would have arrived before it."""
import socket
import struct

import pytest

from dhcp_net import Client, ini, lease_line, need, run, server_link, wait_until

COOKIE = bytes([99, 130, 83, 99])
MAC = bytes.fromhex("020000000a01")
SCOPE = "192.0.2.1 lan 192.0.2.50 192.0.2.59 255.255.255.0 192.0.2.254 0"


def message(xid, options, op=1, ciaddr="0.0.0.0", mac=MAC, hlen=None, end=True):
    """A client message by the BOOTP layout; options is a list of (code, bytes)."""
    head = struct.pack("!BBBB4sHH4s4s4s4s16s64s128s", op, 1, len(mac) if hlen is None else hlen, 0,
                       xid, 0, 0, socket.inet_aton(ciaddr), bytes(4), bytes(4), bytes(4),
                       mac.ljust(16, b"\0"), bytes(64), bytes(128))
    body = b"".join(bytes([code, len(value)]) + value for code, value in options)
    return head + COOKIE + body + (b"\xff" if end else b"")


def decode(data):
    """Fixed fields and options (in order) of a reply; fails on anything malformed."""
    assert len(data) > 240
    op, htype, hlen, hops, xid, secs, flags = struct.unpack("!BBBB4sHH", data[:12])
    r = dict(op=op, htype=htype, hlen=hlen, hops=hops, xid=xid, secs=secs, flags=flags,
             ciaddr=socket.inet_ntoa(data[12:16]), yiaddr=socket.inet_ntoa(data[16:20]),
             rest=data[20:28], chaddr=data[28:44], sname_file=data[44:236], cookie=data[236:240])
    options, p = [], 240
    while True:
        code = data[p]
        if code == 255:
            assert p == len(data) - 1, "bytes after the end option"
            break
        length = data[p + 1]
        assert p + 2 + length <= len(data)
        options.append((code, data[p + 2:p + 2 + length]))
        p += 2 + length
    r["options"] = options
    return r


class RawClient:
    def __init__(self, client):
        self.sock = client.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, client.ifname.encode())
        self.sock.bind(("0.0.0.0", 68))
        self.sock.settimeout(30)
        self.n = 0

    def send(self, data, to="255.255.255.255"):
        self.sock.sendto(data, (to, 67))

    def xid(self):
        self.n += 1
        return struct.pack("!I", 0x5A000000 + self.n)

    def replies_until(self, xid):
        """Every reply received until the one with this transaction ID (included)."""
        got = []
        while True:
            data, (ip, port) = self.sock.recvfrom(4096)
            got.append((decode(data), ip, port))
            if got[-1][0]["xid"] == xid:
                return got

    def sentinel(self):
        """A discovery of another machine; the replies up to its offer."""
        x = self.xid()
        self.send(message(x, [(53, b"\x01"), (12, b"sentinel")], mac=bytes.fromhex("02000000ffff")))
        return self.replies_until(x)


@pytest.fixture
def raw(kestserv, tmp_path):
    need("nsenter", "unshare", "dig")
    link = server_link("ks0", "192.0.2.1/24")
    k = kestserv()
    k.write_ini(ini(SCOPE))
    k.start()
    k.wait_for(r"   DHCP service started on 192\.0\.2\.1$")
    k.wait_for(r"   Loading DHCP Leases\.\.\.$")
    c = Client(link, tmp_path / "client", "02:00:00:00:0a:01")
    c.do("ip", "addr", "add", "192.0.2.200/24", "dev", c.ifname)
    rc = RawClient(c)
    yield k, rc, c
    rc.sock.close()
    c.close()


def test_offer_and_acknowledgement_bytes(raw, kest_home):
    k, rc, c = raw
    x = rc.xid()
    client_id = b"\x01" + MAC
    rc.send(message(x, [(53, b"\x01"), (61, client_id), (12, b"Raw-1.example\0junk"),
                        (55, bytes([1, 3, 6, 15]))]))
    (offer, ip, port), = rc.replies_until(x)
    assert (ip, port) == ("192.0.2.1", 67)
    assert (offer["op"], offer["htype"], offer["hlen"], offer["hops"]) == (2, 1, 6, 0)
    assert (offer["secs"], offer["flags"], offer["ciaddr"]) == (0, 0, "0.0.0.0")
    assert offer["yiaddr"] == "192.0.2.50"
    assert offer["rest"] == bytes(8) and offer["sname_file"] == bytes(192)
    assert offer["chaddr"] == MAC + bytes(10)
    assert offer["cookie"] == COOKIE
    # The option list in its fixed order; 0 in the settings means 259200 seconds.
    assert offer["options"] == [
        (53, b"\x02"), (61, client_id), (1, bytes([255, 255, 255, 0])), (54, bytes([192, 0, 2, 1])),
        (51, bytes([0, 3, 244, 128])), (6, bytes([192, 0, 2, 1])), (3, bytes([192, 0, 2, 254])),
        (12, b"raw-1\0"), (15, b"LAN")]
    k.wait_for(r"   DHCP Discovery from raw-1$")

    x = rc.xid()
    rc.send(message(x, [(53, b"\x03"), (61, client_id), (50, bytes([192, 0, 2, 50])),
                        (54, bytes([192, 0, 2, 1])), (12, b"raw-1")]))
    (ack, _, _), = rc.replies_until(x)
    assert ack["yiaddr"] == "192.0.2.50"
    assert [code for code, _ in ack["options"]] == [53, 61, 1, 54, 51, 6, 3, 12, 15]
    assert ack["options"][0] == (53, b"\x05")
    k.wait_for(r"   DHCP Lease Request from raw-1 for 192\.0\.2\.50$")
    fields = wait_until(lambda: lease_line(kest_home, "raw-1.lan."), "the lease in dhcp.dat")
    assert fields[1:4] == ["192.0.2.50", "01020000000A01", "020000000A01"]

    # A decline is only written to the log: the lease stays as it is.
    before = lease_line(kest_home, "raw-1.lan.")
    rc.send(message(rc.xid(), [(53, b"\x04"), (61, client_id), (50, bytes([192, 0, 2, 50])),
                               (54, bytes([192, 0, 2, 1])), (12, b"raw-1")]))
    assert [r["xid"] for r, _, _ in rc.sentinel()] == [struct.pack("!I", 0x5A000000 + rc.n)]
    k.wait_for(r"   DHCP Decline from raw-1$")
    assert lease_line(kest_home, "raw-1.lan.") == before
    answer = c.dig("+short", "raw-1.lan.", "A").split()
    assert answer == ["192.0.2.50"]


def test_what_gets_no_reply(raw):
    k, rc, c = raw
    offer = rc.sentinel()
    assert len(offer) == 1
    asked = [
        # A request choosing another server's offer, and one naming no server.
        message(rc.xid(), [(53, b"\x03"), (50, bytes([192, 0, 2, 51])), (54, bytes([192, 0, 2, 9])),
                           (12, b"raw-2")]),
        message(rc.xid(), [(53, b"\x03"), (50, bytes([192, 0, 2, 51])), (12, b"raw-2")]),
        # Options that run past the end, and a message without end option.
        message(rc.xid(), [(53, b"\x01"), (12, b"raw-2")], end=False) + bytes([12, 9]) + b"raw",
        message(rc.xid(), [(53, b"\x01"), (12, b"raw-2")], end=False),
        # One byte, and the bare 240-byte header with its cookie.
        b"\x01",
        message(rc.xid(), [], end=False),
    ]
    for data in asked:
        rc.send(data)
    replies = rc.sentinel()
    assert [r["xid"] for r, _, _ in replies] == [struct.pack("!I", 0x5A000000 + rc.n)]
    assert k.count(r"   DHCP Lease Request from ") == 0
    assert k.count(r"   DHCP Discovery from raw-2") == 0
    # The DNS side still answers (dig's status 9 would mean no reply).
    assert run("dig", "@192.0.2.1", "+time=5", "+tries=1", "+norec", "sentinel.lan.",
               check=False).returncode == 0
