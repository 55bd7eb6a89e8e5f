#!/usr/bin/env python3
"""orvantis-serve against nginx serving the same bytes from a file, on this host, in the same
run: the first page as JSON and as HTML, with and without gzip, and a 304, under wrk; then what
a file cannot do (search, the mix of searches players type, deep pages, freshness within a second under load),
the memory of idle event-stream clients and of the whole server against the window's, slow and
hostile clients at full size, and a flood of searches from twenty addresses beside the first
page. Prints the table, writes it into docs/PERFORMANCE.md with the machine and date,
saves bench/results/serve.json, and exits non-zero when a target is missed.

    bench/serve_bench.py [--build DIR] [--sizes 100000,1000000] [--seconds 10]

Needs nginx (nginx-light), wrk, slowhttptest and taskset; every server it talks to is one it
started itself on 127.0.0.1, and each is stopped before it ends.
"""

import argparse
import gzip
import hashlib
import json
import os
import platform
import random
import re
import resource
import selectors
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
SERVER_CORE, LOAD_CORE = "0", "1"  # the server (or nginx) on one core, wrk and probes on the other
ROUNDS = 3
# Each part and where its results go in the report.
PARTS = {"nginx": "against_nginx", "beyond": "beyond_a_file", "freshness": "freshness",
         "idle": "idle_stream_memory", "hostile": "hostile", "memory": "memory", "flood": "search_flood"}
# wrk and the probes ask from one address: where they measure the server's work, not its limits
# on one address's searches, those are lifted.
UNLIMITED_SEARCHES = ["--searches-at-once", "100000", "--search-rate", "1000000", "--search-burst", "1000000"]


def cached_folder(size):
    return os.path.join(tempfile.gettempdir(), f"orvantis-bench-{size}")


def ensure_folder(build, size):
    folder = cached_folder(size)
    if not os.path.exists(os.path.join(folder, "complete")):
        shutil.rmtree(folder, ignore_errors=True)
        subprocess.run([os.path.join(build, "bench", "generator", "orvantis-generate"), folder, str(size)],
                       check=True)
        open(os.path.join(folder, "complete"), "w").close()
    return folder


def raise_descriptors():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return hard


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M).group(1))


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def settle(pid, quiet_seconds=3.0, limit_seconds=600):
    """Waits until a process has used no processor time for quiet_seconds: its work is done."""
    end = time.monotonic() + limit_seconds
    last, since = cpu_ticks(pid), time.monotonic()
    while time.monotonic() < end:
        time.sleep(0.5)
        now = cpu_ticks(pid)
        if now != last:
            last, since = now, time.monotonic()
        elif time.monotonic() - since >= quiet_seconds:
            return
    raise RuntimeError(f"process {pid} did not settle")


class Served:
    """A server process started here, on loopback, ended when done with."""

    def __init__(self, command, ready, log_path):
        self.log_path = log_path
        self.log = open(log_path, "w+")
        started = time.monotonic()
        self.process = subprocess.Popen(["taskset", "-c", SERVER_CORE] + command, stdout=subprocess.DEVNULL,
                                        stderr=self.log, preexec_fn=raise_descriptors)
        end = started + 900
        while not ready(self.text()):
            if self.process.poll() is not None or time.monotonic() > end:
                raise RuntimeError(f"{command[0]} did not start: {self.text()}")
            time.sleep(0.1)
        self.ready_s = time.monotonic() - started  # from its start to its first answer

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def start_orvantis(build, folder, work):
    served = Served([os.path.join(build, "src", "app", "orvantis-serve"), "--listen", "127.0.0.1:0",
                     "--max-connections", "12000", "--max-per-address", "12000", *UNLIMITED_SEARCHES, folder],
                    lambda text: " accounts from " in text and "listening on" in text,
                    os.path.join(work, "orvantis-serve.log"))
    served.port = int(re.search(r"listening on http://127\.0\.0\.1:(\d+)/", served.text()).group(1))
    return served


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(work):
    port = free_port()
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""worker_processes 1;
daemon off;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log;
worker_rlimit_nofile 20000;
events {{ worker_connections 12000; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    open_file_cache max=64 inactive=60s;  # nginx at its best: no open and stat per request
    types {{ text/html html; application/json json; }}
    client_body_temp_path {work}/nginx-body;
    proxy_temp_path {work}/nginx-proxy;
    fastcgi_temp_path {work}/nginx-fastcgi;
    uwsgi_temp_path {work}/nginx-uwsgi;
    scgi_temp_path {work}/nginx-scgi;
    server {{
        listen 127.0.0.1:{port};
        root {work}/www;
        gzip_static on;
    }}
}}
""")
    served = Served(["nginx", "-c", conf, "-p", work], lambda text: port_open(port),
                    os.path.join(work, "nginx.log"))
    served.port = port
    return served


def port_open(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def fetch(port, path, headers=None):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=30) as response:
            return response.status, dict(response.headers), response.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


UNITS = {"us": 1e-3, "ms": 1.0, "s": 1e3}


def process_tree_ticks(pid):
    """Processor time, in clock ticks, of a process and its children (nginx's worker)."""
    with open(f"/proc/{pid}/task/{pid}/children") as f:
        children = [int(c) for c in f.read().split()]
    return cpu_ticks(pid) + sum(cpu_ticks(c) for c in children)


def wrk(port, path=None, connections=100, seconds=10, headers=(), script=None, server_pid=None):
    """wrk on the load core: requests per second, p50 and p99 latency in ms, what went wrong and,
    given the server's process, its processor time per request in microseconds."""
    command = ["taskset", "-c", LOAD_CORE, "wrk", "-t1", f"-c{connections}", f"-d{seconds}s", "--latency",
               "--timeout", "5s"]
    for header in headers:
        command += ["-H", header]
    if script:
        command += ["-s", script]
    command.append(f"http://127.0.0.1:{port}{path or '/'}")
    ticks = process_tree_ticks(server_pid) if server_pid else 0
    out = subprocess.run(command, capture_output=True, text=True, check=True, timeout=seconds + 60,
                         preexec_fn=raise_descriptors).stdout
    ticks = process_tree_ticks(server_pid) - ticks if server_pid else 0
    def latency(percent):
        number, unit = re.search(rf"^\s+{percent}%\s+([\d.]+)(us|ms|s)$", out, re.M).groups()
        return float(number) * UNITS[unit]
    errors = re.search(r"Socket errors: (.*)", out)
    bad = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    requests = int(re.search(r"(\d+) requests in", out).group(1))
    return {"rps": float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1)), "p50": latency(50),
            "p99": latency(99), "cpu_us": ticks / os.sysconf("SC_CLK_TCK") * 1e6 / max(1, requests),
            "errors": (errors.group(1) if errors else "") + (f" {bad.group(1)} non-2xx/3xx" if bad else "")}


