#!/usr/bin/env python3
"""Crawl benchmark: Vellum's auto-get against wget and httrack over the same
real site on loopback, and auto-get over a large generated site.

nginx serves Debian's Python documentation; each crawler starts from its
start page into a fresh folder:
  - Vellum's auto-get, started as a user does: the start page reserved
    through a reservation connection, then a run with unlimited depth inside
    the start directory and update check "always", timed from the start
    command to the end message;
  - wget --mirror --no-parent -e robots=off, one request per connection
    (--no-http-keep-alive), and with keep-alive;
  - httrack, restricted to the start directory, without its throttles.
Over the documentation (and the smoke run's site) the full sets follow:
auto-get with the job's page requisites and wget -p (--page-requisites), set
against each other and against httrack, which fetches requisites anyway.
What each fetched is read from nginx's access log, so the figures of all
three mean the same. Vellum's run is also checked against the reference
crawler's prediction of the URLs it requests, its memory is sampled from
/proc, and its cost per page is set against the same program forwarding a
page of the same size at concurrency 1.

    python3 bench/crawl.py              3 runs each, site of 20,000 pages
    python3 bench/crawl.py --quick      1 run each
    python3 bench/crawl.py --smoke      a generated site of 20 pages, 1 run each
    python3 bench/crawl.py --site-pages 2000
    python3 bench/crawl.py --limit 900  stop an auto-get run still going after 900 s

bench/run.sh --crawl installs what is missing, builds Vellum and runs this.
"""
import argparse
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "reference"))
import bench  # noqa: E402
from bench import Skip, log, machine, stop_process, table, wait_port, port_free  # noqa: E402
from make_site import make_site  # noqa: E402

WORK = os.path.join(bench.WORK, "crawl")
DOCS = "/usr/share/doc/python3-doc/html"
HOST = "127.0.0.1"
PORT_DOCS = 28410
PORT_SITE = 28411
PORT_VELLUM = 28413
UNLIMITED = 100  # the deepest link depth a job can have
COMPANION = re.compile(r"\(\d{14} [^()]*\)$")
DONE = "自動取得を終了しました。"
HTML_PATH = re.compile(r"(\.html?|/)$")


# ---------------------------------------------------------------- the origin

