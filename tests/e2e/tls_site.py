"""An https:// test site made when a test runs: a test CA and leaf
certificates made with openssl (nothing is checked in that could expire),
nginx serving TLS with them on this machine's non-loopback address, and the
CA trusted by the Wine prefix through tests/tools/trust_ca.exe.

    site = TlsSite(work, root)     # certificates made, nginx started
    site.trust()                   # Wine's CurrentUser Root store takes the CA
    site.url("good", "/index.html")
    ...
    site.stop()                    # nginx stopped, the CA removed again

One nginx serves `root` on four TLS ports, one per kind of certificate:
  good        issued by the trusted test CA for the site's address
  wrong_name  issued by the trusted test CA for another name
  expired     issued by the trusted test CA, valid only in 2020
  untrusted   issued for the site's address by a CA nobody trusts
and, for comparisons, the same root over plain http on `http_port`.

Beside it: CutHandshake (a TLS server that sends half of the real server's
first answer and closes) and Silent (accepts, reads, never answers)."""
import os
import shutil
import socket
import subprocess
import threading
import time

OPENSSL = shutil.which("openssl")
NGINX = shutil.which("nginx") or ("/usr/sbin/nginx" if os.path.exists("/usr/sbin/nginx") else None)
KINDS = ("good", "wrong_name", "expired", "untrusted")
WRONG_NAME = "elsewhere.invalid"


def site_address():
    """An address of this machine that is not loopback: Chromium sends
    loopback hosts past any PAC script straight to the server, and the test
    site must go through Vellum. None when the machine has no such address."""
    try:
        words = subprocess.run(["hostname", "-I"], stdout=subprocess.PIPE, timeout=10).stdout.decode().split()
    except (OSError, subprocess.SubprocessError):
        return None
    return next((w for w in words if "." in w and not w.startswith("127.")), None)


SITE_ADDRESS = site_address()


def available():
    """Why the site can't be made here, or None when it can."""
    if not OPENSSL or not NGINX:
        return "openssl and nginx are needed (scripts/setup-debian.sh installs them)"
    if not SITE_ADDRESS:
        return "an address other than loopback is needed"
    return None


def port_open(address, port):
    try:
        socket.create_connection((address, port), timeout=1).close()
        return True
    except OSError:
        return False


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


