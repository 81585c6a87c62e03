#!/usr/bin/env python3
"""Vellum against the proxies and the web server users already know, on
loopback only: forwarding, recording, offline serving, one large transfer,
and what one request costs Vellum in system calls and UI-thread round trips.

Run through bench/run.sh, which installs the peers and builds Vellum first.
Every run is bounded in count and time; --smoke makes each one tiny.
"""
import argparse
import json
import os
import platform
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# VELLUM_BENCH_BIN runs another build's programs (a before/after comparison).
BIN = os.environ.get("VELLUM_BENCH_BIN") or os.path.join(ROOT, "build", "win", "bin")
WORK = os.path.join(ROOT, "build", "bench")

HOST = "127.0.0.1"
PORT_ORIGIN = 28400     # nginx, the origin of every forwarded request
PORT_TINYPROXY = 28401
PORT_SQUID = 28402
PORT_VELLUM = 28403
PORT_WINE_SERVE = 28404
PORT_WINE_RELAY = 28405
PORT_WINE_SERVE_POOL = 28406
PORT_WINE_RELAY_POOL = 28407
PORT_TLS_ORIGIN = 28408  # nginx over TLS, the same files as the origin

SIZES = [("2k", "/2k.html", 2048), ("100k", "/100k.html", 102400)]
CONCURRENCY = [1, 8, 32]
BIG_PATH = "/big.bin"

SETTINGS_KEY = r"HKEY_CURRENT_USER\Software\Marlow\Vellum"


class Skip(Exception):
    """A peer or tool is missing: the section says so and the run goes on."""


def log(text):
    print(text, file=sys.stderr, flush=True)


