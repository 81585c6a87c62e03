"""vellumhost.exe from outside, as the browser runs it: started with the
extension's origin as its argument, framed JSON messages written to its
standard input, its framed answers read from its standard output. Against a
stand-in for the proxy (the bytes must be tessel.dll's), with the program
stopped, never installed or its port closed, and against the real
vellum.exe."""
import json
import shutil
import struct
import subprocess
import tempfile
import unittest

from browser_integration import (SETTINGS_KEY, LOOPBACK, Listener, delete_key, free_port, publish, read_box,
                                 reservation, tool_path, unpublish)
from vellum_e2e import (WINE_RUN, OriginServer, Program, answer_with, probe, read_published, request_tree,
                        wait_until, windows_path, write_settings)

ORIGIN = "chrome-extension://eelnffiffmknaahhhgdckbdfmkbcdddo/"
RESERVED = {"ok": True, "message": "自動取得に予約しました"}


def frame(message):
    """One message as the browser frames it: a dict as JSON, bytes as they are."""
    body = message if isinstance(message, bytes) else json.dumps(message).encode()
    return struct.pack("<I", len(body)) + body


def run_host(*messages, raw=b""):
    """Runs the host over these messages (then `raw`) and the end of its input;
    returns (exit code, the answers as dicts)."""
    host = subprocess.Popen([WINE_RUN, tool_path("vellumhost.exe"), ORIGIN], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out, _ = host.communicate(b"".join(frame(m) for m in messages) + raw, timeout=120)
    answers = []
    while out:
        length = struct.unpack("<I", out[:4])[0]
        answers.append(json.loads(out[4:4 + length].decode("utf-8")))
        out = out[4 + length:]
    return host.returncode, answers


def failed(text):
    return {"ok": False, "message": text}


def message(url="http://example.com/", referer="", user_agent="UA/1"):
    return {"url": url, "referer": referer, "userAgent": user_agent}


class ReservationTest(unittest.TestCase):
    """What reaches the proxy: byte for byte what tessel.dll sends."""

    def setUp(self):
        self.listener = Listener()
        publish(self.listener.port)

    def tearDown(self):
        self.listener.close()
        unpublish()

    def test_each_message_sends_tessels_bytes_and_is_answered(self):
        code, answers = run_host(
            message("http://example.com/a/page.html?x=1", "http://example.com/a/", "Mozilla/5.0 (X11)"),
            message("http://example.com/", "", "UA/1"),
            {"url": "https://example.com/s", "userAgent": "UA/2", "cookie": "ignored", "extra": [1, {"x": None}]})
        self.assertEqual((code, answers), (0, [RESERVED] * 3))
        self.assertEqual(self.listener.wait_for(3), [
            reservation("http://example.com/a/page.html?x=1", "Mozilla/5.0 (X11)", "http://example.com/a/"),
            reservation("http://example.com/", "UA/1"),
            reservation("https://example.com/s", "UA/2")])

    def test_japanese_texts_arrive_as_shift_jis(self):
        self.assertEqual(run_host(message("http://example.com/日本語/ページ.html", "http://example.com/目次.html",
                                          "ブラウザ/1.0")), (0, [RESERVED]))
        received = self.listener.wait_for(1)
        self.assertEqual(received, [reservation("http://example.com/日本語/ページ.html", "ブラウザ/1.0",
                                                "http://example.com/目次.html")])

    def test_missing_url_and_user_agent_in_the_components_words(self):
        code, answers = run_host({"referer": "", "userAgent": "UA/1"}, {"url": "http://example.com/"},
                                 {"url": None, "userAgent": None})
        self.assertEqual((code, answers), (0, [failed("URL が未指定です"), failed("UserAgent が未指定です"),
                                               failed("URL が未指定です")]))
        self.assertEqual(self.listener.wait_for(1, seconds=1), [])

    def test_faulty_messages_get_a_clear_answer_and_send_nothing(self):
        code, answers = run_host(
            b"{\"url\": ", b"[\"http://example.com/\"]", {"url": "http://example.com/", "userAgent": 42},
            {"url": "ftp://example.com/", "userAgent": "UA"}, {"url": "javascript:alert(1)", "userAgent": "UA"},
            b"{\"url\":\"http://example.com/\\u0000\",\"userAgent\":\"UA\"}", b"{\"url\":\"http://h/\x83y\"}",
            b" " * (1024 * 1024 + 1), message())
        self.assertEqual(code, 0)
        self.assertEqual(answers, [
            failed("メッセージが JSON として読めません"),
            failed("メッセージが JSON のオブジェクトではありません"),
            failed("メッセージの userAgent が文字列ではありません"),
            failed("URL が http:// または https:// で始まっていません"),
            failed("URL が http:// または https:// で始まっていません"),
            failed("メッセージの url に NUL 文字があります"),
            failed("メッセージが JSON として読めません"),
            failed("メッセージが 1 MB を超えています"),
            RESERVED])
        # Only the last, good message reached the proxy.
        self.assertEqual(self.listener.wait_for(2, seconds=2), [reservation("http://example.com/", "UA/1")])

    def test_a_message_cut_short_is_answered_and_ends_the_host(self):
        self.assertEqual(run_host(message(), raw=struct.pack("<I", 100) + b"{\"url\""),
                         (1, [RESERVED, failed("メッセージが途中で切れています")]))
        self.assertEqual(run_host(raw=b"\x05\x00"), (1, [failed("メッセージが途中で切れています")]))
        self.assertEqual(run_host(), (0, []))


class FailureTest(unittest.TestCase):
    """The proxy out of reach: each of the component's failures, as an answer."""

    def setUp(self):
        # The program's key is there, its address is not: installed, not running.
        publish(free_port())
        unpublish()

    def tearDown(self):
        unpublish()

    def test_program_not_running(self):
        self.assertEqual(run_host(message()), (0, [failed("Vellum が起動されていません")]))
        # Looked for before the message's own fields, as tessel.dll does.
        self.assertEqual(run_host({"userAgent": "UA"}), (0, [failed("Vellum が起動されていません")]))

    def test_program_never_installed(self):
        delete_key("HKCU", SETTINGS_KEY)
        self.assertEqual(run_host(message()), (0, [failed("Vellum がインストールされていません")]))

    def test_nobody_listening_on_the_published_port(self):
        publish(free_port())
        self.assertEqual(run_host(message()), (0, [failed("Vellum に接続できません")]))


PORT = 28402


class ProgramTest(unittest.TestCase):
    """The host's reservation against the real vellum.exe."""

    def setUp(self):
        unpublish()
        self.save = tempfile.mkdtemp(prefix="vellum-e2e-host-", dir="/tmp")
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

    def test_reserved_url_becomes_a_base_node_whose_job_sends_the_referer_and_user_agent(self):
        origin = OriginServer(answer_with(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nhello"))
        try:
            url = origin.url("/reserved.txt")
            self.assertEqual(run_host(message(url, origin.url("/index.html"), "HostBrowser/1.0")), (0, [RESERVED]))
            self.assertTrue(wait_until(lambda: url in [label for depth, _, label in autoget_tree() if depth == 0]),
                            autoget_tree())
            probe("autoget-start")
            self.assertTrue(wait_until(lambda: origin.requests, 60))
            request = origin.requests[0]
            self.assertIn(b"Referer: " + origin.url("/index.html").encode() + b"\r\n", request)
            self.assertIn(b"User-Agent: HostBrowser/1.0\r\n", request)
            self.assertEqual(read_box("Vellum 1.31b", seconds=60), "自動取得を終了しました。")
        finally:
            origin.close()

    def test_the_program_stopped_while_the_host_runs(self):
        probe("close")
        self.program.wait(30)
        self.assertEqual(run_host(message()), (0, [failed("Vellum が起動されていません")]))


def autoget_tree():
    """The auto-get window's page tree (tree view 115) as (depth, state image, label)."""
    return request_tree("VELLUM_REC", "115")


if __name__ == "__main__":
    unittest.main()