class Origin:
    """nginx serving the documentation on one port and the generated site on
    another, each with an access log that stamps every request."""

    def __init__(self, site):
        self.dir = os.path.join(WORK, "nginx")
        os.makedirs(self.dir, exist_ok=True)
        self.logs = {PORT_DOCS: os.path.join(self.dir, "docs.log"), PORT_SITE: os.path.join(self.dir, "site.log")}
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""daemon off;
worker_processes 1;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log warn;
events {{ worker_connections 256; }}
http {{
    log_format timed '$msec "$request" $status $body_bytes_sent';
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    client_body_temp_path {self.dir}/body;
    proxy_temp_path {self.dir}/proxy;
    fastcgi_temp_path {self.dir}/fastcgi;
    uwsgi_temp_path {self.dir}/uwsgi;
    scgi_temp_path {self.dir}/scgi;
    server {{ listen {HOST}:{PORT_DOCS}; root {DOCS}; access_log {self.logs[PORT_DOCS]} timed; }}
    server {{ listen {HOST}:{PORT_SITE}; root {site}; access_log {self.logs[PORT_SITE]} timed; }}
}}
""")
        self.process = subprocess.Popen(["nginx", "-c", conf, "-p", self.dir],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not (wait_port(PORT_DOCS, 20) and wait_port(PORT_SITE, 5)):
            self.stop()
            raise Skip("nginx did not start (see %s/error.log)" % self.dir)

    def mark(self, port):
        try:
            return os.path.getsize(self.logs[port])
        except OSError:
            return 0

    def served(self, port, offset):
        """(time, path, status, body bytes) of each request since `offset`."""
        with open(self.logs[port], "rb") as f:
            f.seek(offset)
            lines = f.read().decode("latin-1").splitlines()
        out = []
        for line in lines:
            parts = line.split('"')
            if len(parts) < 3:
                continue
            request = parts[1].split(" ")
            status, size = parts[2].split()
            out.append((float(parts[0]), request[1] if len(request) > 1 else "", int(status), int(size)))
        return out

    def stop(self):
        stop_process(self.process)


# ---------------------------------------------------------------- the figures

def output_files(folder):
    """(count, bytes) of the pages a crawler wrote: everything below its
    folder for the origin's host, without Vellum's empty companion files."""
    count = size = 0
    for name in os.listdir(folder):
        top = os.path.join(folder, name)
        if not (name.startswith(HOST) and os.path.isdir(top)):
            continue
        for where, _, names in os.walk(top):
            for file_name in names:
                if COMPANION.search(file_name):
                    continue
                count += 1
                size += os.path.getsize(os.path.join(where, file_name))
    return count, size


def figures(served, seconds, folder):
    ok = [r for r in served if r[2] == 200]
    html = [r for r in ok if HTML_PATH.search(r[1])]
    files, size = output_files(folder)
    return {"seconds": seconds, "requests": len(served), "ok": len(ok), "html": len(html),
            "served_bytes": sum(r[3] for r in ok), "files": files, "bytes": size,
            "pages_per_s": len(html) / seconds if seconds > 0 else 0,
            "paths": sorted({r[1] for r in ok})}


def tenths(served):
    """The times of the first and last HTML page, and the pages between, in
    the first, middle and last tenth of the HTML pages; none for fewer than 10."""
    times = [r[0] for r in served if r[2] == 200 and HTML_PATH.search(r[1])]
    if len(times) < 10:
        return None
    n = len(times)
    tenth = max(n // 10, 2)
    return [(times[first], times[first + tenth - 1], tenth - 1) for first in (0, n // 2 - tenth // 2, n - tenth)]


def rates(served):
    """HTML pages/s over the first, middle and last tenth of the HTML pages."""
    windows = tenths(served)
    if not windows:
        return None
    return tuple(pages / (end - start) if end > start else None for start, end, pages in windows)


def ui_cost(served, ui, began_wall, began):
    """The UI thread's CPU milliseconds per HTML page over the first, middle
    and last tenth of the pages: the auto-get window's tree work per page
    (the page's links become tree items) as the tree grows."""
    windows = tenths(served)
    if not windows or len(ui) < 2:
        return None

    def cpu_at(wall_time):
        moment = wall_time - began_wall + began  # nginx's log times are wall-clock
        return min(ui, key=lambda s: abs(s[0] - moment))[1]

    def cost(start, end, pages):
        if end - start < 1.0:  # shorter than two samples: nothing to tell
            return None
        return (cpu_at(end) - cpu_at(start)) * 1000 / pages
    return tuple(cost(*window) for window in windows)


TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(stat_path):
    """User plus system time of a process or thread from its stat file."""
    try:
        with open(stat_path) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS
    except (OSError, IndexError, ValueError):
        return None


def wineserver_pid():
    prefix = ("WINEPREFIX=" + os.path.join(bench.WORK, "wine", "prefix")).encode()
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
        if cmdline and b"wineserver" in os.path.basename(cmdline[0]) and prefix in environ:
            return int(pid)
    return None


class MemorySampler(bench.MemorySampler):
    """Resident set every half second, with the time of each sample, and the
    CPU time of each of the process's threads as last seen (a thread that
    ended keeps its last reading)."""

    def __init__(self, pid):
        self.threads = {}
        self.ui = []  # (time, CPU seconds of the UI thread)
        super().__init__(pid)

    def loop(self):
        while self.running:
            rss = self.field(self.pid, "VmRSS")
            if rss is not None:
                self.samples.append((time.monotonic(), rss))
            try:
                tids = os.listdir("/proc/%d/task" % self.pid)
            except OSError:
                tids = []
            for tid in tids:
                seconds = cpu_seconds("/proc/%d/task/%s/stat" % (self.pid, tid))
                if seconds is not None:
                    self.threads[int(tid)] = seconds
                    if int(tid) == self.pid:
                        self.ui.append((time.monotonic(), seconds))
            time.sleep(0.5)


# ---------------------------------------------------------------- the crawlers

def fresh(name):
    folder = os.path.join(WORK, "out", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def run_wget(origin, port, start, keep_alive, run, requisites=False):
    folder = fresh("wget-%s%s-%d-%d" % ("ka" if keep_alive else "1", "-p" if requisites else "", port, run))
    command = ["wget", "--mirror", "--no-parent", "-e", "robots=off", "-q", "-P", folder]
    if not keep_alive:
        command.append("--no-http-keep-alive")
    if requisites:
        command.append("--page-requisites")
    offset = origin.mark(port)
    began = time.monotonic()
    subprocess.run(command + ["http://%s:%d/%s" % (HOST, port, start)], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=3600)
    return figures(origin.served(port, offset), time.monotonic() - began, folder)


def run_httrack(origin, port, start, run):
    folder = fresh("httrack-%d-%d" % (port, run))
    # Restricted to the start directory and below (-D) on this host (-a);
    # robots ignored, no cache, no top index or error pages; no probing of
    # the type of each link before fetching it (-u0: with it, one page a
    # second); the limits on connections per second and transfer rate lifted
    # past the built-in caps (-%!), 8 connections as by default.
    command = ["httrack", "http://%s:%d/%s" % (HOST, port, start), "-O", folder, "-q", "-D", "-a", "-s0",
               "-C0", "-I0", "-o0", "-u0", "-c8", "-%c100", "-A100000000", "-%!"]
    offset = origin.mark(port)
    began = time.monotonic()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                   timeout=3600, cwd=folder)
    return figures(origin.served(port, offset), time.monotonic() - began, folder)


class VellumCrawl:
    """vellum.exe in one Wine session, driven through vellum_probe as a user."""

    def __init__(self, wine, binaries, limit):
        self.wine = wine
        self.bin = binaries
        self.limit = limit  # seconds a run may take before it is stopped

    def probe(self, *args, timeout=120):
        done = subprocess.run(["wine", os.path.join(self.bin, "vellum_probe.exe"), *args], env=self.wine.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout)
        words = done.stdout.decode("ascii", "replace").split()
        return done.returncode, (words[0] if words else "")

    def tree_size(self):
        done = subprocess.run(["wine", os.path.join(self.bin, "vellum_probe.exe"), "tree", "VELLUM_REC", "115"],
                              env=self.wine.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=3600)
        return len(done.stdout.splitlines())

    def run(self, origin, port, start, run, forward_path, forward_requests, count_tree, requisites=False):
        folder = fresh("vellum-%s%d-%d" % ("p-" if requisites else "", port, run))
        windows_folder = self.wine.windows_path(folder)
        self.probe("delete-address")
        self.probe("clear-settings")
        code, _ = self.probe("settings", "localPath=s:" + windows_folder, "internet=d:1", "localize=d:0", "log=d:0",
                             "recStatusLink=d:%d" % UNLIMITED, "recStatusModify=d:2", "recStatusLimit=d:0",
                             "recStatusRetry=d:0", "recStatusRequisites=d:%d" % (1 if requisites else 0))
        if code != 0:
            raise Skip("vellum_probe could not write the settings")
        process = subprocess.Popen(["wine", os.path.join(self.bin, "vellum.exe"), "%s:%d" % (HOST, PORT_VELLUM)],
                                   env=self.wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_port(PORT_VELLUM, 60):
                raise Skip("vellum.exe did not start listening")
            pid = bench.wine_process_of(process, "vellum.exe")
            url = "http://%s:%d/%s" % (HOST, port, start)
            # The reservation, as the browser component sends it.
            with socket.create_connection((HOST, PORT_VELLUM), timeout=10) as s:
                s.sendall(("TESSEL.DLL\r\nReserveAutoGet\r\nGET %s HTTP/1.0\r\nUser-Agent: Mozilla/5.0 (crawl bench)"
                           "\r\n\r\n" % url).encode())
            deadline = time.monotonic() + 30
            while self.tree_size() != 1:
                if time.monotonic() > deadline:
                    raise Skip("the start page was not reserved")
                time.sleep(0.3)

            offset = origin.mark(port)
            server = wineserver_pid()
            cpu_before = {"process": cpu_seconds("/proc/%d/stat" % pid),
                          "wineserver": cpu_seconds("/proc/%d/stat" % server) if server else None,
                          "threads": {int(t): cpu_seconds("/proc/%d/task/%s/stat" % (pid, t))
                                      for t in os.listdir("/proc/%d/task" % pid)}}
            sampler = MemorySampler(pid)
            rss_before = MemorySampler.field(pid, "VmRSS")
            began = time.monotonic()
            began_wall = time.time()
            self.probe("autoget-start")
            code, text = self.probe("message-box", str(self.limit), "ok", timeout=self.limit + 100)
            seconds = time.monotonic() - began
            stopped = code != 0
            if stopped:
                # Stopped as a user would: ストップ, "yes" to its question, then the end message.
                self.probe("autoget-stop")
                for _ in range(2):
                    self.probe("message-box", "60", "yes", timeout=160)
            sampler.stop()
            cpu = {"process": cpu_seconds("/proc/%d/stat" % pid) - cpu_before["process"]}
            if server and cpu_before["wineserver"] is not None:
                cpu["wineserver"] = cpu_seconds("/proc/%d/stat" % server) - cpu_before["wineserver"]
            threads = sorted(((seconds - (cpu_before["threads"].get(tid) or 0), tid == pid)
                              for tid, seconds in sampler.threads.items()), reverse=True)
            cpu["main thread"] = next((s for s, main in threads if main), 0)
            cpu["busiest other threads"] = [round(s, 1) for s, main in threads if not main][:3]
            end_text = bytes.fromhex(text).decode("cp932") if code == 0 and text != "none" else None
            served = origin.served(port, offset)
            result = figures(served, seconds, folder)
            result["end_text"] = end_text
            result["stopped_after"] = round(seconds) if stopped else None
            result["requested"] = [r[1] for r in served]
            result["rates"] = rates(served)
            result["ui_ms_per_page"] = ui_cost(served, sampler.ui, began_wall, began)
            result["cpu"] = cpu
            result["memory"] = memory_figures(sampler.samples, began, seconds, rss_before)
            result["hwm_kb"] = MemorySampler.field(pid, "VmHWM")
            if count_tree:
                result["tree_nodes"] = self.tree_size()
            result["folder_length"] = len(windows_folder.encode())
            if forward_path:
                result["forward"] = bench.ab("http://%s:%d%s" % (HOST, port, forward_path), 1, forward_requests,
                                             60, PORT_VELLUM)
                result["forward"]["path"] = forward_path
            return result
        finally:
            self.probe("close")
            try:
                process.wait(120)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            port_free(PORT_VELLUM)


def memory_figures(samples, began, seconds, before):
    """Resident set (MB) at a tenth, half, nine tenths and the end of the run, and its peak."""
    if not samples:
        return None

    def at(share):
        moment = began + seconds * share
        return min(samples, key=lambda s: abs(s[0] - moment))[1] / 1024
    return {"before": (before or 0) / 1024, "10%": at(0.1), "50%": at(0.5), "90%": at(0.9), "end": at(1.0),
            "peak": max(s[1] for s in samples) / 1024, "samples": len(samples)}


def predicted(port, start, folder_length, requisites=False):
    """The paths the reference crawler says auto-get requests, in order, and its tree's size."""
    from reference_crawler import ReferenceCrawl
    root = DOCS if port == PORT_DOCS else os.path.join(WORK, "site")
    crawl = ReferenceCrawl(root, "%s:%d" % (HOST, port), folder_length)
    crawl.run("http://%s:%d/%s" % (HOST, port, start), UNLIMITED, requisites=requisites)
    return [u[u.index("/", 7):] for u in crawl.requested], sum(1 for _ in crawl.tree.walk())


def median_page(port, start, served_paths):
    """The served HTML page whose size is nearest the median of them all."""
    root = DOCS if port == PORT_DOCS else os.path.join(WORK, "site")
    sizes = []
    for path in served_paths:
        if HTML_PATH.search(path) and not path.endswith("/"):
            name = os.path.join(root, path.lstrip("/"))
            if os.path.isfile(name):
                sizes.append((os.path.getsize(name), path))
    if not sizes:
        return "/" + start, 0
    sizes.sort()
    return sizes[len(sizes) // 2][1], sizes[len(sizes) // 2][0]


# ---------------------------------------------------------------- the run

def median_of(runs):
    """Each numeric figure's median over the runs; lists from the first run."""
    out = dict(runs[0])
    for key, value in runs[0].items():
        if isinstance(value, (int, float)) and not isinstance(value, bool):
            out[key] = statistics.median(r[key] for r in runs)
    out["runs"] = len(runs)
    return out


def crawl_site(results, origin, vellum, port, start, runs, args, label, full_sets):
    log("== %s: wget, httrack and auto-get from /%s, %d run(s) each" % (label, start, runs))
    crawlers = {}
    crawlers["wget (1 request per connection)"] = [run_wget(origin, port, start, False, i) for i in range(runs)]
    log("  wget: %.1f s" % crawlers["wget (1 request per connection)"][0]["seconds"])
    crawlers["wget (keep-alive)"] = [run_wget(origin, port, start, True, i) for i in range(runs)]
    if shutil.which("httrack"):
        crawlers["httrack"] = [run_httrack(origin, port, start, i) for i in range(runs)]
        log("  httrack: %.1f s" % crawlers["httrack"][0]["seconds"])
    else:
        results["notes"].append("httrack is not installed")
    forward_path, forward_size = median_page(port, start, crawlers["wget (1 request per connection)"][0]["paths"])
    vellum_runs = []
    for i in range(runs):
        vellum_runs.append(vellum.run(origin, port, start, i, forward_path, args.forward_requests,
                                      count_tree=args.smoke))
        log("  auto-get run %d: %.1f s, %d requests" % (i + 1, vellum_runs[-1]["seconds"],
                                                        vellum_runs[-1]["requests"]))
    crawlers["vellum auto-get"] = vellum_runs
    # The full sets: what a page needs to be displayed, fetched too.
    full_runs = []
    if full_sets:
        crawlers[FULL_WGET] = [run_wget(origin, port, start, False, i, requisites=True) for i in range(runs)]
        log("  wget -p: %.1f s" % crawlers[FULL_WGET][0]["seconds"])
    for i in range(runs if full_sets else 0):
        full_runs.append(vellum.run(origin, port, start, i, None, 0, count_tree=args.smoke, requisites=True))
        log("  auto-get with page requisites, run %d: %.1f s, %d requests" % (
            i + 1, full_runs[-1]["seconds"], full_runs[-1]["requests"]))
    if full_runs:
        crawlers[FULL_VELLUM] = full_runs
    check = []
    for prefix, runs_of, requisites in (("", vellum_runs, False), ("with page requisites, ", full_runs, True)):
        if not runs_of:
            continue
        expected, nodes = predicted(port, start, runs_of[0]["folder_length"], requisites)
        for i, r in enumerate(runs_of):
            if r["requested"] == expected:
                check.append("%srun %d: the %d requests predicted, in order" % (prefix, i + 1, len(expected)))
            else:
                missing = sorted(set(expected) - set(r["requested"]))
                extra = sorted(set(r["requested"]) - set(expected))
                check.append("%srun %d: DIFFERS from the prediction: %d requests against %d predicted; "
                             "%d missing (%s), %d not predicted (%s)" % (
                                 prefix, i + 1, len(r["requested"]), len(expected), len(missing),
                                 ", ".join(missing[:5]), len(extra), ", ".join(extra[:5])))
        if not requisites:
            tree_nodes = nodes
    results["sites"][label] = {
        "start": "/" + start, "crawlers": {name: median_of(rs) for name, rs in crawlers.items()},
        "check": check, "tree_nodes_predicted": tree_nodes, "forward_size": forward_size,
        "vellum_runs": [{k: v for k, v in r.items() if k not in ("paths", "requested")} for r in vellum_runs],
    }


FULL_WGET = "wget -p (page requisites)"
FULL_VELLUM = "vellum auto-get with page requisites"


def differences(site):
    """How each crawler's set of fetched files differs from wget's; auto-get's
    full set from wget -p's and httrack's (which fetches requisites anyway)."""
    crawlers = site["crawlers"]
    lines = []
    for name, f in crawlers.items():
        if name.startswith("wget") or name == FULL_VELLUM:
            continue
        lines.append(set_line(crawlers, "wget (1 request per connection)", "wget", name))
    if FULL_VELLUM in crawlers:
        for other, short in ((FULL_WGET, "wget -p"), ("httrack", "httrack")):
            if other in crawlers:
                lines.append(set_line(crawlers, other, short, FULL_VELLUM))
    return lines


def set_line(crawlers, reference_name, short, name):
    reference = set(crawlers[reference_name]["paths"])
    own = set(crawlers[name]["paths"])
    return "%s: %d of %s's %d files; %s only: %s; %s only: %s" % (
        name, len(own & reference), short, len(reference), short, by_extension(reference - own), name,
        by_extension(own - reference))


def by_extension(paths):
    if not paths:
        return "none"
    counts = {}
    for p in paths:
        ext = os.path.splitext(p.rstrip("/"))[1] or ("/" if p.endswith("/") else "(none)")
        counts[ext] = counts.get(ext, 0) + 1
    return "%d (%s)" % (len(paths), ", ".join("%s %d" % kv for kv in sorted(counts.items(), key=lambda kv: -kv[1])))


def report(results, final):
    out = ["Machine: " + machine(),
           "Mode: %s; %.0f s in all" % (results["mode"], results["elapsed"])]
    for label, site in results["sites"].items():
        wget = site["crawlers"]["wget (1 request per connection)"]
        out.append("")
        out.append("%s from %s (medians of %d run(s); files and bytes as written to disk; HTML pages = HTML "
                   "answered 200 in nginx's log; pages/s over HTML pages)" % (
                       label, site["start"], wget["runs"]))
        rows = []
        for name, f in site["crawlers"].items():
            rows.append([name, "%d" % f["files"], "%d" % f["html"], "%.1f MB" % (f["bytes"] / 1e6),
                         "%.1f" % f["seconds"], "%.2f" % f["pages_per_s"],
                         bench.ratio(f["pages_per_s"], wget["pages_per_s"]), "%d" % f["requests"]])
        out.append(table(["crawler", "files", "HTML pages", "bytes", "seconds", "pages/s", "×wget", "requests"],
                         rows))
        out.extend("Sets: " + line for line in differences(site))
        out.extend("Reference crawler: " + line for line in site["check"])
        for i, r in enumerate(site["vellum_runs"]):
            details = []
            if r.get("stopped_after"):
                details.append("stopped after %d s (--limit), its figures are those of the run so far" %
                               r["stopped_after"])
            elif r.get("end_text") != DONE:
                details.append("end message %r" % r.get("end_text"))
            m = r.get("memory")
            if m:
                details.append("RSS MB before %.1f, at 10%% %.1f, 50%% %.1f, 90%% %.1f, end %.1f, peak %.1f "
                               "(%d samples), high-water %.1f" % (
                                   m["before"], m["10%"], m["50%"], m["90%"], m["end"], m["peak"], m["samples"],
                                   (r.get("hwm_kb") or 0) / 1024))
            if r.get("rates"):
                details.append("HTML pages/s over the first, middle and last tenth: %s" %
                               " / ".join("-" if x is None else "%.2f" % x for x in r["rates"]))
            if r.get("ui_ms_per_page"):
                details.append("UI thread CPU per HTML page (the auto-get window's tree work) over the first, "
                               "middle and last tenth: %s ms" %
                               " / ".join("-" if x is None else "%.1f" % x for x in r["ui_ms_per_page"]))
            fw = r.get("forward")
            if fw and "rps" in fw and r["requests"]:
                crawl_ms = r["seconds"] * 1000 / r["requests"]
                forward_ms = 1000 / fw["rps"]
                details.append("cost per request: crawl %.0f ms (%.0f KB average), forwarding %s (%.1f KB) "
                               "through the same program at concurrency 1 %.0f ms (%d requests): %.2f×" % (
                                   crawl_ms, r["served_bytes"] / r["requests"] / 1024, fw["path"],
                                   site["forward_size"] / 1024, forward_ms, fw.get("complete", 0),
                                   crawl_ms / forward_ms))
            elif fw:
                details.append("forwarding: %s" % fw.get("error"))
            c = r.get("cpu")
            if c:
                details.append("CPU seconds during the run: vellum.exe %.1f (main thread %.1f, busiest others %s), "
                               "wineserver %s" % (c["process"], c["main thread"],
                                                  ", ".join("%.1f" % x for x in c["busiest other threads"]) or "-",
                                                  "%.1f" % c["wineserver"] if "wineserver" in c else "?"))
            nodes = ("%d tree nodes" % r["tree_nodes"]) if "tree_nodes" in r else \
                "%d tree nodes (predicted)" % site["tree_nodes_predicted"]
            details.append(nodes)
            out.append("Vellum run %d: %s" % (i + 1, "; ".join(details)))
    out.extend("Note: " + n for n in results["notes"])
    text = "\n".join(out)
    if final:
        print(text)
    with open(os.path.join(bench.WORK, "crawl-results.txt"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(bench.WORK, "crawl-results.json"), "w") as f:
        json.dump(results, f, indent=1, default=str)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--smoke", action="store_true", help="a generated site of 20 pages, one run each")
    parser.add_argument("--quick", action="store_true", help="one run of each crawler instead of three")
    parser.add_argument("--site-pages", type=int, help="pages of the generated site (default 20000)")
    parser.add_argument("--no-docs", action="store_true", help="skip the documentation site")
    parser.add_argument("--bin", default=bench.BIN, help="folder of vellum.exe and vellum_probe.exe")
    parser.add_argument("--forward-requests", type=int, help="forwarded requests to compare (default 200)")
    parser.add_argument("--limit", type=int, default=7200,
                        help="seconds an auto-get run may take before it is stopped (default 7200)")
    args = parser.parse_args()
    runs = 1 if args.smoke or args.quick else 3
    pages = args.site_pages or (20 if args.smoke else 20000)
    args.forward_requests = args.forward_requests or (5 if args.smoke else 200)
    for tool in ("nginx", "wget", "wine"):
        if not shutil.which(tool):
            raise Skip("%s is not installed" % tool)
    if not args.smoke and not args.no_docs and not os.path.isdir(DOCS):
        raise Skip("python3-doc is not installed")

    os.makedirs(WORK, exist_ok=True)
    site = os.path.join(WORK, "site")
    start = make_site(site, pages)
    for folder in (bench.WORK, WORK, site):
        os.chmod(folder, 0o755)  # nginx's workers read the site as another user
    results = {"mode": "smoke" if args.smoke else ("quick" if args.quick else "full"), "sites": {}, "notes": []}
    began = time.monotonic()
    origin = Origin(site)
    try:
        wine = bench.WineSession()
        try:
            vellum = VellumCrawl(wine, args.bin, args.limit)
            crawl_site(results, origin, vellum, PORT_SITE, start, 1, args, "Generated site of %d pages" % pages,
                       full_sets=args.smoke)
            if not args.smoke and not args.no_docs:
                results["elapsed"] = time.monotonic() - began
                report(results, False)  # what there is so far, should the long crawl not end
                crawl_site(results, origin, vellum, PORT_DOCS, "index.html", runs, args, "Python documentation",
                           full_sets=True)
        finally:
            wine.stop()
    finally:
        origin.stop()
    results["elapsed"] = time.monotonic() - began
    report(results, True)


def stop_on_signal(number, frame):
    raise KeyboardInterrupt  # so that nginx, vellum.exe and the Wine session are stopped


if __name__ == "__main__":
    import signal
    signal.signal(signal.SIGTERM, stop_on_signal)
    try:
        main()
    except Skip as e:
        print("bench: skipped: %s" % e)
        sys.exit(0)
