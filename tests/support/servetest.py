"""What the server's Python tests share: checks that are counted to the end rather than stopping
at the first, and orvantis-serve started on a port of 127.0.0.1."""

import re
import subprocess
import sys
import tempfile
import time

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


def said(log):
    """What a server has written to its standard error so far."""
    log.seek(0)
    return log.read().decode(errors="replace")


def start_serve(serve, arguments, port=0, scheme="http", seconds=30):
    """orvantis-serve with `arguments` on 127.0.0.1:`port` (any free one when 0), once it has
    read its folder: the process, its port, and its standard error (read with said)."""
    log = tempfile.TemporaryFile()
    process = subprocess.Popen([serve, "--listen", f"127.0.0.1:{port}"] + arguments,
                               stdout=subprocess.DEVNULL, stderr=log)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and process.poll() is None:
        if " accounts from " in said(log):
            found = re.search(rf"listening on {scheme}://127\.0\.0\.1:(\d+)/", said(log))
            return process, int(found.group(1)), log
        time.sleep(0.05)
    process.kill()
    raise SystemExit("orvantis-serve did not start: " + said(log))


def stop(process):
    """Ends a process started by a test, killing it when it does not end in time."""
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()


def end():
    """Exits with the checks' verdict."""
    if failures:
        print(f"{len(failures)} checks failed", file=sys.stderr)
        sys.exit(1)
