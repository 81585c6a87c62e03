"""Online and recording, the real vellum.exe forwards to a real origin server
on loopback and records what it relays."""
import os
import shutil
import socket
import tempfile
import threading
import time
import unittest

from vellum_e2e import (OriginServer, Program, answer_with, exchange, probe, read_published, wait_until,
                        windows_path, write_settings)

LOOPBACK = 0x7F000001


class ProgramCase(unittest.TestCase):
    """One program per class, with its own save folder and settings."""
    PORT = 0
    SETTINGS = {}

    @classmethod
    def setUpClass(cls):
        cls.save = tempfile.mkdtemp(prefix="vellum-e2e-online-", dir="/tmp")
        cls.save_win = windows_path(cls.save)
        probe("delete-address")
        write_settings(localPath=cls.save_win, log=1, **cls.SETTINGS)
        cls.program = Program("127.0.0.1:%d" % cls.PORT)
        if wait_until(read_published) != (LOOPBACK, cls.PORT):
            cls.program.kill()
            raise RuntimeError("vellum.exe did not start listening")

    @classmethod
    def tearDownClass(cls):
        if not cls.program.exited():
            probe("close")
            try:
                cls.program.wait(60)
            except Exception:
                cls.program.kill()
        shutil.rmtree(cls.save, ignore_errors=True)

    def setUp(self):
        self.origins = []

    def tearDown(self):
        for origin in self.origins:
            origin.close()

    def origin(self, handler):
        server = OriginServer(handler)
        self.origins.append(server)
        return server

    def get(self, url, headers=b""):
        return exchange(self.PORT, b"GET " + url.encode() + b" HTTP/1.1\r\n" + headers + b"\r\n")

    def folder(self, origin):
        return os.path.join(self.save, origin.host_folder())

    def listing(self, origin):
        folder = self.folder(origin)
        return sorted(os.listdir(folder)) if os.path.isdir(folder) else []

    def read(self, origin, name):
        with open(os.path.join(self.folder(origin), name), "rb") as f:
            return f.read()


