"""Offline, the real vellum.exe answers a browser from a prepared save folder."""
import concurrent.futures
import os
import shutil
import socket
import tempfile
import time
import unittest

from vellum_e2e import (OriginServer, Program, answer_with, exchange, probe, read_published, request_log,
                        request_tree, wait_until, windows_path, write_settings)

PORT = 28301
LOOPBACK = 0x7F000001
ADDRESS = b"<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>"


def put(folder, relative, data):
    path = os.path.join(folder, *relative.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def end_program(program, save):
    """Closes the program as its user would (killed if it hangs) and removes its save folder."""
    probe("close")
    try:
        program.wait(60)
    except Exception:
        program.kill()
    shutil.rmtree(save, ignore_errors=True)


class OfflineServingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.save = tempfile.mkdtemp(prefix="vellum-e2e-offline-", dir="/tmp")
        cls.save_win = windows_path(cls.save)
        probe("delete-address")
        write_settings(localPath=cls.save_win, internet=0, localize=0, log=1)
        cls.program = Program("127.0.0.1:%d" % PORT)
        if wait_until(read_published) != (LOOPBACK, PORT):
            cls.program.kill()
            raise RuntimeError("vellum.exe did not start listening")

        put(cls.save, "site/a.html", b"<html><body>recorded page</body></html>")
        put(cls.save, "site/a.html(19941106084937 text%2Fhtml; charset=Shift_JIS)", b"")
        put(cls.save, "site/img/p.gif", b"GIF89a\x01\x00\x01\x00\x00\xff\x00,")
        put(cls.save, "site/img/p.gif(00000000000000 image%2Fgif)", b"")
        cls.redirect = b"HTTP/1.0 302 Found\r\nLocation: http://site/a.html\r\nContent-Length: 5\r\n\r\nmoved"
        put(cls.save, "site/old.response", cls.redirect)

    @classmethod
    def tearDownClass(cls):
        end_program(cls.program, cls.save)

    def test_a_recorded_page_comes_back_byte_for_byte(self):
        answer = exchange(PORT, b"GET http://site/a.html HTTP/1.1\r\nHost: site\r\nAccept-Encoding: gzip\r\n\r\n")
        self.assertEqual(answer, b"HTTP/1.0 200 OK\r\n"
                                 b"Last-modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                 b"Content-length: 39\r\n"
                                 b"Content-type: text/html; charset=Shift_JIS\r\n"
                                 b"\r\n<html><body>recorded page</body></html>")
        image = exchange(PORT, b"GET http://site/img/p.gif HTTP/1.0\r\n\r\n")
        self.assertEqual(image, b"HTTP/1.0 200 OK\r\nContent-length: 14\r\nContent-type: image/gif\r\n\r\n"
                                b"GIF89a\x01\x00\x01\x00\x00\xff\x00,")

    def test_if_modified_since(self):
        same = exchange(PORT, b"GET http://site/a.html HTTP/1.0\r\n"
                              b"If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n")
        self.assertEqual(same, b"HTTP/1.0 304 Not Modified\r\n\r\n")
        for other in (b"If-Modified-Since: Mon, 07 Nov 1994 08:49:37 GMT\r\n", b"If-Modified-Since: junk\r\n", b""):
            answer = exchange(PORT, b"GET http://site/a.html HTTP/1.0\r\n" + other + b"\r\n")
            self.assertTrue(answer.endswith(b"\r\n\r\n<html><body>recorded page</body></html>"), answer)

    def test_a_redirect_file_is_answered_as_it_stands(self):
        self.assertEqual(exchange(PORT, b"GET http://site/old HTTP/1.0\r\n\r\n"), self.redirect)

    def test_a_missing_page_gets_the_404_page(self):
        line = b"GET http://site/missing.html HTTP/1.0\r\n"
        answer = exchange(PORT, line + b"User-Agent: t\r\n\r\n")
        local = (self.save_win + "\\site\\missing.html").encode("cp932")
        self.assertEqual(answer, b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n"
                                 b"\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>Not Found</H1>"
                                 b"<PRE>Client request : " + line + b"Local filename : " + local + b"</PRE>" + ADDRESS)

    def test_head_gets_the_501_page(self):
        answer = exchange(PORT, b"HEAD http://site/a.html HTTP/1.0\r\n\r\n")
        self.assertEqual(answer, b"HTTP/1.0 501 Not Implemented\r\nContent-Type: text/html\r\n"
                                 b"\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>Error</H1>"
                                 b"<PRE>Client request : HEAD http://site/a.html HTTP/1.0\r\n</PRE>" + ADDRESS)

    def test_non_http_targets_close_without_a_reply(self):
        self.assertEqual(exchange(PORT, b"GET ftp://host/ HTTP/1.0\r\n\r\n"), b"")

    def test_a_client_that_sends_nothing_leaves_the_proxy_serving(self):
        s = socket.create_connection(("127.0.0.1", PORT))
        s.shutdown(socket.SHUT_WR)
        s.settimeout(30)
        self.assertEqual(s.recv(1), b"")
        s.close()
        self.assertTrue(exchange(PORT, b"GET http://site/a.html HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.0 200 OK"))

    def test_floods_of_header_lines_are_refused_at_once(self):
        # Thousands of short lines, or of continuation lines: the request is
        # refused once it passes a thousand lines, without an answer, and the
        # proxy serves the next one. The time each took is printed.
        figures = []
        for count, line in ((20000, b"X-Filler: y\r\n"), (50000, b"    continued\r\n")):
            flood = b"GET http://site/a.html HTTP/1.0\r\n" + line * count + b"\r\n"
            s = socket.create_connection(("127.0.0.1", PORT), timeout=60)
            began = time.monotonic()
            try:
                s.sendall(flood)
            except OSError:
                pass  # refused before the flood was all sent
            s.settimeout(60)
            try:
                answer = s.recv(65536)
            except ConnectionResetError:
                answer = b""
            figures.append("%d lines: closed after %.2f s" % (count, time.monotonic() - began))
            s.close()
            self.assertEqual(answer, b"", "no answer to a refused request")
        print("\n" + "\n".join(figures))
        self.assertTrue(exchange(PORT, b"GET http://site/a.html HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.0 200 OK"))

    def test_a_strangers_marker_lines_neither_go_online_nor_move_the_store(self):
        # A page's script can add any header: the crawler's and the forced
        # get's lines, and a folder of its choosing. From anyone but the
        # program itself they are unknown headers, and offline stays offline.
        origin = OriginServer(answer_with(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfetched"))
        elsewhere = tempfile.mkdtemp(prefix="vellum-e2e-elsewhere-", dir="/tmp")
        try:
            for mode in (b"Vellum-Mode: GetOnly\r\n", b"Vellum-Mode: RecMode\r\n"):
                line = ("GET %s HTTP/1.0\r\n" % origin.url("/forced.txt")).encode()
                request = line + mode + ("Vellum-LocalPath: %s\r\n\r\n" % windows_path(elsewhere)).encode("cp932")
                answer = exchange(PORT, request)
                self.assertTrue(answer.startswith(b"HTTP/1.0 404 Not Found\r\n"), answer)
                local = (self.save_win + "\\" + origin.host_folder() + "\\forced.txt").encode("cp932")
                self.assertIn(b"Local filename : " + local, answer)
            time.sleep(1)
            self.assertEqual(origin.requests, [], "nothing went online")
            self.assertEqual(os.listdir(elsewhere), [])
            self.assertFalse(os.path.exists(os.path.join(self.save, origin.host_folder())))
        finally:
            origin.close()
            shutil.rmtree(elsewhere, ignore_errors=True)

    def test_the_log_command_shows_the_steps_in_order(self):
        exchange(PORT, b"GET http://site/img/p.gif HTTP/1.0\r\nReferer: http://site/logtest.html\r\n\r\n")
        tree = request_tree()
        index = max(i for i, item in enumerate(tree) if item[2] == "http://site/img/p.gif")
        log = wait_until(lambda: request_log(index), 20)
        self.assertIsNotNone(log)
        text = log.decode("cp932")
        steps = ["クライエント通信用ソケット識別子：", "リクエストヘッダー(from Client)受信開始\r\n", "完了\r\n",
                 "リクエストヘッダー(from Client)の内容 次の行から--->\r\nGET http://site/img/p.gif HTTP/1.0\r\n",
                 "<---ここまで\r\n", "ツリー表示インターフェース開始\r\n", "------------------------------\r\n",
                 "自動取得：0\r\n強制取得：0\r\nブラウザ連携：1\r\nインターネット接続：0\r\nページ保存：0\r\nファイル名：",
                 "ローカルが存在するか確認\r\nローカルは存在します\r\n",
                 "ローカルがクライアントのキャッシュより新しいファイルです\r\n",
                 "レスポンスヘッダー(to Client)の内容 次の行から--->\r\n",
                 "通信開始（ローカル → クライアント）\r\n", "通信量(byte)：14\r\n",
                 "クライアント通信用ソケットクローズ開始\r\n", "正常終了\r\n"]
        at = 0
        for step in steps:
            found = text.find(step, at)
            self.assertGreaterEqual(found, 0, "%r missing after position %d in\n%s" % (step, at, text))
            at = found


class BurstTreeTest(unittest.TestCase):
    """A burst of concurrent requests leaves the request tree a slow run
    leaves: every request under its page with its own outcome and log."""

    REQUESTS = 500

    def test_a_burst_shows_what_a_slow_run_shows(self):
        save = tempfile.mkdtemp(prefix="vellum-e2e-burst-", dir="/tmp")
        for page in ("slow", "fast"):
            put(save, "site/%s.html" % page, b"<html>%s</html>" % page.encode())
            put(save, "site/%s.html(19941106084937 text%%2Fhtml)" % page, b"")
        # Pages, images and missing files: each ends with a state image of its own.
        for i in range(0, 50, 3):
            put(save, "site/p%d.html" % i, b"<html>%d</html>" % i)
            put(save, "site/p%d.html(19941106084937 text%%2Fhtml)" % i, b"")
        for i in range(1, 50, 3):
            put(save, "site/p%d.gif" % i, b"GIF89a")
            put(save, "site/p%d.gif(00000000000000 image%%2Fgif)" % i, b"")
        names = ["p%d.%s" % (i, "gif" if i % 3 == 1 else "html") for i in range(50)]
        probe("delete-address")
        write_settings(localPath=windows_path(save), internet=0, localize=0, log=1)
        program = Program("127.0.0.1:%d" % (PORT + 2))

        def fetch(name, page):
            return exchange(PORT + 2, b"GET http://site/%s HTTP/1.0\r\nReferer: http://site/%s.html\r\n\r\n"
                            % (name.encode(), page.encode()))

        def children(tree, page):
            at = [label for _, _, label in tree].index("http://site/%s.html" % page)
            under = []
            for depth, image, label in tree[at + 1:]:
                if depth == 0:
                    break
                under.append((depth, image, label))
            return under

        try:
            self.assertEqual(wait_until(read_published), (LOOPBACK, PORT + 2))
            batch = [names[i % len(names)] for i in range(self.REQUESTS)]
            exchange(PORT + 2, b"GET http://site/slow.html HTTP/1.0\r\n\r\n")
            slow_answers = [fetch(name, "slow") for name in batch]
            exchange(PORT + 2, b"GET http://site/fast.html HTTP/1.0\r\n\r\n")
            with concurrent.futures.ThreadPoolExecutor(max_workers=64) as pool:
                fast_answers = list(pool.map(lambda name: fetch(name, "fast"), batch))
            self.assertEqual(fast_answers, slow_answers)

            def settled():
                tree = request_tree()
                done = len(children(tree, "fast")) == self.REQUESTS and all(image != 2 for _, image, _ in tree)
                return tree if done else None
            tree = wait_until(settled, 60)
            self.assertIsNotNone(tree, "the burst's requests did not all finish in the tree")
            self.assertEqual(sorted(children(tree, "fast")), sorted(children(tree, "slow")))
            self.assertEqual(len(children(tree, "slow")), self.REQUESTS)
            self.assertEqual({image for _, image, _ in children(tree, "fast")}, {1, 7, 11},
                             "pages, images and missing files each show their own image")

            # Each log is its own request's, however the ends interleaved.
            labels = [label for _, _, label in tree]
            first = labels.index("http://site/fast.html") + 1
            for index in range(first, first + self.REQUESTS, 97):
                log = wait_until(lambda: request_log(index), 20)
                self.assertIsNotNone(log)
                line = "GET http://site/%s HTTP/1.0\r\n" % labels[index]
                self.assertIn(line, log.decode("cp932"))
        finally:
            end_program(program, save)


class OfflineLogWithoutDetailTest(unittest.TestCase):
    """Error lines are logged even with the log-detail setting off."""

    def test_errors_are_logged_without_detail(self):
        save = tempfile.mkdtemp(prefix="vellum-e2e-quiet-", dir="/tmp")
        probe("delete-address")
        write_settings(localPath=windows_path(save), internet=0, localize=0, log=0)
        program = Program("127.0.0.1:%d" % (PORT + 1))
        try:
            self.assertEqual(wait_until(read_published), (LOOPBACK, PORT + 1))
            exchange(PORT + 1, b"GET http://site/none.html HTTP/1.0\r\n\r\n")
            tree = request_tree()
            self.assertEqual([label for _, _, label in tree], ["http://site/none.html"])
            self.assertEqual(tree[0][1], 11, "the 404 image")
            self.assertEqual(wait_until(lambda: request_log(0), 20), "*** ローカルが存在しません！ ***\r\n".encode("cp932"))
        finally:
            end_program(program, save)


if __name__ == "__main__":
    unittest.main()