def paths_script(work, name, paths):
    """A wrk script that asks for each path in turn."""
    path = os.path.join(work, f"{name}.lua")
    with open(path, "w") as f:
        f.write("paths = {\n" + ",\n".join(json.dumps(p) for p in paths) + "\n}\n")
        f.write("local i = 0\nrequest = function()\n  i = i % #paths + 1\n  return wrk.format(nil, paths[i])\nend\n")
    return path


def medians(runs):
    return {key: statistics.median(r[key] for r in runs) for key in ("rps", "p50", "p99", "cpu_us")} | {
        "errors": "; ".join(sorted({r["errors"] for r in runs if r["errors"]}))}


def against_nginx(build, folder, size, work, seconds):
    """The first page as JSON and HTML, plain and gzipped, and a 304, from orvantis-serve and from
    nginx serving the bytes orvantis-serve sent, checked by SHA-256; rounds alternate."""
    www = os.path.join(work, "www")
    os.makedirs(www, exist_ok=True)
    os.chmod(work, 0o755)
    os.chmod(www, 0o755)
    server = start_orvantis(build, folder, work)
    cases, files = [], {}
    try:
        for label, path, name in (("first page, JSON", "/ranking.json?from=1&count=100", "first.json"),
                                  ("first page, HTML", "/", "first.html")):
            _, _, plain = fetch(server.port, path)
            _, headers, packed = fetch(server.port, path, {"Accept-Encoding": "gzip"})
            if headers.get("Content-Encoding") != "gzip" or gzip.decompress(packed) != plain:
                raise RuntimeError(f"{path}: no gzip of the same body")
            with open(os.path.join(www, name), "wb") as f:
                f.write(plain)
            with open(os.path.join(www, name + ".gz"), "wb") as f:
                f.write(packed)
            files[name] = (plain, packed)
            cases.append((f"{label}", path, f"/{name}", [], hashlib.sha256(plain).hexdigest()))
            cases.append((f"{label}, gzip", path, f"/{name}", ["Accept-Encoding: gzip"],
                          hashlib.sha256(packed).hexdigest()))
        nginx = start_nginx(work)
        try:
            # The same bytes from both.
            for label, ours, theirs, headers, digest in cases:
                asked = dict(h.split(": ", 1) for h in headers)
                for port, path in ((server.port, ours), (nginx.port, theirs)):
                    status, _, body = fetch(port, path, asked)
                    if status != 200 or hashlib.sha256(body).hexdigest() != digest:
                        raise RuntimeError(f"{label}: not the same bytes from port {port} {path}")
            _, ours_headers, _ = fetch(server.port, cases[0][1])
            _, theirs_headers, _ = fetch(nginx.port, cases[0][2])
            cases.append(("304 to If-None-Match", cases[0][1], cases[0][2], None, None))
            etags = {server.port: ours_headers["ETag"], nginx.port: theirs_headers["ETag"]}
            for port, path in ((server.port, cases[0][1]), (nginx.port, cases[0][2])):
                if fetch(port, path, {"If-None-Match": etags[port]})[0] != 304:
                    raise RuntimeError(f"no 304 from port {port}")
            rows = []
            for label, ours, theirs, headers, _ in cases:
                runs = {"orvantis": [], "nginx": []}
                for _ in range(ROUNDS):
                    for who, served, path in (("orvantis", server, ours), ("nginx", nginx, theirs)):
                        asked = headers if headers is not None else [f"If-None-Match: {etags[served.port]}"]
                        runs[who].append(wrk(served.port, path, 100, seconds, asked,
                                             server_pid=served.process.pid))
                row = {"case": label, "size": size, "orvantis": medians(runs["orvantis"]),
                       "nginx": medians(runs["nginx"])}
                print(f"  {label}: {row['orvantis']} against nginx {row['nginx']}", file=sys.stderr, flush=True)
                rows.append(row)
            return rows
        finally:
            nginx.stop()
    finally:
        server.stop()


