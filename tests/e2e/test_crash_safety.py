"""Killing the real vellum.exe while it records a large page: after every
kill, the page served offline is the old version with its old metadata or the
new one with its new metadata, whole, and nothing the killed recording had
made is left in the save folder once the page has been looked up again.

The kill is `wineserver -k` of a Wine session of this test's own (its own
prefix, wineserver and display), so that nothing else running in the shared
test session dies with it. Delays after the transfer's last byte are spread
with a fixed seed, so that kills land in the flush and in the commit.

The default run kills twice in an 8 MiB transfer, at once and 50 ms after its
last byte (in the flush, and in or just after the commit): about 35 s, 10 s
more on the first run in a build, which makes the session's prefix.
VELLUM_LONG=1 kills eight times in a 16 MiB transfer, at delays drawn with a
fixed seed (about three minutes on a busy machine)."""
import os
import random
import re
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

from vellum_e2e import BIN, OriginServer, wait_until, windows_path

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SESSION = os.environ["VELLUM_WINE_DIR"] + "-crash"
PORT = 28341
LOOPBACK = 0x7F000001
LONG = os.environ.get("VELLUM_LONG") == "1"
SIZE = (16 if LONG else 8) * 1024 * 1024
TEMPORARY = re.compile(r"\.#(\d{5,}|%new|%commit)#")


class Version:
    def __init__(self, fill, extra, date, stamp, content_type):
        self.body = fill * (SIZE + extra)
        self.date = date
        self.stamp = stamp
        self.type = content_type

    def answer(self):
        return (b"HTTP/1.0 200 OK\r\nLast-Modified: " + self.date.encode() + b"\r\nContent-Type: " +
                self.type.encode() + b"\r\nContent-Length: " + str(len(self.body)).encode() + b"\r\n\r\n" + self.body)


OLD = Version(b"o", 0, "Sun, 06 Nov 1994 08:49:37 GMT", "19941106084937", "text/plain")
NEW = Version(b"n", 7, "Mon, 01 Jan 2024 00:00:00 GMT", "20240101000000", "text/html")


