#!/usr/bin/env python3
"""orvantis-serve over HTTPS with a certificate of its own (a self-signed one for 127.0.0.1 in
tests/data/tls), and the certificates and keys it refuses at its start, with status 78.

    serve_tls_test.py ORVANTIS_SERVE ORVANTIS_RANK ACCOUNTS_FOLDER TLS_FOLDER
"""

import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from servetest import check, end, start_serve  # noqa: E402

serve, rank, accounts, tls = sys.argv[1:5]
certificate = os.path.join(tls, "certificate.pem")
key = os.path.join(tls, "key.pem")


def refused(arguments, words):
    """Whether orvantis-serve ends at once with status 78 and says `words`."""
    run = subprocess.run([serve, "--listen", "127.0.0.1:0"] + arguments, capture_output=True,
                         text=True, timeout=20)
    check(run.returncode == 78 and words in run.stderr,
          f"{arguments[1::2]} ended with {run.returncode}: {run.stderr.strip()}")


folder = tempfile.mkdtemp()
try:
    shutil.copytree(accounts, os.path.join(folder, "accounts"))
    process, port, _ = start_serve(serve, ["--tls-cert", certificate, "--tls-key", key, folder],
                                   scheme="https")
    context = ssl.create_default_context(cafile=certificate)
    connection = http.client.HTTPSConnection("127.0.0.1", port, context=context, timeout=10)
    connection.request("GET", "/ranking.tsv")
    reply = connection.getresponse()
    expected = subprocess.run([rank, folder], capture_output=True).stdout
    check(reply.status == 200 and reply.read() == expected, "the ranking over HTTPS")
    connection.request("GET", "/events")
    events = connection.getresponse()
    check(events.status == 200 and b"retry:" in events.fp.readline() + events.fp.readline(),
          "the event stream over HTTPS")
    connection.close()
    # Plain HTTP on the same port gets no answer of HTTP.
    with socket.create_connection(("127.0.0.1", port), timeout=5) as plain:
        plain.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        try:
            got = plain.recv(100)
        except (ConnectionResetError, socket.timeout):
            got = b""
        check(not got.startswith(b"HTTP/1.1 200"), "plain HTTP answered on the HTTPS port")
    process.send_signal(signal.SIGTERM)
    check(process.wait(timeout=10) == 0, "SIGTERM ends it with 0")

    refused(["--tls-cert", certificate, "--tls-key", os.path.join(tls, "other-key.pem"), folder],
            "is not the key of the certificate")
    refused(["--tls-cert", certificate, "--tls-key", os.path.join(tls, "missing.pem"), folder],
            "cannot read the TLS key")
    refused(["--tls-cert", os.path.join(tls, "..", "tls", "key.pem"), "--tls-key", key, folder],
            "cannot serve HTTPS with the certificate")
finally:
    shutil.rmtree(folder)

end()
print("HTTPS served; a missing, unreadable or mismatched key refused at the start")
