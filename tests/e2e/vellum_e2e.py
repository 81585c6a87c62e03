"""Starting vellum.exe under the build's Wine session and looking at it from
outside: sockets as a browser, vellum_probe as a user at the screen."""
import os
import socket
import subprocess
import time

BIN = os.environ["VELLUM_BIN"]
WINE_RUN = os.environ["VELLUM_WINE_RUN"]


def probe(*args, timeout=120):
    """Runs vellum_probe; returns (exit code, first line of its output)."""
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), *args],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    lines = done.stdout.decode("ascii", "replace").split()
    return done.returncode, (lines[0] if lines else "")


def probe_text(*args):
    """A probe answer given as hex of code page 932 bytes, decoded."""
    code, hex_text = probe(*args)
    if code != 0 or hex_text == "none":
        return None
    return bytes.fromhex(hex_text).decode("cp932")


def read_published():
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), "registry"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    text = done.stdout.decode("ascii", "replace").strip()
    if text == "absent":
        return None
    fields = dict(part.split("=") for part in text.split())
    return int(fields["ServerAddress"], 16), int(fields["ServerPort"])


def wait_until(condition, seconds=60, step=0.2):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


class Program:
    """One vellum.exe process with its command line."""

    def __init__(self, *words):
        self.process = subprocess.Popen([WINE_RUN, os.path.join(BIN, "vellum.exe"), *words],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def exited(self):
        return self.process.poll() is not None

    def wait(self, seconds=60):
        return self.process.wait(timeout=seconds)

    def kill(self):
        if not self.exited():
            self.process.kill()
            self.process.wait()


def connect(port):
    """A browser connection to the proxy, or None when nobody listens."""
    try:
        return socket.create_connection(("127.0.0.1", port), timeout=5)
    except OSError:
        return None


def closed_by_peer(s, seconds=30):
    """True when the peer closes (or resets) the connection within the time."""
    s.settimeout(seconds)
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False
