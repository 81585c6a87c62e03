"""Starting vellum.exe under the build's Wine session and looking at it from
outside: sockets as a browser, vellum_probe as a user at the screen."""
import os
import shutil
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


# --- settings, save folders and the request tree ---------------------------------

def windows_path(unix_path):
    """The path Wine's Z: drive gives a Unix path."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def write_settings(**values):
    """Replaces the settings key with these values: ints as DWORDs, strs as texts."""
    probe("clear-settings")
    words = []
    for name, value in values.items():
        name = name.replace("__", ".")
        words.append("%s=%s:%s" % (name, "d" if isinstance(value, int) else "s", value))
    code, _ = probe("settings", *words)
    assert code == 0, "settings not written"


def request_tree(*window):
    """The request tree as (depth, state image, label) in display order; or,
    given a window class and a control id, that window's tree view."""
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), "tree", *window],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    items = []
    for line in done.stdout.decode("ascii", "replace").splitlines():
        depth, image, label = (line.split() + [""])[:3]
        items.append((int(depth), int(image), bytes.fromhex(label).decode("cp932")))
    return items


def process_counts():
    """The running program's threads, handles and memory (bytes), read from
    outside by vellum_probe: {"threads": n, "handles": n, "private": n,
    "working": n}; None when there is no program."""
    done = subprocess.run([WINE_RUN, os.path.join(BIN, "vellum_probe.exe"), "counts"],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    if done.returncode != 0:
        return None
    return {key: int(value) for key, value in
            (word.split("=") for word in done.stdout.decode("ascii", "replace").split())}


def request_log(index):
    """The log of the index-th tree item, as its log window shows it (bytes)."""
    code, hex_text = probe("request-log", str(index))
    return bytes.fromhex(hex_text) if code == 0 else None


# --- talking to the proxy as a browser ---------------------------------------------

def exchange(port, request, timeout=30):
    """Sends one request (bytes) to the proxy and returns everything it answers."""
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        s.sendall(request)
        chunks = []
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
        return b"".join(chunks)
    finally:
        s.close()


class Nginx:
    """nginx serving `root` on a loopback port, with its files in `work`."""
    PROGRAM = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)

    def __init__(self, work, port, root):
        self.port = port
        conf = os.path.join(work, "nginx.conf")
        with open(conf, "w") as f:
            f.write("worker_processes 1; daemon off; pid %s/nginx.pid; error_log %s/error.log;\n"
                    "events { worker_connections 1024; }\n"
                    "http { access_log off; include /etc/nginx/mime.types;\n"
                    "  server { listen 127.0.0.1:%d; root %s; } }\n" % (work, work, port, root))
        self.process = subprocess.Popen([self.PROGRAM, "-c", conf, "-p", work],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: port_open(port), 20):
            self.stop()
            raise RuntimeError("nginx did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(20)


def port_open(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


class OriginServer:
    """A scriptable web server on a loopback port. `handler(request_bytes, socket)`
    answers one request; the header block (and a body of Content-Length bytes)
    is read first. Every request received is kept in `requests`."""

    def __init__(self, handler):
        import threading
        self.handler = handler
        self.requests = []
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        import threading
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._answer, args=(client,), daemon=True).start()

    def _answer(self, client):
        try:
            client.settimeout(30)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = client.recv(4096)
                if not chunk:
                    break
                data += chunk
            header, _, body = data.partition(b"\r\n\r\n")
            for line in header.split(b"\r\n"):
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
                    while len(body) < length:
                        chunk = client.recv(65536)
                        if not chunk:
                            break
                        body += chunk
            self.requests.append(header + b"\r\n\r\n" + body)
            self.handler(data, client)
        except OSError:
            pass
        finally:
            try:
                client.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            client.close()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def host_folder(self):
        return "127.0.0.1%%3A%d" % self.port

    def close(self):
        self.listener.close()


def answer_with(data):
    """An origin handler that sends these bytes."""
    def handler(request, client):
        client.sendall(data)
    return handler
