"""Helpers of the end-to-end tests of tessel.dll and vellumie.exe: the
registry read and prepared byte for byte (registry_tool), the browser's part
played by tessel_client, message boxes read and answered by vellum_probe, and
a stand-in for the proxy that records what reaches it."""
import os
import socket
import subprocess
import threading
import time

from vellum_e2e import BIN, WINE_RUN, probe, windows_path

COMPONENT_CAPTION = "Vellum コントロール"
INSTALLER_CAPTION = "Vellum IE拡張"
LOOPBACK = 0x7F000001
SETTINGS_KEY = "Software\\Marlow\\Vellum"

REG_SZ = 1
REG_DWORD = 4


def tool_path(name):
    return os.path.join(BIN, name)


def run(*words, timeout=120):
    """Runs a Windows program of the build to its end; returns (exit code, stdout text)."""
    done = subprocess.run([WINE_RUN, *words], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def start(*words):
    """Starts a Windows program of the build; the caller waits for it."""
    return subprocess.Popen([WINE_RUN, *words], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def finish(process, seconds=60):
    """Waits for a started program; returns (exit code, stdout text). A program
    still running then (held by a box nobody expected) is killed and fails."""
    try:
        out, _ = process.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        raise AssertionError("the program did not end")
    return process.returncode, out.decode("utf-8", "replace")


def read_box(caption, button="ok", seconds=30):
    """The text of the next message box with this caption, answered with `button`; None when none comes."""
    code, hex_text = probe("message-box", str(seconds), button, caption)
    if code != 0 or hex_text == "none":
        return None
    return bytes.fromhex(hex_text).decode("cp932")


# --- the registry, byte for byte ----------------------------------------------------

def _hex(text):
    data = text.encode("cp932") if isinstance(text, str) else text
    return data.hex() if data else "-"


def _unhex(word):
    return b"" if word == "-" else bytes.fromhex(word)


def registry_tree(root, path):
    """The key and everything below it: {path below the key: {value name: (type, data bytes)}},
    the key itself under "", names decoded from code page 932; None when the key is missing."""
    code, out = run(tool_path("registry_tool.exe"), "dump", root, _hex(path))
    if code != 0:
        return None
    tree = {}
    current = None
    for line in out.splitlines():
        words = line.split()
        if words[0] == "key":
            current = _unhex(words[1]).decode("cp932")
            tree[current] = {}
        elif words[0] == "value":
            tree[current][_unhex(words[1]).decode("cp932")] = (int(words[2]), _unhex(words[3]))
    return tree


def text_value(text):
    """What a REG_SZ value written by the program reads back as: the system keeps one terminator."""
    return (REG_SZ, text.encode("cp932") + b"\0")


def dword_value(number):
    return (REG_DWORD, number.to_bytes(4, "little"))


def delete_key(root, path):
    run(tool_path("registry_tool.exe"), "delete", root, _hex(path))


def create_key(root, path, volatile=False):
    code, _ = run(tool_path("registry_tool.exe"), "create", root, _hex(path), *(["volatile"] if volatile else []))
    assert code == 0, "key %s not created" % path


def set_value(root, path, name, kind, data):
    code, _ = run(tool_path("registry_tool.exe"), "set", root, _hex(path), _hex(name), str(kind), _hex(data))
    assert code == 0, "value %s not written" % name


def publish(port, address=LOOPBACK):
    """Writes the running program's address as vellum.exe does while it listens."""
    create_key("HKCU", SETTINGS_KEY)
    set_value("HKCU", SETTINGS_KEY, "ServerAddress", REG_DWORD, address.to_bytes(4, "little"))
    set_value("HKCU", SETTINGS_KEY, "ServerPort", REG_DWORD, port.to_bytes(4, "little"))


def unpublish():
    probe("delete-address")


# --- the component ----------------------------------------------------------------------

def component_path():
    return windows_path(tool_path("tessel.dll"))


def regsvr32(*flags):
    code, _ = run("regsvr32", "/s", *flags, component_path())
    return code


def free_port():
    """A loopback port nobody listens on."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Listener:
    """Stands in for the proxy: keeps everything each connection sends until it closes."""

    def __init__(self):
        self.received = []
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(8)
        self.port = self.socket.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                client, _ = self.socket.accept()
            except OSError:
                return
            client.settimeout(30)
            data = b""
            try:
                while True:
                    chunk = client.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            except OSError:
                pass
            client.close()
            self.received.append(data)

    def wait_for(self, count, seconds=30):
        deadline = time.monotonic() + seconds
        while len(self.received) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.received

    def close(self):
        self.socket.close()


def reservation(url, user_agent, referer=None):
    """The bytes the proxy is to receive, in code page 932."""
    text = "TESSEL.DLL\r\nReserveAutoGet\r\nGET %s HTTP/1.0\r\n" % url
    if referer is not None:
        text += "Referer: %s\r\n" % referer
    text += "User-Agent: %s\r\n\r\n" % user_agent
    return text.encode("cp932")
