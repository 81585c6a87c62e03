"""The real vellum.exe's dialogs and help commands, opened from its menu as a
user does: the manual opens in its help window (and a program without its
help file beside it shows nothing), the home page goes to whatever program
the system opens web addresses with, dial-up support meets Wine's own Remote
Access Service (no phone book, no line), and every dialog of the main window
and the folder chooser with its right-click menu is photographed for a person
to look at, in e2e-artifacts/dialog_*.png.

The photographs of the dialogs and the chooser only show what the Windows
tests check through the controls, and take half a minute more: they run with
VELLUM_LONG=1 in the environment. The help window is photographed always."""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
import unittest

from vellum_e2e import (BIN, WINE_RUN, OriginServer, Program, answer_with, exchange, probe, read_published,
                        wait_until, windows_path, write_settings)

LOOPBACK = 0x7F000001
PORT = 28561
LONG = os.environ.get("VELLUM_LONG") == "1"
ARTIFACTS = pathlib.Path(os.environ["VELLUM_E2E_ARTIFACTS"])
DISPLAY = (pathlib.Path(os.environ["VELLUM_WINE_DIR"]) / "display").read_text().strip()

# Command ids of the main window's menu.
SAVE_FOLDER, DIALUP, PROXY, MANUAL, WINSOCK, VERSION, HOME_PAGE = 40043, 40170, 40149, 40146, 40165, 40159, 40164

# The program the system opens web addresses with.
URL_OPENER = r"HKLM\Software\Classes\http\shell\open\command"


def probe_lines(*args, timeout=120):
    """Runs vellum_probe; returns (exit code, its output words)."""
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), *args],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    return done.returncode, done.stdout.decode("ascii", "replace").split()