def wait_port(port, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection((HOST, port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def port_free(port, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection((HOST, port), timeout=1).close()
            time.sleep(0.2)
        except OSError:
            return True
    return False


def stop_process(process, seconds=20):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


# ---------------------------------------------------------------- the pages

def make_site(big_size):
    www = os.path.join(WORK, "www")
    os.makedirs(www, exist_ok=True)
    for _, path, size in SIZES:
        body = (b"<html><body>" + b"x" * size)[:size - 15] + b"</body></html>\n"
        with open(www + path, "wb") as f:
            f.write(body)
    big = www + BIG_PATH
    if not os.path.exists(big) or os.path.getsize(big) != big_size:
        with open(big, "wb") as f:
            f.truncate(big_size)  # sparse: the bytes come from the page cache
    return www


# ---------------------------------------------------------------- the peers

class Nginx:
    name = "nginx"

    def __init__(self, www):
        self.dir = os.path.join(WORK, "nginx")
        os.makedirs(self.dir, exist_ok=True)
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""daemon off;
master_process on;
worker_processes auto;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    default_type text/html;
    client_body_temp_path {self.dir}/body;
    proxy_temp_path {self.dir}/proxy;
    fastcgi_temp_path {self.dir}/fastcgi;
    uwsgi_temp_path {self.dir}/uwsgi;
    scgi_temp_path {self.dir}/scgi;
    server {{
        listen {HOST}:{PORT_ORIGIN} backlog=1024;
        root {www};
    }}
}}
""")
        self.process = subprocess.Popen(["nginx", "-c", conf, "-p", self.dir],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(PORT_ORIGIN, 20):
            raise Skip("nginx did not start (see %s/error.log)" % self.dir)

    def stop(self):
        stop_process(self.process)


class TlsNginx:
    """nginx serving the origin's files over TLS on loopback, with a test CA
    and a leaf for 127.0.0.1 made now (tests/e2e/tls_site.py)."""

    def __init__(self, www):
        sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
        from tls_site import Certificates
        self.dir = os.path.join(WORK, "tls-nginx")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.certificates = Certificates(os.path.join(self.dir, "tls"), HOST)
        leaf = self.certificates.leaves["good"]
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""daemon off;
master_process on;
worker_processes auto;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    default_type text/html;
    client_body_temp_path {self.dir}/body;
    proxy_temp_path {self.dir}/proxy;
    fastcgi_temp_path {self.dir}/fastcgi;
    uwsgi_temp_path {self.dir}/uwsgi;
    scgi_temp_path {self.dir}/scgi;
    server {{
        listen {HOST}:{PORT_TLS_ORIGIN} ssl backlog=1024;
        ssl_certificate {leaf["cert"]};
        ssl_certificate_key {leaf["key"]};
        ssl_protocols TLSv1.2 TLSv1.3;
        root {www};
    }}
}}
""")
        self.process = subprocess.Popen(["nginx", "-c", conf, "-p", self.dir],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(PORT_TLS_ORIGIN, 20):
            raise Skip("nginx with TLS did not start (see %s/error.log)" % self.dir)

    def stop(self):
        stop_process(self.process)


class Tinyproxy:
    name = "tinyproxy"

    def __init__(self):
        self.dir = os.path.join(WORK, "tinyproxy")
        os.makedirs(self.dir, exist_ok=True)
        os.chmod(self.dir, 0o777)
        conf = os.path.join(self.dir, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write(f"""User nobody
Group nogroup
Port {PORT_TINYPROXY}
Listen {HOST}
Timeout 60
MaxClients 256
LogLevel Critical
LogFile "{self.dir}/tinyproxy.log"
PidFile "{self.dir}/tinyproxy.pid"
Allow 127.0.0.1
DisableViaHeader Yes
""")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", conf],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(PORT_TINYPROXY, 20):
            raise Skip("tinyproxy did not start")

    port = PORT_TINYPROXY

    def stop(self):
        stop_process(self.process)


class Squid:
    """One squid, either a pure forwarder (nothing cached) or, offline, a
    cache that answers without asking the origin."""
    name = "squid"
    port = PORT_SQUID

    def __init__(self, offline):
        self.dir = os.path.join(WORK, "squid-offline" if offline else "squid")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        shutil.chown(self.dir, "proxy", "proxy")
        conf = os.path.join(self.dir, "squid.conf")
        if offline:
            caching = """offline_mode on
cache_mem 512 MB
maximum_object_size_in_memory 1 MB
memory_replacement_policy lru
refresh_pattern . 1440 100% 10080 override-expire override-lastmod ignore-reload
"""
        else:
            caching = "cache deny all\ncache_mem 8 MB\n"
        with open(conf, "w") as f:
            f.write(f"""http_port {HOST}:{PORT_SQUID}
http_access allow localhost
http_access deny all
{caching}
pid_filename {self.dir}/squid.pid
access_log stdio:{self.dir}/access.log squid
cache_log {self.dir}/cache.log
cache_store_log none
coredump_dir {self.dir}
shutdown_lifetime 1 seconds
via off
forwarded_for transparent
max_filedescriptors 4096
""")
        self.access_log = os.path.join(self.dir, "access.log")
        self.process = subprocess.Popen(["squid", "-N", "-f", conf],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_port(PORT_SQUID, 30):
            raise Skip("squid did not start (see %s/cache.log)" % self.dir)

    def hit_counts(self):
        counts = {}
        try:
            with open(self.access_log) as f:
                for line in f:
                    fields = line.split()
                    if len(fields) > 3:
                        code = fields[3].split("/")[0]
                        counts[code] = counts.get(code, 0) + 1
        except OSError:
            pass
        return counts

    def stop(self):
        stop_process(self.process, 30)


# ---------------------------------------------------------------- Wine side

def wine_environment(session_dir):
    """The environment scripts/wine-env.sh sets up for a session in session_dir."""
    script = '. "$1/scripts/wine-env.sh" && vellum_wine_env "$2" && vellum_wine_display "$2" && env -0'
    done = subprocess.run(["sh", "-c", script, "sh", ROOT, session_dir], stdout=subprocess.PIPE, check=True)
    return dict(item.split("=", 1) for item in done.stdout.decode().split("\0") if "=" in item)


class WineSession:
    def __init__(self):
        self.dir = os.path.join(WORK, "wine")
        done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine-session.sh"), "start", self.dir],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
        if done.returncode != 0:
            raise Skip("the Wine session did not start: " + done.stdout.decode(errors="replace")[-300:])
        self.env = wine_environment(self.dir)

    def run(self, *args, timeout=120):
        return subprocess.run(["wine", *args], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=timeout)

    def start(self, *args):
        return subprocess.Popen(["wine", *args], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)

    def windows_path(self, unix_path):
        return "Z:" + unix_path.replace("/", "\\")

    def set_settings(self, values):
        reg = os.path.join(self.dir, "settings.reg")
        lines = ["REGEDIT4", "", "[%s]" % SETTINGS_KEY]
        for name, value in values.items():
            if isinstance(value, int):
                lines.append('"%s"=dword:%08x' % (name, value))
            else:
                lines.append('"%s"="%s"' % (name, value.replace("\\", "\\\\")))
        with open(reg, "w", encoding="ascii") as f:
            f.write("\r\n".join(lines) + "\r\n")
        self.run("regedit", "/S", self.windows_path(reg))

    def stop(self):
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "wine-session.sh"), "stop", self.dir],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def wine_process_of(popen, name):
    """The Linux process that runs the Windows program `name` started by
    `popen` (wine execs its loader in place, but look it up to be sure)."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read().split(b"\0")
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read()
            except OSError:
                continue
            if any(part.lower().endswith(name.encode()) for part in cmdline[:3]) and \
                    ("WINEPREFIX=" + os.path.join(WORK, "wine", "prefix")).encode() in environ:
                return int(pid)
        time.sleep(0.2)
    return popen.pid


class Vellum:
    """vellum.exe in one mode, listening on its own port."""
    port = PORT_VELLUM

    def __init__(self, wine, mode, store):
        self.wine = wine
        self.name = "vellum" if mode == "online" else "vellum-" + mode
        wine.set_settings({
            "localPath": wine.windows_path(store),
            "internet": 0 if mode == "offline" else 1,
            "localize": 1 if mode == "recording" else 0,
            "log": 0,
            "tunnel.allowedPorts": str(PORT_ORIGIN),  # the tunnel row reaches nginx
            # The main window at its first-start place and size, whatever an
            # earlier run left: how many requests its tree shows at once
            # changes the cost of showing them.
            "windowPosLeft": 0, "windowPosTop": 0, "windowPosRight": 0, "windowPosBottom": 0,
        })
        self.process = wine.start(os.path.join(BIN, "vellum.exe"), "%s:%d" % (HOST, PORT_VELLUM))
        if not wait_port(PORT_VELLUM, 60):
            self.stop()
            raise Skip("vellum.exe did not start listening")
        self.pid = wine_process_of(self.process, "vellum.exe")

    def status_text(self, part):
        done = self.wine.run(os.path.join(BIN, "vellum_probe.exe"), "status", str(part))
        try:
            return bytes.fromhex(done.stdout.decode().split()[0]).decode("cp932")
        except (IndexError, ValueError):
            return None

    def minimize(self):
        return self.wine.run(os.path.join(BIN, "vellum_probe.exe"), "minimize").returncode == 0

    def stop(self):
        self.wine.run(os.path.join(BIN, "vellum_probe.exe"), "close")
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        port_free(PORT_VELLUM)


class WineBaseline:
    """bench/wine_baseline_win.cpp: Wine's floor for a server or a proxy."""

    def __init__(self, wine, mode, port, *options):
        self.name = "wine-" + mode + ("" if not options else " " + " ".join(options))
        self.port = port
        self.process = wine.start(os.path.join(BIN, "wine_baseline.exe"), mode, str(port), *options)
        if not wait_port(port, 60):
            self.stop()
            raise Skip("wine_baseline.exe did not start")
        self.pid = wine_process_of(self.process, "wine_baseline.exe")

    def stop(self):
        stop_process(self.process)
        port_free(self.port)


# ---------------------------------------------------------------- measuring

AB_LINE = {
    "rps": re.compile(r"^Requests per second:\s+([\d.]+)"),
    "complete": re.compile(r"^Complete requests:\s+(\d+)"),
    "failed": re.compile(r"^Failed requests:\s+(\d+)"),
    "non2xx": re.compile(r"^Non-2xx responses:\s+(\d+)"),
    "p50": re.compile(r"^\s+50%\s+(\d+)"),
    "p95": re.compile(r"^\s+95%\s+(\d+)"),
}


REPEATS = 3          # each rate is the median of this many runs (--repeats)
UNSURE_SPREAD = 0.2  # a rate whose runs spread more than this around it is "unsure"


def load_average():
    try:
        return os.getloadavg()[0]
    except OSError:
        return None


def median_of(runs, key):
    """The run whose `key` is the median (the lower middle one of an even
    count), with every run's value, the spread ((max - min) / median) and the
    load average before each run added."""
    good = [r for r in runs if key in r and "error" not in r]
    if not good:
        return runs[-1]
    ordered = sorted(good, key=lambda r: r[key])
    middle = dict(ordered[(len(ordered) - 1) // 2])
    values = [r[key] for r in good]
    middle["runs"] = values
    middle["spread"] = (max(values) - min(values)) / middle[key] if middle[key] else 0.0
    middle["load"] = [r.get("load") for r in runs]
    middle["failed"] = sum(r.get("failed", 0) for r in runs)
    middle["non2xx"] = sum(r.get("non2xx", 0) for r in runs)
    return middle


def ab(url, concurrency, requests, seconds, proxy_port=None, repeats=None):
    """ApacheBench, HTTP/1.0, one request per connection (no -k), run
    `repeats` times: the median run's figures, with the spread."""
    runs = []
    for _ in range(repeats or REPEATS):
        load = load_average()
        figures = ab_once(url, concurrency, requests, seconds, proxy_port)
        figures["load"] = load
        runs.append(figures)
    return median_of(runs, "rps")


def ab_once(url, concurrency, requests, seconds, proxy_port=None):
    command = ["ab", "-q", "-r", "-s", "30", "-t", str(seconds), "-n", str(requests), "-c", str(concurrency)]
    if proxy_port:
        command += ["-X", "%s:%d" % (HOST, proxy_port)]
    command.append(url)
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=seconds + 90)
    text = done.stdout.decode(errors="replace")
    figures = {}
    for line in text.splitlines():
        for key, pattern in AB_LINE.items():
            m = pattern.match(line)
            if m:
                figures[key] = float(m.group(1))
    if "rps" not in figures:
        figures["error"] = text.strip().splitlines()[-1] if text.strip() else "ab failed"
    figures.setdefault("failed", 0)
    figures.setdefault("non2xx", 0)
    return figures


def fetch(port, url, expect_status=b"200"):
    """One HTTP/1.0 GET through a proxy (or directly when `url` is a path);
    the bytes of the answer's body."""
    with socket.create_connection((HOST, port), timeout=30) as s:
        s.sendall(b"GET %s HTTP/1.0\r\nHost: %s:%d\r\n\r\n" % (url.encode(), HOST.encode(), PORT_ORIGIN))
        data = bytearray()
        while True:
            part = s.recv(65536)
            if not part:
                break
            data += part
    head, _, body = bytes(data).partition(b"\r\n\r\n")
    if expect_status not in head.split(b"\r\n", 1)[0]:
        raise RuntimeError("unexpected answer: %r" % head[:80])
    return body


def sequential(port, url, requests, seconds):
    """Concurrency 1, one connection per request as ab makes them, each
    request timed from connect to the proxy's close: req/s, mean, median and
    p95 in ms. Bounded like ab by a count and a time."""
    times, failed = [], 0
    request = b"GET %s HTTP/1.0\r\nHost: %s\r\n\r\n" % (url.encode(), url.split("/")[2].encode())
    # One untimed request first: the first of its kind loads what the
    # program loads once (for https, Schannel and the certificate stores).
    try:
        fetch(port, url)
    except (OSError, RuntimeError):
        pass
    started = time.monotonic()
    while len(times) + failed < requests and time.monotonic() - started < seconds:
        begun = time.monotonic()
        try:
            with socket.create_connection((HOST, port), timeout=30) as s:
                s.sendall(request)
                data = bytearray()
                while True:
                    part = s.recv(65536)
                    if not part:
                        break
                    data += part
            if not data.startswith(b"HTTP/1.0 200"):
                failed += 1
                continue
        except OSError:
            failed += 1
            continue
        times.append(time.monotonic() - begun)
    elapsed = time.monotonic() - started
    if not times:
        return {"error": "no request succeeded", "failed": failed, "non2xx": 0}
    ordered = sorted(times)
    return {"rps": len(times) / elapsed, "complete": len(times), "failed": failed, "non2xx": 0,
            "mean_ms": 1000 * sum(times) / len(times), "p50": 1000 * ordered[len(ordered) // 2],
            "p95": 1000 * ordered[min(len(ordered) - 1, int(len(ordered) * 0.95))]}


class MemorySampler:
    """Resident set of one process, sampled from /proc while a transfer runs."""

    def __init__(self, pid):
        self.pid = pid
        self.samples = []
        self.running = True
        self.thread = threading.Thread(target=self.loop, daemon=True)
        self.thread.start()

    @staticmethod
    def field(pid, name):
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith(name + ":"):
                        return int(line.split()[1])  # kB
        except OSError:
            return None
        return None

    def loop(self):
        while self.running:
            rss = self.field(self.pid, "VmRSS")
            if rss is not None:
                self.samples.append(rss)
            time.sleep(0.05)

    def stop(self):
        self.running = False
        self.thread.join()


def large_transfer(port, size, pid=None, repeats=None, tunnel=False):
    """The body moved `repeats` times: the median run's MB/s with the
    spread; the resident set before the first run and its peak over all."""
    runs = []
    for _ in range(repeats or REPEATS):
        load = load_average()
        runs.append(large_transfer_once(port, size, pid, tunnel))
        runs[-1]["load"] = load
    result = median_of(runs, "mbps")
    if pid:
        result["rss_before_kb"] = runs[0].get("rss_before_kb")
        peaks = [r["rss_peak_kb"] for r in runs if r.get("rss_peak_kb")]
        result["rss_peak_kb"] = max(peaks) if peaks else None
        result["rss_samples"] = sum(r.get("rss_samples", 0) for r in runs)
    for r in runs:
        if "error" in r:
            result["error"] = r["error"]
    return result


def large_transfer_once(port, size, pid=None, tunnel=False):
    """The big body in one request, through the proxy on `port` (nginx
    itself when it is the origin's port); with `tunnel`, a CONNECT to the
    origin first and the request sent inside the tunnel, as to the origin."""
    direct = port == PORT_ORIGIN or tunnel
    url = BIG_PATH if direct else "http://%s:%d%s" % (HOST, PORT_ORIGIN, BIG_PATH)
    before = MemorySampler.field(pid, "VmRSS") if pid else None
    sampler = MemorySampler(pid) if pid else None
    start = time.monotonic()
    total = 0
    with socket.create_connection((HOST, port), timeout=60) as s:
        if tunnel:
            s.sendall(b"CONNECT %s:%d HTTP/1.1\r\nHost: %s:%d\r\n\r\n" % (HOST.encode(), PORT_ORIGIN, HOST.encode(),
                                                                             PORT_ORIGIN))
            head = b""
            while not head.endswith(b"\r\n\r\n"):
                byte = s.recv(1)
                if not byte:
                    break
                head += byte
            if not head.startswith(b"HTTP/1.0 200 "):
                if sampler:
                    sampler.stop()
                return {"mbps": 0.0, "seconds": 0.0, "bytes": 0, "error": "no tunnel: %r" % head[:60]}
        s.sendall(b"GET %s HTTP/1.0\r\nHost: %s:%d\r\n\r\n" % (url.encode(), HOST.encode(), PORT_ORIGIN))
        while True:
            part = s.recv(262144)
            if not part:
                break
            total += len(part)
    elapsed = time.monotonic() - start
    result = {"mbps": size / 1048576 / elapsed, "seconds": elapsed, "bytes": total}
    if sampler:
        sampler.stop()
        result["rss_before_kb"] = before
        result["rss_peak_kb"] = max(sampler.samples) if sampler.samples else None
        result["rss_samples"] = len(sampler.samples)
    if total < size:
        result["error"] = "short transfer: %d of %d bytes" % (total, size)
    return result


MESSAGE_NAMES = {
    1027: "MWM_PROGRESS", 1064: "MWM_CLIENT_ACCEPTED", 1065: "MWM_CONNECTION_DONE",
    1066: "MWM_OPEN_SERVER_SOCKET", 1067: "MWM_CLOSE_SERVER_SOCKET", 1068: "MWM_CLOSE_CLIENT_SOCKET",
    1070: "MWM_REQUEST_ADD", 1071: "MWM_REQUEST_DONE", 1072: "MWM_COOKIE_GET",
    0x8000 + 70: "MWM_REQUEST_BEGUN", 0x8000 + 71: "MWM_REQUEST_ENDED",
    0x8001: "baseline accepted", 0x8002: "baseline round trip", 0x8003: "baseline done", 0x8004: "baseline progress",
}
SERVER_REQUEST = re.compile(rb"^[0-9a-f]{4,8}: (\w+)\((?!\) =)(.*)")
SEND_MESSAGE = re.compile(rb"type=(\d+), flags=[0-9a-f]+, win=([0-9a-f]+), msg=([0-9a-f]+)")


class ServerTrace:
    """The session's wineserver restarted with request tracing (wineserver
    -d1): every call a Wine process makes into it is one line, named. Counts
    are taken between two offsets of the trace, idle noise subtracted."""

    def __init__(self, wine):
        self.wine = wine
        self.path = os.path.join(WORK, "wineserver-trace.txt")
        subprocess.run(["wineserver", "-k"], env=wine.env, timeout=60)
        self.file = open(self.path, "wb")
        self.process = subprocess.Popen(["wineserver", "-f", "-p", "-d1"], env=wine.env,
                                        stdout=subprocess.DEVNULL, stderr=self.file)
        time.sleep(1)

    def offset(self):
        self.file.flush()
        return os.path.getsize(self.path)

    def counts(self, start, end):
        with open(self.path, "rb") as f:
            f.seek(start)
            data = f.read(end - start)
        requests, messages = {}, {}
        for line in data.splitlines():
            m = SERVER_REQUEST.match(line)
            if not m:
                continue
            name = m.group(1).decode()
            requests[name] = requests.get(name, 0) + 1
            if name == "send_message":
                sm = SEND_MESSAGE.search(m.group(2))
                if sm:
                    kind = "sent" if sm.group(1) in (b"0", b"1") else ("to thread" if int(sm.group(2), 16) == 0
                                                                       else "posted")
                    key = (int(sm.group(3), 16), kind)
                    messages[key] = messages.get(key, 0) + 1
        return requests, messages

    def measure(self, requests, send_one):
        """Per request: wineserver calls by name, and messages by number."""
        time.sleep(1)
        start = self.offset()
        began = time.monotonic()
        for _ in range(requests):
            send_one()
        time.sleep(0.5)  # the last connection's end
        elapsed = time.monotonic() - began
        middle = self.offset()
        time.sleep(elapsed)
        end = self.offset()
        busy, busy_messages = self.counts(start, middle)
        idle, idle_messages = self.counts(middle, end)
        per_request = {k: (v - idle.get(k, 0)) / requests for k, v in busy.items()}
        per_message = {k: (v - idle_messages.get(k, 0)) / requests for k, v in busy_messages.items()}
        return {
            "recv": per_request.get("recv_socket", 0),
            "send": per_request.get("send_socket", 0),
            "wineserver": sum(v for v in per_request.values() if v > 0),
            "messages": {"%d %s %s" % (k[0], MESSAGE_NAMES.get(k[0], ""), k[1]): round(v, 2)
                         for k, v in sorted(per_message.items()) if v >= 0.05 and (1024 <= k[0] < 1104 or k[0] >= 0x8000)},
            "top": dict(sorted(((k, round(v, 1)) for k, v in per_request.items() if v >= 0.5),
                               key=lambda kv: -kv[1])[:8]),
        }

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.wine.env, timeout=60)
        stop_process(self.process)
        self.file.close()


# ---------------------------------------------------------------- the run

class Results:
    def __init__(self):
        self.rows = {}     # (section, size, concurrency, target) -> figures
        self.large = {}    # target -> figures
        self.calls = {}    # label -> figures
        self.notes = []

    def put(self, section, size, concurrency, target, figures):
        self.rows[(section, size, concurrency, target)] = figures
        log("  %-9s %-5s c=%-3d %-26s %s" % (section, size, concurrency, target, short(figures)))


def short(figures):
    if "error" in figures:
        return "error: " + figures["error"]
    return "%.0f req/s, median %s ms, p95 %s ms, failed %d" % (
        figures["rps"], fmt_ms(figures.get("p50")), fmt_ms(figures.get("p95")), figures["failed"])


def fmt_ms(value):
    return "-" if value is None else "%d" % value


def run_load(results, section, target_name, port, proxied, args, paths=SIZES):
    for size_name, path, _ in paths:
        url = "http://%s:%d%s" % (HOST, PORT_ORIGIN, path)
        for c in CONCURRENCY:
            figures = ab(url, c, max(args.requests, c), args.seconds, port if proxied else None)
            results.put(section, size_name, c, target_name, figures)


SECTIONS = ["peers", "baseline", "variants", "vellum", "tunnel", "calls", "https"]


def main():
    global REPEATS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--smoke", action="store_true", help="a few requests each, seconds in all")
    parser.add_argument("--requests", type=int, help="requests per ab run (default 2000, smoke 16)")
    parser.add_argument("--seconds", type=int, help="time limit per ab run (default 20, smoke 5)")
    parser.add_argument("--big-mb", type=int, help="size of the large transfer in MB (default 200, smoke 4)")
    parser.add_argument("--only", nargs="+", choices=SECTIONS, default=SECTIONS,
                        help="run only these sections (nginx direct always runs)")
    parser.add_argument("--repeats", type=int,
                        help="runs per rate, the median reported (default %d, smoke 1)" % REPEATS)
    parser.add_argument("--report", metavar="RESULTS_JSON", help="print the report of a saved run again, run nothing")
    args = parser.parse_args()
    if args.report:
        report_again(args.report)
        return
    REPEATS = args.repeats or (1 if args.smoke else REPEATS)
    args.repeats = REPEATS
    args.requests = args.requests or (16 if args.smoke else 2000)
    args.seconds = args.seconds or (5 if args.smoke else 20)
    big_size = (args.big_mb or (4 if args.smoke else 200)) * 1048576
    count_requests = 3 if args.smoke else 30

    os.makedirs(WORK, exist_ok=True)
    www = make_site(big_size)
    results = Results()
    results.load_before = load_average()
    started = time.monotonic()
    nginx = Nginx(www)
    try:
        log("== direct to nginx")
        run_load(results, "forward", "nginx", None, False, args)
        results.large["nginx"] = large_transfer(PORT_ORIGIN, big_size)

        log("== tinyproxy")
        try:
            if "peers" not in args.only:
                raise Skip("not asked for")
            peer = Tinyproxy()
            try:
                run_load(results, "forward", "tinyproxy", peer.port, True, args)
                results.large["tinyproxy"] = large_transfer(peer.port, big_size)
            finally:
                peer.stop()
        except Skip as e:
            results.notes.append("tinyproxy: " + str(e))

        log("== squid (forwarding, nothing cached)")
        try:
            if "peers" not in args.only:
                raise Skip("not asked for")
            peer = Squid(offline=False)
            try:
                run_load(results, "forward", "squid", peer.port, True, args)
                results.large["squid"] = large_transfer(peer.port, big_size)
            finally:
                peer.stop()
        except Skip as e:
            results.notes.append("squid: " + str(e))

        log("== squid (offline_mode, answering from its cache)")
        try:
            if "peers" not in args.only:
                raise Skip("not asked for")
            peer = Squid(offline=True)
            try:
                for _, path, _ in SIZES:
                    for _ in range(2):
                        fetch(peer.port, "http://%s:%d%s" % (HOST, PORT_ORIGIN, path))
                warm = peer.hit_counts()
                run_load(results, "offline", "squid", peer.port, True, args)
                counts = peer.hit_counts()
                served = {k: v - warm.get(k, 0) for k, v in counts.items() if v - warm.get(k, 0) > 0}
                results.notes.append("squid offline answers by cache result: %s" %
                                     ", ".join("%s %d" % kv for kv in sorted(served.items())))
            finally:
                peer.stop()
        except Skip as e:
            results.notes.append("squid offline: " + str(e))

        run_load(results, "offline", "nginx", None, False, args)

        log("== Wine")
        wine = WineSession()
        try:
            run_wine(results, wine, args, big_size, count_requests)
        finally:
            wine.stop()
    finally:
        nginx.stop()

    results.elapsed = time.monotonic() - started
    results.load_after = load_average()
    report(results, args, big_size)


def run_wine(results, wine, args, big_size, count_requests):
    store = os.path.join(WORK, "store")
    shutil.rmtree(store, ignore_errors=True)
    os.makedirs(store)
    url_2k = "http://%s:%d/2k.html" % (HOST, PORT_ORIGIN)
    url_100k = "http://%s:%d/100k.html" % (HOST, PORT_ORIGIN)

    if "baseline" in args.only:
        run_baselines(results, wine, args, big_size)
    if "variants" in args.only and not args.smoke:
        run_variants(results, wine, args, big_size)
    if "tunnel" in args.only:
        run_tunnel(results, wine, big_size, store)
    if "vellum" in args.only:
        run_vellum(results, wine, args, big_size, store, url_2k)
    if "calls" in args.only:
        count_calls(results, wine, count_requests, store, url_2k, url_100k)
    if "https" in args.only:
        run_https(results, wine, args, store)


def run_https(results, wine, args, store):
    """The same page through Vellum over https:// (TLS by Schannel, the
    certificate checked) and over http://, at concurrency 1."""
    log("== vellum online, https:// against http:// at c=1")
    www = os.path.join(WORK, "www")
    try:
        origin = TlsNginx(www)
    except (Skip, OSError, subprocess.SubprocessError) as e:
        results.notes.append("https: " + str(e))
        return
    trust = [os.path.join(BIN, "trust_ca.exe"), wine.windows_path(origin.certificates.ca_der)]
    try:
        if wine.run(trust[0], "add", trust[1]).returncode != 0:
            results.notes.append("https: the test CA could not be trusted")
            return
        vellum = Vellum(wine, "online", store)
        try:
            for size_name, path, _ in SIZES:
                plain = sequential(PORT_VELLUM, "http://%s:%d%s" % (HOST, PORT_ORIGIN, path),
                                   args.requests, args.seconds)
                results.put("https", size_name, 1, "vellum http://", plain)
                secure = sequential(PORT_VELLUM, "https://%s:%d%s" % (HOST, PORT_TLS_ORIGIN, path),
                                    args.requests, args.seconds)
                results.put("https", size_name, 1, "vellum https://", secure)
        finally:
            vellum.stop()
    finally:
        wine.run(trust[0], "remove", trust[1])
        origin.stop()


def run_baselines(results, wine, args, big_size):
    log("== wine_baseline serve (Wine's floor for an origin)")
    base = WineBaseline(wine, "serve", PORT_WINE_SERVE)
    try:
        run_wine_serve(results, base, args)
    finally:
        base.stop()

    log("== wine_baseline relay (Wine's floor for a forwarding proxy)")
    base = WineBaseline(wine, "relay", PORT_WINE_RELAY)
    try:
        run_load(results, "forward", "wine-relay", base.port, True, args)
        results.large["wine-relay"] = large_transfer(base.port, big_size, base.pid)
    finally:
        base.stop()

    # The same two with their threads kept for the next connection, as
    # Vellum keeps its own: under Wine a thread started per connection costs
    # more than a small page, so these are Vellum's yardstick.
    log("== wine_baseline serve --pool (threads kept)")
    base = WineBaseline(wine, "serve", PORT_WINE_SERVE_POOL, "--pool")
    try:
        run_wine_serve(results, base, args, "wine-serve-pool")
    finally:
        base.stop()

    log("== wine_baseline relay --pool (threads kept)")
    base = WineBaseline(wine, "relay", PORT_WINE_RELAY_POOL, "--pool")
    try:
        run_load(results, "forward", "wine-relay-pool", base.port, True, args)
        results.large["wine-relay-pool"] = large_transfer(base.port, big_size, base.pid)
    finally:
        base.stop()



def run_variants(results, wine, args, big_size):
    """Vellum's costs added to the baseline relay one at a time."""
    for label, options in VARIANTS:
        log("== wine_baseline relay %s" % label)
        base = WineBaseline(wine, "relay", PORT_WINE_RELAY, *options)
        try:
            run_load(results, "variant", label, base.port, True, args)
            if label == "+progress per chunk":
                results.large["wine-relay " + label] = large_transfer(base.port, big_size, base.pid)
        finally:
            base.stop()


def run_tunnel(results, wine, big_size, store):
    """The large transfer through a CONNECT tunnel, beside Wine's relay floor."""
    for name, port, options in (("wine-relay", PORT_WINE_RELAY, ()),
                                ("wine-relay-pool", PORT_WINE_RELAY_POOL, ("--pool",))):
        if name in results.large:
            continue
        log("== wine_baseline relay %s, large transfer only" % " ".join(options))
        base = WineBaseline(wine, "relay", port, *options)
        try:
            results.large[name] = large_transfer(base.port, big_size, base.pid)
        finally:
            base.stop()
    log("== vellum tunnel (CONNECT to the origin, the body relayed unread)")
    vellum = Vellum(wine, "online", store)
    try:
        # A first, small tunnel makes the connection thread and its buffers,
        # as the load runs do before the forwarding row's transfer: what the
        # big one adds is then what moving the body costs.
        with socket.create_connection((HOST, vellum.port), timeout=30) as s:
            s.sendall(b"CONNECT %s:%d HTTP/1.0\r\n\r\n" % (HOST.encode(), PORT_ORIGIN))
            answer = s.recv(65536)
            if not answer.startswith(b"HTTP/1.0 200 "):
                raise Skip("vellum opened no tunnel: %r" % answer[:80])
            s.sendall(b"GET /2k.html HTTP/1.0\r\n\r\n")
            while s.recv(65536):
                pass
        time.sleep(1)
        results.large["vellum tunnel"] = large_transfer(vellum.port, big_size, vellum.pid, tunnel=True)
        results.large["vellum tunnel"]["hwm_kb"] = MemorySampler.field(vellum.pid, "VmHWM")
    finally:
        vellum.stop()


def run_vellum(results, wine, args, big_size, store, url_2k):
    log("== vellum online (forwarding, not recording)")
    vellum = Vellum(wine, "online", store)
    try:
        run_load(results, "forward", "vellum", vellum.port, True, args)
        results.large["vellum"] = large_transfer(vellum.port, big_size, vellum.pid)
        results.large["vellum"]["hwm_kb"] = MemorySampler.field(vellum.pid, "VmHWM")
        # Minimized, the main window adds no request to its tree and paints
        # nothing: the difference is what the UI thread's drawing costs.
        if vellum.minimize():
            run_load(results, "forward", "vellum minimized", vellum.port, True, args, SIZES[:1])
        else:
            results.notes.append("vellum: the main window could not be minimized")
    finally:
        vellum.stop()

    log("== vellum recording (every request replaces its recording)")
    vellum = Vellum(wine, "recording", store)
    try:
        run_load(results, "record", "vellum-recording", vellum.port, True, args)
    finally:
        vellum.stop()
    recorded = sorted(os.path.relpath(os.path.join(d, f), store) for d, _, fs in os.walk(store) for f in fs)
    results.notes.append("save folder after recording: " + ", ".join(recorded))

    log("== vellum offline (answering from the save folder)")
    vellum = Vellum(wine, "offline", store)
    try:
        body = fetch(vellum.port, url_2k)
        with open(os.path.join(WORK, "www", "2k.html"), "rb") as f:
            if body != f.read():
                results.notes.append("vellum offline: the recorded 2k page differs from the origin's")
        run_load(results, "offline", "vellum-offline", vellum.port, True, args)
    finally:
        vellum.stop()



def count_calls(results, wine, count_requests, store, url_2k, url_100k):
    if not os.listdir(store):
        # Offline needs something recorded.
        vellum = Vellum(wine, "recording", store)
        try:
            fetch(vellum.port, url_2k)
        finally:
            vellum.stop()
    log("== calls per request (wineserver request trace)")
    trace = ServerTrace(wine)
    try:
        base = WineBaseline(wine, "relay", PORT_WINE_RELAY)
        try:
            results.calls["wine-relay forward 2k"] = trace.measure(count_requests, lambda: fetch(base.port, url_2k))
        finally:
            base.stop()
        base = WineBaseline(wine, "relay", PORT_WINE_RELAY_POOL, "--pool")
        try:
            fetch(base.port, url_2k)  # its first thread started outside the count, as Vellum's is kept
            results.calls["wine-relay-pool forward 2k"] = trace.measure(count_requests,
                                                                        lambda: fetch(base.port, url_2k))
        finally:
            base.stop()
        base = WineBaseline(wine, "relay", PORT_WINE_RELAY, *VARIANTS[-2][1])
        try:
            results.calls["wine-relay %s forward 2k" % VARIANTS[-2][0]] = trace.measure(
                count_requests, lambda: fetch(base.port, url_2k))
        finally:
            base.stop()
        for mode, label, url in (("online", "forward 2k", url_2k), ("online", "forward 100k", url_100k),
                                 ("recording", "record 2k", url_2k), ("offline", "offline 2k", url_2k)):
            vellum = Vellum(wine, mode, store)
            try:
                results.calls["vellum " + label] = trace.measure(count_requests, lambda: fetch(vellum.port, url))
            finally:
                vellum.stop()
    finally:
        trace.stop()
        os.remove(trace.path)  # hundreds of MB after a full run


VARIANTS = [
    ("+1-byte header reads", ["--line-bytes"]),
    ("+1024-byte chunks", ["--line-bytes", "--chunk", "1024"]),
    ("+6 UI round trips", ["--line-bytes", "--chunk", "1024", "--ui", "6"]),
    ("+progress per chunk", ["--line-bytes", "--chunk", "1024", "--ui", "6", "--progress"]),
    ("+listen backlog 5", ["--line-bytes", "--chunk", "1024", "--ui", "6", "--progress", "--backlog", "5"]),
]


def run_wine_serve(results, base, args, name="wine-serve"):
    for size_name, _, size in SIZES:
        for c in CONCURRENCY:
            url = "http://%s:%d/%s" % (HOST, base.port, size_name)
            figures = ab(url, c, max(args.requests, c), args.seconds)
            results.put("offline", size_name, c, name, figures)


# ---------------------------------------------------------------- the report

def ratio(value, reference, higher_is_better=True):
    if value is None or not reference:
        return "-"
    return "%.2f" % (value / reference)


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    wine_version = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL
                                  ).stdout.decode().strip()
    return "%s, %d cores, %s, Linux %s" % (cpu, os.cpu_count(), wine_version, platform.release())


def table(header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |"
    out = [line(header), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    out += [line(r) for r in rows]
    return "\n".join(out)


def load_table(results, section, targets, peers, reference):
    """One row per target, size and concurrency: req/s, median and p95, each
    with its ratio to the best peer and to `reference`."""
    rows = []
    for size_name, _, _ in SIZES:
        for c in CONCURRENCY:
            def lookup(t):
                for s in (section, "forward", "record"):
                    if (s, size_name, c, t) in results.rows:
                        return results.rows[(s, size_name, c, t)]
                return None

            def get(t, key):
                f = lookup(t)
                return f.get(key) if f else None
            best_rps = max((get(p, "rps") for p in peers if get(p, "rps")), default=None)
            best_p50 = min((get(p, "p50") for p in peers if get(p, "p50") is not None), default=None)
            best_p95 = min((get(p, "p95") for p in peers if get(p, "p95") is not None), default=None)
            ref_rps, ref_p50, ref_p95 = get(reference, "rps"), get(reference, "p50"), get(reference, "p95")
            for t in targets:
                f = lookup(t)
                if not f:
                    continue
                if "error" in f:
                    rows.append([size_name, c, t, "error: " + f["error"][:40], "", "", "", "", "", "", "", "", ""])
                    continue
                rows.append([size_name, c, t,
                             "%.0f" % f["rps"], ratio(f["rps"], best_rps), ratio(f["rps"], ref_rps),
                             fmt_ms(f.get("p50")), ratio(f.get("p50"), best_p50), ratio(f.get("p50"), ref_p50),
                             fmt_ms(f.get("p95")), ratio(f.get("p95"), best_p95), ratio(f.get("p95"), ref_p95),
                             "%d" % (f["failed"] + f["non2xx"])])
    return table(["size", "c", "target", "req/s", "×peer", "×nginx", "median ms", "×peer", "×nginx",
                  "p95 ms", "×peer", "×nginx", "failed"], rows)


# Vellum against the cheapest Win32 program of its shape under the same Wine:
# (what, Vellum's section and row, the baseline's section and row, the least ratio asked).
TARGETS = [
    ("forwarding", ("forward", "vellum"), ("forward", "wine-relay-pool"), 0.8),
    ("recording", ("record", "vellum-recording"), ("forward", "wine-relay-pool"), 0.7),
    ("offline serving", ("offline", "vellum-offline"), ("offline", "wine-serve-pool"), 0.8),
]
LARGE_TARGET = 0.8
LARGE_BASELINE = "wine-relay-pool"
CALLS_TARGET = 1.3  # wineserver calls per forwarded page against the pooled relay's


def verdict(met, *figures):
    """"met" or "not met", or "unsure" when a figure's runs spread too far."""
    if any((f or {}).get("spread", 0) > UNSURE_SPREAD for f in figures):
        return "unsure"
    return "met" if met else "not met"


def spread_text(*figures):
    spreads = [f.get("spread") for f in figures if f and f.get("spread") is not None]
    return "±%.0f%%" % (100 * max(spreads) / 2) if spreads else "-"


def load_text(*figures):
    loads = [l for f in figures if f for l in (f.get("load") or []) if l is not None]
    return "%.1f–%.1f" % (min(loads), max(loads)) if loads else "-"


def targets_table(results):
    """Each ratio the targets name, with the floor asked and whether it is
    met; each rate a median, with the spread of its runs and the load
    average around them."""
    def row_of(row, size, c):
        return results.rows.get((row[0], size, c, row[1]))

    rows = []
    for what, target, base, floor in TARGETS:
        for size, _, _ in SIZES:
            for c in CONCURRENCY:
                mine, theirs = row_of(target, size, c), row_of(base, size, c)
                if not mine or not theirs or "rps" not in mine or not theirs.get("rps"):
                    continue
                r = mine["rps"] / theirs["rps"]
                rows.append([what, size, "c=%d" % c, "%.0f req/s" % mine["rps"],
                             "%s %.0f req/s" % (base[1], theirs["rps"]), "%.2f" % r, "≥ %.1f" % floor,
                             spread_text(mine, theirs), load_text(mine, theirs), verdict(r >= floor, mine, theirs)])
    theirs = results.large.get(LARGE_BASELINE)
    for what, row in (("200 MB transfer", "vellum"), ("200 MB tunnel", "vellum tunnel")):
        mine = results.large.get(row)
        if not (mine and theirs and theirs.get("mbps")) or "error" in mine:
            continue
        r = mine["mbps"] / theirs["mbps"]
        before, peak = mine.get("rss_before_kb") or 0, mine.get("rss_peak_kb") or 0
        flat = peak - before < 4096  # less than 4 MB of growth over 200 MB moved
        rows.append([what, "%d MB" % (mine["bytes"] // 1048576), "c=1", "%.1f MB/s" % mine["mbps"],
                     "%s %.1f MB/s" % (LARGE_BASELINE, theirs["mbps"]), "%.2f" % r, "≥ %.1f" % LARGE_TARGET,
                     spread_text(mine, theirs), load_text(mine, theirs),
                     verdict(r >= LARGE_TARGET and flat, mine, theirs) + ", memory %s (%.1f → %.1f MB)" % (
                         "flat" if flat else "grows", before / 1024, peak / 1024)])
    for what, target, _, _ in TARGETS:
        for size, _, _ in SIZES:
            one = row_of(target, size, 1)
            for c in CONCURRENCY[1:]:
                more = row_of(target, size, c)
                if one and more and one.get("rps") and "rps" in more:
                    rows.append([what, size, "c=%d vs c=1" % c, "%.0f req/s" % more["rps"],
                                 "c=1 %.0f req/s" % one["rps"], "%.2f" % (more["rps"] / one["rps"]), "≥ 1.0",
                                 spread_text(more, one), load_text(more, one),
                                 verdict(more["rps"] >= one["rps"], more, one)])
    mine, theirs = results.calls.get("vellum forward 2k"), results.calls.get("wine-relay-pool forward 2k")
    if mine and theirs and theirs.get("wineserver"):
        r = mine["wineserver"] / theirs["wineserver"]
        rows.append(["wineserver calls", "2k", "per page", "%.0f" % mine["wineserver"],
                     "wine-relay-pool %.0f" % theirs["wineserver"], "%.2f" % r, "≤ %.1f" % CALLS_TARGET,
                     "-", "-", "met" if r <= CALLS_TARGET else "not met"])
    if not rows:
        return None
    return table(["target", "size", "load", "vellum", "against", "ratio", "asked", "spread", "load avg", "result"],
                 rows)


def https_table(results):
    rows = []
    for size_name, _, _ in SIZES:
        plain = results.rows.get(("https", size_name, 1, "vellum http://"))
        secure = results.rows.get(("https", size_name, 1, "vellum https://"))
        if not plain or not secure:
            continue
        if "error" in plain or "error" in secure:
            rows.append([size_name, "error: " + (plain.get("error") or secure.get("error")), "", "", "", "", ""])
            continue
        rows.append([size_name, "%.0f" % plain["rps"], "%.0f" % secure["rps"], ratio(secure["rps"], plain["rps"]),
                     "%.1f / %.1f" % (plain["mean_ms"], plain["p50"]), "%.1f / %.1f" % (secure["mean_ms"], secure["p50"]),
                     "%.1f / %.1f ms" % (secure["mean_ms"] - plain["mean_ms"], secure["p50"] - plain["p50"])])
    if not rows:
        return None
    return table(["size", "http:// req/s", "https:// req/s", "×http", "http ms mean / median",
                  "https ms mean / median", "TLS cost mean / median"], rows)


def report(results, args, big_size):
    out = []
    out.append("Machine: " + machine())
    out.append("Mode: %s; ab -n %d -t %d per run, each rate the median of %d runs; large transfer %d MB; %.0f s in all" % (
        "smoke" if args.smoke else "full", args.requests, args.seconds, getattr(args, "repeats", 1),
        big_size // 1048576, results.elapsed))
    before, after = getattr(results, "load_before", None), getattr(results, "load_after", None)
    if before is not None:
        out.append("Load average (1 min): %.2f before the run, %.2f after; a result is \"unsure\" where a rate's"
                   " runs spread more than %d%% around its median" % (before, after or 0, 100 * UNSURE_SPREAD))
    out.append("")
    targets = targets_table(results)
    if targets:
        out.append("Targets: Vellum (main window shown, request tree visible) against the Wine baselines that keep"
                   " their threads")
        out.append(targets)
        out.append("")
    out.append("Forwarding (online, not recording) and recording; peers: tinyproxy, squid; reference: nginx direct")
    out.append(load_table(results, "forward",
                          ["vellum", "vellum minimized", "vellum-recording", "tinyproxy", "squid", "wine-relay",
                           "wine-relay-pool", "nginx"],
                          ["tinyproxy", "squid"], "nginx"))
    out.append("")
    out.append("Offline serving; peer: squid answering from its cache (offline_mode on); reference: nginx serving the files")
    out.append(load_table(results, "offline", ["vellum-offline", "squid", "wine-serve", "wine-serve-pool", "nginx"],
                          ["squid"], "nginx"))
    variants = [k[3] for k in results.rows if k[0] == "variant"]
    if variants:
        out.append("")
        out.append("Cost by difference: the Wine baseline relay with Vellum's costs added one at a time;"
                   " peer: tinyproxy; reference: nginx")
        ordered = ["wine-relay"] + list(dict.fromkeys(variants)) + ["vellum"]
        out.append(load_table(results, "variant", ordered, ["tinyproxy"], "nginx"))
    https = https_table(results)
    if https:
        out.append("")
        out.append("https:// through Vellum (TLS by Schannel, chain and name checked) against the same page over"
                   " http://, concurrency 1, one connection per request; TLS cost = https − http, by mean and by median")
        out.append(https)
    out.append("")
    out.append("Large transfer (%d MB body, one request)" % (big_size // 1048576))
    peers_mbps = [results.large[p]["mbps"] for p in ("tinyproxy", "squid") if p in results.large]
    best = max(peers_mbps, default=None)
    ref = results.large.get("nginx", {}).get("mbps")
    rows = []
    for t, f in results.large.items():
        memory = ""
        if f.get("rss_peak_kb"):
            memory = "RSS %.1f MB before, %.1f MB peak (%d samples)" % (
                (f["rss_before_kb"] or 0) / 1024, f["rss_peak_kb"] / 1024, f["rss_samples"])
            if f.get("hwm_kb"):
                memory += ", high-water %.1f MB" % (f["hwm_kb"] / 1024)
        rows.append([t, "%.1f" % f["mbps"], ratio(f["mbps"], best), ratio(f["mbps"], ref), memory + (
            " " + f["error"] if "error" in f else "")])
    out.append(table(["target", "MB/s", "×peer", "×nginx", "memory"], rows))
    if results.calls:
        out.append("")
        out.append("Per request (counted in the wineserver's request trace, wineserver -d1, idle window subtracted):"
                   " recv/send = Winsock calls (one recv_socket/send_socket each); wineserver = every call into it"
                   " by any process of the session; messages = window and thread messages by number")
        rows = [[label, "%.1f" % c["recv"], "%.1f" % c["send"], "%.0f" % c["wineserver"],
                 ", ".join("%s ×%g" % kv for kv in c["messages"].items())]
                for label, c in results.calls.items()]
        out.append(table(["request", "recv", "send", "wineserver calls", "messages"], rows))
        rows = [[label, ", ".join("%s %g" % kv for kv in c["top"].items())] for label, c in results.calls.items()]
        out.append(table(["request", "most frequent wineserver calls"], rows))
    if results.notes:
        out.append("")
        out.extend("Note: " + n for n in results.notes if not n.endswith("not asked for"))
    text = "\n".join(out)
    print(text)
    with open(os.path.join(WORK, "results.txt"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump({"rows": {"|".join(map(str, k)): v for k, v in results.rows.items()},
                   "large": results.large, "calls": results.calls, "notes": results.notes,
                   "elapsed": results.elapsed, "load": [getattr(results, "load_before", None),
                                                        getattr(results, "load_after", None)],
                   "mode": {"smoke": args.smoke, "requests": args.requests, "seconds": args.seconds,
                            "repeats": getattr(args, "repeats", 1), "big_size": big_size}}, f, indent=1)


def report_again(path):
    """The report of a run saved in results.json, printed again."""
    with open(path) as f:
        saved = json.load(f)
    results = Results()
    for key, figures in saved["rows"].items():
        section, size, c, target = key.split("|")
        results.rows[(section, size, int(c), target)] = figures
    results.large, results.calls, results.notes = saved["large"], saved["calls"], saved["notes"]
    results.elapsed = saved.get("elapsed", 0)
    results.load_before, results.load_after = (saved.get("load") or [None, None])
    mode = saved.get("mode", {})
    args = argparse.Namespace(smoke=mode.get("smoke", False), requests=mode.get("requests", 2000),
                              seconds=mode.get("seconds", 20), repeats=mode.get("repeats", 1))
    report(results, args, mode.get("big_size", 200 * 1048576))


if __name__ == "__main__":
    try:
        main()
    except Skip as e:
        print("bench: skipped: %s" % e)
        sys.exit(0)