class Certificates:
    """The CAs and leaves in `folder`, made with openssl."""

    def __init__(self, folder, address):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.address = address
        self.ca = self._ca("ca", "Vellum Test CA")
        self.other_ca = self._ca("other-ca", "Untrusted Test CA")
        names = "subjectAltName=IP:%s,DNS:%s" % (address, address)
        self.leaves = {
            "good": self._leaf("good", self.ca, address, names),
            "wrong_name": self._leaf("wrong-name", self.ca, WRONG_NAME, "subjectAltName=DNS:" + WRONG_NAME),
            "expired": self._leaf("expired", self.ca, address, names, dates=("20200101000000Z", "20200102000000Z")),
            "untrusted": self._leaf("untrusted", self.other_ca, address, names),
        }
        self.ca_der = self.path("ca.der")
        self._run("x509", "-in", self.ca["cert"], "-outform", "DER", "-out", self.ca_der)

    def path(self, name):
        return os.path.join(self.folder, name)

    def _run(self, *args):
        subprocess.run([OPENSSL, *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=120)

    def _ca(self, name, common_name):
        key, cert = self.path(name + ".key"), self.path(name + ".pem")
        self._run("req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2",
                  "-keyout", key, "-out", cert, "-subj", "/CN=" + common_name,
                  "-addext", "basicConstraints=critical,CA:TRUE",
                  "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        # What `openssl ca` keeps for the CA (the expired leaf needs it: only
        # it takes dates in the past).
        os.makedirs(self.path(name + "-issued"), exist_ok=True)
        open(self.path(name + "-index.txt"), "w").close()
        with open(self.path(name + ".cnf"), "w") as f:
            f.write("[ca]\ndefault_ca = this\n[this]\ndir = %s\ndatabase = %s\nnew_certs_dir = %s\n"
                    "certificate = %s\nprivate_key = %s\nserial = %s\ndefault_md = sha256\n"
                    "policy = anything\nunique_subject = no\ncopy_extensions = none\n"
                    "[anything]\ncommonName = supplied\n"
                    % (self.folder, self.path(name + "-index.txt"), self.path(name + "-issued"), cert, key,
                       self.path(name + ".serial")))
        with open(self.path(name + ".serial"), "w") as f:
            f.write("%016X\n" % (int.from_bytes(os.urandom(7), "big") | 1))
        return {"name": name, "key": key, "cert": cert, "cnf": self.path(name + ".cnf")}

    def _leaf(self, name, ca, common_name, names, dates=None):
        key, csr, cert = self.path(name + ".key"), self.path(name + ".csr"), self.path(name + ".pem")
        ext = self.path(name + ".ext")
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\n%s\n" % names)
        self._run("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                  "-subj", "/CN=" + common_name)
        start, end = dates or (time.strftime("%Y%m%d%H%M%SZ", time.gmtime(time.time())),
                               time.strftime("%Y%m%d%H%M%SZ", time.gmtime(time.time() + 86400)))
        self._run("ca", "-batch", "-config", ca["cnf"], "-in", csr, "-out", cert, "-notext",
                  "-startdate", start, "-enddate", end, "-extfile", ext)
        return {"key": key, "cert": cert}


class TlsSite:
    """nginx serving `root` over TLS (one port per certificate kind, from
    `base_port` on) and over plain http on `http_port`, on `address`. `extra`
    is added to every server block (locations of a test's own)."""

    def __init__(self, work, root, base_port=28460, address=None, http_port=None, log_name="access.log", extra=""):
        self.work = work
        self.address = address or SITE_ADDRESS
        self.ports = {kind: base_port + i for i, kind in enumerate(KINDS)}
        self.http_port = http_port if http_port is not None else base_port + len(KINDS)
        self.access_log = os.path.join(work, log_name)
        self.certificates = Certificates(os.path.join(work, "tls"), self.address)
        self.trusted = False
        servers = ""
        for kind, port in self.ports.items():
            leaf = self.certificates.leaves[kind]
            servers += ("  server { listen %s:%d ssl; root %s; ssl_certificate %s; ssl_certificate_key %s;\n"
                        "    ssl_protocols TLSv1.2 TLSv1.3; %s }\n"
                        % (self.address, port, root, leaf["cert"], leaf["key"], extra))
        servers += "  server { listen %s:%d; root %s; %s }\n" % (self.address, self.http_port, root, extra)
        conf = os.path.join(work, "tls-nginx.conf")
        with open(conf, "w") as f:
            f.write("worker_processes 1; daemon off; pid %s/tls-nginx.pid; error_log %s/tls-error.log;\n"
                    "events { worker_connections 256; }\n"
                    "http { log_format timed '$msec \"$request\" $status $body_bytes_sent $server_port \"$http_cookie\"';\n"
                    "  access_log %s timed; include /etc/nginx/mime.types;\n"
                    "  default_type application/octet-stream;\n%s}\n"
                    % (work, work, self.access_log, servers))
        self.process = subprocess.Popen([NGINX, "-c", conf, "-p", work],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        every = list(self.ports.values()) + [self.http_port]
        if not wait_for(lambda: all(port_open(self.address, p) for p in every), 20):
            self.stop()
            raise RuntimeError("nginx did not start with TLS")

    def host(self, kind="good"):
        return "%s:%d" % (self.address, self.ports[kind])

    def url(self, kind="good", path="/"):
        return "https://%s%s" % (self.host(kind), path)

    def http_url(self, path="/"):
        return "http://%s:%d%s" % (self.address, self.http_port, path)

    def trust(self):
        """Wine's CurrentUser Root store takes the test CA."""
        self._trust_ca("add")
        self.trusted = True

    def untrust(self):
        if self.trusted:
            self._trust_ca("remove")
            self.trusted = False

    def _trust_ca(self, verb):
        tool = os.path.join(os.environ["VELLUM_BIN"], "trust_ca.exe")
        subprocess.run([os.environ["VELLUM_WINE_RUN"], tool, verb, self.certificates.ca_der], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)

    def served(self, kind="good"):
        """(path, status) of each request nginx answered on `kind`'s port
        ("http" for the plain one), in order."""
        return [(path, status) for path, status, _ in self.requests(kind)]

    def requests(self, kind="good"):
        """(path, status, Cookie header or "-") of each request on `kind`'s port, in order."""
        if not os.path.exists(self.access_log):
            return []
        port = str(self.ports[kind]) if kind in self.ports else str(self.http_port)
        found = []
        with open(self.access_log, encoding="latin-1") as f:
            for line in f:
                parts = line.rstrip("\n").split('"')
                if len(parts) < 4:
                    continue
                words = parts[2].split()
                if len(words) == 3 and words[2] == port:
                    request = parts[1].split(" ")
                    found.append((request[1] if len(request) > 1 else "", int(words[0]), parts[3]))
        return found

    def stop(self):
        try:
            self.untrust()
        finally:
            if self.process.poll() is None:
                self.process.terminate()
                self.process.wait(20)


class _Listener:
    """A TCP listener on `address` whose connections `serve(client)` handles,
    each on its own thread."""

    def __init__(self, address):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((address, 0))
        self.listener.listen(16)
        self.address = address
        self.port = self.listener.getsockname()[1]
        self.accepted = 0
        self.held = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            self.accepted += 1
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    def url(self, path="/"):
        return "https://%s:%d%s" % (self.address, self.port, path)

    def close(self):
        self.listener.close()
        for client in self.held:
            try:
                client.close()
            except OSError:
                pass


class CutHandshake(_Listener):
    """Passes the client's first bytes to the real TLS server at `upstream`
    (address, port), sends back half of the server's first answer and
    closes: a handshake cut half-way."""

    def __init__(self, address, upstream):
        self.upstream = upstream
        super().__init__(address)

    def serve(self, client):
        try:
            client.settimeout(30)
            hello = client.recv(65536)
            server = socket.create_connection(self.upstream, timeout=30)
            server.sendall(hello)
            answer = b""
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and len(answer) < 2000:
                server.settimeout(max(0.1, deadline - time.monotonic()))
                try:
                    chunk = server.recv(65536)
                except socket.timeout:
                    break
                if not chunk:
                    break
                answer += chunk
            server.close()
            client.sendall(answer[:len(answer) // 2])
        except OSError:
            pass
        finally:
            client.close()


class Silent(_Listener):
    """Accepts and reads, but never answers and never closes until closed itself."""

    def serve(self, client):
        self.held.append(client)
        try:
            while client.recv(65536):
                pass
        except OSError:
            pass
