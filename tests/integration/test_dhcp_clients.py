"""The DHCP server with real clients from Debian (busybox udhcpc, ISC dhclient), each client in a
network namespace of its own joined to the server's by a veth pair, and kestserv as a real
process. What the clients receive is checked against the settings they were written from."""
import signal
import time

import pytest

from dhcp_net import (Client, Dhclient, Udhcpc, ini, lease_line, need, run, server_link,
                      wait_until)

SCOPE = "192.0.2.1 lan 192.0.2.50 192.0.2.59 255.255.255.0 192.0.2.254 3600"
STARTED = r"   DHCP service started on 192\.0\.2\.1$"
LOADED = r"   Loading DHCP Leases\.\.\.$"


@pytest.fixture
def net(kestserv, tmp_path):
    """Makes clients on demand; every one is closed at the end."""
    clients = []

    class Net:
        def link(self, name, address):
            return server_link(name, address)

        def client(self, link, mac):
            c = Client(link, tmp_path / f"client{len(clients)}", mac)
            clients.append(c)
            return c

    yield Net()
    for c in clients:
        c.close()


def start_server(kestserv, *dhcp_lines):
    k = kestserv()
    k.write_ini(ini(*dhcp_lines))
    k.start()
    for line in dhcp_lines:
        k.wait_for(r"   DHCP service started on " + line.split()[0].replace(".", r"\.") + "$")
    k.wait_for(LOADED)
    return k


def server_dig(name):
    """The A answer for name, asked from the server's side (a released client has no address)."""
    return run("dig", "@192.0.2.1", "+time=5", "+tries=1", "+norec", "+short", name, "A").stdout.strip()


def expires(home, name):
    fields = lease_line(home, name)
    return None if fields is None else " ".join(fields[-2:])


def test_udhcpc_lease_names_renewal_and_release(kestserv, kest_home, net):
    need("udhcpc", "dig", "nsenter", "unshare")
    link = net.link("ks0", "192.0.2.1/24")
    k = start_server(kestserv, SCOPE)
    c = net.client(link, "02:00:00:00:00:07")
    u = Udhcpc(c, hostname="PC-7")
    got = u.bound()
    # What the settings line hands out.
    assert got["ip"] == "192.0.2.50"
    assert got["subnet"] == "255.255.255.0"
    assert got["router"] == "192.0.2.254"
    assert got["dns"] == "192.0.2.1"
    assert got["domain"] == "LAN"
    assert got["lease"] == "3600"
    assert got["serverid"] == "192.0.2.1"
    wait_until(lambda: c.addresses() == ["192.0.2.50"], "the address on the client")
    k.wait_for(r"   Sending DHCP Acknowledgement to pc-7 for 192\.0\.2\.50$")
    # DNS answers at once, both ways.
    assert c.dig("+short", "pc-7.lan.", "A").split() == ["192.0.2.50"]
    assert c.dig("+short", "-x", "192.0.2.50").split() == ["pc-7.lan."]
    # The lease reaches dhcp.dat while the server runs: name, address, client identifier
    # (type 1 and the MAC, as udhcpc sends it), hardware address.
    fields = wait_until(lambda: lease_line(kest_home, "pc-7.lan."), "the lease in dhcp.dat")
    assert fields[1:4] == ["192.0.2.50", "01020000000007", "020000000007"]
    first = expires(kest_home, "pc-7.lan.")

    # Renewal: let the clock pass a second so the new expiry is later, then ask udhcpc to renew.
    second = int(time.time())
    wait_until(lambda: int(time.time()) > second, "the next second")
    u.signal(signal.SIGUSR1)
    k.wait_for(r"   DHCP Renewal Request from pc-7 for 192\.0\.2\.50$")
    wait_until(lambda: any(e["event"] == "renew" for e in u.events()), "udhcpc's renew event")
    wait_until(lambda: (expires(kest_home, "pc-7.lan.") or "") > first, "a later expiry")

    # Release: the lease stays in the table but is over, so DNS forgets the name.
    u.signal(signal.SIGUSR2)
    k.wait_for(r"   DHCP Release from 192\.0\.2\.50$")
    assert server_dig("pc-7.lan.") == ""
    assert lease_line(kest_home, "pc-7.lan.") is not None


def test_dhclient_lease_and_release(kestserv, kest_home, net):
    need("dhclient", "dig", "nsenter", "unshare")
    link = net.link("ks0", "192.0.2.1/24")
    k = start_server(kestserv, SCOPE)
    c = net.client(link, "02:00:00:00:00:09")
    d = Dhclient(c, "pc-9")
    got = d.bound()
    assert got["ip"] == "192.0.2.50"
    assert got["subnet"] == "255.255.255.0"
    assert got["router"] == "192.0.2.254"
    assert got["dns"] == "192.0.2.1"
    assert got["domain"].lower() == "lan"
    assert got["lease"] == "3600"
    wait_until(lambda: c.addresses() == ["192.0.2.50"], "the address on the client")
    k.wait_for(r"   Sending DHCP Acknowledgement to pc-9 for 192\.0\.2\.50$")
    assert c.dig("+short", "pc-9.lan.", "A").split() == ["192.0.2.50"]
    assert c.dig("+short", "-x", "192.0.2.50").split() == ["pc-9.lan."]
    fields = wait_until(lambda: lease_line(kest_home, "pc-9.lan."), "the lease in dhcp.dat")
    # dhclient sends no client identifier: an empty field, two blanks in a row.
    assert fields[1:4] == ["192.0.2.50", "", "020000000009"]

    d.release()
    k.wait_for(r"   DHCP Release from 192\.0\.2\.50$")
    assert server_dig("pc-9.lan.") == ""


