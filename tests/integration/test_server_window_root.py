""""Get latest Internet Root file..." from the server's main window (offscreen), fetching from a
local HTTP server in a private namespace: named.root is replaced, and loaded, only by a file that
lists root name servers with their addresses; a broken file, an error page and a failed
connection are shown to the user and change nothing."""
import http.server
import os
import subprocess
import threading
from pathlib import Path

import pytest

GOOD = (
    ";  root hints for the test\r\n"
    ".                        3600000      NS    A.ROOT.TEST.\r\n"
    "A.ROOT.TEST.             3600000      A     10.53.0.1\r\n"
    ".                        3600000      NS    B.ROOT.TEST.\r\n"
    "B.ROOT.TEST.             3600000      A     10.53.0.2\r\n"
)
# Name servers of ".", but no address for any of them.
BROKEN = ".  3600000  NS  A.ROOT.TEST.\r\n.  3600000  NS  B.ROOT.TEST.\r\n"
OLD = ".  3600000  NS  OLD.ROOT.TEST.\r\nOLD.ROOT.TEST.  3600000  A  10.9.9.9\r\n"
FILES = {"/named.root": GOOD, "/broken.root": BROKEN, "/error.html": None}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = FILES.get(self.path)
        if body is None:
            page = b"<html><body><h1>404 Not Found</h1></body></html>\n"
            self.send_response(404 if self.path not in FILES else 200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            self.wfile.write(page)
            return
        data = body.encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass


@pytest.fixture
def web(netns):
    """An HTTP server on loopback inside the test's namespace; its base address."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}"
    server.shutdown()
    server.server_close()


@pytest.fixture
def driver(kestserv_path):
    path = Path(kestserv_path).resolve().parents[1] / "tests" / "server" / "ui" / "window_driver"
    if not os.access(path, os.X_OK):
        pytest.fail(f"window driver not built: {path}")
    return path


def get_root(driver, home, url):
    env = dict(os.environ, KESTRUNE_HOME=str(home), XDG_RUNTIME_DIR=str(home),
               XDG_CONFIG_HOME=str(home / "config"), HOME=str(home))
    done = subprocess.run([str(driver), str(home), "getroot", url], env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    boxes = [line[len("box: "):] for line in lines if line.startswith("box: ")]
    cache = [int(line.split()[1]) for line in lines if line.startswith("cache: ")]
    return boxes, cache[0]


def test_only_a_usable_root_file_replaces_named_root(web, driver, tmp_path):
    home = tmp_path / "home"
    home.mkdir()
    root = home / "named.root"
    root.write_bytes(OLD.encode())
    info = ("info This function will connect to the Internic and download | the latest Internet "
            "Root file. |  | The Internet Root records very seldom change, and Kestrune | comes "
            "with the latest Root file at the time of shipping.")

    for path in ("/broken.root", "/error.html", "/missing.root"):
        boxes, cache = get_root(driver, home, web + path)
        assert boxes[0] == info
        assert len(boxes) == 2 and boxes[1].startswith("warning "), boxes
        assert boxes[1].endswith("named.root was not changed."), boxes
        assert root.read_bytes() == OLD.encode()
        assert cache == 0
    # Nobody listens on port 1 in the namespace: the connection fails.
    boxes, cache = get_root(driver, home, "http://127.0.0.1:1/named.root")
    assert boxes[1].startswith("warning Could not download"), boxes
    assert root.read_bytes() == OLD.encode()

    boxes, cache = get_root(driver, home, web + "/named.root")
    assert boxes[1].startswith("info The latest Internet Root file was saved as"), boxes
    assert root.read_bytes() == GOOD.encode()
    # Loaded at once: two NS records of "." and the two addresses.
    assert cache == 4
    # Nothing of the replacement is left behind.
    assert sorted(p.name for p in home.iterdir() if p.name.startswith("named.root")) == ["named.root"]
