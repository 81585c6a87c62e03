"""Auto-get from outside: the real vellum.exe reserves pages (from its request
tree and from a reservation connection), crawls a scriptable origin server on
loopback through its own proxy port, records what it reaches, and shows it in
the auto-get window's tree; vellum_probe plays the user at the screen."""
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from vellum_e2e import (BIN, WINE_RUN, OriginServer, Program, exchange, probe, probe_text, read_published,
                        request_tree, wait_until, windows_path, write_settings)

PORT = 28431
LOOPBACK = 0x7F000001

# Page-tree state images.
HTML, IMAGE, TEXT = 1, 7, 2
FAILED, SKIPPED, WAITING, FETCHING, RETRY_WAIT, LOCKED = 3, 4, 5, 6, 12, 15

DONE = "自動取得を終了しました。"
STOP_QUESTION = "ただちに停止しますか？\n\n「いいえ」で現在のファイルを取得後に停止します。"


def autoget_tree():
    """The auto-get window's page tree as (depth, state image, label)."""
    return request_tree("VELLUM_REC", "115")


def autoget_state():
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), "autoget-state"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    return dict(part.split("=") for part in done.stdout.decode("ascii").split())


def message_box(seconds=30, button="ok"):
    """The text of the next message box of the program, answered; None when none comes."""
    code, hex_text = probe("message-box", str(seconds), button)
    if code != 0 or hex_text == "none":
        return None
    return bytes.fromhex(hex_text).decode("cp932")


def page(body, content_type="text/html"):
    if isinstance(body, str):
        body = body.encode("cp932")
    return (b"HTTP/1.0 200 OK\r\nContent-Type: " + content_type.encode() +
            b"\r\nContent-Length: %d\r\n\r\n" % len(body) + body)


class Site:
    """An origin handler serving a dict of path -> response bytes, or -> a
    callable(client) that answers itself. Requests are kept by path."""

    def __init__(self, pages):
        self.pages = pages
        self.by_path = {}
        self.lock = threading.Lock()

    def __call__(self, request, client):
        path = request.split(b" ")[1].decode("latin-1")
        with self.lock:
            self.by_path.setdefault(path, []).append(request)
        answer = self.pages.get(path)
        if answer is None:
            client.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n")
        elif callable(answer):
            answer(client)
        else:
            client.sendall(answer)

    def asked(self, path):
        with self.lock:
            return list(self.by_path.get(path, []))


def slow(body, seconds, content_type="application/octet-stream", started=None):
    """A response whose body trickles in over about `seconds`."""
    def answer(client):
        client.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: " + content_type.encode() +
                       b"\r\nContent-Length: %d\r\n\r\n" % len(body))
        if started:
            started.set()
        steps = 20
        piece = (len(body) + steps - 1) // steps
        for i in range(0, len(body), piece):
            try:
                client.sendall(body[i:i + piece])
            except OSError:
                return
            time.sleep(seconds / steps)
    return answer