class WineSession:
    """A Wine session of its own in `directory`, started and stopped by
    scripts/wine-session.sh like the shared one."""

    def __init__(self, directory):
        self.directory = directory
        self.script = os.path.join(ROOT, "scripts", "wine-session.sh")
        subprocess.run(["bash", self.script, "start", directory], check=True, timeout=600,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, WINEPREFIX=os.path.join(directory, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="ja_JP.UTF-8")
        with open(os.path.join(directory, "display")) as f:
            self.env["DISPLAY"] = f.read().strip()
        # Once: every start rewrites the values it needs, and a Wine process
        # costs a second under load.
        self.probe("clear-settings")

    def probe(self, *words):
        done = subprocess.run(["wine", os.path.join(BIN, "vellum_probe.exe"), *words], env=self.env, timeout=120,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return done.returncode, done.stdout.decode("ascii", "replace").strip()

    def start_vellum(self, save, recording):
        self.probe("delete-address")
        mode = "d:1" if recording else "d:0"
        self.probe("settings", "localPath=s:" + windows_path(save), "internet=" + mode, "localize=" + mode, "log=d:0")
        process = subprocess.Popen(["wine", os.path.join(BIN, "vellum.exe"), "127.0.0.1:%d" % PORT], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # After a kill the session's first start re-reads the prefix; on a busy
        # machine that has taken over a minute.
        published = wait_until(lambda: self.probe("registry")[1] not in ("", "absent"), 180)
        if not published:
            process.kill()
            raise RuntimeError("vellum.exe did not start listening")
        return process

    def kill_everything(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)

    def stop(self):
        subprocess.run(["bash", self.script, "stop", self.directory], timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def fetch(url, timeout=120):
    """The whole answer of the proxy to a GET, or what came before it broke off."""
    import socket
    chunks = []
    try:
        s = socket.create_connection(("127.0.0.1", PORT), timeout=timeout)
        s.sendall(("GET %s HTTP/1.0\r\n\r\n" % url).encode())
        while True:
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            chunks.append(chunk)
        s.close()
    except OSError:
        pass
    return b"".join(chunks)


class CrashSafetyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession(SESSION)

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()

    def setUp(self):
        self.save = tempfile.mkdtemp(prefix="vellum-e2e-crash-", dir="/tmp")
        self.serving = OLD
        self.origin = OriginServer(lambda request, client: client.sendall(self.serving.answer()))
        self.folder = os.path.join(self.save, self.origin.host_folder())
        self.url = self.origin.url("/big.txt")

    def tearDown(self):
        self.origin.close()
        shutil.rmtree(self.save, ignore_errors=True)

    def names(self):
        return sorted(os.listdir(self.folder)) if os.path.isdir(self.folder) else []

    def size_of(self, name):
        try:
            return os.path.getsize(os.path.join(self.folder, name))
        except OSError:
            return -1

    def served_offline(self):
        """Which version offline Vellum serves, checked whole: "old", "new" or
        a description of what is wrong. Kills Vellum afterwards: what it had
        to do is done by then, and a close takes seconds."""
        program = self.session.start_vellum(self.save, recording=False)
        try:
            head, _, body = fetch(self.url).partition(b"\r\n\r\n")
            for name, version in (("old", OLD), ("new", NEW)):
                if body[:1] == version.body[:1]:
                    if body != version.body:
                        return "a cut %s body (%d bytes)" % (name, len(body))
                    if (b"Last-modified: " + version.date.encode()) not in head:
                        return "the %s body with another date: %r" % (name, head)
                    if (b"Content-type: " + version.type.encode()) not in head:
                        return "the %s body with another type: %r" % (name, head)
                    # The look-up and the start-up sweep clear the leftovers.
                    if not wait_until(lambda: not [n for n in self.names() if TEMPORARY.search(n)], 30):
                        return "leftovers after the look-up: %s" % self.names()
                    return name
            return "no page: %r" % head[:60]
        finally:
            self.session.kill_everything()
            try:
                program.wait(60)
            except subprocess.TimeoutExpired:
                program.kill()

    def test_kills_at_the_end_of_a_transfer_leave_one_whole_version(self):
        # The first recording, whole.
        program = self.session.start_vellum(self.save, recording=True)
        self.assertTrue(fetch(self.url).endswith(b"\r\n\r\n" + OLD.body))
        # The answer ends after the commit: a kill now loses nothing.
        self.session.kill_everything()
        program.wait(60)
        current = "old"
        self.assertEqual(self.served_offline(), current)

        if LONG:
            chooser = random.Random(20240613)
            delays = [chooser.choice([0, 0, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2]) for _ in range(8)]
        else:
            delays = [0, 0.05]
        outcomes = []
        for round_number, delay in enumerate(delays):
            # Each round records the other version, so every commit changes
            # the page's date and type as well as its body.
            self.serving = NEW if current == "old" else OLD
            target = len(self.serving.body)
            program = self.session.start_vellum(self.save, recording=True)
            browser = threading.Thread(target=fetch, args=(self.url,))
            browser.start()

            def body_complete():
                # The receiving file has every byte, or the commit has begun.
                return any(self.size_of(n) == target for n in self.names())
            reached = wait_until(body_complete, 120, step=0.001)
            time.sleep(delay)
            self.session.kill_everything()
            program.wait(60)
            browser.join(120)
            left = [n for n in self.names() if n != "big.txt"]
            self.assertTrue(reached, "the transfer never completed")

            served = self.served_offline()
            self.assertIn(served, ("old", "new"), "round %d, kill %.3f s after the last byte, left %s"
                          % (round_number, delay, left))
            outcomes.append("%.3f s: %s (beside the page at the kill: %s)"
                            % (delay, "recorded" if served != current else "previous kept", ", ".join(left)))
            current = served
        print("\nkills at the end of a %d MiB transfer:\n  %s" % (SIZE >> 20, "\n  ".join(outcomes)))


if __name__ == "__main__":
    unittest.main()