def test_same_name_and_full_scope_get_no_offer(kestserv, net):
    need("udhcpc", "nsenter", "unshare")
    # One server port on a bridge, four clients behind it; the scope has two addresses.
    run("ip", "link", "add", "br0", "type", "bridge")
    run("ip", "addr", "add", "192.0.2.1/24", "dev", "br0")
    run("ip", "link", "set", "br0", "up")
    links = []
    for i in range(4):
        peer = net.link(f"ks{i}", "198.18.0.%d/32" % (i + 1))
        run("ip", "addr", "flush", "dev", f"ks{i}")
        run("ip", "link", "set", f"ks{i}", "master", "br0")
        links.append(peer)
    k = start_server(kestserv, "192.0.2.1 lan 192.0.2.50 192.0.2.51 255.255.255.0 0.0.0.0 3600")
    clients = [net.client(links[i], f"02:00:00:00:01:0{i}") for i in range(4)]

    a = Udhcpc(clients[0], hostname="pc-7")
    assert a.bound()["ip"] == "192.0.2.50"
    discoveries = k.count(r"   DHCP Discovery from pc-7$")
    offers = k.count(r"   Sending DHCP Offer to pc-7 ")
    # The same host name from another machine: no offer although an address is free.
    b = Udhcpc(clients[1], hostname="pc-7", tries=2)
    assert b.failed()
    assert k.count(r"   DHCP Discovery from pc-7$") > discoveries
    assert k.count(r"   Sending DHCP Offer to pc-7 ") == offers
    # Another name takes the second address; then the scope is full.
    c = Udhcpc(clients[2], hostname="pc-8", client_id=False)
    assert c.bound()["ip"] == "192.0.2.51"
    d = Udhcpc(clients[3], hostname="pc-9", tries=2)
    assert d.failed()
    assert k.count(r"   DHCP Discovery from pc-9$") >= 1
    assert k.count(r"   Sending DHCP Offer to pc-9 ") == 0


def test_two_interfaces_hand_out_their_own_scopes(kestserv, net):
    need("udhcpc", "nsenter", "unshare")
    l1 = net.link("ks0", "192.0.2.1/24")
    l2 = net.link("ks1", "198.51.100.1/24")
    k = start_server(kestserv, SCOPE,
                     "198.51.100.1 lab 198.51.100.20 198.51.100.29 255.255.255.0 0.0.0.0 600")
    one = Udhcpc(net.client(l1, "02:00:00:00:02:01"), hostname="pc-1")
    two = Udhcpc(net.client(l2, "02:00:00:00:02:02"), hostname="pc-2")
    g1, g2 = one.bound(), two.bound()
    assert (g1["ip"], g1["serverid"], g1["domain"], g1["router"], g1["lease"]) == \
        ("192.0.2.50", "192.0.2.1", "LAN", "192.0.2.254", "3600")
    assert (g2["ip"], g2["serverid"], g2["domain"], g2["dns"], g2["lease"]) == \
        ("198.51.100.20", "198.51.100.1", "LAB", "198.51.100.1", "600")
    assert g2.get("router", "") == ""
    k.wait_for(r"   Sending DHCP Acknowledgement to pc-2 for 198\.51\.100\.20$")


def test_lease_survives_kill_and_restart(kestserv, kest_home, net):
    need("udhcpc", "dig", "nsenter", "unshare")
    link = net.link("ks0", "192.0.2.1/24")
    k = start_server(kestserv, SCOPE)
    c = net.client(link, "02:00:00:00:03:01")
    u = Udhcpc(c, hostname="pc-5")
    assert u.bound()["ip"] == "192.0.2.50"
    # Written while running, not at shutdown: a kill -9 keeps it.
    wait_until(lambda: lease_line(kest_home, "pc-5.lan."), "the lease in dhcp.dat")
    k.stop(signal.SIGKILL)
    k2 = kestserv()
    k2.start()
    k2.wait_for(STARTED)
    k2.wait_for(LOADED)
    assert c.dig("+short", "pc-5.lan.", "A").split() == ["192.0.2.50"]
    # The restarted server knows the client when it renews.
    u.signal(signal.SIGUSR1)
    k2.wait_for(r"   Sending DHCP Acknowledgement to pc-5 for 192\.0\.2\.50$")