def wine_reg(*args):
    done = subprocess.run([WINE_RUN, "reg", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    return done.returncode, done.stdout.decode("cp932", "replace")


def url_opener():
    """The command line the system opens web addresses with."""
    code, text = wine_reg("query", URL_OPENER, "/ve")
    for line in text.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


def rect_of(words, first=0):
    left, top, right, bottom = (int(w) for w in words[first:first + 4])
    return left, top, right, bottom


def screenshot(name, *rects):
    """The part of the display that holds the rectangles, with a margin."""
    left = min(r[0] for r in rects) - 8
    top = min(r[1] for r in rects) - 8
    right = max(r[2] for r in rects) + 8
    bottom = max(r[3] for r in rects) + 8
    left, top = max(left, 0), max(top, 0)
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    path = ARTIFACTS / name
    subprocess.run(["import", "-display", DISPLAY, "-window", "root",
                    "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", str(path)],
                   check=True, timeout=60)
    return path


class CopiedProgram(Program):
    """vellum.exe started from another folder."""

    def __init__(self, path, port):
        self.process = subprocess.Popen([WINE_RUN, path, "127.0.0.1:%d" % port],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class DialogsTest(unittest.TestCase):
    def setUp(self):
        probe("delete-address")
        self.save = tempfile.mkdtemp(prefix="vellum-dialogs-")
        self.addCleanup(shutil.rmtree, self.save, ignore_errors=True)
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            if not program.exited():
                probe("close-window", "HH Parent")
                probe("close")
                try:
                    program.wait(30)
                except Exception:
                    program.kill()
        probe("delete-address")

    def start(self, port=PORT, program_path=None, **settings):
        write_settings(localPath=windows_path(self.save), **settings)
        program = Program("127.0.0.1:%d" % port) if not program_path else CopiedProgram(program_path, port)
        self.programs.append(program)
        self.assertEqual(wait_until(read_published), (LOOPBACK, port), "the program did not start listening")
        return program

    def open_dialog(self, command, title):
        self.assertEqual(probe("command", str(command))[0], 0)
        code, words = probe_lines("dialog", "30", title)
        self.assertEqual(code, 0, "no dialog " + title)
        return rect_of(words)

    # --- help ---------------------------------------------------------------------

    def test_the_manual_command_opens_the_help_window(self):
        self.start()
        self.assertEqual(probe("command", str(MANUAL))[0], 0)
        code, words = probe_lines("window-of", "HH Parent", "60")
        self.assertEqual(code, 0, "no help window")
        self.assertEqual(bytes.fromhex(words[4]).decode("cp932"), "Vellum 1.31b マニュアル")
        time.sleep(2)  # let it paint its pages
        screenshot("dialog_manual.png", rect_of(words))
        self.assertEqual(probe("close-window", "HH Parent")[0], 0)

    def test_without_the_help_file_the_manual_command_does_nothing(self):
        alone = tempfile.mkdtemp(prefix="vellum-alone-")
        self.addCleanup(shutil.rmtree, alone, ignore_errors=True)
        shutil.copy(os.path.join(BIN, "vellum.exe"), alone)
        self.start(PORT + 1, os.path.join(alone, "vellum.exe"))
        self.assertEqual(probe("command", str(MANUAL))[0], 0)
        self.assertEqual(probe_lines("window-of", "HH Parent", "5")[0], 1, "a help window opened")
        self.assertEqual(probe_lines("window-of", "#32770", "2")[0], 1, "a message or dialog appeared")

    # --- home page ---------------------------------------------------------------------

    def test_the_home_page_goes_to_the_systems_web_program(self):
        """The command hands the address to the shell; a stand-in for the web
        browser writes down what it was given."""
        before = url_opener()
        self.assertIsNotNone(before)
        self.addCleanup(self.restore_url_opener, before)
        note = os.path.join(self.save, "opened.txt")
        self.assertEqual(wine_reg("add", URL_OPENER, "/ve", "/d",
                                  r"C:\windows\system32\cmd.exe /c echo %%1> %s" % windows_path(note), "/f")[0], 0)
        self.start()
        self.assertEqual(probe("command", str(HOME_PAGE))[0], 0)
        self.assertTrue(wait_until(lambda: os.path.exists(note) and os.path.getsize(note) > 0, 60),
                        "the web program was not started")
        with open(note, "rb") as f:
            self.assertEqual(f.read().strip(), b"http://vellum.marlow.example/")

    def restore_url_opener(self, before):
        wine_reg("add", URL_OPENER, "/ve", "/d", before, "/f")
        self.assertEqual(url_opener(), before)

    # --- dial-up on the platform's own RAS ----------------------------------------------

    def test_dial_up_support_with_no_line_and_no_phone_book(self):
        """Wine's RAS knows no line and dials nothing: a browser's request
        ends in the dial-up error page and never reaches the server, and
        exit asks no question."""
        origin = OriginServer(answer_with(b"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"))
        self.addCleanup(origin.close)
        program = self.start(**{"internet": 1, "log": 1, "dialUp.support": 1, "dialUp.dialStr": "isp",
                                "dialUp.idStr": "user", "dialUp.passwordStr": "pass"})
        url = b"http://127.0.0.1:%d/page.html" % origin.port
        self.assertEqual(exchange(PORT, b"GET " + url + b" HTTP/1.0\r\n\r\n"),
                         b"HTTP/1.0 502 Bad Gateway\r\nContent-Type: text/html\r\n"
                         b"\r\n<HTML><HEAD><TITLE>Error</TITLE></HEAD><BODY><H1>DialUp Error</H1>"
                         b"<HR><ADDRESS>Vellum 1.31b</ADDRESS></BODY></HTML>")
        self.assertEqual(origin.requests, [])
        self.assertEqual(probe("close")[0], 0)
        self.assertEqual(program.wait(30), 0, "the program did not end: a question stands open?")

    # --- dialogs, photographed -------------------------------------------------------

    @unittest.skipUnless(LONG, "photographs only with VELLUM_LONG=1")
    def test_each_dialog_as_the_user_sees_it(self):
        self.start(**{"proxy.address": "proxy.example.jp", "proxy.port": "3128", "proxy.proxy": 1,
                      "dialUp.support": 1})
        for command, title, name in ((PROXY, "HTTPプロキシサーバーの設定", "dialog_proxy.png"),
                                     (DIALUP, "ダイアルアップ接続サポート", "dialog_dialup.png"),
                                     (WINSOCK, "WinSock情報", "dialog_winsock.png")):
            with self.subTest(title):
                rect = self.open_dialog(command, title)
                screenshot(name, rect)
                self.assertEqual(probe("press", title, "2")[0], 0)
                self.assertTrue(wait_until(lambda: probe_lines("dialog", "0", title)[0] == 1, 30))

        self.assertEqual(probe("command", str(VERSION))[0], 0)
        code, words = probe_lines("dialog", "30", "バージョン情報")
        self.assertEqual(code, 0)
        screenshot("dialog_version.png", rect_of(words))
        self.assertEqual(probe("message-box", "10", "ok", "バージョン情報")[0], 0)

    @unittest.skipUnless(LONG, "photographs only with VELLUM_LONG=1")
    def test_the_folder_chooser_with_its_menu_and_the_name_dialog(self):
        self.start()
        self.assertEqual(probe("command", str(SAVE_FOLDER))[0], 0)
        code, words = probe_lines("folder-menu", "30")
        self.assertEqual(code, 0, "no create/delete menu")
        screenshot("dialog_folder_chooser.png", rect_of(words), rect_of(words, 4))
        self.assertEqual(probe("menu-item", "0")[0], 0)
        title = "作成するフォルダ名を入力して下さい"
        code, name_words = probe_lines("dialog", "30", title)
        self.assertEqual(code, 0, "no folder-name dialog")
        screenshot("dialog_folder_name.png", rect_of(name_words))
        self.assertEqual(probe("press", title, "2")[0], 0)
        self.assertTrue(wait_until(lambda: probe_lines("dialog", "0", title)[0] == 1, 30))
        # The browser is still open; cancel it as the user would.
        subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), "close-window", "#32770"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        self.assertEqual(os.listdir(self.save), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
