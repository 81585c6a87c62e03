"""https:// through the real vellum.exe: nginx serves Debian's Python
documentation over TLS with certificates made for this run
(tests/e2e/tls_site.py), Wine trusts the test CA, and Vellum fetches,
records, crawls and serves offline absolute https:// requests, and refuses
every certificate it must refuse without recording anything.

The crawl covers one directory of the site (howto/, depth 1); VELLUM_LONG=1
adds the whole site from its start page at depth 2."""
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from tls_site import CutHandshake, Silent, TlsSite, SITE_ADDRESS, available
from vellum_e2e import (OriginServer, Program, answer_with, exchange, probe, read_published, request_log,
                        request_tree, wait_until, windows_path, write_settings)

DOCS = "/usr/share/doc/python3-doc/html"
VELLUM_PORT = 28470
LOOPBACK = 0x7F000001
LONG = os.environ.get("VELLUM_LONG") == "1"
DONE = "自動取得を終了しました。"
REASONS = {"wrong_name": b"certificate for another name", "expired": b"expired certificate",
           "untrusted": b"untrusted certificate"}
LOG_LINES = {"wrong_name": "*** サーバー証明書のホスト名が一致しません！ ***",
             "expired": "*** サーバー証明書の有効期限が切れています！ ***",
             "untrusted": "*** サーバー証明書を信頼できません！ ***"}
HANDSHAKE_LINE = "*** TLSハンドシェイクに失敗しました！"
# A page of the test's own on every server of the site: one cookie that is
# to travel only over TLS, one for both schemes.
SET_COOKIES = ('location = /set-cookies { add_header Set-Cookie "sid=s1; Secure; Path=/"; '
               'add_header Set-Cookie "lang=ja; Path=/"; return 200 "ok"; }')


class ConnectProxy:
    """An upstream proxy on loopback that only tunnels: it answers a CONNECT
    with `answer` and, for a 200, relays bytes both ways. Each request header
    it read is kept in `requests`."""

    def __init__(self, answer=b"HTTP/1.0 200 Connection established\r\n\r\n"):
        self.answer = answer
        self.requests = []
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        try:
            client.settimeout(60)
            header = b""
            while b"\r\n\r\n" not in header:
                chunk = client.recv(1)
                if not chunk:
                    return
                header += chunk
            self.requests.append(header)
            client.sendall(self.answer)
            if not self.answer.startswith(b"HTTP/1.0 200"):
                return
            host, port = header.split(b" ")[1].decode().rsplit(":", 1)
            server = socket.create_connection((host, int(port)), timeout=60)

            def pump(a, b):
                try:
                    while True:
                        data = a.recv(65536)
                        if not data:
                            break
                        b.sendall(data)
                except OSError:
                    pass
                try:
                    b.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
            back = threading.Thread(target=pump, args=(server, client), daemon=True)
            back.start()
            pump(client, server)
            back.join(60)
            server.close()
        except OSError:
            pass
        finally:
            client.close()

    def close(self):
        self.listener.close()


def body_of(answer):
    return answer.split(b"\r\n\r\n", 1)[1] if b"\r\n\r\n" in answer else b""


def file_path(url_path):
    """The file a URL path of the site names (a directory's index.html)."""
    return url_path + "index.html" if url_path.endswith("/") else url_path


def message_box(seconds, button="ok"):
    code, hex_text = probe("message-box", str(seconds), button, timeout=seconds + 120)
    if code != 0 or hex_text == "none":
        return None
    return bytes.fromhex(hex_text).decode("cp932")


@unittest.skipUnless(available() is None and os.path.isdir(DOCS),
                     "%s; python3-doc too" % (available() or "openssl, nginx and an address"))
class HttpsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vellum-e2e-https-", dir="/tmp")
        os.chmod(cls.work, 0o755)
        cls.site = TlsSite(cls.work, DOCS, extra=SET_COOKIES)
        try:
            cls.site.trust()
        except Exception:
            cls.site.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        self.save = tempfile.mkdtemp(prefix="save-", dir=self.work)
        self.program = None
        self.servers = []

    def tearDown(self):
        self.close_program()
        for server in self.servers:
            server.close()

    def start_program(self, exe=None, **settings):
        self.close_program()
        probe("delete-address")
        write_settings(localPath=windows_path(self.save), log=1, **settings)
        if exe:
            # A copy of the program keeps its cookie file beside itself, away from the build's.
            self.program = Program.__new__(Program)
            self.program.process = subprocess.Popen([os.environ["VELLUM_WINE_RUN"], exe, "127.0.0.1:%d" % VELLUM_PORT],
                                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            self.program = Program("127.0.0.1:%d" % VELLUM_PORT)
        self.assertEqual(wait_until(read_published), (LOOPBACK, VELLUM_PORT))

    def close_program(self):
        if self.program and not self.program.exited():
            probe("close")
            try:
                self.program.wait(120)
            except Exception:
                self.program.kill()
        self.program = None

    def get(self, url, timeout=30):
        return exchange(VELLUM_PORT, ("GET %s HTTP/1.0\r\nUser-Agent: https test\r\n\r\n" % url).encode(), timeout)

    def host_folder(self, kind="good"):
        """The https:// host element: the http:// one with "%https" after it."""
        return "%s%%3A%d%%https" % (SITE_ADDRESS, self.site.ports[kind])

    def saved_files(self):
        found = []
        for where, _, names in os.walk(self.save):
            found += [os.path.relpath(os.path.join(where, n), self.save) for n in names]
        return sorted(found)

    def logs(self):
        return [(request_log(i) or b"").decode("cp932", "replace") for i in range(len(request_tree()))]

    def test_refused_certificates_and_lost_servers_record_nothing(self):
        self.start_program(internet=1, localize=1)
        for kind, reason in REASONS.items():
            with self.subTest(kind=kind):
                answer = self.get(self.site.url(kind, "/about.html"))
                self.assertTrue(answer.startswith(b"HTTP/1.0 502 Bad Gateway\r\n"), answer[:200])
                self.assertIn(b"<H1>TLS Error</H1>", answer)
                self.assertIn(b"REASON : " + reason + b"</PRE>", answer)
                # The request never reached the server's HTTP layer.
                self.assertEqual(self.site.served(kind), [])

        cut = CutHandshake(SITE_ADDRESS, (SITE_ADDRESS, self.site.ports["good"]))
        silent = Silent(SITE_ADDRESS)
        self.servers += [cut, silent]
        answer = self.get(cut.url("/about.html"))
        self.assertIn(b"REASON : handshake failed</PRE>", answer)
        started = time.monotonic()
        answer = self.get(silent.url("/about.html"), timeout=120)
        took = time.monotonic() - started
        self.assertIn(b"REASON : handshake failed</PRE>", answer)
        self.assertLess(took, 60)  # let go after the handshake's limit (30 s), not held for ever
        self.assertEqual(silent.accepted, 1)

        logs = self.logs()
        for kind, line in LOG_LINES.items():
            self.assertEqual(sum(line in log for log in logs), 1, kind)
        self.assertEqual(sum(HANDSHAKE_LINE in log for log in logs), 2)
        self.assertTrue(all("正常終了" not in log for log in logs))
        self.assertEqual(self.saved_files(), [])

    def test_pages_and_redirects_are_recorded_and_replayed_offline(self):
        with open(os.path.join(DOCS, "about.html"), "rb") as f:
            about = f.read()
        # An http:// page that sends the browser on to the https:// site.
        origin = OriginServer(answer_with(("HTTP/1.0 301 Moved Permanently\r\nLocation: %s\r\n"
                                           "Content-Length: 0\r\n\r\n" % self.site.url("good", "/about.html"))
                                          .encode()))
        self.servers.append(origin)

        self.start_program(internet=1, localize=1)
        online = self.get(self.site.url("good", "/about.html"))
        self.assertTrue(online.startswith(b"HTTP/1.0 200 OK\r\n"), online[:200])
        self.assertEqual(body_of(online), about)
        # nginx sends a directory asked for without its slash on, over https.
        moved = self.get(self.site.url("good", "/tutorial"))
        self.assertTrue(moved.startswith(b"HTTP/1.0 301"), moved[:200])
        self.assertIn(("Location: %s" % self.site.url("good", "/tutorial/")).encode(), moved)
        to_https = self.get(origin.url("/moved"))
        self.assertIn(("Location: %s" % self.site.url("good", "/about.html")).encode(), to_https)

        host = self.host_folder()
        files = self.saved_files()
        self.assertIn(os.path.join(host, "about.html"), files)
        self.assertIn(os.path.join(host, "tutorial.response"), files)
        self.assertIn(os.path.join(origin.host_folder(), "moved.response"), files)
        self.assertTrue(any(f.startswith(os.path.join(host, "about.html(")) for f in files), files)
        with open(os.path.join(self.save, host, "about.html"), "rb") as f:
            self.assertEqual(f.read(), about)

        # Offline, with the servers still there: every answer comes from the store.
        before = len(self.site.served())
        self.start_program(internet=0, localize=0)
        offline = self.get(self.site.url("good", "/about.html"))
        self.assertTrue(offline.startswith(b"HTTP/1.0 200 OK\r\n"), offline[:200])
        self.assertEqual(body_of(offline), about)
        with open(os.path.join(self.save, host, "tutorial.response"), "rb") as f:
            self.assertEqual(self.get(self.site.url("good", "/tutorial")), f.read())
        with open(os.path.join(self.save, origin.host_folder(), "moved.response"), "rb") as f:
            self.assertEqual(self.get(origin.url("/moved")), f.read())
        self.assertEqual(len(self.site.served()), before)
        # The same path of the http:// twin site is not the https:// page.
        self.assertIn(b"404 Not Found", self.get(self.site.http_url("/about.html")))

    def test_with_an_upstream_proxy_the_tls_runs_inside_a_connect(self):
        proxy = ConnectProxy()
        self.servers.append(proxy)
        self.start_program(internet=1, localize=1, proxy__address="127.0.0.1", proxy__port=str(proxy.port),
                           proxy__proxy=1)
        answer = self.get(self.site.url("good", "/about.html"))
        with open(os.path.join(DOCS, "about.html"), "rb") as f:
            self.assertEqual(body_of(answer), f.read())
        authority = self.site.host("good")
        self.assertEqual(proxy.requests, [("CONNECT %s HTTP/1.0\r\nHost: %s\r\n\r\n" % (authority, authority)).encode()])
        # Inside the tunnel the origin got the origin form.
        self.assertEqual(self.site.served()[-1], ("/about.html", 200))
        self.assertIn(os.path.join(self.host_folder(), "about.html"), self.saved_files())
        log = self.logs()[-1]
        self.assertIn("%s:%d とTLS接続開始" % (SITE_ADDRESS, self.site.ports["good"]), log)
        self.assertRegex(log, r"完了（TLS 1\.[23](, ALPN http/1\.1)?）")
        print("\n" + [line for line in log.splitlines() if line.startswith("完了（TLS")][0])

        refusing = ConnectProxy(b"HTTP/1.0 403 Forbidden\r\n\r\n")
        self.servers.append(refusing)
        self.start_program(internet=1, localize=1, proxy__address="127.0.0.1", proxy__port=str(refusing.port),
                           proxy__proxy=1)
        answer = self.get(self.site.url("good", "/index.html"))
        self.assertTrue(answer.startswith(b"HTTP/1.0 502 Bad Gateway\r\n"), answer[:200])
        self.assertIn(b"<H1>Connect Error</H1>", answer)
        self.assertNotIn(os.path.join(self.host_folder(), "index.html"), self.saved_files())

    def test_a_secure_cookie_comes_only_from_https_and_goes_only_there(self):
        folder = tempfile.mkdtemp(prefix="program-", dir=self.work)
        exe = os.path.join(folder, "vellum.exe")
        shutil.copy(os.path.join(os.environ["VELLUM_BIN"], "vellum.exe"), exe)
        self.start_program(exe=exe, internet=1, localize=0)
        self.get(self.site.http_url("/set-cookies"))  # its Secure cookie is refused
        self.get(self.site.url("good", "/about.html"))
        self.get(self.site.url("good", "/set-cookies"))
        self.get(self.site.url("good", "/about.html"))
        self.get(self.site.http_url("/about.html"))
        sent = [(path, cookie) for path, _, cookie in self.site.requests("good") + self.site.requests("http")
                if path == "/about.html"]
        self.assertEqual(sent[-3:], [("/about.html", "lang=ja"), ("/about.html", "lang=ja; sid=s1"),
                                     ("/about.html", "lang=ja")])
        self.close_program()
        with open(os.path.join(folder, "cookie"), "rb") as f:
            self.assertEqual(f.read(), ("lang=ja; domain=%s; path=/\r\nsid=s1; domain=%s; path=/; secure\r\n"
                                        % (SITE_ADDRESS, SITE_ADDRESS)).encode())

    def test_auto_get_records_an_https_site_and_serves_it_offline(self):
        self.crawl("/howto/index.html", 1)

    @unittest.skipUnless(LONG, "the whole site takes minutes: VELLUM_LONG=1")
    def test_auto_get_records_the_whole_https_site_at_depth_2(self):
        self.crawl("/index.html", 2)

    def crawl(self, start_path, depth):
        start = self.site.url("good", start_path)
        before = len(self.site.served())
        self.start_program(internet=0, recStatusLink=depth, recStatusRetry=0)
        s = socket.create_connection(("127.0.0.1", VELLUM_PORT), timeout=10)
        s.sendall(("TESSEL.DLL\r\nReserveAutoGet\r\nGET %s HTTP/1.0\r\nUser-Agent: https crawl\r\n\r\n"
                   % start).encode())
        s.close()
        self.assertTrue(wait_until(lambda: request_tree("VELLUM_REC", "115") == [(0, 5, start)], 30))
        self.assertEqual(probe("autoget-start")[0], 0)
        self.assertEqual(message_box(7200 if LONG else 600), DONE)

        served = self.site.served()[before:]
        pages = sorted({path for path, status in served if status == 200})
        self.assertIn(start_path, pages)
        self.assertGreater(len(pages), 5)
        host = self.host_folder()
        files = self.saved_files()
        self.assertEqual([f for f in files if ".#" in f], [])
        recorded = sorted("/" + f[len(host) + 1:].replace(os.sep, "/") for f in files
                          if f.startswith(host + os.sep) and "(" not in os.path.basename(f)
                          and not f.endswith(".response"))
        self.assertEqual(recorded, sorted(file_path(p) for p in pages))
        for path in pages:
            with open(os.path.join(DOCS, *file_path(path).split("/")), "rb") as origin, \
                    open(os.path.join(self.save, host, *file_path(path).split("/")), "rb") as copy:
                self.assertTrue(origin.read() == copy.read(), "%s was recorded differently" % path)

        # Offline, the same https:// URLs come back byte for byte.
        count = len(self.site.served())
        for path in pages:
            with open(os.path.join(DOCS, *file_path(path).split("/")), "rb") as origin:
                self.assertTrue(body_of(self.get(self.site.url("good", path))) == origin.read(), path)
        self.assertEqual(len(self.site.served()), count)
        print("\n%s depth %d over https: %d pages recorded and read back offline" % (start_path, depth, len(pages)))


if __name__ == "__main__":
    unittest.main()
