"""A real web server and a real browser: nginx serves a small site, headless
Chromium browses it through the real vellum.exe while recording; then nginx
stops, Vellum goes offline, and the same pages and images come back from the
save folder.

The browser reaches Vellum through a proxy script that sends the test site,
and nothing else, to it: every other host Chromium asks for in the background
goes to a closed loopback port, so that Vellum never looks up or contacts a
name off this machine. Chromium never asks a proxy script about loopback
hosts, so the site is served on this machine's own address off the loopback
interface (a dotted address: Vellum looks nothing up for it). The request
tree shows every host Vellum was asked for; only the test site may be
there."""
import base64
import os
import socket
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

from urllib.parse import urljoin, urlsplit

from vellum_e2e import (Program, exchange, probe, read_published, request_tree, wait_until, windows_path,
                        write_settings)

VELLUM_PORT = 28321
NGINX_PORT = 28322
LOOPBACK = 0x7F000001
ARTIFACTS = os.environ.get("VELLUM_E2E_ARTIFACTS", "/tmp/vellum-e2e-artifacts")
CHROMIUM = shutil.which("chromium")
NGINX = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)


def own_address():
    """This machine's first IPv4 address off the loopback interface, or None."""
    try:
        listing = subprocess.run(["ip", "-4", "-o", "addr", "show", "scope", "global"], stdout=subprocess.PIPE,
                                 universal_newlines=True, timeout=10).stdout
    except OSError:
        return None
    for line in listing.splitlines():
        words = line.split()
        if "inet" in words:
            return words[words.index("inet") + 1].split("/")[0]
    return None


SITE_HOST = own_address()


def closed_port():
    """A loopback port nobody listens on: bound once, then let go."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def proxy_script(site, proxy_port, nowhere_port):
    """A PAC script: the test site through Vellum, every other URL to a port
    where nobody answers."""
    script = ("function FindProxyForURL(url, host) {\n"
              "  if (url.indexOf('http://%s/') == 0) return 'PROXY 127.0.0.1:%d';\n"
              "  return 'PROXY 127.0.0.1:%d';\n"
              "}\n" % (site, proxy_port, nowhere_port))
    return "data:application/x-ns-proxy-autoconfig;base64," + base64.b64encode(script.encode()).decode()


def png(width, height, colour):
    """A small solid-colour PNG."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\x00" + bytes(colour) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


SITE = {
    "index.html": ("<html><head><title>Vellum test site</title></head><body>"
                   "<h1>Front page</h1><p>Recorded while online.</p>"
                   "<img src='img/red.png' width=40 height=40> <img src='img/blue.png' width=40 height=40>"
                   "<p><a href='news/today.html'>today</a> <a href='jp.html'>japanese</a></p>"
                   "</body></html>").encode(),
    "news/today.html": ("<html><head><title>Today</title><link rel=stylesheet href='../style.css'></head>"
                        "<body><h2>News of the day</h2><img src='../img/green.png'></body></html>").encode(),
    "jp.html": ("<html><head><meta http-equiv='Content-Type' content='text/html; charset=Shift_JIS'>"
                "<title>日本語</title></head><body><p>オフラインで読めるページです。</p>"
                "<img src='img/red.png'></body></html>").encode("cp932"),
    "style.css": b"h2 { color: #0060c0; font-family: sans-serif; }",
    "img/red.png": png(40, 40, (220, 30, 30)),
    "img/blue.png": png(40, 40, (30, 60, 220)),
    "img/green.png": png(120, 20, (30, 160, 60)),
}
PAGES = ["index.html", "news/today.html", "jp.html"]


