"""tessel.dll from outside: registered by regsvr32, created and called the
way the browser's context-menu pages do it (tessel_client: sockets started,
COM by ProgID and late binding), against a stand-in for the proxy and
against the real vellum.exe."""
import os
import re
import shutil
import socket
import tempfile
import unittest

from browser_integration import (COMPONENT_CAPTION, LOOPBACK, SETTINGS_KEY, Listener, component_path, create_key,
                                 delete_key, finish, free_port, publish, read_box, regsvr32, registry_tree,
                                 reservation, run, start, text_value, tool_path, unpublish)
from vellum_e2e import (BIN, OriginServer, Program, answer_with, closed_by_peer, probe, probe_text, read_published,
                        request_tree, wait_until, windows_path, write_settings)

CLSID = "{B728B937-51B7-4EA4-93C2-879CDFF8635E}"
LIBID = "{B045DA41-988A-4056-B2E0-0166B39921D4}"
IID = "{C9B6ADF5-2465-4296-9255-87E0BDC91302}"
NULL = "<null>"


def client_call(url, referer, user_agent, cookie, *options):
    """Starts the browser stand-in on one ReserveAutoGet call."""
    return start(tool_path("tessel_client.exe"), "call", *options, url, referer, user_agent, cookie)


class RegistrationTest(unittest.TestCase):
    def setUp(self):
        regsvr32("/u")

    def tearDown(self):
        regsvr32()

    def test_registration_writes_every_key_and_value_of_the_script(self):
        # Whatever an earlier registration left under the class key goes.
        create_key("HKCR", "CLSID\\%s\\Stale" % CLSID)
        self.assertEqual(regsvr32(), 0)

        self.assertEqual(registry_tree("HKCR", "Ashgrove.TesselApi.1"), {
            "": {"": text_value("TesselApi Class")},
            "CLSID": {"": text_value(CLSID)},
        })
        self.assertEqual(registry_tree("HKCR", "Ashgrove.TesselApi"), {
            "": {"": text_value("TesselApi Class")},
            "CurVer": {"": text_value("Ashgrove.TesselApi.1")},
        })
        self.assertEqual(registry_tree("HKCR", "CLSID\\" + CLSID), {
            "": {"": text_value("TesselApi Class")},
            "ProgID": {"": text_value("Ashgrove.TesselApi.1")},
            "VersionIndependentProgID": {"": text_value("Ashgrove.TesselApi")},
            "Programmable": {},
            "InprocServer32": {"": text_value(component_path()), "ThreadingModel": text_value("Apartment")},
        })
        library = registry_tree("HKCR", "TypeLib\\" + LIBID)
        self.assertEqual(library["1.0"][""], text_value("tessel 1.0 Type Library"))
        self.assertEqual(library["1.0\\0\\win64"][""], text_value(component_path()))
        self.assertEqual(registry_tree("HKCR", "Interface\\" + IID)[""][""], text_value("ITesselApi"))

    def test_unregistration_removes_the_keys_and_always_succeeds(self):
        self.assertEqual(regsvr32(), 0)
        self.assertEqual(regsvr32("/u"), 0)
        for key in ("Ashgrove.TesselApi.1", "Ashgrove.TesselApi", "CLSID\\" + CLSID, "TypeLib\\" + LIBID):
            self.assertIsNone(registry_tree("HKCR", key), key)
        # The classes key itself is never the component's to remove.
        self.assertIsNotNone(registry_tree("HKCR", "CLSID\\{00020424-0000-0000-C000-000000000046}"))
        self.assertEqual(regsvr32("/u"), 0, "unregistering twice still succeeds")

    def test_unregistration_keeps_a_key_that_holds_someone_elses_subkey(self):
        self.assertEqual(regsvr32(), 0)
        create_key("HKCR", "Ashgrove.TesselApi\\Foreign")
        self.addCleanup(delete_key, "HKCR", "Ashgrove.TesselApi")
        self.assertEqual(regsvr32("/u"), 0)
        # The script's subkey goes; the key stays for the other one.
        self.assertEqual(registry_tree("HKCR", "Ashgrove.TesselApi"),
                         {"": {"": text_value("TesselApi Class")}, "Foreign": {}})
        self.assertIsNone(registry_tree("HKCR", "Ashgrove.TesselApi.1"))


