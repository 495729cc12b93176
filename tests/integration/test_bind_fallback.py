"""Port 53 held on one address by another program (a local stub resolver on 127.0.0.53): the
server serves on every other local address instead, answering from the address asked."""
import socket
import struct
import subprocess

from conftest import probe_query


def _tcp_query(wire, server):
    with socket.create_connection(server, timeout=30) as s:
        s.sendall(struct.pack("!H", len(wire)) + wire)
        head = s.recv(2, socket.MSG_WAITALL)
        return s.recv(struct.unpack("!H", head)[0], socket.MSG_WAITALL)


def test_held_port_on_one_address_falls_back_to_each_free_address(kestserv, netns):
    subprocess.run(["ip", "addr", "add", "127.0.0.2/8", "dev", "lo"], check=True)
    stub_udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    stub_udp.bind(("127.0.0.53", 53))
    stub_tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    stub_tcp.bind(("127.0.0.53", 53))
    stub_tcp.listen()
    try:
        k = kestserv()
        k.write_ini("Name: ns.fallback.test\n")
        k.start()
        k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
        k.wait_for(r"   DNS service started on 127\.0\.0\.2$")
        assert k.count(r"   DNS service started\.$") == 0
        assert k.count(r"Binding DNS service") == 0

        for n, ip in enumerate(("127.0.0.2", "127.0.0.1")):
            wire = probe_query(qid=0x4000 + n)
            c = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            c.settimeout(30)
            c.bind(("127.0.0.1", 0))
            c.sendto(wire, (ip, 53))
            reply, source = c.recvfrom(65535)
            c.close()
            assert source == (ip, 53)
            assert reply[:2] == wire[:2] and reply[2] & 0x80
            reply = _tcp_query(wire, (ip, 53))
            assert reply[:2] == wire[:2] and reply[2] & 0x80

        # The stub's address stays the stub's: a query there reaches it, not the server.
        c = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        c.bind(("127.0.0.1", 0))
        c.sendto(probe_query(qid=0x4100), ("127.0.0.53", 53))
        stub_udp.settimeout(30)
        data, _ = stub_udp.recvfrom(512)
        assert data[:2] == b"\x41\x00"
        c.close()
        assert k.running()
    finally:
        stub_udp.close()
        stub_tcp.close()


def test_port_held_on_all_addresses_still_fails(kestserv, netns):
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", 53))
    try:
        k = kestserv()
        k.start()
        k.wait_for(r"   Binding DNS service failed - DNS service not started!$")
        assert k.count(r"DNS service started") == 0
    finally:
        holder.close()