class RecordingTest(ProgramCase):
    PORT = 28311
    SETTINGS = {"internet": 1, "localize": 1}

    def test_a_page_is_relayed_and_recorded(self):
        origin = self.origin(answer_with(b"HTTP/1.1 200 OK\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                         b"ETag: \"e\"\r\nConnection: close\r\nContent-Type: text/html\r\n"
                                         b"Content-Length: 11\r\n\r\n<p>page</p>"))
        answer = self.get(origin.url("/dir/"), b"Host: 127.0.0.1\r\n")
        self.assertEqual(answer, b"HTTP/1.0 200 OK\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                 b"Content-Type: text/html\r\nContent-Length: 11\r\n\r\n<p>page</p>")
        self.assertEqual(sorted(os.listdir(os.path.join(self.folder(origin), "dir"))),
                         ["index.html", "index.html(19941106084937 text%2Fhtml)"])

    def test_the_browsers_cookie_and_encoding_never_reach_the_server(self):
        origin = self.origin(answer_with(b"HTTP/1.0 200 OK\r\n\r\nx"))
        self.get(origin.url("/c?x=1#frag"), b"Host: 127.0.0.1\r\nCookie: secret=1\r\nAccept-Encoding: gzip, br\r\n"
                                             b"Accept: text/html\r\nProxy-Connection: keep-alive\r\nUser-Agent: UA\r\n")
        self.assertEqual(origin.requests[0], ("GET /c?x=1 HTTP/1.0\r\nHost: 127.0.0.1:%d\r\nAccept: */*\r\n"
                                              "User-Agent: UA\r\n\r\n" % origin.port).encode())

    def test_a_post_body_is_forwarded_whole(self):
        body = b"name=" + bytes(range(256)) * 40
        origin = self.origin(answer_with(b"HTTP/1.0 200 OK\r\n\r\nthanks"))
        answer = exchange(self.PORT, b"POST " + origin.url("/form").encode() + b" HTTP/1.0\r\nContent-Length: " +
                          str(len(body)).encode() + b"\r\nContent-Type: application/octet-stream\r\n\r\n" + body)
        self.assertEqual(answer, b"HTTP/1.0 200 OK\r\n\r\nthanks")
        self.assertTrue(origin.requests[0].endswith(b"\r\n\r\n" + body))

    def test_a_redirect_is_recorded_into_its_response_file(self):
        origin = self.origin(answer_with(b"HTTP/1.1 301 Moved Permanently\r\nLocation: http://elsewhere/\r\n"
                                         b"Accept-Ranges: bytes\r\nContent-Length: 4\r\n\r\nmove"))
        answer = self.get(origin.url("/moved"))
        recorded = b"HTTP/1.0 301 Moved Permanently\r\nLocation: http://elsewhere/\r\nContent-Length: 4\r\n\r\nmove"
        self.assertEqual(answer, recorded)
        self.assertEqual(self.listing(origin), ["moved.response"])
        self.assertEqual(self.read(origin, "moved.response"), recorded)

    def test_a_404_is_relayed_and_not_written(self):
        origin = self.origin(answer_with(b"HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nno!"))
        self.assertEqual(self.get(origin.url("/gone.html")), b"HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nno!")
        self.assertEqual(self.listing(origin), [])

    def test_a_cut_off_transfer_keeps_the_old_page(self):
        state = {"first": True}

        def handler(request, client):
            if state.pop("first", False):
                client.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nold page!")
            else:
                client.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"n" * 5000)

        origin = self.origin(handler)
        self.get(origin.url("/cut"))
        self.assertEqual(self.read(origin, "cut"), b"old page!")
        self.get(origin.url("/cut"))
        self.assertEqual(self.read(origin, "cut"), b"old page!")
        self.assertEqual(self.listing(origin), ["cut", "cut(00000000000000 none)"])

    def test_an_unchanged_page_is_answered_from_disk(self):
        bodies = [b"first body", b"second body"]

        def handler(request, client):
            client.sendall(b"HTTP/1.0 200 OK\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                           b"Content-Type: text/plain\r\n\r\n" + bodies.pop(0))

        origin = self.origin(handler)
        self.get(origin.url("/same.txt"))
        answer = self.get(origin.url("/same.txt"))
        self.assertTrue(answer.endswith(b"\r\n\r\nfirst body"), answer)
        self.assertIn(b"Content-length: 10\r\n", answer)

    def test_a_304_for_a_missing_page_queues_one_forced_get_that_records_it(self):
        def handler(request, client):
            if b"If-Modified-Since" in request:
                client.sendall(b"HTTP/1.0 304 Not Modified\r\n\r\n")
            else:
                client.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\n\r\nGIF89a-real")

        origin = self.origin(handler)
        ims = b"If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
        self.assertEqual(self.get(origin.url("/cached.gif"), ims), b"HTTP/1.0 304 Not Modified\r\n\r\n")
        self.assertTrue(wait_until(lambda: "cached.gif" in self.listing(origin), 30), self.listing(origin))
        self.assertEqual(self.read(origin, "cached.gif"), b"GIF89a-real")
        self.assertEqual(len(origin.requests), 2, "one forced get, without If-Modified-Since")
        self.assertNotIn(b"If-Modified-Since", origin.requests[1])

    def test_two_clients_use_receiving_files_of_their_own(self):
        release = threading.Event()

        def slow(request, client):
            client.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nhalf")
            release.wait(20)
            client.sendall(b"done")

        origin = self.origin(slow)
        try:
            request = ("GET %s HTTP/1.0\r\n\r\n" % origin.url("/both")).encode()
            senders = [threading.Thread(target=exchange, args=(self.PORT, request)) for _ in range(2)]
            for sender in senders:
                sender.start()
            receiving = lambda: [n for n in self.listing(origin) if ".#" in n]
            self.assertTrue(wait_until(lambda: len(receiving()) == 2, 20), receiving())
            names = receiving()
            for name in names:
                self.assertRegex(name, r"^both\.#\d{5,}#$")
            self.assertNotEqual(names[0], names[1])
            release.set()
            for sender in senders:
                sender.join()
            self.assertTrue(wait_until(lambda: receiving() == [], 20), "receiving files are deleted")
            self.assertEqual(self.read(origin, "both"), b"halfdone")
        finally:
            release.set()

    def test_refused_connects_are_tried_five_times(self):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        start = time.monotonic()
        self.assertEqual(self.get("http://127.0.0.1:%d/" % port), b"")
        self.assertGreaterEqual(time.monotonic() - start, 2.0, "four pauses of 500 ms")

    # Named to run last in its class (unittest sorts by name): it closes the program.
    def test_zz_closing_during_a_download_keeps_the_old_page_and_no_receiving_file(self):
        state = {"first": True}
        sending = threading.Event()

        def handler(request, client):
            if state.pop("first", False):
                client.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nold body")
                return
            client.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 200000000\r\n\r\n")
            chunk = b"x" * 65536
            try:
                for _ in range(3000):
                    client.sendall(chunk)
                    sending.set()
                    time.sleep(0.001)
            except OSError:
                pass

        origin = self.origin(handler)
        self.get(origin.url("/big"))
        browser = socket.create_connection(("127.0.0.1", self.PORT))
        browser.sendall(b"GET " + origin.url("/big").encode() + b" HTTP/1.0\r\n\r\n")
        browser.settimeout(60)
        received = browser.recv(65536)
        self.assertTrue(received.startswith(b"HTTP/1.0 200 OK"))
        self.assertTrue(sending.wait(30))
        probe("close")
        self.assertEqual(self.program.wait(60), 0)
        try:
            while browser.recv(65536):
                pass
        except OSError:
            pass
        browser.close()
        self.assertEqual(self.read(origin, "big"), b"old body")
        self.assertEqual(self.listing(origin), ["big", "big(00000000000000 none)"])


class UpstreamProxyTest(ProgramCase):
    PORT = 28312

    @classmethod
    def setUpClass(cls):
        cls.upstream = OriginServer(answer_with(b"HTTP/1.0 200 OK\r\n\r\nfrom upstream"))
        cls.SETTINGS = {"internet": 1, "localize": 0, "proxy__address": "127.0.0.1",
                        "proxy__port": str(cls.upstream.port), "proxy__proxy": 1}
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.upstream.close()

    def test_the_absolute_url_goes_to_the_upstream_proxy(self):
        answer = self.get("http://far.example:81/path?q=1", b"Host: far.example:81\r\nCookie: c=1\r\n")
        self.assertEqual(answer, b"HTTP/1.0 200 OK\r\n\r\nfrom upstream")
        self.assertEqual(self.upstream.requests[-1],
                         b"GET http://far.example:81/path?q=1 HTTP/1.0\r\nHost: far.example:81\r\n\r\n")


if __name__ == "__main__":
    unittest.main()