class AutoGetCase(unittest.TestCase):
    SETTINGS = {}

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vellum-e2e-autoget-", dir="/tmp")
        self.save = os.path.join(self.work, "save")
        os.makedirs(self.save)
        self.origins = []
        probe("delete-address")
        settings = dict(localPath=windows_path(self.save), recStatusLink=1, recStatusRetry=0)
        settings.update(self.SETTINGS)
        write_settings(**settings)
        self.program = Program("127.0.0.1:%d" % PORT)
        self.assertEqual(wait_until(read_published), (LOOPBACK, PORT), "vellum.exe did not start listening")

    def tearDown(self):
        if not self.program.exited():
            probe("close")
            try:
                self.program.wait(60)
            except Exception:
                self.program.kill()
        for origin in self.origins:
            origin.close()
        shutil.rmtree(self.work, ignore_errors=True)

    def site(self, pages):
        site = Site(pages)
        origin = OriginServer(site)
        self.origins.append(origin)
        site.origin = origin
        return site

    def reserve(self, url, referer=None, user_agent="TestBrowser/1.0"):
        """A reservation connection, as the browser component makes one; waits
        until the page tree has taken it (connections run side by side, so
        only one at a time keeps the order)."""
        before = len(self.bases())
        text = "TESSEL.DLL\r\nReserveAutoGet\r\nGET %s HTTP/1.0\r\n" % url
        if referer:
            text += "Referer: %s\r\n" % referer
        if user_agent:
            text += "User-Agent: %s\r\n" % user_agent
        s = socket.create_connection(("127.0.0.1", PORT), timeout=10)
        s.sendall((text + "\r\n").encode("cp932"))
        s.close()
        self.assertTrue(wait_until(lambda: len(self.bases()) == before + 1, 30), autoget_tree())

    @staticmethod
    def bases():
        return [label for depth, _, label in autoget_tree() if depth == 0]

    def reserved(self, *urls):
        """Waits until the page tree's base nodes are these URLs."""
        return wait_until(lambda: self.bases() == list(urls), 30)

    def start_run(self):
        self.assertEqual(probe("autoget-start")[0], 0)

    def run_to_end(self, expected_box=DONE):
        self.start_run()
        self.assertEqual(message_box(120), expected_box)
        self.assertTrue(wait_until(lambda: autoget_state().get("start") == "1", 30))

    def stored(self, site, path):
        name = os.path.join(self.save, site.origin.host_folder(), *path.lstrip("/").split("/"))
        with open(name, "rb") as f:
            return f.read()

    def folder(self, site, sub=""):
        return os.path.join(self.save, site.origin.host_folder(), sub)


class ReservationTest(AutoGetCase):
    SETTINGS = {"internet": 1}

    def browse(self, method, url, body=b""):
        head = "%s %s HTTP/1.0\r\n" % (method, url)
        if body:
            head += "Content-Length: %d\r\n" % len(body)
        return exchange(PORT, head.encode() + b"\r\n" + body)

    def test_requests_of_the_request_tree_are_reserved_once_and_only_when_get(self):
        site = self.site({"/page.html": page("<p>page</p>"), "/form": page("<p>posted</p>")})
        url = site.origin.url("/page.html")
        self.browse("GET", url)
        self.browse("POST", site.origin.url("/form"), b"a=1")
        self.assertTrue(wait_until(lambda: len(request_tree()) == 2))
        self.assertEqual(autoget_state()["visible"], "0")

        # Enter on the finished GET: the auto-get window opens with it as a base node.
        self.assertEqual(probe("reserve-request", "0", "enter")[0], 0)
        self.assertTrue(self.reserved(url), autoget_tree())
        self.assertEqual(autoget_tree(), [(0, WAITING, url)])
        self.assertTrue(wait_until(lambda: autoget_state()["visible"] == "1"))

        # The POST: a warning, nothing reserved.
        self.assertEqual(probe("reserve-request", "1", "enter")[0], 0)
        self.assertEqual(message_box(), "リクエストメソッドが「GET」ではないので、自動取得に予約できません！")

        # The same URL again by double click: asked first; No keeps one node.
        self.assertEqual(probe("reserve-request", "0", "dblclick")[0], 0)
        self.assertEqual(message_box(button="no"), "重複していますが、よろしいですか？")
        time.sleep(0.5)
        self.assertEqual(len(autoget_tree()), 1)
        # From the context menu, answered Yes: a second base node.
        self.assertEqual(probe("reserve-request", "0", "menu")[0], 0)
        self.assertEqual(message_box(button="yes"), "重複していますが、よろしいですか？")
        self.assertTrue(self.reserved(url, url), autoget_tree())

    def test_a_reservation_connection_gives_the_job_its_referer_and_user_agent(self):
        site = self.site({"/r/start.html": page("<p>start</p>")})
        url = site.origin.url("/r/start.html")
        self.reserve(url, referer="http://search.example/?q=start", user_agent="Reserver/2.0 (test)")
        self.assertTrue(self.reserved(url), autoget_tree())
        self.run_to_end()
        request = site.asked("/r/start.html")[0]
        self.assertIn(b"\r\nReferer: http://search.example/?q=start\r\n", request)
        self.assertIn(b"\r\nUser-Agent: Reserver/2.0 (test)\r\n", request)
        self.assertEqual(autoget_tree(), [(0, HTML, url)])


