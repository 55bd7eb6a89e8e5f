#!/usr/bin/env python3
"""orvantis-serve behind Debian's nginx, configured with the README's own snippet and trusted
with --trusted-proxy: 1,000 open pages' event streams through it while the first page is still
served; the limits and the log by the client's address that nginx forwards; and X-Forwarded-For
from anyone else not believed.

    serve_proxy_test.py ORVANTIS_SERVE ACCOUNTS_FOLDER README
"""

import http.client
import os
import pwd
import re
import resource
import selectors
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from servetest import check, end, said, start_serve, stop  # noqa: E402

serve, accounts, readme = sys.argv[1:4]
STREAMS = 1000
PER_ADDRESS = 8


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    raise SystemExit("gave up waiting for " + what)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def open_stream(port, source="127.0.0.1", extra=""):
    """An event stream asked of nginx from `source`, its socket left open."""
    connection = socket.create_connection(("127.0.0.1", port), timeout=10,
                                          source_address=(source, 0))
    connection.sendall(("GET /leaderboard/events HTTP/1.1\r\nHost: localhost\r\n" + extra +
                        "\r\n").encode())
    connection.setblocking(False)
    return connection


def answers(connections, enough, seconds):
    """What each connection has received once `enough` says so of all, or the time is up."""
    got = {connection: b"" for connection in connections}
    waiting = selectors.DefaultSelector()
    for connection in connections:
        waiting.register(connection, selectors.EVENT_READ)
    deadline = time.monotonic() + seconds
    pending = len(connections)
    while pending and time.monotonic() < deadline:
        for key, _ in waiting.select(timeout=0.5):
            try:
                chunk = key.fileobj.recv(65536)
            except (BlockingIOError, ConnectionResetError):
                chunk = b""
            got[key.fileobj] += chunk
            if enough(got[key.fileobj]) or not chunk:
                waiting.unregister(key.fileobj)
                pending -= 1
    waiting.close()
    return got


def status_of(reply):
    match = re.match(rb"HTTP/1\.1 (\d{3})", reply)
    return int(match.group(1)) if match else 0


# Each stream is a socket here and two in nginx.
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
if hard < 3 * STREAMS:
    raise SystemExit(f"the descriptor limit ({hard}) holds too few streams")

work = tempfile.mkdtemp()
server = nginx = None
try:
    shutil.copytree(accounts, os.path.join(work, "game", "accounts"))
    server, port, log = start_serve(serve, ["--trusted-proxy", "127.0.0.1", "--max-per-address",
                                            str(PER_ADDRESS), os.path.join(work, "game")])

    # The README's snippet as it stands, pointed at this server.
    with open(readme, encoding="utf-8") as text:
        snippet = re.search(r"```nginx\n(.*?)```", text.read(), re.S).group(1)
    check("X-Forwarded-For" in snippet and "--trusted-proxy" in open(readme).read(),
          "the README's snippet forwards the client's address, and says to trust it")
    snippet = snippet.replace("127.0.0.1:8080", f"127.0.0.1:{port}")
    proxy_port = free_port()
    for folder in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.mkdir(os.path.join(work, folder))
    with open(os.path.join(work, "nginx.conf"), "w") as conf:
        conf.write(f"""
user {pwd.getpwuid(os.getuid()).pw_name};
daemon off;
worker_processes 1;
worker_rlimit_nofile {4 * STREAMS};
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections {3 * STREAMS}; }}
http {{
    access_log off;
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    server {{
        listen 127.0.0.1:{proxy_port};
{snippet}
    }}
}}
""")
    nginx = subprocess.Popen(["nginx", "-p", work, "-c", os.path.join(work, "nginx.conf"),
                              "-e", os.path.join(work, "error.log")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def proxy_answers():
        try:
            socket.create_connection(("127.0.0.1", proxy_port), timeout=1).close()
            return True
        except OSError:
            return nginx.poll() is not None
    wait_for(proxy_answers, 30, "nginx to listen")
    if nginx.poll() is not None:
        raise SystemExit("nginx did not start: " + open(os.path.join(work, "error.log")).read())

    # 1,000 open pages, each holding its stream through nginx: far beyond one address's limit,
    # which nginx's connections are not held to.
    streams = [open_stream(proxy_port) for _ in range(STREAMS)]
    opened = answers(streams, lambda got: b"retry: 2000" in got, 60)
    served = sum(1 for got in opened.values() if got.startswith(b"HTTP/1.1 200")
                 and b"retry: 2000" in got)
    check(served == STREAMS, f"{served} of {STREAMS} event streams through nginx")
    page = http.client.HTTPConnection("127.0.0.1", proxy_port, timeout=10)
    page.request("GET", "/leaderboard/")
    reply = page.getresponse()
    body = reply.read()
    check(reply.status == 200 and b"<table" in body,
          f"the first page with {STREAMS} streams open: {reply.status}")
    page.request("GET", "/leaderboard/ranking.json?q=a")
    reply = page.getresponse()
    reply.read()
    check(reply.status == 200, f"a search with {STREAMS} streams open: {reply.status}")
    page.close()
    # A change reaches the open pages.
    with open(os.path.join(work, "game", "accounts", "newtop.ini"), "w") as account:
        account.write("[GENERAL]\nLogin=newtop\n[CHAR1]\nName=Top\nLevel=999999\n")
    changed = answers(streams[:5], lambda got: b"event: change" in got, 20)
    check(all(b"event: change" in got for got in changed.values()),
          "a change sent through nginx to open pages")
    for stream in streams:
        stream.close()

    # A client behind nginx is held to the address's limit by the address nginx forwards, what
    # it says itself of its address is not believed, and another client is served meanwhile.
    mine = [open_stream(proxy_port, "127.0.0.2", "X-Forwarded-For: 127.0.0.9\r\n")
            for _ in range(PER_ADDRESS + 2)]
    statuses = sorted(status_of(got) for got in
                      answers(mine, lambda got: b"\r\n\r\n" in got, 20).values())
    check(statuses == [200] * PER_ADDRESS + [429, 429],
          f"{PER_ADDRESS + 2} streams of one client behind nginx: {statuses}")
    other = [open_stream(proxy_port, "127.0.0.3")]
    check(status_of(answers(other, lambda got: b"\r\n\r\n" in got, 20)[other[0]]) == 200,
          "another client's stream while one is at its limit")
    for stream in mine + other:
        stream.close()
    wait_for(lambda: "127.0.0.2 was refused" in said(log), 10,
             "the refusal's log line in: " + said(log)[-1500:])
    check(f"a client at 127.0.0.2 was refused: {PER_ADDRESS} requests from its address are open"
          in said(log), "the log names the forwarded address")
    check("127.0.0.9" not in said(log), "what a client says of itself is not believed")

    # From anyone but the proxy, X-Forwarded-For is not believed.
    direct = socket.create_connection(("127.0.0.1", port), timeout=10,
                                      source_address=("127.0.0.4", 0))
    direct.sendall(b"GET /a b HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 198.51.100.7\r\n\r\n")
    check(status_of(direct.recv(4096)) == 400, "a malformed request sent directly")
    direct.close()
    wait_for(lambda: "127.0.0.4 was answered 400" in said(log), 10, "its log line")
    check("198.51.100.7" not in said(log), "a direct client's X-Forwarded-For believed")
finally:
    stop(nginx)
    stop(server)
    shutil.rmtree(work, ignore_errors=True)

end()
print(f"{STREAMS} event streams and the first page through nginx; limits and log by forwarded "
      "address")
