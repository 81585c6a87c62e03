"""A real browser opens an https:// page through the real vellum.exe online:
headless Chromium, its proxy script sending the test site (and nothing else)
to Vellum, tunnels through Vellum's CONNECT to nginx serving TLS with a test
CA made when the test runs (tests/e2e/tls_site.py). Chromium trusts the CA
through an NSS database of its own made with certutil; Vellum sees only the
tunnel's bytes. The request tree then shows the tunnel, labelled with the
site's host and port, and nothing else: every other host Chromium asks for
goes to a closed loopback port."""
import base64
import os
import shutil
import socket
import subprocess
import tempfile
import unittest

import tls_site
from vellum_e2e import Program, probe, read_published, request_log, request_tree, wait_until, windows_path, \
    write_settings

VELLUM_PORT = 28351
SITE_PORT = 28480
LOOPBACK = 0x7F000001
CHROMIUM = shutil.which("chromium")
CERTUTIL = shutil.which("certutil")
IMAGE_TUNNEL = 4
PAGE = ("<html><head><title>Secure page</title><link rel=stylesheet href='style.css'></head>"
        "<body><h1>Over TLS, through the tunnel</h1></body></html>").encode()


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def proxy_script(site, proxy_port, nowhere_port):
    """A PAC script: the test site through Vellum, every other URL nowhere."""
    script = ("function FindProxyForURL(url, host) {\n"
              "  if (url.indexOf('https://%s/') == 0) return 'PROXY 127.0.0.1:%d';\n"
              "  return 'PROXY 127.0.0.1:%d';\n"
              "}\n" % (site, proxy_port, nowhere_port))
    return "data:application/x-ns-proxy-autoconfig;base64," + base64.b64encode(script.encode()).decode()


@unittest.skipUnless(CHROMIUM and CERTUTIL, "chromium and certutil (libnss3-tools) are needed")
@unittest.skipIf(tls_site.available(), tls_site.available())
class BrowserTunnelTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vellum-e2e-browser-tunnel-", dir="/tmp")
        os.chmod(self.work, 0o755)
        root = os.path.join(self.work, "site")
        os.makedirs(root)
        with open(os.path.join(root, "index.html"), "wb") as f:
            f.write(PAGE)
        with open(os.path.join(root, "style.css"), "wb") as f:
            f.write(b"h1 { color: #207020; }")
        for folder, _, _ in os.walk(self.work):
            os.chmod(folder, 0o755)
        self.site = tls_site.TlsSite(self.work, root, base_port=SITE_PORT)
        self.program = None
        # Chromium on Linux reads its trusted CAs from $HOME/.pki/nssdb.
        self.home = os.path.join(self.work, "home")
        nssdb = "sql:" + os.path.join(self.home, ".pki", "nssdb")
        os.makedirs(os.path.join(self.home, ".pki", "nssdb"))
        subprocess.run([CERTUTIL, "-d", nssdb, "-N", "--empty-password"], check=True, timeout=60)
        subprocess.run([CERTUTIL, "-d", nssdb, "-A", "-t", "C,,", "-n", "Vellum Test CA", "-i",
                        self.site.certificates.ca["cert"]], check=True, timeout=60)

    def tearDown(self):
        if self.program and not self.program.exited():
            probe("close")
            try:
                self.program.wait(60)
            except Exception:
                self.program.kill()
        self.site.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def chromium(self, *args):
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.work)
        command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profile,
                   "--proxy-pac-url=" + proxy_script(self.site.host("good"), VELLUM_PORT, closed_port()),
                   "--virtual-time-budget=5000", *args]
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120,
                              env=dict(os.environ, HOME=self.home))
        return done.stdout

    def test_an_https_page_opens_through_the_tunnel_and_the_tree_shows_it(self):
        save = os.path.join(self.work, "save")
        os.makedirs(save)
        probe("delete-address")
        write_settings(localPath=windows_path(save), internet=1, log=1,
                       tunnel__allowedPorts=str(self.site.ports["good"]))
        self.program = Program("127.0.0.1:%d" % VELLUM_PORT)
        self.assertEqual(wait_until(read_published), (LOOPBACK, VELLUM_PORT))

        dom = self.chromium("--dump-dom", self.site.url("good", "/index.html"))
        self.assertIn(b"Over TLS, through the tunnel", dom)
        self.assertIn(("/index.html", 200), self.site.served("good"))
        self.assertIn(("/style.css", 200), self.site.served("good"))

        # Chromium has ended: its tunnels are closed, each one item.
        host = self.site.host("good")
        def ended():
            items = request_tree()
            return items if items and all(image == IMAGE_TUNNEL for _, image, _ in items) else None
        items = wait_until(ended, 30)
        self.assertIsNotNone(items, request_tree())
        self.assertEqual({label for _, _, label in items}, {host}, "hosts Vellum was asked for")
        log = request_log(0).decode("cp932")
        self.assertIn("トンネル接続先：%s\r\n" % host, log)
        self.assertIn("トンネル接続完了\r\n", log)
        self.assertEqual(os.listdir(save), [], "nothing of a tunnel is recorded")


if __name__ == "__main__":
    unittest.main()