class ReservationTest(unittest.TestCase):
    """The component's request and its failures, through the browser stand-in."""

    @classmethod
    def setUpClass(cls):
        assert regsvr32() == 0, "tessel.dll could not be registered"

    def setUp(self):
        self.listener = Listener()
        publish(self.listener.port)

    def tearDown(self):
        self.listener.close()
        unpublish()

    def call(self, url, referer, user_agent, cookie, *options):
        code, out = finish(client_call(url, referer, user_agent, cookie, *options))
        self.assertEqual((code, out.split()), (0, ["dispid=1", "result=00000000"]))

    def test_request_with_a_referer(self):
        self.call("http://example.com/a/page.html?x=1", "http://example.com/a/", "Mozilla/4.0 (compatible)", "s=1")
        self.assertEqual(self.listener.wait_for(1), [
            reservation("http://example.com/a/page.html?x=1", "Mozilla/4.0 (compatible)", "http://example.com/a/")])

    def test_request_without_a_referer_has_no_referer_line(self):
        self.call("http://example.com/", "", "UA/1", "")
        self.call("http://example.com/", NULL, "UA/1", NULL)
        self.assertEqual(self.listener.wait_for(2), [reservation("http://example.com/", "UA/1")] * 2)

    def test_japanese_texts_are_sent_as_shift_jis(self):
        self.call("http://example.com/日本語/ページ.html", "http://example.com/目次.html", "ブラウザ/1.0", "")
        received = self.listener.wait_for(1)
        self.assertEqual(received, [reservation("http://example.com/日本語/ページ.html", "ブラウザ/1.0",
                                                "http://example.com/目次.html")])
        self.assertIn(b"\x83y\x81[\x83W", received[0], "ページ in code page 932")

    def test_the_cookie_never_changes_what_is_sent(self):
        for cookie in ("", NULL, "session=abc; user=x", "クッキー=値"):
            self.call("http://example.com/c", "http://example.com/", "UA/2", cookie)
        self.assertEqual(self.listener.wait_for(4),
                         [reservation("http://example.com/c", "UA/2", "http://example.com/")] * 4)

    def failure(self, expected, *call, options=()):
        """One call that fails: its box, its S_OK, and nothing at the proxy."""
        client = client_call(*call, *options)
        self.assertEqual(read_box(COMPONENT_CAPTION), expected)
        code, out = finish(client)
        self.assertEqual((code, out.split()), (0, ["dispid=1", "result=00000000"]))
        self.assertEqual(self.listener.wait_for(1, seconds=1), [])

    def test_program_not_running(self):
        unpublish()
        self.failure("Vellum が起動されていません", "http://example.com/", "", "UA/1", "")

    def test_program_not_running_is_told_before_a_missing_url(self):
        unpublish()
        self.failure("Vellum が起動されていません", NULL, "", "UA/1", "")

    def test_program_never_installed(self):
        delete_key("HKCU", SETTINGS_KEY)
        self.failure("Vellum がインストールされていません", "http://example.com/", "", "UA/1", "")

    def test_nobody_listening_on_the_published_port(self):
        publish(free_port())
        self.failure("Vellum に接続できません", "http://example.com/", "", "UA/1", "")

    def test_missing_url_and_user_agent(self):
        self.failure("URL が未指定です", NULL, "http://example.com/", "UA/1", "")
        self.failure("UserAgent が未指定です", "http://example.com/", "http://example.com/", NULL, "")

    def test_socket_library_not_started_by_the_host(self):
        self.failure("ソケットが作成できません", "http://example.com/", "", "UA/1", "", options=("--no-sockets",))