@unittest.skipUnless(CHROMIUM and NGINX, "chromium and nginx are needed (scripts/setup-debian.sh installs them)")
@unittest.skipUnless(SITE_HOST, "the test site needs an address off the loopback interface")
class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vellum-e2e-browser-", dir="/tmp")
        os.chmod(self.work, 0o755)
        self.site = os.path.join(self.work, "site")
        self.save = os.path.join(self.work, "save")
        os.makedirs(self.save)
        for name, data in SITE.items():
            path = os.path.join(self.site, *name.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        for folder, _, _ in os.walk(self.work):
            os.chmod(folder, 0o755)
        self.nginx = None
        self.program = None
        self.asked_for = set()
        self.site_address = "%s:%d" % (SITE_HOST, NGINX_PORT)
        self.proxy_script = proxy_script(self.site_address, VELLUM_PORT, closed_port())
        os.makedirs(ARTIFACTS, exist_ok=True)

    def tearDown(self):
        self.stop_vellum()
        self.stop_nginx()
        shutil.rmtree(self.work, ignore_errors=True)

    def start_nginx(self):
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as f:
            f.write("worker_processes 1; daemon off; pid %s/nginx.pid; error_log %s/error.log;\n"
                    "events { worker_connections 64; }\n"
                    "http { access_log %s/access.log; include /etc/nginx/mime.types;\n"
                    "  server { listen %s; root %s; } }\n"
                    % (self.work, self.work, self.work, self.site_address, self.site))
        self.nginx = subprocess.Popen([NGINX, "-c", conf, "-p", self.work],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(lambda: self.port_open(SITE_HOST, NGINX_PORT), 20), "nginx did not start")

    def stop_nginx(self):
        if self.nginx and self.nginx.poll() is None:
            self.nginx.terminate()
            self.nginx.wait(20)
        self.nginx = None

    @staticmethod
    def port_open(host, port):
        try:
            socket.create_connection((host, port), timeout=1).close()
            return True
        except OSError:
            return False

    def start_vellum(self, internet, localize):
        probe("delete-address")
        write_settings(localPath=windows_path(self.save), internet=internet, localize=localize)
        self.program = Program("127.0.0.1:%d" % VELLUM_PORT)
        self.assertEqual(wait_until(read_published), (LOOPBACK, VELLUM_PORT))

    def stop_vellum(self):
        if self.program and not self.program.exited():
            # Every request Vellum was asked for is a node of its tree; a
            # node under another shows its URL relative to that one's.
            above = []
            for depth, _, label in request_tree():
                url = urljoin(above[depth - 1], label) if depth > 0 else label
                above[depth:] = [url]
                self.asked_for.add(urlsplit(url).netloc)
            probe("close")
            try:
                self.program.wait(60)
            except Exception:
                self.program.kill()
        self.program = None

    def chromium(self, *args, proxy_script=None):
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.work)
        command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profile,
                   "--proxy-pac-url=" + (proxy_script or self.proxy_script),
                   "--virtual-time-budget=5000", *args]
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
        return done.stdout

    def url(self, name):
        return "http://%s/%s" % (self.site_address, name)

    def proxied(self, name):
        """The body of a page as the proxy answers it (headers cut off)."""
        answer = exchange(VELLUM_PORT, ("GET %s HTTP/1.0\r\n\r\n" % self.url(name)).encode())
        head, _, body = answer.partition(b"\r\n\r\n")
        return head.split(b"\r\n")[0], body

    def test_pages_browsed_while_recording_read_the_same_offline(self):
        self.start_nginx()
        self.start_vellum(internet=1, localize=1)
        online = {page: self.chromium("--dump-dom", self.url(page)) for page in PAGES}
        for page, dom in online.items():
            self.assertIn(b"<body>", dom, "%s did not load online" % page)
        store = os.path.join(self.save, "%s%%3A%d" % (SITE_HOST, NGINX_PORT))
        for name, data in SITE.items():
            recorded = os.path.join(store, *name.split("/"))
            self.assertTrue(os.path.exists(recorded), "%s was not recorded" % name)
            with open(recorded, "rb") as f:
                self.assertEqual(f.read(), data, "%s was recorded differently" % name)

        self.stop_vellum()
        self.stop_nginx()
        self.assertFalse(self.port_open(SITE_HOST, NGINX_PORT))
        self.start_vellum(internet=0, localize=0)

        for page in PAGES:
            self.assertEqual(self.chromium("--dump-dom", self.url(page)), online[page],
                             "%s renders differently offline" % page)
        for name, data in SITE.items():
            status, body = self.proxied(name)
            self.assertEqual(status, b"HTTP/1.0 200 OK", name)
            self.assertEqual(body, data, "%s comes back differently offline" % name)

        shot = os.path.join(ARTIFACTS, "offline-index.png")
        self.chromium("--screenshot=" + shot, "--window-size=640,400", self.url("index.html"))
        self.assertTrue(os.path.getsize(shot) > 1000)
        self.chromium("--screenshot=" + os.path.join(ARTIFACTS, "offline-jp.png"), "--window-size=640,300",
                      self.url("jp.html"))
        self.stop_vellum()
        self.assertEqual(self.asked_for, {self.site_address}, "hosts Vellum was asked for")

    def test_route_site_script_sends_only_that_site_through_vellum(self):
        """scripts/route-site.sh, as the README gives it to a user: the page
        comes through Vellum (it is in the request tree, and nginx saw
        Vellum's HTTP/1.0 request), and nothing else was asked of it."""
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "route-site.sh")
        line = subprocess.run(["bash", script, "--proxy", "127.0.0.1:%d" % VELLUM_PORT,
                               "--elsewhere", "127.0.0.1:%d" % closed_port(), self.site_address],
                              stdout=subprocess.PIPE, check=True, universal_newlines=True, timeout=30).stdout.split()
        self.assertEqual(line[0], "chromium")
        pac = [word.split("=", 1)[1] for word in line if word.startswith("--proxy-pac-url=")][0]
        self.assertIn("--proxy-bypass-list=<-loopback>", line)
        self.start_nginx()
        self.start_vellum(internet=1, localize=0)
        self.assertIn(b"<body>", self.chromium("--dump-dom", self.url("index.html"), proxy_script=pac))
        labels = [label for depth, _, label in request_tree() if depth == 0]
        self.assertIn(self.url("index.html"), labels)
        self.stop_vellum()
        with open(os.path.join(self.work, "access.log")) as log:
            self.assertIn('"GET /index.html HTTP/1.0"', log.read())
        self.assertEqual(self.asked_for, {self.site_address}, "hosts Vellum was asked for")


if __name__ == "__main__":
    unittest.main()