def logins(build, folder):
    out = subprocess.run([os.path.join(build, "src", "app", "orvantis-rank"), folder], capture_output=True,
                         check=True).stdout.decode("utf-8", "replace")
    return [line.split("\t", 1)[0] for line in out.splitlines() if line]


def names_shown(build, folder):
    """Every login and character name the ranking shows."""
    out = subprocess.run([os.path.join(build, "src", "app", "orvantis-rank"), folder], capture_output=True,
                         check=True).stdout.decode("utf-8", "replace")
    return [cell for line in out.splitlines() if line for cell in (line.split("\t")[0], line.split("\t")[-1])]


def counted_paths_script(work, name, paths):
    """A wrk script that asks for each path once (a few more, the first ones again, while the
    last are answered), then stops."""
    path = os.path.join(work, f"{name}.lua")
    with open(path, "w") as f:
        f.write("local paths = {\n" + "".join(f"  {json.dumps(p)},\n" for p in paths) + "}\n")
        f.write("local i, done = 0, 0\n"
                "request = function()\n  i = i % #paths + 1\n  return wrk.format(nil, paths[i])\nend\n"
                "response = function()\n  done = done + 1\n  if done >= #paths then wrk.thread:stop() end\nend\n")
    return path


def players_queries(names, seed):
    """What players type, each once: 500 whole logins, 500 parts of three letters, 264 of two, and
    the 36 single letters and digits."""
    rng = random.Random(seed)
    words = sorted({n.lower() for n in names if n.isascii() and n.isalnum()})
    def parts(length, count):
        found = sorted({word[i:i + length] for word in words for i in range(len(word) - length + 1)
                        if word[i:i + length].isalpha()})
        return rng.sample(found, min(count, len(found)))
    queries = rng.sample(words, 500) + parts(3, 500) + parts(2, 264) + list("abcdefghijklmnopqrstuvwxyz0123456789")
    rng.shuffle(queries)
    return queries