class ContextMenuPageTest(unittest.TestCase):
    """The two pages the installer points the browser at, run as the browser
    runs them: external.menuArguments is the window the menu was opened on."""

    @classmethod
    def setUpClass(cls):
        assert regsvr32() == 0, "tessel.dll could not be registered"

    def setUp(self):
        self.listener = Listener()
        publish(self.listener.port)
        self.work = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.listener.close()
        unpublish()
        self.work.cleanup()

    def run_page(self, name, frame, parent):
        """Runs the script of a shipped page with the menu opened on `frame`,
        a window whose parent is `parent`; returns what reached the proxy."""
        with open(os.path.join(BIN, name), encoding="ascii") as page:
            script = re.search(r"<script[^>]*>(.*?)</script>", page.read(), re.S).group(1)
        harness = os.path.join(self.work.name, "menu.js")
        with open(harness, "w", encoding="utf-8") as out:
            out.write("var frame = %s;\nframe.parent = %s;\nvar external = {menuArguments: frame};\n%s"
                      % (window(*frame), window(*parent), script))
        code, out = run(tool_path("tessel_client.exe"), "script", windows_path(harness))
        self.assertEqual((code, out.strip()), (0, "done"))
        return self.listener.wait_for(1)

    # (URL, referrer) of a frame and of the page that holds it.
    FRAME = ("http://example.com/frame.html", "http://example.com/")
    TOP = ("http://example.com/目次.html", "http://search.example/")

    def test_page_entry_reserves_the_page_the_menu_was_opened_on(self):
        self.assertEqual(self.run_page("ReserveAutoGet.htm", self.FRAME, self.TOP),
                         [reservation(self.FRAME[0], PAGE_USER_AGENT, self.FRAME[1])])

    def test_parent_entry_reserves_the_parent_frame(self):
        self.assertEqual(self.run_page("ReserveAutoGetParent.htm", self.FRAME, self.TOP),
                         [reservation(self.TOP[0], PAGE_USER_AGENT, self.TOP[1])])

    def test_a_page_opened_directly_has_no_referer_line(self):
        top = ("http://example.com/", "")
        self.assertEqual(self.run_page("ReserveAutoGet.htm", top, top),
                         [reservation("http://example.com/", PAGE_USER_AGENT)])


PAGE_USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0)"


def window(url, referrer):
    """A browser window as the pages see it, in JScript."""
    return ('{document: {URL: "%s", referrer: "%s", cookie: "session=1"}, navigator: {userAgent: "%s"}}'
            % (url, referrer, PAGE_USER_AGENT))


PORT = 28401


class ProgramTest(unittest.TestCase):
    """The reservation connection against the real vellum.exe."""

    @classmethod
    def setUpClass(cls):
        assert regsvr32() == 0, "tessel.dll could not be registered"

    def setUp(self):
        unpublish()
        # Whatever a run records goes to a folder of the test's own.
        self.save = tempfile.mkdtemp(prefix="vellum-e2e-tessel-", dir="/tmp")
        write_settings(localPath=windows_path(self.save))
        self.program = Program("127.0.0.1:%d" % PORT)
        self.assertEqual(wait_until(read_published), (LOOPBACK, PORT), "the program did not start listening")

    def tearDown(self):
        if not self.program.exited():
            probe("close")
            try:
                self.program.wait(30)
            except Exception:
                self.program.kill()
        unpublish()
        shutil.rmtree(self.save, ignore_errors=True)

    def connection_count(self):
        return probe_text("status", "1")

    def test_program_takes_the_reservation_without_answering(self):
        code, out = finish(client_call("http://example.com/page.html", "http://example.com/", "UA/1", "c=1"))
        self.assertEqual((code, out.split()), (0, ["dispid=1", "result=00000000"]))
        self.assertIsNone(read_box(COMPONENT_CAPTION, seconds=1))
        self.assertTrue(wait_until(lambda: self.connection_count() == "通信ｽﾚｯﾄﾞ 0"), self.connection_count())
        self.assertFalse(self.program.exited())

        # The same bytes from a socket that waits: no answer, only the close.
        browser = socket.create_connection(("127.0.0.1", PORT), timeout=10)
        browser.sendall(reservation("http://example.com/page.html", "UA/1", "http://example.com/"))
        self.assertTrue(closed_by_peer(browser))
        browser.close()
        self.assertFalse(self.program.exited())

    def test_reserved_url_becomes_a_base_node_with_its_referer_and_user_agent(self):
        origin = OriginServer(answer_with(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello"))
        try:
            url = origin.url("/reserved.txt")
            code, _ = finish(client_call(url, origin.url("/index.html"), "ReservingBrowser/1.0", ""))
            self.assertEqual(code, 0)
            # The auto-get window opens with the URL as a base node.
            self.assertTrue(wait_until(lambda: url in [label for depth, _, label in autoget_tree() if depth == 0]),
                            autoget_tree())
            # Its job fetches with the reservation's Referer and User-Agent.
            probe("autoget-start")
            self.assertTrue(wait_until(lambda: origin.requests, 60))
            request = origin.requests[0]
            self.assertIn(b"Referer: " + origin.url("/index.html").encode() + b"\r\n", request)
            self.assertIn(b"User-Agent: ReservingBrowser/1.0\r\n", request)
            self.assertEqual(read_box("Vellum 1.31b", seconds=60), "自動取得を終了しました。")
        finally:
            origin.close()


def autoget_tree():
    """The auto-get window's page tree (tree view 115) as (depth, state image, label)."""
    return request_tree("VELLUM_REC", "115")


if __name__ == "__main__":
    unittest.main()