class RunTest(AutoGetCase):
    SETTINGS = {"recStatusLink": 2}

    def test_a_run_records_the_site_to_its_depth_with_referers(self):
        pages = {
            "/site/index.html": page("<html><body background='bg.gif'><a href='a.html'>a</a>"
                                     "<img src='pic.gif'><a href='/elsewhere/x.html'>out</a></body></html>"),
            "/site/a.html": page("<a href='b.html'>b</a><a href='index.html'>home</a>"),
            "/site/b.html": page("<a href='c.html'>c</a><img src='pic.gif'>"),
            "/site/c.html": page("<p>too deep</p>"),
            "/site/pic.gif": page(b"GIF89a-picture", "image/gif"),
            "/site/bg.gif": page(b"GIF89a-background", "image/gif"),
        }
        site = self.site(pages)
        base = site.origin.url("/site/index.html")
        self.reserve(base, user_agent="Crawler-Test/1")
        self.assertTrue(self.reserved(base))
        self.run_to_end()

        u = site.origin.url
        self.assertEqual(autoget_tree(), [
            (0, HTML, base),
            (1, IMAGE, u("/site/bg.gif")),
            (1, IMAGE, u("/site/pic.gif")),
            (1, HTML, "(1) " + u("/site/a.html")),
            (2, HTML, "(2) " + u("/site/b.html")),
            (3, SKIPPED, u("/site/pic.gif")),              # fetched already
            (3, SKIPPED, "(3) " + u("/site/c.html")),     # deeper than 2
            (2, SKIPPED, "(2) " + u("/site/index.html")),  # the base itself
            (1, SKIPPED, "(1) " + u("/elsewhere/x.html")),  # outside the restriction
        ])
        # Each page was asked for once, with its parent's URL as Referer, and
        # the origin never saw the proxy's own lines.
        referers = {"/site/index.html": None, "/site/bg.gif": base, "/site/pic.gif": base,
                    "/site/a.html": base, "/site/b.html": u("/site/a.html")}
        for path, referer in referers.items():
            asked = site.asked(path)
            self.assertEqual(len(asked), 1, path)
            self.assertNotIn(b"Vellum-", asked[0])
            self.assertIn(b"\r\nUser-Agent: Crawler-Test/1\r\n", asked[0])
            if referer:
                self.assertIn(b"\r\nReferer: " + referer.encode() + b"\r\n", asked[0], path)
            else:
                self.assertNotIn(b"Referer:", asked[0])
            body = pages[path].split(b"\r\n\r\n", 1)[1]
            self.assertEqual(self.stored(site, path), body)
        self.assertEqual(site.asked("/site/c.html"), [])

    def test_a_run_over_an_empty_tree_ends_at_once(self):
        self.start_run()
        self.assertEqual(message_box(30), DONE)
        self.assertEqual(autoget_state()["start"], "1")

    def test_three_redirects_in_a_row_end_the_run(self):
        moved = b"HTTP/1.0 301 Moved Permanently\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n"
        site = self.site({"/1": moved, "/2": moved, "/3": moved, "/4": page("<p>4</p>")})
        for n in "1234":
            self.reserve(site.origin.url("/" + n))
        self.assertTrue(self.reserved(*[site.origin.url("/" + n) for n in "1234"]))
        self.run_to_end("３回連続して移転通知を受信しました")
        self.assertEqual([image for _, image, _ in autoget_tree()], [14, 14, 14, WAITING])
        self.assertEqual(site.asked("/4"), [])

    def test_a_server_that_asks_for_credentials_is_asked_once_and_ends_with_401(self):
        challenge = (b"HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"members\"\r\n"
                     b"Content-Length: 0\r\n\r\n")
        site = self.site({"/members/": challenge})
        self.reserve(site.origin.url("/members/"))
        self.assertTrue(self.reserved(site.origin.url("/members/")))
        self.run_to_end()
        asked = site.asked("/members/")
        # With no credentials stored, the second request goes without them.
        self.assertEqual(len(asked), 2)
        self.assertNotIn(b"Authorization", asked[1])
        self.assertEqual(autoget_tree(), [(0, LOCKED, site.origin.url("/members/"))])


