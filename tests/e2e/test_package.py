"""The setup program as a Windows user meets it: installed silently into the
user's local programs folder without administrator rights, Vellum started
from there, and the uninstaller, which takes the program and leaves the
user's recordings."""
import os
import subprocess
import unittest

from vellum_e2e import BIN, WINE_RUN, Program, probe, read_published, wait_until

PACKAGE = os.path.join(os.path.dirname(BIN), "package")
PACKAGED_FILES = os.path.join(PACKAGE, "files")  # what the setup holds: the programs without debugging sections
SETUP = os.path.join(PACKAGE, "vellum-1.31b-setup.exe")
SHIPPED = ["vellum.exe", "tessel.dll", "vellumie.exe", "ReserveAutoGet.htm", "ReserveAutoGetParent.htm",
           "Velm131.chm"]
LOOPBACK = 0x7F000001
PORT = 28401


def wine(*args, timeout=120):
    return subprocess.run([WINE_RUN, *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=timeout)


def unix_path(windows_path):
    done = subprocess.run([WINE_RUN, "winepath", "-u", windows_path], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=120)
    return done.stdout.decode().strip()


@unittest.skipUnless(os.path.exists(SETUP), "no setup program (makensis not installed)")
class SetupProgramTest(unittest.TestCase):
    def setUp(self):
        local = wine("cmd", "/c", "echo", "%LOCALAPPDATA%").stdout.decode("cp932").strip()
        self.install_dir = local + "\\Programs\\Vellum"
        self.folder = unix_path(self.install_dir)
        probe("delete-address")

    def uninstall(self):
        """Runs the uninstaller as the Start menu does: it copies itself away
        and returns at once, so the test waits for it to delete itself."""
        done = wine(self.install_dir + "\\uninstall.exe", "/S")
        gone = wait_until(lambda: not os.path.exists(os.path.join(self.folder, "uninstall.exe")), 60)
        return done.returncode == 0 and gone

    def test_installs_per_user_runs_and_uninstalls_keeping_recordings(self):
        self.assertEqual(wine(SETUP, "/S").returncode, 0)
        for name in SHIPPED + ["uninstall.exe"]:
            installed = os.path.join(self.folder, name)
            self.assertTrue(os.path.isfile(installed), name)
            if name != "uninstall.exe":
                with open(installed, "rb") as a, open(os.path.join(PACKAGED_FILES, name), "rb") as b:
                    self.assertEqual(a.read(), b.read(), name)
        uninstall_key = wine("reg", "query",
                             "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellum").stdout
        self.assertIn(b"UninstallString", uninstall_key)

        # Vellum runs from there and keeps its files beside itself.
        program = Program.__new__(Program)
        program.process = subprocess.Popen([WINE_RUN, self.install_dir + "\\vellum.exe", "127.0.0.1:%d" % PORT],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(wait_until(read_published), (LOOPBACK, PORT))
        finally:
            probe("close")
            program.wait(60)

        # Its close wrote both files beside it, empty: nothing was kept.
        for name in ("cookie", "authenticate"):
            self.assertEqual(os.path.getsize(os.path.join(self.folder, name)), 0, name)
        # What the user made there: a recording and a cookie.
        recording = os.path.join(self.folder, "site.test", "index.html")
        os.makedirs(os.path.dirname(recording), exist_ok=True)
        with open(recording, "wb") as page:
            page.write(b"<p>kept</p>")
        with open(os.path.join(self.folder, "cookie"), "ab") as cookies:
            cookies.write(b"site.test\tFALSE\t/\tFALSE\t0\tkept\t1\r\n")

        self.assertTrue(self.uninstall())
        for name in SHIPPED + ["uninstall.exe"]:
            self.assertFalse(os.path.exists(os.path.join(self.folder, name)), name)
        with open(recording, "rb") as page:
            self.assertEqual(page.read(), b"<p>kept</p>")
        self.assertTrue(os.path.exists(os.path.join(self.folder, "cookie")))
        self.assertFalse(os.path.exists(os.path.join(self.folder, "authenticate")))
        self.assertNotIn(b"UninstallString", wine(
            "reg", "query", "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vellum").stdout)

    def test_shipped_programs_have_no_debugging_sections(self):
        for name in ("vellum.exe", "tessel.dll", "vellumie.exe"):
            sections = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", os.path.join(PACKAGED_FILES, name)],
                                      stdout=subprocess.PIPE, check=True).stdout.decode()
            self.assertNotIn(".debug_", sections, name)

    def tearDown(self):
        if os.path.exists(os.path.join(self.folder, "uninstall.exe")):
            self.uninstall()
        import shutil
        shutil.rmtree(self.folder, ignore_errors=True)
        probe("delete-address")


if __name__ == "__main__":
    unittest.main()
