"""Cookies and Basic authentication end to end: nginx serves a site whose
pages need a session cookie and a directory behind a password; headless
Chromium browses it through the real vellum.exe while recording; the
password is typed into the パスワード設定 dialog; auto-get records the
protected pages; both files beside the program are checked after a clean
exit, reloaded by a restart, and kept whole when the disk is full at exit.

The program runs from a copy in a folder of its own (a small tmpfs when one
can be mounted), so its "cookie" and "authenticate" files are this test's."""
import base64
import os
import shutil
import socket
import subprocess
import tempfile
import unittest

from vellum_e2e import (BIN, WINE_RUN, exchange, probe, read_published, request_tree, wait_until, windows_path,
                        write_settings)

VELLUM_PORT = 28461
NGINX_PORT = 28462
LOOPBACK = 0x7F000001
CHROMIUM = shutil.which("chromium")
NGINX = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)
OPENSSL = shutil.which("openssl")

REALM = 'Basic realm="Members"'
DONE = "自動取得を終了しました。"
DISCARD_QUESTION = "賞味期限が不明なクッキーや期限切れのクッキーを捨ててよろしいですか？"
LOCKED = 15  # page-tree state image of a node refused with 401


def own_address():
    """This machine's first IPv4 address off the loopback interface: Chromium
    never sends loopback addresses to a proxy."""
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

SITE = {
    "login.html": b"<html><body><h1>Welcome</h1>"
                  b"<script>document.cookie = 'browser=1; path=/';</script>"
                  b"<img src='member/badge.gif'></body></html>",
    "member/index.html": b"<html><body><p>Members only</p></body></html>",
    "member/badge.gif": base64.b64decode("R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs="),
    "start.html": b"<html><body><a href='private/index.html'>members</a> <a href='vault/page.html'>vault</a>"
                  b"</body></html>",
    "private/index.html": b"<html><body><a href='a.html'>a</a></body></html>",
    "private/a.html": b"<html><body>page a</body></html>",
    "private/c.html": b"<html><body>page c</body></html>",
    "vault/page.html": b"<html><body>vault page</body></html>",
    "planted.html": b"<html><body>planted</body></html>",
    "extra.html": b"<html><body>extra</body></html>",
}


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def hex_text(text):
    return text.encode("cp932").hex() if text else "-"


def credentials_probe(*args):
    """Runs credentials_probe; (exit code, output lines)."""
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "credentials_probe.exe"), *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=120)
    return done.returncode, done.stdout.decode("ascii", "replace").split("\n")


def dialog_screen(line):
    """A "show" line of credentials_probe as a dict of decoded texts."""
    fields = dict(part.split("=", 1) for part in line.split())
    decode = lambda h: "" if h == "-" else bytes.fromhex(h).decode("cp932")
    return {"hosts": [decode(h) for h in fields["hosts"].split(",") if h != "-"],
            "challenges": [decode(h) for h in fields["challenges"].split(",") if h != "-"],
            "user": decode(fields["user"]), "password": decode(fields["password"]), "enabled": fields["enabled"]}


