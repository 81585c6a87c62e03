"""The browser extension (browser/) in a real browser: headless Chromium
loads it unpacked (its manifest's key fixes its id), finds vellumhost.exe
through a host manifest in the profile's own NativeMessagingHosts folder
(a small wrapper runs the host under the build's Wine), and opens pages that
a web server on this machine serves through the real vellum.exe. The test
drives Chromium over the DevTools protocol on a pipe: it calls the menu's
click handler in the extension's service worker with what a click brings,
and the reservation lands in vellum.exe's auto-get tree, whose job then
sends the page's referrer and the browser's user agent.

As in test_browser.py, a proxy script sends the test site, and nothing else,
to Vellum, and every other host Chromium asks for to a closed loopback port;
the site is on this machine's own address off the loopback interface, which
Chromium asks the script about."""
import json
import os
import select
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from browser_integration import LOOPBACK, read_box, tool_path
from test_browser import CHROMIUM, SITE_HOST, closed_port, proxy_script
from vellum_e2e import WINE_RUN, Program, probe, read_published, request_tree, wait_until, windows_path, write_settings

EXTENSION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "browser")
EXTENSION_ID = "eelnffiffmknaahhhgdckbdfmkbcdddo"
HOST_NAME = "marlow.vellumhost"
VELLUM_PORT = 28403

PAGES = {
    "/index.html": b"<html><body><a href='page.html'>page</a></body></html>",
    "/page.html": b"<html><body><h1>Page</h1><iframe src='frame.html'></iframe></body></html>",
    "/frame.html": b"<html><body><p>Frame</p><iframe src='inner.html'></iframe></body></html>",
    "/inner.html": b"<html><body><p>Inner frame</p></body></html>",
}