class RetryTest(AutoGetCase):
    SETTINGS = {"recStatusRetry": 3, "recStatusRetryTimer": 1500}

    def test_a_refusing_server_is_retried_while_the_node_waits_in_yellow(self):
        refusals = [2]

        def answer(client):
            if refusals[0] > 0:
                refusals[0] -= 1
                return  # closed without a word
            client.sendall(page("<p>at last</p>"))
        site = self.site({"/flaky.html": answer})
        url = site.origin.url("/flaky.html")
        self.reserve(url)
        self.assertTrue(self.reserved(url))
        self.start_run()
        self.assertTrue(wait_until(lambda: autoget_tree() == [(0, RETRY_WAIT, url)], 30), autoget_tree())
        self.assertEqual(message_box(60), DONE)
        self.assertEqual(autoget_tree(), [(0, HTML, url)])
        self.assertEqual(len(site.asked("/flaky.html")), 3)


class UpdateCheckTest(AutoGetCase):
    PAGES = {"/u/index.html": page("<a href='next.html'>n</a><img src='pic.gif'>"),
             "/u/next.html": page("<p>next</p>"),
             "/u/pic.gif": page(b"GIF89a", "image/gif")}

    def restart(self, update_check):
        probe("close")
        self.program.wait(60)
        probe("delete-address")
        write_settings(localPath=windows_path(self.save), recStatusLink=1, recStatusRetry=0,
                       recStatusModify=update_check)
        self.program = Program("127.0.0.1:%d" % PORT)
        self.assertEqual(wait_until(read_published), (LOOPBACK, PORT))

    def test_stored_pages_are_asked_for_again_as_the_update_check_says(self):
        site = self.site(self.PAGES)
        base = site.origin.url("/u/index.html")
        self.reserve(base)
        self.assertTrue(self.reserved(base))
        self.run_to_end()
        expected_tree = [(0, HTML, base), (1, IMAGE, site.origin.url("/u/pic.gif")),
                         (1, HTML, "(1) " + site.origin.url("/u/next.html"))]
        self.assertEqual(autoget_tree(), expected_tree)

        for update_check, asked in ((0, []), (1, ["/u/index.html", "/u/next.html"]),
                                    (2, ["/u/index.html", "/u/pic.gif", "/u/next.html"])):
            with self.subTest(update_check=update_check):
                self.restart(update_check)
                before = {path: len(site.asked(path)) for path in self.PAGES}
                self.reserve(base)
                self.assertTrue(self.reserved(base))
                self.run_to_end()
                again = [path for path in ("/u/index.html", "/u/pic.gif", "/u/next.html")
                         if len(site.asked(path)) > before[path]]
                self.assertEqual(again, asked)
                # Stored pages show as done whether asked for or not, and the
                # HTML copy is still expanded.
                self.assertEqual(autoget_tree(), expected_tree)