def beyond_a_file(build, folder, size, work, seconds):
    """Search and deep pages, which a file cannot serve."""
    server = start_orvantis(build, folder, work)
    try:
        names = logins(build, folder)
        rng = random.Random(7)
        distinct = rng.sample(names, min(len(names), 40000))
        result = {}
        # Each query asked once, as players looking for themselves do: none is cached.
        result["search"] = medians([wrk(server.port, connections=16, seconds=seconds,
                                        script=paths_script(work, f"search{r}", [
                                            "/ranking.json?q=" + urllib.parse.quote(q)
                                            for q in distinct[r::ROUNDS]]))
                                    for r in range(ROUNDS)])
        # The mix players type, each query once, on a server that has answered none of them.
        shown = names_shown(build, folder)
        mix = []
        for r in range(ROUNDS):
            fresh = start_orvantis(build, folder, work)
            try:
                mix.append(wrk(fresh.port, connections=16, seconds=120, script=counted_paths_script(
                    work, f"mix{r}", ["/ranking.json?q=" + urllib.parse.quote(q) for q in players_queries(shown, r)])))
            finally:
                fresh.stop()
        result["search, the players' mix (1,300 queries)"] = medians(mix)
        # One query again and again: answered from the snapshot's kept searches.
        result["search, the same query"] = medians([wrk(server.port, f"/ranking.json?q={distinct[0]}", 16,
                                                        seconds) for _ in range(ROUNDS)])
        # The worst a query can be: one letter, in most names.
        result["search, one letter"] = medians([wrk(server.port, "/ranking.json?q=e", 16, seconds)
                                                for _ in range(ROUNDS)])
        # Pages of 100 from rank 1 and from rank 900,000, each asked once (as a scraper drains them).
        deep_start = max(1, size - size // 10)
        pages = max(1, min(1000, size // 1000))
        for label, start in (("pages from rank 1", 1), (f"pages from rank {deep_start:,}", deep_start)):
            result[label] = medians([wrk(server.port, connections=16, seconds=seconds, script=paths_script(
                work, f"pages{start}-{r}", [f"/ranking.json?from={start + 100 * (k * ROUNDS + r)}&count=100"
                                            for k in range(pages // ROUNDS)]))
                                     for r in range(ROUNDS)])
        result["deep_label"] = f"pages from rank {deep_start:,}"
        result["ready_s"] = server.ready_s
        for key, value in result.items():
            print(f"  {key}: {value}", file=sys.stderr, flush=True)
        return result
    finally:
        server.stop()


class StreamClients:
    """Event-stream clients on loopback that read what they are sent and do nothing else."""

    def __init__(self, port, count):
        self.selector = selectors.DefaultSelector()
        self.sockets = []
        for _ in range(count):
            s = socket.create_connection(("127.0.0.1", port), timeout=10)
            s.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            s.setblocking(False)
            self.selector.register(s, selectors.EVENT_READ)
            self.sockets.append(s)
        self.running = True
        self.closed = 0
        self.thread = threading.Thread(target=self.drain, daemon=True)
        self.thread.start()

    def drain(self):
        while self.running:
            for key, _ in self.selector.select(timeout=0.2):
                try:
                    if not key.fileobj.recv(65536):
                        self.selector.unregister(key.fileobj)
                        self.closed += 1
                except (BlockingIOError, ConnectionError):
                    pass

    def close(self):
        self.running = False
        self.thread.join()
        for s in self.sockets:
            s.close()


def freshness(build, folder, work, seconds):
    """From a file's close to its changed row in the JSON, 50 times, with 1,000 event-stream
    clients connected and wrk loading the first page."""
    server = start_orvantis(build, folder, work)
    probe = os.path.join(folder, "accounts", "zz-freshness-probe.ini")
    clients = None
    try:
        clients = StreamClients(server.port, 1000)
        load = threading.Thread(target=lambda: wrk(server.port, "/ranking.json?from=1&count=100", 100,
                                                   seconds=45))  # the 50 changes take less
        load.start()
        time.sleep(2)
        delays = []
        for change in range(50):
            level = 1000 + change
            with open(probe, "w") as f:
                f.write(f"[GENERAL]\nLogin=zzfreshnessprobe\n[CHAR1]\nName=Probe\nLevel={level}\n")
            closed = time.monotonic()
            while True:
                _, _, body = fetch(server.port, "/ranking.json?from=1&count=1")
                if re.search(rf'"level": ?{level}\b'.encode(), body):
                    delays.append(time.monotonic() - closed)
                    break
                if time.monotonic() - closed > 10:
                    delays.append(float("inf"))
                    break
                time.sleep(0.005)
            time.sleep(0.3)
        load.join()
        dropped = clients.closed
        delays.sort()
        result = {"p50_s": delays[len(delays) // 2], "p99_s": delays[min(len(delays) - 1, int(len(delays) * 0.99))],
                  "max_s": delays[-1], "stream_clients_closed": dropped}
        print(f"  freshness: {result}", file=sys.stderr, flush=True)
        return result
    finally:
        if clients:
            clients.close()
        if os.path.exists(probe):
            os.remove(probe)
        server.stop()


def idle_stream_memory(build, folder, work, count=5000):
    """The server's resident memory with `count` idle event-stream clients over none."""
    server = start_orvantis(build, folder, work)
    clients = None
    try:
        settle(server.process.pid)
        before = rss_kib(server.process.pid)
        clients = StreamClients(server.port, count)
        time.sleep(3)
        settle(server.process.pid)
        after = rss_kib(server.process.pid)
        result = {"clients": count, "before_KiB": before, "after_KiB": after,
                  "per_client_KiB": (after - before) / count, "closed": clients.closed}
        print(f"  idle event-stream clients: {result}", file=sys.stderr, flush=True)
        return result
    finally:
        if clients:
            clients.close()
        server.stop()


def server_against_window(build, folder, size, work):
    """Resident memory of orvantis-serve and of the window showing the same folder, each settled."""
    server = start_orvantis(build, folder, work)
    try:
        fetch(server.port, "/")
        fetch(server.port, "/ranking.json?q=e")
        settle(server.process.pid)
        served = rss_kib(server.process.pid)
    finally:
        server.stop()
    program = os.path.join(folder, "orvantis")
    shutil.copy(os.path.join(build, "src", "app", "orvantis"), program)
    window = subprocess.Popen([program], env=dict(os.environ, QT_QPA_PLATFORM="offscreen"),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(5)
        settle(window.pid)
        shown = rss_kib(window.pid)
    finally:
        window.terminate()
        window.wait()
        os.remove(program)
    result = {"size": size, "server_MiB": served / 1024, "window_MiB": shown / 1024,
              "search": search_cost(build, folder)}
    print(f"  memory: {result}", file=sys.stderr, flush=True)
    return result


def search_cost(build, folder):
    """The search index's memory and the search's own work per kind of query of the players' mix,
    without HTTP: orvantis-searchcost on the same folder."""
    queries = "\n".join(players_queries(names_shown(build, folder), 0)) + "\n"
    out = subprocess.run([os.path.join(build, "bench", "orvantis-searchcost"), folder], input=queries.encode(),
                         capture_output=True, check=True).stdout
    return json.loads(out)


def first_page_from_elsewhere(port, source="127.0.0.2", path="/ranking.json?from=1&count=100"):
    """The first page asked for from 127.0.0.2, another loopback address than the attackers'
    127.0.0.1, as a visitor elsewhere would, on a new connection: its status."""
    with socket.socket() as s:
        s.settimeout(5)
        s.bind((source, 0))
        s.connect(("127.0.0.1", port))
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n".encode())
        answer = b""
        while chunk := s.recv(65536):
            answer += chunk
    return int(answer.split(b" ", 2)[1]) if answer.startswith(b"HTTP/1.1 ") else 0


class FirstPageWatch:
    """Asks for the first page on a new connection twice a second: the slowest answer."""

    def __init__(self, port):
        self.port, self.slowest, self.failed, self.running = port, 0.0, 0, True
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while self.running:
            start = time.monotonic()
            try:
                if first_page_from_elsewhere(self.port) != 200:
                    self.failed += 1
            except OSError:
                self.failed += 1
            self.slowest = max(self.slowest, time.monotonic() - start)
            time.sleep(0.5)

    def stop(self):
        self.running = False
        self.thread.join()


def hostile(build, folder, work):
    """slowhttptest's slow headers and slow reads with 1,000 connections each, and 10,000
    connections at once from one address: the first page's slowest answer meanwhile, asked from
    another address, and the server's memory before and at the worst. The slow clients all come
    from 127.0.0.1, so the server they meet lets 4,096 connections come from one address, as if
    each came from an address of its own; the flood meets the default limits."""
    results = {}
    def serve(*limits):
        served = Served([os.path.join(build, "src", "app", "orvantis-serve"), "--listen", "127.0.0.1:0", *limits,
                         folder], lambda text: " accounts from " in text and "listening on" in text,
                        os.path.join(work, "hostile.log"))
        return served, int(re.search(r"listening on http://127\.0\.0\.1:(\d+)/", served.text()).group(1))
    server, port = serve("--max-per-address", "4096")
    try:
        attacks = {
            "slow headers (slowhttptest -H), 1,000 connections":
                ["-H", "-c", "1000", "-r", "500", "-i", "10", "-l", "40", "-s", "8192"],
            "slow reads (slowhttptest -X), 1,000 connections":
                ["-X", "-c", "1000", "-r", "500", "-w", "1", "-y", "1", "-n", "5", "-z", "1", "-k", "3", "-l", "40"],
        }
        for label, arguments in attacks.items():
            before = rss_kib(server.process.pid)
            watch = FirstPageWatch(port)
            attack = subprocess.Popen(["taskset", "-c", LOAD_CORE, "slowhttptest"] + arguments +
                                      ["-u", f"http://127.0.0.1:{port}/ranking.json", "-g", "-o",
                                       os.path.join(work, "slowhttptest")],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=raise_descriptors)
            peak = before
            while attack.poll() is None:
                peak = max(peak, rss_kib(server.process.pid))
                time.sleep(0.5)
            watch.stop()
            results[label] = {"slowest_first_page_s": watch.slowest, "failed": watch.failed,
                              "rss_before_MiB": before / 1024, "rss_peak_MiB": peak / 1024,
                              "alive": server.process.poll() is None}
            print(f"  {label}: {results[label]}", file=sys.stderr, flush=True)
        # 10,000 connections from one address at once: the per-address limit refuses the excess.
        server.stop()
        server, port = serve()
        before = rss_kib(server.process.pid)
        watch = FirstPageWatch(port)
        held, refused = [], 0
        for _ in range(10000):
            try:
                s = socket.create_connection(("127.0.0.1", port), timeout=2)
                s.sendall(b"GET /events HTTP/1.1\r\nHost: x\r\n\r\n")
                held.append(s)
            except OSError:
                refused += 1
        time.sleep(2)
        open_ones = 0
        for s in held:
            s.setblocking(False)
            try:
                open_ones += 0 if s.recv(1, socket.MSG_PEEK) == b"" else 1
            except BlockingIOError:
                open_ones += 1
            except OSError:
                pass
        peak = rss_kib(server.process.pid)
        watch.stop()
        label = "10,000 connections at once from one address"
        results[label] = {"slowest_first_page_s": watch.slowest, "failed": watch.failed, "served": open_ones,
                          "refused": 10000 - open_ones, "rss_before_MiB": before / 1024, "rss_peak_MiB": peak / 1024,
                          "alive": server.process.poll() is None}
        for s in held:
            s.close()
        print(f"  {label}: {results[label]}", file=sys.stderr, flush=True)
        return results
    finally:
        server.stop()


FLOODER = """
import http.client, random, sys, time
address, port, seconds, queries = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4].split(",")
rng, statuses, end = random.Random(address), {}, time.monotonic() + seconds
connection = None
while time.monotonic() < end:
    try:
        if connection is None:
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(address, 0))
        connection.request("GET", "/ranking.json?q=" + rng.choice(queries))
        answer = connection.getresponse()
        answer.read()
        statuses[answer.status] = statuses.get(answer.status, 0) + 1
        if answer.getheader("Connection", "").lower() == "close":
            connection.close()
            connection = None
    except OSError:
        statuses["error"] = statuses.get("error", 0) + 1
        connection = None
print(" ".join(f"{k}:{v}" for k, v in statuses.items()))
"""


def first_page_times(port, seconds):
    """The first page asked four times a second for `seconds` from 127.0.0.100, on a new
    connection each time: each answer's time in ms, and how many were not a 200."""
    times, failed = [], 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        started = time.monotonic()
        try:
            failed += 0 if first_page_from_elsewhere(port, "127.0.0.100", "/") == 200 else 1
        except OSError:
            failed += 1
        took = time.monotonic() - started
        times.append(took * 1000)
        time.sleep(max(0.0, 0.25 - took))
    return times, failed


def search_flood(build, folder, work, seconds=15):
    """Twenty addresses (127.0.0.2 to .21) sending distinct searches of three letters as fast as
    they can, against the server's own limits on one address's searches, while the first page
    is asked four times a second from another: its p99 before and during the flood."""
    queries = [q for q in players_queries(names_shown(build, folder), 99) if len(q) == 3]
    served = Served([os.path.join(build, "src", "app", "orvantis-serve"), "--listen", "127.0.0.1:0", folder],
                    lambda text: " accounts from " in text and "listening on" in text,
                    os.path.join(work, "flood.log"))
    port = int(re.search(r"listening on http://127\.0\.0\.1:(\d+)/", served.text()).group(1))
    try:
        fetch(port, "/")  # the page made once, as any running server has it
        quiet, quiet_failed = first_page_times(port, seconds)
        flooders = [subprocess.Popen(["taskset", "-c", LOAD_CORE, "nice", "-n", "19", sys.executable, "-c", FLOODER,
                                      f"127.0.0.{2 + i}", str(port), str(seconds + 1), ",".join(queries)],
                                     stdout=subprocess.PIPE, text=True) for i in range(20)]
        time.sleep(1)
        flooded, flooded_failed = first_page_times(port, seconds)
        statuses = {}
        for flooder in flooders:
            out, _ = flooder.communicate(timeout=60)
            for part in out.split():
                status, count = part.rsplit(":", 1)
                statuses[status] = statuses.get(status, 0) + int(count)
        def p99(times):
            return statistics.quantiles(times, n=100)[98]
        result = {"quiet_p99_ms": p99(quiet), "flood_p99_ms": p99(flooded), "quiet_failed": quiet_failed,
                  "flood_failed": flooded_failed, "searches": statuses, "alive": served.process.poll() is None}
        print(f"  search flood: {result}", file=sys.stderr, flush=True)
        return result
    finally:
        served.stop()


def evaluate(report):
    targets = []

    def check(name, value, limit, below=True, information=False):
        met = value <= limit if below else value >= limit
        targets.append({"name": name, "value": value, "limit": limit, "below": below, "met": met,
                        "information": information})

    for row in report["against_nginx"]:
        ours, theirs = row["orvantis"], row["nginx"]
        where = f"{row['case']} at {row['size']:,}"
        check(f"{where}: requests/s over nginx's", ours["rps"] / theirs["rps"], 1.0, below=False)
        if not row["case"].startswith("304"):
            check(f"{where}: p99 latency over nginx's", ours["p99"] / theirs["p99"], 1.5)
        if ours["errors"]:
            check(f"{where}: errors ({ours['errors']})", 1, 0)
    for size, beyond in report["beyond_a_file"].items():
        if size == "1000000":
            check("search at 1,000,000, each query once, 16 connections: p99 (ms)", beyond["search"]["p99"], 10)
            mix = beyond.get("search, the players' mix (1,300 queries)")
            if mix:
                check("search at 1,000,000, the players' mix, 16 connections: p99 (ms)", mix["p99"], 10)
        check(f"search at {int(size):,}, one query again and again: p99 (ms)",
              beyond["search, the same query"]["p99"], 10, information=True)
        check(f"search at {int(size):,}, one letter: p99 (ms)", beyond["search, one letter"]["p99"], 10,
              information=True)
        deep = beyond[beyond["deep_label"]]
        check(f"{beyond['deep_label']} at {int(size):,} over pages from rank 1: p99",
              deep["p99"] / beyond["pages from rank 1"]["p99"], 1.2)
    for size, fresh in report["freshness"].items():
        check(f"freshness at {int(size):,} (1,000 event-stream clients, wrk on the first page): p99 (s)",
              fresh["p99_s"], 1.0)
    if "idle_stream_memory" in report:
        idle = report["idle_stream_memory"]
        check(f"memory per idle event-stream client at {idle['clients']:,} (KiB)", idle["per_client_KiB"], 20)
    if "memory" in report:
        memory = report["memory"]
        check(f"orvantis-serve at {memory['size']:,} over the window showing them (memory)",
              memory["server_MiB"] / memory["window_MiB"], 1.0)
    if "search_flood" in report:
        flood = report["search_flood"]
        check("the first page while 20 addresses flood with searches: p99 (ms), within three times its p99 "
              "before or 25 ms", flood["flood_p99_ms"], max(25, 3 * flood["quiet_p99_ms"]))
        check("the first page while 20 addresses flood with searches: refused", flood["flood_failed"], 0)
    for label, attack in report.get("hostile", {}).items():
        check(f"{label}: the first page's slowest answer meanwhile (s)", attack["slowest_first_page_s"], 1.0)
        check(f"{label}: first-page requests that failed", attack["failed"], 0)
        check(f"{label}: the server ended", 0 if attack["alive"] else 1, 0)
    return targets


def earlier_parts(report):
    """The parts kept from earlier runs, by the date each was measured."""
    by_date = {}
    for part in PARTS:
        date = report.get("measured", {}).get(part, report["date"])
        if date != report["date"]:
            by_date.setdefault(date, []).append(part)
    def listed(names):
        return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " and " + names[-1]
    for what, date in report.get("kept_sizes", {}).items():
        by_date.setdefault(date, []).append(what)
    return "".join(f" Kept from the run of {date}: the {listed(parts)} part{'s' if len(parts) > 1 else ''}."
                   for date, parts in by_date.items())


def markdown(report):
    lines = [f"Measured {report['date']} on {report['machine']}: orvantis-serve and nginx "
             f"{report['nginx']} (one worker, sendfile, gzip_static, open_file_cache) each pinned to one core, wrk and "
             f"the probes to the other; medians of {ROUNDS} rounds of {report['seconds']} s." + earlier_parts(report),
             "",
             "| case | accounts | orvantis-serve req/s | nginx req/s | ratio | orvantis-serve p99 | nginx p99 | ratio "
             "| orvantis-serve µs of processor a request | nginx's |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for row in report["against_nginx"]:
        ours, theirs = row["orvantis"], row["nginx"]
        lines.append(f"| {row['case']} | {row['size']:,} | {ours['rps']:,.0f} | {theirs['rps']:,.0f} | "
                     f"{ours['rps'] / theirs['rps']:.2f} | {ours['p99']:.2f} ms | {theirs['p99']:.2f} ms | "
                     f"{ours['p99'] / theirs['p99']:.2f} | {ours.get('cpu_us', 0):.1f} | {theirs.get('cpu_us', 0):.1f} |")
    lines += ["", "| beyond a file | accounts | req/s | p50 | p99 |", "|---|---:|---:|---:|---:|"]
    for size, beyond in report["beyond_a_file"].items():
        for key, value in beyond.items():
            if key not in ("deep_label", "ready_s"):
                lines.append(f"| {key} | {int(size):,} | {value['rps']:,.0f} | {value['p50']:.2f} ms | "
                             f"{value['p99']:.2f} ms |")
    for size, beyond in report["beyond_a_file"].items():
        if "ready_s" in beyond:
            lines.append(f"\nFrom orvantis-serve's start to its first answer at {int(size):,} accounts (read whole, warm): "
                         f"{beyond['ready_s']:.1f} s.")
    cost = report.get("memory", {}).get("search")
    if cost:
        kinds = {"1": "one character", "2": "two", "3": "three", "longer": "longer"}
        work = "; ".join(f"{kinds[kind]} {each['mean_us']:.0f} µs, p99 {each['p99_us']:.0f} µs"
                         for kind, each in sorted(cost["queries"].items()))
        lines.append(f"\nThe search index at {cost['accounts']:,} accounts: {cost['index_MiB']:.1f} MiB, made in "
                     f"{cost['index_made_ms'] / 1000:.1f} s. A search's own work there, without HTTP, for each "
                     f"query of the players' mix asked once (orvantis-searchcost), by the length of its text, mean "
                     f"and p99: {work}.")
    lines += ["", "| target | value | limit | met |", "|---|---:|---:|---|"]
    for t in report["targets"]:
        sign = "≤" if t["below"] else "≥"
        met = "yes" if t["met"] else ("no (for information)" if t["information"] else "**no**")
        lines.append(f"| {t['name']} | {t['value']:.3g} | {sign} {round(t['limit'], 3)} | {met} |")
    return "\n".join(lines)


def update_docs(report):
    path = os.path.join(ROOT, "docs", "PERFORMANCE.md")
    with open(path) as f:
        text = f.read()
    begin, end = "<!-- serve results begin -->", "<!-- serve results end -->"
    block = f"{begin}\n{markdown(report)}\n{end}"
    if begin in text:
        text = re.sub(re.escape(begin) + ".*?" + re.escape(end), lambda _: block, text, flags=re.S)
    else:
        text = text.rstrip("\n") + "\n\n## The server against nginx\n\n" + block + "\n"
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--sizes", default="100000,1000000")
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--parts", default=",".join(PARTS),
                        help="which parts to run again; the others' results are kept from the last run, "
                             "each with the date it was measured")
    parser.add_argument("--redraw", action="store_true", help="measure nothing: write the table again")
    args = parser.parse_args()
    saved = os.path.join(ROOT, "bench", "results", "serve.json")
    if args.redraw:
        with open(saved) as f:
            report = json.load(f)
    else:
        for tool in ("nginx", "wrk", "slowhttptest", "taskset"):
            if not shutil.which(tool):
                sys.exit(f"serve_bench: {tool} is not installed")
        raise_descriptors()
        sizes = [int(s) for s in args.sizes.split(",")]
        nginx_version = subprocess.run(["nginx", "-v"], capture_output=True, text=True).stderr.strip().split("/")[-1]
        report = {"date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
                  "machine": f"{platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
                             f"Linux {platform.release()}",
                  "nginx": nginx_version, "seconds": args.seconds, "against_nginx": [], "beyond_a_file": {},
                  "freshness": {}}
        parts = set(args.parts.split(","))
        if parts - set(PARTS):
            sys.exit(f"serve_bench: no part named {', '.join(sorted(parts - set(PARTS)))}")
        report["measured"] = {part: report["date"] for part in parts}
        if os.path.exists(saved):
            with open(saved) as f:
                earlier = json.load(f)
            # A part run at some sizes keeps its results at the others, with when they were measured.
            for part in parts & {"beyond", "freshness"}:
                for size, result in earlier.get(PARTS[part], {}).items():
                    if int(size) not in sizes:
                        report[PARTS[part]][size] = result
                        report.setdefault("kept_sizes", {})[f"{part} at {int(size):,}"] = \
                            earlier.get("kept_sizes", {}).get(f"{part} at {int(size):,}") or \
                            earlier.get("measured", {}).get(part, earlier["date"])
            for part in set(PARTS) - parts:
                if PARTS[part] in earlier:
                    report[PARTS[part]] = earlier[PARTS[part]]
                    report["measured"][part] = earlier.get("measured", {}).get(part, earlier["date"])
                    if part == "nginx":
                        report["seconds"] = earlier["seconds"]
        with tempfile.TemporaryDirectory(prefix="orvantis-serve-bench-") as work:
            os.chmod(work, 0o755)  # nginx's worker reads its files as another user
            for size in sizes:
                folder = ensure_folder(args.build, size)
                print(f"{size:,} accounts ...", file=sys.stderr, flush=True)
                if "nginx" in parts:
                    report["against_nginx"] += against_nginx(args.build, folder, size,
                                                             os.path.join(work, f"n{size}"), args.seconds)
                if "beyond" in parts:
                    report["beyond_a_file"][str(size)] = beyond_a_file(args.build, folder, size, work, args.seconds)
                if "freshness" in parts:
                    report["freshness"][str(size)] = freshness(args.build, folder, work, args.seconds)
            smallest = ensure_folder(args.build, sizes[0])
            if "idle" in parts:
                report["idle_stream_memory"] = idle_stream_memory(args.build, smallest, work)
            if "hostile" in parts:
                report["hostile"] = hostile(args.build, smallest, work)
            if "flood" in parts:
                report["search_flood"] = search_flood(args.build, ensure_folder(args.build, sizes[-1]), work)
            if "memory" in parts:
                report["memory"] = server_against_window(args.build, ensure_folder(args.build, sizes[-1]), sizes[-1],
                                                         work)
    report["targets"] = evaluate(report)
    os.makedirs(os.path.dirname(saved), exist_ok=True)
    with open(saved, "w") as f:
        json.dump(report, f, indent=1)
    print(markdown(report))
    update_docs(report)
    return 0 if all(t["met"] or t["information"] for t in report["targets"]) else 1


if __name__ == "__main__":
    sys.exit(main())
