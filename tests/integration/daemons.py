"""What every peer daemon of the integration tests shares: its files kept in its own folder, its
address on the namespace's loopback, and an orderly stop."""
import subprocess


def bind_files(d):
    """The options lines that keep every file BIND writes inside its folder d."""
    return f"""    directory "{d}";
    pid-file "{d}/named.pid";
    lock-file "{d}/named.lock";
    session-keyfile "{d}/session.key";
    managed-keys-directory "{d}";
    bindkeys-file "{d}/bind.keys";
    dump-file "{d}/named_dump.db";
    statistics-file "{d}/named.stats";
    memstatistics-file "{d}/named.memstats";
    geoip-directory none;
"""


def knot_server_lines(d, listen):
    """The head of a knot.conf: one worker of each kind, every file in the folder d, the log on
    standard error."""
    return [
        "server:",
        f'    rundir: "{d}"',
        f'    pidfile: "{d}/knot.pid"',
        f"    listen: {listen}",
        "    udp-workers: 1",
        "    tcp-workers: 1",
        "    background-workers: 1",
        "control:",
        f'    listen: "{d}/knot.sock"',
        "database:",
        f'    storage: "{d}/db"',
        "log:",
        "  - target: stderr",
        "    any: info",
    ]


def knot_command(d, conf):
    """knotd's command line for the settings file conf. Read from a text file, the settings would
    go to a database under /tmp: they are imported into one in the peer's folder d first."""
    subprocess.run(["knotc", "-C", str(d / "confdb"), "conf-import", str(conf)],
                   check=True, capture_output=True)
    return ["knotd", "-C", str(d / "confdb")]


def add_address(ip):
    """Puts a loopback address on lo (the peers listen only on addresses an interface holds)."""
    subprocess.run(["ip", "addr", "add", f"{ip}/32", "dev", "lo"], capture_output=True)


def stop_process(proc, wait=10):
    """Ends a daemon: SIGTERM, then SIGKILL when it has not gone after wait seconds."""
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(wait)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