class StopTest(AutoGetCase):
    SETTINGS = {"recStatusModify": 2}
    BODY = bytes(range(256)) * 800  # 200 KB

    def test_stop_answered_no_finishes_the_current_file_and_ends_quietly(self):
        started = threading.Event()
        site = self.site({"/big.bin": slow(self.BODY, 4, started=started), "/after.html": page("<p>after</p>")})
        self.reserve(site.origin.url("/big.bin"))
        self.reserve(site.origin.url("/after.html"))
        self.assertTrue(self.reserved(site.origin.url("/big.bin"), site.origin.url("/after.html")))
        self.start_run()
        self.assertTrue(started.wait(30))
        probe("autoget-stop")
        self.assertEqual(message_box(30, "no"), STOP_QUESTION)
        self.assertTrue(wait_until(lambda: autoget_state()["start"] == "1", 60))
        self.assertIsNone(message_box(3))  # no completion message
        self.assertEqual(self.stored(site, "/big.bin"), self.BODY)
        self.assertEqual([image for _, image, _ in autoget_tree()], [9, WAITING])
        self.assertEqual(site.asked("/after.html"), [])

    def test_stop_answered_yes_cuts_the_download_and_keeps_the_old_recording(self):
        old = b"the old recording"
        body = [old]
        started = threading.Event()

        def answer(client):
            if body[0] is old:
                client.sendall(page(old, "application/octet-stream"))
            else:
                slow(body[0], 8, started=started)(client)
        site = self.site({"/big.bin": answer})
        url = site.origin.url("/big.bin")
        self.reserve(url)
        self.assertTrue(self.reserved(url))
        self.run_to_end()
        self.assertEqual(self.stored(site, "/big.bin"), old)

        body[0] = self.BODY
        # 取得待機に戻す, and a second run fetches it again.
        self.assertEqual(probe("autoget-menu", "0", "0", "u"), (0, "opened"))
        self.assertTrue(wait_until(lambda: autoget_tree() == [(0, WAITING, url)]), autoget_tree())
        self.start_run()
        self.assertTrue(started.wait(30))
        probe("autoget-stop")
        self.assertEqual(message_box(30, "yes"), STOP_QUESTION)
        self.assertTrue(wait_until(lambda: autoget_state()["start"] == "1", 30))
        self.assertIsNone(message_box(3))
        self.assertEqual(autoget_tree(), [(0, FAILED, url)])
        self.assertEqual(self.stored(site, "/big.bin"), old)
        self.assertEqual([name for name in os.listdir(self.folder(site)) if "#" in name], [])


class WindowTest(AutoGetCase):
    def test_closing_the_window_during_a_run_only_hides_it(self):
        started = threading.Event()
        site = self.site({"/slow.bin": slow(b"x" * 100000, 3, started=started)})
        self.reserve(site.origin.url("/slow.bin"))
        self.assertTrue(self.reserved(site.origin.url("/slow.bin")))
        self.assertTrue(wait_until(lambda: autoget_state()["visible"] == "1"))
        self.start_run()
        self.assertTrue(started.wait(30))
        self.assertEqual(autoget_tree()[0][1], FETCHING)
        probe("autoget-close")
        self.assertTrue(wait_until(lambda: autoget_state()["visible"] == "0"))
        self.assertEqual(message_box(60), DONE)
        self.assertEqual(autoget_tree()[0][1], 9)

    def test_the_crawlers_answer_waits_while_a_context_menu_is_open(self):
        started = threading.Event()
        site = self.site({"/done.html": page("<p>done</p>"),
                          "/slow.bin": slow(b"y" * 60000, 2, started=started)})
        self.reserve(site.origin.url("/done.html"))
        self.assertTrue(self.reserved(site.origin.url("/done.html")))
        self.run_to_end()
        self.reserve(site.origin.url("/slow.bin"))
        self.assertTrue(self.reserved(site.origin.url("/done.html"), site.origin.url("/slow.bin")))
        self.start_run()
        self.assertTrue(started.wait(30))
        # A menu on the finished page stays open for 6 seconds; the download
        # ends meanwhile, but its node does not change until the menu closes.
        menu = subprocess.Popen([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), "autoget-menu", "0", "6000", "esc"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        time.sleep(4.5)
        # Under load a probe can come back empty-handed; the menu is still
        # open for the next reading, and a closed one would show 9, not this.
        tree = autoget_tree()
        for _ in range(3):
            if len(tree) > 1:
                break
            tree = autoget_tree()
        self.assertEqual(tree[1][1], FETCHING)
        out, _ = menu.communicate(timeout=60)
        self.assertEqual(out.decode().split(), ["opened"])
        self.assertEqual(message_box(30), DONE)
        self.assertEqual(autoget_tree()[1][1], 9)

    def test_exit_during_a_run_stops_the_crawler_and_waits_for_it(self):
        started = threading.Event()
        site = self.site({"/slow.bin": slow(b"z" * 200000, 20, started=started)})
        self.reserve(site.origin.url("/slow.bin"))
        self.assertTrue(self.reserved(site.origin.url("/slow.bin")))
        self.start_run()
        self.assertTrue(started.wait(30))
        probe("close")
        self.assertEqual(self.program.wait(60), 0)
        self.assertEqual(read_published(), None)
        self.assertEqual([name for name in os.listdir(self.folder(site)) if "#" in name], [])


if __name__ == "__main__":
    unittest.main()