class Site:
    """The test site on this machine's own address; keeps every request's header lines."""

    def __init__(self):
        requests = self.requests = []

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def do_GET(self):
                path = self.path.split("://", 1)[-1]
                path = path[path.find("/"):] if "://" in self.path else self.path
                requests.append((path, dict(self.headers.items())))
                body = PAGES.get(path)
                self.send_response(200 if body else 404)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(body or b"")

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer((SITE_HOST, 0), Handler)
        self.address = "%s:%d" % (SITE_HOST, self.server.server_address[1])
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def url(self, path):
        return "http://%s%s" % (self.address, path)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class DevTools:
    """Chromium's DevTools protocol over --remote-debugging-pipe: JSON
    messages ended by a zero byte, Chromium reading fd 3 and writing fd 4."""

    def __init__(self, arguments, log):
        to_browser, self.to_browser = os.pipe()
        self.from_browser, from_browser = os.pipe()

        def give_pipes():
            read_end, write_end = os.dup(to_browser), os.dup(from_browser)
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        self.process = subprocess.Popen([CHROMIUM, "--remote-debugging-pipe", *arguments], preexec_fn=give_pipes,
                                        close_fds=False, stdout=subprocess.DEVNULL, stderr=log)
        os.close(to_browser)
        os.close(from_browser)
        self.buffer = b""
        self.last_id = 0
        self.events = []

    def send(self, method, params=None, session=None):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        return self.last_id

    def receive(self, seconds):
        deadline = time.monotonic() + seconds
        while b"\0" not in self.buffer:
            ready, _, _ = select.select([self.from_browser], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                return None
            chunk = os.read(self.from_browser, 65536)
            if not chunk:
                return None
            self.buffer += chunk
        message, _, self.buffer = self.buffer.partition(b"\0")
        return json.loads(message)

    def call(self, method, params=None, session=None, seconds=60):
        wanted = self.send(method, params, session)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            message = self.receive(deadline - time.monotonic())
            if message is None:
                break
            if message.get("id") == wanted:
                if "error" in message:
                    raise AssertionError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            self.events.append(message)
        raise AssertionError("no answer to " + method)

    def evaluate(self, expression, session, seconds=120):
        """The value of a script in a target; a promise is waited for."""
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, session, seconds)
        if "exceptionDetails" in result:
            raise AssertionError("script failed: %s" % json.dumps(result["exceptionDetails"])[:2000])
        return result["result"].get("value")

    def attach(self, condition, seconds=60):
        """A session of the first target that meets the condition."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for target in self.call("Target.getTargets")["targetInfos"]:
                if condition(target):
                    return self.call("Target.attachToTarget", {"targetId": target["targetId"],
                                                               "flatten": True})["sessionId"]
            time.sleep(0.2)
        raise AssertionError("no such target")

    def close(self):
        try:
            self.send("Browser.close")
            self.process.wait(20)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)


@unittest.skipUnless(CHROMIUM, "chromium is needed (scripts/setup-debian.sh installs it)")
@unittest.skipUnless(SITE_HOST, "the test site needs an address off the loopback interface")
class ExtensionTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vellum-e2e-extension-", dir="/tmp")
        self.save = os.path.join(self.work, "save")
        os.makedirs(self.save)
        self.site = Site()
        self.addCleanup(self.site.close)

        probe("delete-address")
        # Online: the browser's pages come from the site through Vellum.
        write_settings(localPath=windows_path(self.save), internet=1)
        self.program = Program("127.0.0.1:%d" % VELLUM_PORT)
        self.addCleanup(self.stop_vellum)
        self.assertEqual(wait_until(read_published), (LOOPBACK, VELLUM_PORT), "the program did not start listening")

        profile = os.path.join(self.work, "profile")
        hosts = os.path.join(profile, "NativeMessagingHosts")
        os.makedirs(hosts)
        wrapper = os.path.join(self.work, "vellumhost.sh")
        with open(wrapper, "w") as f:
            f.write("#!/bin/sh\nexec '%s' '%s' \"$@\"\n" % (WINE_RUN, tool_path("vellumhost.exe")))
        os.chmod(wrapper, 0o755)
        with open(os.path.join(hosts, HOST_NAME + ".json"), "w") as f:
            json.dump({"name": HOST_NAME, "description": "Vellum", "path": wrapper, "type": "stdio",
                       "allowed_origins": ["chrome-extension://%s/" % EXTENSION_ID]}, f)

        self.log = open(os.path.join(self.work, "chromium.log"), "w")
        self.addCleanup(self.log.close)
        extension = os.path.abspath(EXTENSION)
        self.browser = DevTools([
            "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + profile,
            "--proxy-pac-url=" + proxy_script(self.site.address, VELLUM_PORT, closed_port()),
            "--load-extension=" + extension, "--disable-extensions-except=" + extension, "about:blank"], self.log)
        self.addCleanup(self.browser.close)
        self.worker = self.browser.attach(
            lambda t: t["type"] == "service_worker" and t["url"].startswith("chrome-extension://%s/" % EXTENSION_ID))
        self.page = self.browser.attach(lambda t: t["type"] == "page")

    def stop_vellum(self):
        if not self.program.exited():
            probe("close")
            try:
                self.program.wait(60)
            except Exception:
                self.program.kill()
        probe("delete-address")
        shutil.rmtree(self.work, ignore_errors=True)

    def open_page(self, path, referrer):
        """Opens a page of the site in the tab with the referrer a link would give."""
        self.browser.call("Page.navigate", {"url": self.site.url(path), "referrer": self.site.url(referrer)},
                          self.page)
        self.assertTrue(wait_until(lambda: self.browser.evaluate(
            "document.readyState == 'complete' && window.frames.length == 1 && "
            "window.frames[0].document.readyState == 'complete' && window.frames[0].frames.length == 1 && "
            "window.frames[0].frames[0].document.readyState == 'complete'", self.page), 60), "the page did not load")

    def click(self, entry, frame_path):
        """Calls the entry's click handler as a click in that frame of the tab would; the host's answer."""
        return self.browser.evaluate("""(async () => {
            const [tab] = await chrome.tabs.query({url: %s});
            const frames = await chrome.webNavigation.getAllFrames({tabId: tab.id});
            const frame = frames.find(f => f.url.endsWith(%s));
            return await onMenuClicked({menuItemId: %s, frameId: frame.frameId, pageUrl: tab.url,
                                        frameUrl: frame.url}, tab);
        })()""" % (json.dumps(self.site.url("/page.html")), json.dumps(frame_path), json.dumps(entry)), self.worker)

    def base_nodes(self):
        return [label for depth, _, label in request_tree("VELLUM_REC", "115") if depth == 0]

    def test_both_entries_reserve_through_the_host_into_the_auto_get_tree(self):
        self.open_page("/page.html", "/index.html")
        user_agent = self.browser.evaluate("navigator.userAgent", self.worker)
        self.assertTrue(self.site.requests, "the page came through Vellum from the site")

        # Both entries were made when the extension was installed.
        self.browser.evaluate("Promise.all([chrome.contextMenus.update('vellum-reserve-page', {}),"
                              " chrome.contextMenus.update('vellum-reserve-parent', {})])", self.worker)

        reserved = {"ok": True, "message": "自動取得に予約しました"}
        # The page the menu was opened on, in the top frame.
        self.assertEqual(self.click("vellum-reserve-page", "/page.html"), reserved)
        # In the innermost frame: the first entry reserves that frame's page,
        # the second the page that holds it, the middle frame.
        self.assertEqual(self.click("vellum-reserve-page", "/inner.html"), reserved)
        self.assertEqual(self.click("vellum-reserve-parent", "/inner.html"), reserved)
        page, frame, inner = (self.site.url(p) for p in ("/page.html", "/frame.html", "/inner.html"))
        self.assertTrue(wait_until(lambda: {page, frame, inner} <= set(self.base_nodes())), self.base_nodes())

        # Each job sends its page's referrer and the browser's user agent.
        seen = len(self.site.requests)
        probe("autoget-start")
        self.assertEqual(read_box("Vellum 1.31b", seconds=120), "自動取得を終了しました。")
        crawled = {}
        for path, headers in self.site.requests[seen:]:
            crawled.setdefault(path, headers)
        self.assertEqual(crawled["/page.html"].get("Referer"), self.site.url("/index.html"))
        self.assertEqual(crawled["/page.html"].get("User-Agent"), user_agent)
        self.assertEqual(crawled["/frame.html"].get("Referer"), page)
        self.assertEqual(crawled["/frame.html"].get("User-Agent"), user_agent)
        self.assertEqual(crawled["/inner.html"].get("Referer"), frame)

    def test_failures_are_the_answer_the_extension_shows(self):
        self.open_page("/page.html", "/index.html")
        probe("close")
        self.program.wait(60)
        self.assertEqual(self.click("vellum-reserve-page", "/page.html"),
                         {"ok": False, "message": "Vellum が起動されていません"})
        # Without the host's manifest the browser can't start it; the
        # extension says so itself.
        os.remove(os.path.join(self.work, "profile", "NativeMessagingHosts", HOST_NAME + ".json"))
        answer = self.click("vellum-reserve-page", "/page.html")
        self.assertFalse(answer["ok"])
        self.assertTrue(answer["message"].startswith("Vellum に予約できません（"), answer["message"])


if __name__ == "__main__":
    unittest.main()