@unittest.skipUnless(CHROMIUM and NGINX and OPENSSL and SITE_HOST, "chromium, nginx, openssl and a non-loopback address")
class CookiesAndCredentialsTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vellum-e2e-cookies-", dir="/tmp")
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
        self.site_address = "%s:%d" % (SITE_HOST, NGINX_PORT)
        script = ("function FindProxyForURL(url, host) {\n"
                  "  if (url.indexOf('http://%s/') == 0) return 'PROXY 127.0.0.1:%d';\n"
                  "  return 'PROXY 127.0.0.1:%d';\n}\n" % (self.site_address, VELLUM_PORT, closed_port()))
        self.proxy_script = "data:application/x-ns-proxy-autoconfig;base64," + base64.b64encode(script.encode()).decode()
        self.nginx = None
        self.program = None
        self.program_folder = os.path.join(self.work, "program")
        os.makedirs(self.program_folder)
        exe = os.path.join(BIN, "vellum.exe")
        size = os.path.getsize(exe) + 512 * 1024
        self.small_disk = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs",
                                          self.program_folder], stderr=subprocess.DEVNULL).returncode == 0
        shutil.copy(exe, self.program_folder)

    def tearDown(self):
        self.stop_vellum()
        if self.nginx and self.nginx.poll() is None:
            self.nginx.terminate()
            self.nginx.wait(20)
        if self.small_disk:
            subprocess.run(["umount", self.program_folder])
        shutil.rmtree(self.work, ignore_errors=True)

    # --- the pieces -------------------------------------------------------------

    def start_nginx(self):
        password = subprocess.run([OPENSSL, "passwd", "-apr1", "secret"], stdout=subprocess.PIPE, check=True,
                                  universal_newlines=True).stdout.strip()
        with open(os.path.join(self.work, "htpasswd"), "w") as f:
            f.write("alice:%s\n" % password)
        protected = 'auth_basic "Members"; auth_basic_user_file %s/htpasswd;' % self.work
        gated = 'if ($cookie_session != "abc123") { return 403; }'
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as f:
            f.write("worker_processes 1; daemon off; pid %(w)s/nginx.pid; error_log %(w)s/error.log;\n"
                    "events { worker_connections 64; }\n"
                    "http { include /etc/nginx/mime.types;\n"
                    "  log_format seen '$request_uri $status \"$http_cookie\" \"$http_authorization\"';\n"
                    "  access_log %(w)s/access.log seen;\n"
                    "  server { listen %(a)s; root %(s)s;\n"
                    "    location = /login.html { add_header Set-Cookie 'session=abc123; path=/'; }\n"
                    "    location = /planted.html { add_header Set-Cookie 'planted=1; domain=example.test; path=/'; }\n"
                    "    location = /extra.html { add_header Set-Cookie 'extra=1; path=/'; }\n"
                    "    location /member/ { %(g)s }\n"
                    "    location /private/ { %(g)s %(p)s }\n"
                    "    location /vault/ { %(p)s } } }\n"
                    % {"w": self.work, "a": self.site_address, "s": self.site, "g": gated, "p": protected})
        self.nginx = subprocess.Popen([NGINX, "-c", conf, "-p", self.work], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(self.nginx_listens, 20), "nginx did not start")

    def nginx_listens(self):
        try:
            socket.create_connection((SITE_HOST, NGINX_PORT), timeout=1).close()
            return True
        except OSError:
            return False

    def seen_by_nginx(self):
        """(path, status, Cookie, Authorization) of every request nginx got."""
        with open(os.path.join(self.work, "access.log")) as f:
            lines = [line.split(" ", 2) for line in f.read().splitlines()]
        return [(path, int(status), rest.split('" "')[0].strip('"'), rest.split('" "')[1].strip('"'))
                for path, status, rest in lines]

    def start_vellum(self):
        probe("delete-address")
        write_settings(localPath=windows_path(self.save), internet=1, localize=1, recStatusLink=2, recStatusRetry=0)
        self.program = subprocess.Popen([WINE_RUN, os.path.join(self.program_folder, "vellum.exe"),
                                         "127.0.0.1:%d" % VELLUM_PORT],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(wait_until(read_published), (LOOPBACK, VELLUM_PORT))

    def stop_vellum(self):
        if self.program and self.program.poll() is None:
            probe("close")
            try:
                self.program.wait(60)
            except subprocess.TimeoutExpired:
                self.program.kill()
                self.program.wait()
        self.program = None

    def chromium(self, name):
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.work)
        command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profile, "--proxy-pac-url=" + self.proxy_script,
                   "--virtual-time-budget=5000", "--dump-dom", self.url(name)]
        return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120).stdout

    def url(self, name):
        return "http://%s/%s" % (self.site_address, name)

    def file(self, name):
        path = os.path.join(self.program_folder, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def recorded(self, name):
        return os.path.exists(os.path.join(self.save, "%s%%3A%d" % (SITE_HOST, NGINX_PORT), *name.split("/")))

    def reserve(self, name):
        before = len(self.bases())
        s = socket.create_connection(("127.0.0.1", VELLUM_PORT), timeout=10)
        s.sendall(("TESSEL.DLL\r\nReserveAutoGet\r\nGET %s HTTP/1.0\r\nUser-Agent: Test/1.0\r\n\r\n"
                   % self.url(name)).encode())
        s.close()
        self.assertTrue(wait_until(lambda: len(self.bases()) == before + 1, 30))

    @staticmethod
    def bases():
        return [label for depth, _, label in request_tree("VELLUM_REC", "115") if depth == 0]

    def run_autoget(self):
        self.assertEqual(probe("autoget-start")[0], 0)
        code, hex_text = probe("message-box", "120", "ok")
        self.assertEqual(bytes.fromhex(hex_text).decode("cp932") if code == 0 else None, DONE)

    def set_password(self, user, password):
        code, lines = credentials_probe("dialog", "open", "host", "0", "show", "user", hex_text(user),
                                        "password", hex_text(password), "ok")
        self.assertEqual(code, 0, "the password dialog could not be driven")
        return dialog_screen(lines[0])

    # --- the test -----------------------------------------------------------------

    def test_a_session_and_a_password_serve_the_browser_and_auto_get_and_survive_restarts(self):
        self.start_nginx()
        self.start_vellum()

        # The session cookie comes with the login page; the badge on it, asked
        # by the browser with its own cookies, reaches nginx with the jar's.
        self.assertIn(b"Welcome", self.chromium("login.html"))
        self.assertTrue(self.recorded("member/badge.gif"), self.seen_by_nginx())
        # A fresh browser without cookies of its own: the jar carries the session.
        self.assertIn(b"Members only", self.chromium("member/index.html"))
        self.assertTrue(self.recorded("member/index.html"))
        # Another site's domain is never stored.
        self.assertIn(b" 200 OK", exchange(VELLUM_PORT, ("GET %s HTTP/1.0\r\n\r\n" % self.url("planted.html"))
                                           .encode()).split(b"\r\n")[0])
        # The protected directory answers 401: its host is registered.
        self.chromium("private/index.html")
        cookies = {cookie for path, _, cookie, _ in self.seen_by_nginx()}
        self.assertEqual(cookies - {"-"}, {"session=abc123"}, "the browser's own Cookie header reached nginx")

        nginx_seen_before = len(self.seen_by_nginx())

        # The password typed into the dialog.
        screen = self.set_password("alice", "secret")
        self.assertEqual(screen, {"hosts": [self.site_address], "challenges": [REALM], "user": "", "password": "",
                                  "enabled": "1111"})

        # Auto-get from an open page: the password is asked for once for the
        # protected directory and sent unasked inside it; a page outside it
        # starts a new exchange.
        self.reserve("start.html")
        self.run_autoget()
        for name in ("start.html", "private/index.html", "private/a.html", "vault/page.html"):
            self.assertTrue(self.recorded(name), (name, request_tree("VELLUM_REC", "115")))
        token = "Basic " + base64.b64encode(b"alice:secret").decode()
        crawled = [(path, status, auth) for path, status, _, auth in self.seen_by_nginx()[nginx_seen_before:]]
        self.assertEqual(crawled, [("/start.html", 200, "-"),
                                   ("/private/index.html", 401, "-"), ("/private/index.html", 200, token),
                                   ("/private/a.html", 200, token),
                                   ("/vault/page.html", 401, "-"), ("/vault/page.html", 200, token)])
        self.assertEqual({cookie for _, _, cookie, _ in self.seen_by_nginx()[nginx_seen_before:]}, {"session=abc123"})

        # A wrong password: the node ends with 401.
        screen = self.set_password("alice", "wrong")
        self.assertEqual((screen["user"], screen["password"]), ("alice", "secret"))
        self.reserve("private/c.html")
        self.run_autoget()
        tree = request_tree("VELLUM_REC", "115")
        self.assertIn((0, LOCKED, self.url("private/c.html")), tree)
        self.assertFalse(self.recorded("private/c.html"))

        # Discarding asks first; No keeps the session.
        self.assertEqual(credentials_probe("command", "VELLUM", "40160")[0], 0)
        code, hex_text = probe("message-box", "30", "no")
        self.assertEqual(bytes.fromhex(hex_text).decode("cp932"), DISCARD_QUESTION)

        # A clean exit writes both files.
        self.stop_vellum()
        cookie_file = ("session=abc123; domain=%s; path=/\r\n" % SITE_HOST).encode()
        credential_file = ("%s\r\n%s\r\nalice\r\nwrong\r\n" % (self.site_address, REALM)).encode()
        self.assertEqual(self.file("cookie"), cookie_file)
        self.assertEqual(self.file("authenticate"), credential_file)

        # A restart reloads them.
        self.start_vellum()
        self.assertIn(b"Members only", self.chromium("member/index.html"))
        code, lines = credentials_probe("dialog", "open", "host", "0", "show", "cancel")
        self.assertEqual(code, 0)
        screen = dialog_screen(lines[0])
        self.assertEqual((screen["hosts"], screen["user"], screen["password"]), ([self.site_address], "alice", "wrong"))

        # The disk fills up before the exit: the previous files stay whole.
        exchange(VELLUM_PORT, ("GET %s HTTP/1.0\r\n\r\n" % self.url("extra.html")).encode())
        if not self.small_disk:
            self.stop_vellum()
            self.skipTest("no small tmpfs could be mounted for the full disk")
        filler = os.open(os.path.join(self.program_folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            while os.write(filler, b"\0" * 4096) > 0:
                pass
        except OSError:
            pass
        finally:
            os.close(filler)
        self.stop_vellum()
        self.assertEqual(self.file("cookie"), cookie_file)
        self.assertEqual(self.file("authenticate"), credential_file)
        self.assertEqual(sorted(os.listdir(self.program_folder)), ["authenticate", "cookie", "filler", "vellum.exe"])


if __name__ == "__main__":
    unittest.main()
