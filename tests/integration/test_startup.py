"""Start-up, the settings file, port conflicts, shutdown and service removal of a real kestserv."""
import signal
import socket
import time

import pytest

from conftest import parse_ini, probe

FIRST_TICK = r"   Loading DHCP Leases\.\.\.$"   # the last line of the first tick's data load


def reload_port(ini_path):
    ports = [v for k, v in parse_ini(ini_path) if k == "ReloadPort"]
    assert len(ports) == 1, ports
    return int(ports[0])


def wait_reload_port(k):
    """The reload port, once start-up has written it into the settings file."""
    deadline = time.monotonic() + 60
    while "ReloadPort" not in k.ini.read_bytes().decode():
        assert time.monotonic() < deadline, "ReloadPort never written"
        assert k.running(), "kestserv ended:\n" + "\n".join(k.lines)
        time.sleep(0.05)
    return reload_port(k.ini)


def send_reload(k, text):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(text.encode(), ("127.0.0.1", wait_reload_port(k)))


def udp_port_in_use(ip, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind((ip, port))
        return False
    except OSError:
        return True
    finally:
        s.close()


def test_start_publishes_reload_port_and_shuts_down_in_order(kestserv):
    k = kestserv()
    k.write_ini("Name: alpha.test\nWriteLog: YES\n")
    k.start()
    k.wait_for(r"^\d\d:\d\d:\d\d   Program started\.$")
    k.wait_for(r"   DNS service started\.$")
    # The file is rewritten at the end of start-up with the reload port it bound.
    port = wait_reload_port(k)
    assert 0 < port < 65536
    assert udp_port_in_use("127.0.0.1", port)
    assert udp_port_in_use("0.0.0.0", 53)
    # The first tick has loaded the data and the server still answers.
    k.wait_for(FIRST_TICK)
    probe()
    assert k.running()
    before = k.ini.read_bytes()
    assert k.stop() == 0
    assert k.ini.read_bytes() == before
    assert before.startswith(b"Name: alpha.test\r\nHostsTTL: 3600 \r\n")
    logs = list((k.home / "logs").glob("*.log"))
    assert len(logs) == 1
    text = logs[0].read_bytes().decode()
    assert "   Program started.\r\n" in text and "   Server paused.\r\n" in text


def test_bind_address_is_used_and_named(kestserv):
    k = kestserv()
    k.write_ini("DNSBind: 127.0.0.1\nPrimaryIP: 10.9.9.9\n")
    k.start()
    k.wait_for(r"   DNS service started on 127\.0\.0\.1$")
    assert udp_port_in_use("127.0.0.1", 53)
    assert not udp_port_in_use("127.0.0.2", 53)
    assert k.stop() == 0
    assert ("PrimaryIP", "10.9.9.9") in parse_ini(k.ini)
    assert ("DNSBind", "127.0.0.1") in parse_ini(k.ini)


def test_port_taken_fails_softly_and_a_later_bind_address_start_works(kestserv):
    blocker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    blocker.bind(("127.0.0.1", 53))
    try:
        k = kestserv()
        (k.home / "data" / "probe.test.dns").write_bytes(b"@ 300 SOA ns hm 1 2 3 4 5\r\n")
        k.start()
        k.wait_for(r"   Binding DNS service failed - DNS service not started!$")
        # Start-up arms the first tick before its event loop runs; two reload commands handled
        # one after the other mean the loop went round since, so the tick has run.
        for n in (1, 2):
            send_reload(k, "reload probe.test")
            k.wait_count(r"   Loading Zone: probe\.test\.$", n)
        assert k.running()
        # Without the DNS service the tick loads nothing.
        assert [line for line in k.lines if "Loading" in line and "probe.test" not in line] == []
        assert k.stop() == 0

        k2 = kestserv()
        k2.write_ini("DNSBind: 127.0.0.1\n")
        k2.start()
        k2.wait_for(r"   Binding DNS service to 127\.0\.0\.1 failed - DNS service not started!$")
        assert k2.stop() == 0
    finally:
        blocker.close()
    # With the port free again the same settings start.
    k3 = kestserv()
    k3.write_ini("")
    k3.start()
    k3.wait_for(r"   DNS service started\.$")
    assert k3.stop() == 0


def test_garbage_settings_give_defaults(kestserv):
    k = kestserv()
    k.ini.write_bytes(bytes(range(256)) * 4 + b"\nBombLevel: abc\nHostsTTL: -x\n")
    k.start()
    k.wait_for(r"   DNS service started\.$")
    assert k.stop() == 0
    pairs = parse_ini(k.ini)
    keys = [key for key, _ in pairs]
    assert keys == ["HostsTTL", "PrimaryIP", "DNSRecursion", "ServiceName", "ServiceDesc",
                    "ReloadPort", "BombLevel"]
    assert ("BombLevel", "0") in pairs and ("HostsTTL", "0") in pairs


def test_unwritable_log_folder_is_skipped(kestserv):
    k = kestserv()
    (k.home / "logs").write_text("not a folder")
    k.write_ini("WriteLog: YES\n")
    k.start()
    k.wait_for(r"   DNS service started\.$")
    # The first tick's lines could not be written either; the server still answers.
    k.wait_for(FIRST_TICK)
    probe()
    assert k.running()
    assert k.stop() == 0
    assert (k.home / "logs").read_text() == "not a folder"


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
def test_signals_are_an_orderly_shutdown(kestserv, sig):
    k = kestserv()
    k.start()
    k.wait_for(r"   DNS service started\.$")
    assert k.stop(sig) == 0
    k.wait_for(r"   Server paused\.$")


def test_service_run_in_the_foreground(kestserv):
    k = kestserv()
    k.write_ini("NTService: YES\nServiceName: Test Svc\n")
    k.start("-n")
    started = k.wait_for(r"   NT Service Started\.$")
    k.wait_for(r"   Program started\.$")
    assert k.lines.index(started) < k.lines.index(k.wait_for(r"   Program started\.$"))
    k.wait_for(r"   DNS service started\.$")
    assert k.stop() == 0
    k.wait_for(r"   NT Service Stopped\.$")
    assert ("ServiceName", "testsvc") in parse_ini(k.ini)
    # No error was reported: nothing went to the system log (the one place a service run
    # writes outside its folders, and no test can redirect).
    assert not (k.home / "support.txt").exists()


def test_other_command_line_does_nothing(kestserv):
    k = kestserv()
    k.start("-x")
    assert k.proc.wait(timeout=60) == 0
    assert not k.ini.exists()


def test_uninstall_removes_the_unit_and_the_autostart_entry(kestserv):
    k = kestserv()
    host = k.host
    (host.units / "kestrund.service").write_text("[Unit]\nDescription=Kestrune\n")
    (host.units / "other.service").write_text("[Unit]\nDescription=Other\n")
    (host.autostart / "kestrune.desktop").write_text("[Desktop Entry]\nType=Application\n")
    (host.autostart / "other.desktop").write_text("[Desktop Entry]\nType=Application\n")
    assert len(host.changes()) == 4
    k.write_ini("NTService: YES\nStartWin: YES\nServiceName: kestrund\n")
    k.start("-u")
    assert k.proc.wait(timeout=60) == 0
    # Only the service's unit and the start-up entry went; systemctl was told.
    assert host.changes() == ["added systemctl.calls", "removed autostart/kestrune.desktop",
                              "removed units/kestrund.service"]
    calls = host.calls()
    assert any(c.startswith("stop kestrund") for c in calls), calls
    assert any(c.startswith("disable kestrund") for c in calls), calls
    assert calls[-1] == "daemon-reload"
    keys = [key for key, _ in parse_ini(k.ini)]
    assert "NTService" not in keys and "StartWin" not in keys
