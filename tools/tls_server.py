#!/usr/bin/env python3
"""Throwaway test certificate authorities and local HTTPS servers for the
https tests of the update download.

  tls_server.py --work DIR --files DIR --ready FILE --alive FILE [--max-seconds N]

Makes (once a day) in DIR, with the openssl command-line tool:
  ca.pem/ca.der      the test authority that the tests add to the Wine prefix's
                     trusted roots
  other-ca.pem       an authority nobody trusts
  good.pem           "localhost", signed by the test authority
  wrongname.pem      "wrong-name.invalid", signed by the test authority
  unknown.pem        "localhost", signed by the other authority
Then serves the files of --files below /ZeltInformer/ over TLS on 127.0.0.1,
one server per certificate, and the same files over plain http; on every
server /ZeltInformer/redirect-to-http answers 302 with the plain server's
address of files.zip. Writes FILE (atomically) as lines
  good=PORT  wrongname=PORT  unknown=PORT  plain=PORT  ca=PATH-OF-ca.der
It ends when the --alive file disappears, after --max-seconds, or on SIGTERM.
Python 3 standard library and openssl only; binds to 127.0.0.1 only.
"""

import argparse
import http.server
import os
import shutil
import signal
import ssl
import subprocess
import sys
import threading
import time

VALID_DAYS = 7
REMAKE_AFTER = 24 * 3600
UPDATE_PREFIX = "/ZeltInformer/"


def openssl():
    found = shutil.which("openssl") or shutil.which("openssl", path="/usr/bin:/bin:/usr/local/bin")
    if not found:
        raise SystemExit("openssl not found")
    return found


def run(*args):
    subprocess.run([openssl(), *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(work, name, subject):
    key, pem = os.path.join(work, name + ".key"), os.path.join(work, name + ".pem")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", pem, "-days", str(VALID_DAYS),
        "-subj", subject, "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, pem


def make_server(work, name, host, ca_key, ca_pem):
    key, csr, pem = (os.path.join(work, name + ext) for ext in (".key", ".csr", ".pem"))
    ext = os.path.join(work, name + ".ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n" % host)
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + host)
    run("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial", "-out", pem,
        "-days", str(VALID_DAYS), "-extfile", ext)
    return pem, key


def make_certificates(work):
    """The authorities and server certificates, remade when a day old."""
    os.makedirs(work, exist_ok=True)
    stamp = os.path.join(work, "made")
    if os.path.exists(stamp) and time.time() - os.path.getmtime(stamp) < REMAKE_AFTER:
        return
    ca_key, ca_pem = make_ca(work, "ca", "/CN=Zelt Rarazovo Test CA")
    run("x509", "-in", ca_pem, "-outform", "der", "-out", os.path.join(work, "ca.der"))
    other_key, other_pem = make_ca(work, "other-ca", "/CN=Unknown Test CA")
    make_server(work, "good", "localhost", ca_key, ca_pem)
    make_server(work, "wrongname", "wrong-name.invalid", ca_key, ca_pem)
    make_server(work, "unknown", "localhost", other_key, other_pem)
    with open(stamp, "w") as f:
        f.write(str(time.time()))


def handler_for(files, plain_port):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            path = self.path.split("?", 1)[0]
            if path == UPDATE_PREFIX + "redirect-to-http":
                self.send_response(302)
                self.send_header("Location", "http://127.0.0.1:%d%sfiles.zip" % (plain_port[0], UPDATE_PREFIX))
                self.send_header("Content-Length", "0")
                self.send_header("Connection", "close")
                self.end_headers()
                self.close_connection = True
                return
            name = path[len(UPDATE_PREFIX):] if path.startswith(UPDATE_PREFIX) else ""
            full = os.path.join(files, name) if name and "/" not in name and ".." not in name else ""
            if not full or not os.path.isfile(full):
                body = b"not found"
                self.send_response(404)
            else:
                with open(full, "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            self.close_connection = True

        def log_message(self, *args):
            pass

    return Handler


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that asks only for the size closes the connection once it
        # has the headers; that is no error of the server's.
        if not isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError)):
            super().handle_error(request, client_address)


def serve(work, files, name, plain_port):
    server = QuietServer(("127.0.0.1", 0), handler_for(files, plain_port))
    if name != "plain":
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(os.path.join(work, name + ".pem"), os.path.join(work, name + ".key"))
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--files", required=True)
    ap.add_argument("--ready", required=True)
    ap.add_argument("--alive", required=True)
    ap.add_argument("--max-seconds", type=float, default=600)
    args = ap.parse_args()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    make_certificates(args.work)
    plain_port = [0]
    servers = {name: serve(args.work, args.files, name, plain_port)
               for name in ("plain", "good", "wrongname", "unknown")}
    plain_port[0] = servers["plain"].server_address[1]
    lines = ["%s=%d" % (name, s.server_address[1]) for name, s in servers.items()]
    lines.append("ca=" + os.path.join(args.work, "ca.der"))
    tmp = args.ready + ".tmp"
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, args.ready)

    end = time.monotonic() + args.max_seconds
    while not stop.is_set() and os.path.exists(args.alive) and time.monotonic() < end:
        stop.wait(0.2)
    for s in servers.values():
        s.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
