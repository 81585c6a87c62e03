"""CONNECT tunnels through the real vellum.exe: to nginx and to a plain TCP
echo server on loopback, directly and through a real squid as the upstream
proxy; the allowed-ports setting read from the registry; refusals offline,
for ports outside the list and for malformed targets; the request tree's
entry and log of a tunnel; and 200 tunnels opened and cut leaving the
program's threads, handles and memory where they were."""
import os
import random
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from vellum_e2e import (Nginx, Program, port_open, probe, probe_text, process_counts, read_published, request_log,
                        request_tree, wait_until, windows_path, write_settings)

LOOPBACK = 0x7F000001
ESTABLISHED = b"HTTP/1.0 200 Connection established\r\n\r\n"
SQUID = shutil.which("squid") or ("/usr/sbin/squid" if os.path.exists("/usr/sbin/squid") else None)
IMAGE_RUNNING, IMAGE_FAILED, IMAGE_TUNNEL = 2, 3, 4


class EchoServer:
    """A plain TCP server on loopback sending back every byte it gets, until
    the client half-closes; then it closes too."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(256)
        self.port = self.listener.getsockname()[1]
        self.accepted = 0
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            self.accepted += 1
            threading.Thread(target=self._echo, args=(client,), daemon=True).start()

    @staticmethod
    def _echo(client):
        try:
            client.settimeout(60)
            while True:
                data = client.recv(65536)
                if not data:
                    break
                client.sendall(data)
            client.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        finally:
            client.close()

    def close(self):
        self.listener.close()


def receive_exactly(s, size):
    data = bytearray()
    while len(data) < size:
        chunk = s.recv(min(262144, size - len(data)))
        if not chunk:
            break
        data += chunk
    return bytes(data)


def receive_all(s):
    data = bytearray()
    while True:
        try:
            chunk = s.recv(262144)
        except ConnectionResetError:
            break
        if not chunk:
            break
        data += chunk
    return bytes(data)


def open_tunnel(proxy_port, target, timeout=30):
    """A browser's CONNECT; returns (socket, the proxy's answer up to its empty line)."""
    s = socket.create_connection(("127.0.0.1", proxy_port), timeout=timeout)
    s.sendall(b"CONNECT %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: test\r\n\r\n" % (target.encode(), target.encode()))
    head = b""
    while b"\r\n\r\n" not in head:
        byte = s.recv(1)
        if not byte:
            break
        head += byte
    return s, head


def refusal(proxy_port, request):
    s = socket.create_connection(("127.0.0.1", proxy_port), timeout=30)
    try:
        s.sendall(request)
        return receive_all(s)
    finally:
        s.close()


def echo_through(s, data):
    """Sends `data` up the tunnel while reading the echo; returns what came back."""
    sender = threading.Thread(target=lambda: (s.sendall(data), s.shutdown(socket.SHUT_WR)))
    sender.start()
    back = receive_all(s)
    sender.join()
    return back


def echo_counted(s, data):
    """Sends `data` up the tunnel while reading back as many bytes; the far
    end is not told the sending is over. Squid ends a whole tunnel once one
    side has closed and what it holds is written, so an echo still on its way
    back would be cut."""
    sender = threading.Thread(target=lambda: s.sendall(data))
    sender.start()
    back = bytearray()
    while len(back) < len(data):
        part = s.recv(65536)
        if not part:
            break
        back += part
    sender.join()
    return bytes(back)


def settled_counts():
    """The counts once two readings three seconds apart agree on the threads
    (idle connection threads beyond those kept end shortly after)."""
    last = process_counts()
    for _ in range(20):
        time.sleep(3)
        now = process_counts()
        if now and last and now["threads"] == last["threads"]:
            return now
        last = now
    return last


class Squid:
    """A real squid on loopback that tunnels CONNECTs to any port for localhost."""

    def __init__(self, work, port):
        self.dir = os.path.join(work, "squid")
        os.makedirs(self.dir)
        if os.getuid() == 0:
            shutil.chown(self.dir, "proxy", "proxy")
        conf = os.path.join(self.dir, "squid.conf")
        with open(conf, "w") as f:
            f.write("http_port 127.0.0.1:%d\nhttp_access allow localhost\nhttp_access deny all\n"
                    "cache deny all\ncache_mem 8 MB\npid_filename %s/squid.pid\n"
                    "access_log stdio:%s/access.log squid\ncache_log %s/cache.log\ncache_store_log none\n"
                    "coredump_dir %s\nshutdown_lifetime 1 seconds\nvia off\n"
                    % (port, self.dir, self.dir, self.dir, self.dir))
        self.process = subprocess.Popen([SQUID, "-N", "-f", conf], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if not wait_until(lambda: port_open(port), 30):
            self.stop()
            raise RuntimeError("squid did not start")

    def access_log(self):
        try:
            with open(os.path.join(self.dir, "access.log")) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(30)


class TunnelCase(unittest.TestCase):
    """One program per class, with the settings the class names."""
    PORT = 0
    SETTINGS = {}

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vellum-e2e-tunnel-", dir="/tmp")
        os.chmod(cls.work, 0o755)
        cls.save = os.path.join(cls.work, "save")
        os.makedirs(cls.save)
        cls.echo = EchoServer()
        cls.prepare()
        probe("delete-address")
        settings = dict(cls.SETTINGS)
        settings.setdefault("tunnel__allowedPorts", "%d" % cls.echo.port)
        write_settings(localPath=windows_path(cls.save), log=1, **settings)
        cls.program = Program("127.0.0.1:%d" % cls.PORT)
        if wait_until(read_published) != (LOOPBACK, cls.PORT):
            cls.program.kill()
            raise RuntimeError("vellum.exe did not start listening")

    @classmethod
    def prepare(cls):
        pass

    @classmethod
    def tearDownClass(cls):
        if not cls.program.exited():
            probe("close")
            try:
                cls.program.wait(60)
            except Exception:
                cls.program.kill()
        cls.echo.close()
        cls.cleanup()
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def cleanup(cls):
        pass

    def tree_entry(self, label):
        """(state image, index) of the last top-level tree item with this label, or None."""
        for index, (depth, image, text) in reversed(list(enumerate(request_tree()))):
            if depth == 0 and text == label:
                return image, index
        return None

    def wait_for_image(self, label, image):
        """(image, index) of the item once it shows `image`; None when it never does."""
        def shown():
            entry = self.tree_entry(label)
            return entry if entry and entry[0] == image else None
        return wait_until(shown, 30)


class OnlineTunnelTest(TunnelCase):
    PORT = 28348
    NGINX_PORT = 28349
    SETTINGS = {"internet": 1}
    BODY = bytes(random.Random(41).getrandbits(8) for _ in range(3 * 1048576 + 7))

    @classmethod
    def prepare(cls):
        cls.SETTINGS = dict(cls.SETTINGS, tunnel__allowedPorts="%d,%d" % (cls.echo.port, cls.NGINX_PORT))
        root = os.path.join(cls.work, "www")
        os.makedirs(root)
        with open(os.path.join(root, "big.bin"), "wb") as f:
            f.write(cls.BODY)
        for folder, _, _ in os.walk(cls.work):
            os.chmod(folder, 0o755)
        cls.nginx = Nginx(cls.work, cls.NGINX_PORT, root) if Nginx.PROGRAM else None

    @classmethod
    def cleanup(cls):
        if cls.nginx:
            cls.nginx.stop()

    def test_bytes_go_both_ways_to_an_echo_server_untouched(self):
        data = bytes(random.Random(7).getrandbits(8) for _ in range(2 * 1048576 + 3))
        s, head = open_tunnel(self.PORT, "127.0.0.1:%d" % self.echo.port)
        with s:
            self.assertEqual(head, ESTABLISHED)
            self.assertTrue(echo_through(s, data) == data, "the echo came back different")

    @unittest.skipUnless(Nginx.PROGRAM, "nginx is needed")
    def test_a_page_from_nginx_comes_through_byte_for_byte(self):
        s, head = open_tunnel(self.PORT, "127.0.0.1:%d" % self.NGINX_PORT)
        with s:
            self.assertEqual(head, ESTABLISHED)
            s.sendall(b"GET /big.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
            answer = receive_all(s)
        status, _, body = answer.partition(b"\r\n\r\n")
        self.assertTrue(status.startswith(b"HTTP/1.1 200 OK"), status[:40])
        self.assertTrue(body == self.BODY, "the body came through different (%d bytes)" % len(body))

    def test_ports_outside_the_list_are_refused_and_malformed_targets_get_400(self):
        for target, status in (("127.0.0.1:%d" % (self.echo.port + 1), b"HTTP/1.0 403 Forbidden"),
                               ("127.0.0.1", b"HTTP/1.0 400 Bad Request"),
                               ("127.0.0.1:99999", b"HTTP/1.0 400 Bad Request"),
                               ("user@127.0.0.1:443", b"HTTP/1.0 400 Bad Request"),
                               ("[::1]:443", b"HTTP/1.0 400 Bad Request"),
                               ("a" * 300 + ":443", b"HTTP/1.0 400 Bad Request")):
            answer = refusal(self.PORT, b"CONNECT %s HTTP/1.1\r\n\r\n" % target.encode())
            self.assertEqual(answer.split(b"\r\n")[0], status, target)
            self.assertIn(b"<PRE>Client request : CONNECT %s HTTP/1.1\r\n</PRE>" % target.encode(), answer)
        self.assertEqual(refusal(self.PORT, b"CONNECT a b:443 HTTP/1.1\r\n\r\n").split(b"\r\n")[0],
                         b"HTTP/1.0 400 Bad Request")

    def test_the_request_tree_shows_the_tunnel_with_its_log(self):
        target = "127.0.0.1:%d" % self.echo.port
        s, head = open_tunnel(self.PORT, target)
        self.assertEqual(head, ESTABLISHED)
        self.assertIsNotNone(self.wait_for_image(target, IMAGE_RUNNING), request_tree())
        self.assertEqual(echo_through(s, b"tree"), b"tree")
        s.close()
        entry = self.wait_for_image(target, IMAGE_TUNNEL)
        self.assertIsNotNone(entry, request_tree())
        log = request_log(entry[1]).decode("cp932")
        for line in ("トンネル接続先：%s\r\n" % target, "トンネル接続完了\r\n", "通信量(byte) クライアント → サーバー：4\r\n",
                     "通信量(byte) サーバー → クライアント：4\r\n", "クライアントが切断しました\r\n", "正常終了\r\n"):
            self.assertIn(line, log)

        refused = "127.0.0.1:%d" % (self.echo.port + 1)
        refusal(self.PORT, b"CONNECT %s HTTP/1.1\r\n\r\n" % refused.encode())
        entry = self.wait_for_image(refused, IMAGE_FAILED)
        self.assertIsNotNone(entry, request_tree())
        self.assertIn("*** ポート %d へのトンネルは許可されていません！ ***\r\n" % (self.echo.port + 1),
                      request_log(entry[1]).decode("cp932"))

    def test_two_hundred_tunnels_opened_and_cut_leave_the_program_as_it_was(self):
        # Without the request tree, which keeps requests by design, what is
        # left is what the tunnels left.
        self.assertEqual(probe("minimize")[0], 0)
        target = "127.0.0.1:%d" % self.echo.port
        def one_round(count):
            sockets = []
            for _ in range(count):
                s, head = open_tunnel(self.PORT, target)
                self.assertEqual(head, ESTABLISHED)
                s.sendall(b"x" * 1000)
                sockets.append(s)
            for s in sockets:
                self.assertEqual(receive_exactly(s, 1000), b"x" * 1000)
            for s in sockets:
                # Cut, not closed in order: a reset reaches the program.
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                s.close()
        one_round(20)
        baseline = settled_counts()
        self.assertIsNotNone(baseline)
        for _ in range(4):
            one_round(50)
        after = settled_counts()
        print("\n200 tunnels: baseline %s, after %s" % (baseline, after))
        self.assertLessEqual(after["threads"], baseline["threads"] + 2)
        self.assertLessEqual(after["handles"], baseline["handles"] + 20)
        self.assertLessEqual(after["private"], baseline["private"] + 16 * 1024 * 1024)


class OfflineTunnelTest(TunnelCase):
    PORT = 28344
    SETTINGS = {"internet": 0}

    def test_offline_a_connect_is_refused_and_logged(self):
        target = "127.0.0.1:%d" % self.echo.port
        answer = refusal(self.PORT, b"CONNECT %s HTTP/1.1\r\n\r\n" % target.encode())
        self.assertEqual(answer.split(b"\r\n")[0], b"HTTP/1.0 503 Service Unavailable")
        self.assertEqual(self.echo.accepted, 0, "nothing was contacted")
        entry = self.wait_for_image(target, IMAGE_FAILED)
        self.assertIsNotNone(entry, request_tree())
        self.assertIn("*** オフラインなのでトンネルは開けません！ ***\r\n", request_log(entry[1]).decode("cp932"))


class CloseWithTunnelsTest(TunnelCase):
    PORT = 28347
    SETTINGS = {"internet": 1}

    def test_open_tunnels_count_as_connections_and_the_close_ends_them(self):
        target = "127.0.0.1:%d" % self.echo.port
        tunnels = [open_tunnel(self.PORT, target) for _ in range(3)]
        try:
            for _, head in tunnels:
                self.assertEqual(head, ESTABLISHED)
            self.assertTrue(wait_until(lambda: probe_text("status", "1") == "通信ｽﾚｯﾄﾞ 3"), probe_text("status", "1"))
            # Idle tunnels hold nothing up: the program closes at once.
            started = time.monotonic()
            self.assertEqual(probe("close")[0], 0)
            self.program.wait(60)
            self.assertLess(time.monotonic() - started, 30)
            for s, _ in tunnels:
                s.settimeout(10)
                self.assertEqual(receive_all(s), b"", "the browser's side is closed")
        finally:
            for s, _ in tunnels:
                s.close()


@unittest.skipUnless(SQUID, "squid is needed")
class UpstreamTunnelTest(TunnelCase):
    PORT = 28345
    SQUID_PORT = 28346

    @classmethod
    def prepare(cls):
        cls.squid = Squid(cls.work, cls.SQUID_PORT)
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        cls.closed_port = closed.getsockname()[1]
        closed.close()
        cls.SETTINGS = {"internet": 1, "proxy__address": "127.0.0.1", "proxy__port": str(cls.SQUID_PORT),
                        "proxy__proxy": 1, "tunnel__allowedPorts": "%d %d" % (cls.echo.port, cls.closed_port)}

    @classmethod
    def cleanup(cls):
        cls.squid.stop()

    def test_a_tunnel_through_squid_carries_bytes_both_ways(self):
        data = bytes(random.Random(9).getrandbits(8) for _ in range(1048576 + 1))
        target = "127.0.0.1:%d" % self.echo.port
        s, head = open_tunnel(self.PORT, target)
        with s:
            self.assertEqual(head, ESTABLISHED)
            self.assertTrue(echo_counted(s, data) == data, "the echo came back different")
        self.assertTrue(wait_until(lambda: "CONNECT %s" % target in self.squid.access_log(), 30),
                        "squid saw no CONNECT")

    def test_squids_refusal_reaches_the_browser(self):
        # Vellum allows the port; squid can't reach it, and its answer is the browser's.
        answer = refusal(self.PORT, b"CONNECT 127.0.0.1:%d HTTP/1.1\r\n\r\n" % self.closed_port)
        status = answer.split(b"\r\n")[0]
        self.assertTrue(status.startswith(b"HTTP/1.0 5"), status)
        self.assertIn(b"\r\n\r\n", answer)
        self.assertIsNotNone(self.wait_for_image("127.0.0.1:%d" % self.closed_port, IMAGE_FAILED), request_tree())

if __name__ == "__main__":
    unittest.main()
