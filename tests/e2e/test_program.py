"""The real vellum.exe started, used and stopped from outside."""
import unittest

import os
import shutil
import tempfile

from vellum_e2e import (OriginServer, Program, answer_with, closed_by_peer, connect, exchange, probe, probe_text,
                        read_published, wait_until, windows_path, write_settings)

LOOPBACK = 0x7F000001


class ProgramTest(unittest.TestCase):
    def setUp(self):
        probe("delete-address")
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            if not program.exited():
                probe("close")
                try:
                    program.wait(30)
                except Exception:
                    program.kill()
        probe("delete-address")

    def start(self, *words):
        program = Program(*words)
        self.programs.append(program)
        return program

    def start_listening(self, port, *words):
        program = self.start(*words, "127.0.0.1:%d" % port)
        self.assertEqual(wait_until(read_published), (LOOPBACK, port), "the program did not start listening")
        return program

    def connection_count(self):
        return probe_text("status", "1")

    def test_starts_listening_and_stops_cleanly(self):
        program = self.start_listening(28201)
        browser = connect(28201)
        self.assertIsNotNone(browser)
        browser.close()
        self.assertEqual(probe("close")[0], 0)
        self.assertEqual(program.wait(), 0)
        self.assertIsNone(read_published(), "ServerAddress/ServerPort must go with the program")
        self.assertIsNone(connect(28201))

    def test_probe_switches_a_running_program_between_the_three_modes(self):
        """vellum_probe mode, as the README gives it: each of the six
        switches goes through the window's own commands, and the proxy
        answers as the mode says (offline from the save folder, online
        forwarded, recording forwarded and kept)."""
        save = tempfile.mkdtemp(prefix="vellum-e2e-mode-", dir="/tmp")
        self.addCleanup(shutil.rmtree, save, True)
        origin = OriginServer(answer_with(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfrom the origin"))
        self.addCleanup(origin.close)
        write_settings(localPath=windows_path(save), internet=0, localize=0)
        self.start_listening(28206)
        self.assertEqual(probe("mode"), (0, "offline"))
        page = os.path.join(save, origin.host_folder(), "x.txt")

        def ask():
            return exchange(28206, ("GET %s HTTP/1.0\r\n\r\n" % origin.url("/x.txt")).encode())

        self.assertTrue(ask().startswith(b"HTTP/1.0 404"), "offline with nothing recorded")
        for mode in ("online", "recording", "offline", "recording", "online", "offline"):
            self.assertEqual(probe("mode", mode), (0, mode))
            forwarded = len(origin.requests)
            self.assertTrue(ask().endswith(b"from the origin"), mode)
            self.assertEqual(len(origin.requests) - forwarded, 0 if mode == "offline" else 1, mode)
            if mode == "online" and forwarded == 0:
                self.assertFalse(os.path.exists(page), "online records nothing")
            if mode == "recording":
                self.assertTrue(wait_until(lambda: os.path.exists(page), 10), "recording keeps the page")
        self.assertEqual(probe("mode", "sideways")[0], 2)

    def test_second_copy_fails_to_bind_and_ends(self):
        first = self.start_listening(28202)
        second = self.start("127.0.0.1:28202")
        self.assertEqual(probe_text("message-box", "60"), "ｂｉｎｄ失敗！")
        self.assertEqual(second.wait(), 0)
        # The failed copy's close sequence withdraws the published address,
        # although the first copy still listens.
        self.assertIsNone(read_published())
        self.assertFalse(first.exited())
        browser = connect(28202)
        self.assertIsNotNone(browser)
        browser.close()

    def test_three_connections_show_in_the_counter(self):
        self.start_listening(28203)
        self.assertEqual(wait_until(lambda: self.connection_count() == "通信ｽﾚｯﾄﾞ 0"), True)
        browsers = [connect(28203) for _ in range(3)]
        self.assertTrue(wait_until(lambda: self.connection_count() == "通信ｽﾚｯﾄﾞ 3"), self.connection_count())
        for browser in browsers:
            browser.close()
        self.assertTrue(wait_until(lambda: self.connection_count() == "通信ｽﾚｯﾄﾞ 0"), self.connection_count())

    def test_close_with_a_live_connection_waits_for_it_then_exits(self):
        program = self.start_listening(28204)
        browser = connect(28204)
        self.assertTrue(wait_until(lambda: self.connection_count() == "通信ｽﾚｯﾄﾞ 1"))
        probe("close")
        # Nothing more from the user or the browser: the close sequence
        # aborts the connection and ends the program by itself.
        self.assertEqual(program.wait(), 0)
        self.assertTrue(closed_by_peer(browser))
        browser.close()
        self.assertIsNone(read_published())

    def test_session_end_leaves_the_published_address_behind(self):
        program = self.start_listening(28205)
        browser = connect(28205)
        self.assertTrue(wait_until(lambda: self.connection_count() == "通信ｽﾚｯﾄﾞ 1"))
        probe("end-session")
        # The process ends at once, live connection or not, and without the
        # close sequence the browser component's values stay.
        self.assertEqual(program.wait(), 0)
        self.assertEqual(read_published(), (LOOPBACK, 28205))
        browser.close()


if __name__ == "__main__":
    unittest.main()
