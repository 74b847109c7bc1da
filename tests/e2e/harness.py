"""Shared pieces of the end-to-end tests: the test server on the port the
build was made for, the real ZeltInformer.exe under Wine in a folder of its
own, and the probe program."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

SOURCE_DIR = os.environ.get("ZELT_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import datfile  # noqa: E402
# The tests take these from here.
from watch import ProbeServer, RequestLog, build_port, port_free, stop_process, wait_until  # noqa: E402,F401

BUILD_DIR = os.environ.get("ZELT_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win64"))
INSTALL_DIR = os.path.join(BUILD_DIR, "ZeltInformer")
PREFIX = os.environ.get("ZELT_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
PROBE = os.path.join(BUILD_DIR, "tools", "ZeltProbe.exe")
WORK_DIR = os.path.join(BUILD_DIR, "e2e-work")
INFORMER_PORT = int(os.environ.get("ZELT_INFORMER_PORT") or build_port(BUILD_DIR) or 0)  # 0: not known (yet)


def wine_env(debug="-all"):
    env = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG=debug, WINEDLLOVERRIDES="mscoree,mshtml=")
    for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(k, None)
    return env


def probe(*args, timeout=60):
    """Runs ZeltProbe.exe under Wine; its exit code and output. The output goes
    through a file, not a pipe: a Wine helper the probe starts inherits its
    handles and would hold a pipe open for as long as it lives."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([WINE_RUN, PREFIX, PROBE, *map(str, args)], stdout=out, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=timeout, env=wine_env())
        out.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace")


def driver():
    """The probe in serve mode: one command per line, one answer per line."""
    return ProbeServer([WINE_RUN, PREFIX, PROBE, "serve"], wine_env())


def poll_now(driver, log, target="ZeltMainForm", timeout=20):
    """F5 until a request reaches the server (`log`, a RequestLog): a press
    while the previous request still runs is skipped by the program."""
    want = log.count() + 1
    end = time.monotonic() + timeout
    while log.count() < want:
        if time.monotonic() > end:
            raise AssertionError("no request after F5")
        driver.key(0x74, target)
        until = time.monotonic() + 0.08
        while time.monotonic() < until and log.count() < want:
            time.sleep(0.005)


def ui_controls(window):
    """A window's controls as (handle, text, enabled, checked); None when the window is not shown."""
    lines = probe("ui-list", window)[1].splitlines()
    if not any(l.startswith("WIN ") for l in lines):
        return None
    rows = [l.split(" ") for l in lines if l.startswith("CTL ")]
    return [(r[1], "" if r[8] == "-" else bytes.fromhex(r[8]).decode(), r[3] == "1", r[5] == "1") for r in rows]


def here_count():
    """How many copies of the program answer ZELTI_FIND."""
    lines = [l for l in probe("find", 400)[1].splitlines() if l.startswith("HERE ")]
    return int(lines[-1].split()[1]) if lines else -1


class Watcher:
    """A probe that records the instance messages it sees until stopped."""

    def __init__(self):
        self.out = tempfile.NamedTemporaryFile()
        self.proc = subprocess.Popen([WINE_RUN, PREFIX, PROBE, "watch", "600000"], stdout=self.out,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, env=wine_env())
        wait_until(lambda: b"READY" in open(self.out.name, "rb").read(), 60, what="the watching probe")

    def stop(self):
        """The messages seen from the start until now."""
        stop_process(self.proc)
        text = open(self.out.name, "rb").read().decode()
        return [l.split()[1] for l in text.splitlines() if l.startswith("MSG ")]


class Server:
    """The informer/update test server."""

    def __init__(self, *extra, log=None):
        args = [sys.executable, os.path.join(SOURCE_DIR, "tools", "zelt_server.py"), "--host", "127.0.0.1",
                "--port", str(INFORMER_PORT), *extra] + (["--log", log] if log else [])
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("PORT "):
            raise AssertionError(f"the test server did not start on {INFORMER_PORT}: {line!r}")

    def control(self, what, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        req = urllib.request.Request(f"http://127.0.0.1:{INFORMER_PORT}/_control/{what}", data=data)
        with urllib.request.urlopen(req, timeout=10) as r:
            body = r.read()
        return json.loads(body) if body else None

    def informer_requests(self):
        return [r for r in self.control("log") if r["path"] == "/inf.php"]

    def stop(self):
        stop_process(self.proc)


class Program:
    """ZeltInformer.exe copied with its files into a folder of its own (its own
    data.dat) and run under Wine."""

    def __init__(self, name, data_dat=None):
        self.dir = os.path.join(WORK_DIR, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        shutil.copytree(INSTALL_DIR, self.dir)
        self.exe = os.path.join(self.dir, "ZeltInformer.exe")
        self.data_path = os.path.join(self.dir, "data.dat")
        if data_dat is not None:
            with open(self.data_path, "wb") as f:
                f.write(data_dat)
        self.proc = None

    def start(self, debug="-all", stderr=subprocess.DEVNULL):
        self.proc = subprocess.Popen([WINE_RUN, PREFIX, self.exe], env=wine_env(debug), stdout=subprocess.DEVNULL,
                                     stderr=stderr)
        return self

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def state(self):
        """data.dat as the program last saved it."""
        with open(self.data_path, "rb") as f:
            return datfile.decode(f.read())

    def halt(self, timeout=60):
        """Asks the running copy to close through ZELTI_HALT; its exit code."""
        probe("halt")
        return self.proc.wait(timeout)


class E2ETestCase(unittest.TestCase):
    """Each test starts with no copy of the program running and ends the same way."""

    def setUp(self):
        os.makedirs(WORK_DIR, exist_ok=True)
        self.programs, self.servers = [], []
        if here_count() != 0:
            subprocess.run(["wineserver", "-k"], env=wine_env(), capture_output=True)
            subprocess.run(["wineserver", "-w"], env=wine_env(), capture_output=True, timeout=60)

    def tearDown(self):
        for p in self.programs:
            if p.running():
                try:
                    p.halt(timeout=20)
                except Exception:
                    p.proc.kill()
                    p.proc.wait()
        for s in self.servers:
            s.stop()

    def program(self, name=None, data_dat=None):
        p = Program(name or self.id().split(".")[-1], data_dat)
        self.programs.append(p)
        return p

    def server(self, *extra, **kw):
        self.assertTrue(INFORMER_PORT, "the port the build was made for is not known")
        # An earlier run's connections may hold the port for a while after it closed them.
        wait_until(lambda: port_free(INFORMER_PORT), 120, interval=0.5, what=f"port {INFORMER_PORT} to be free")
        s = Server(*extra, **kw)
        self.servers.append(s)
        return s

    def logged_server(self, name, *extra):
        """The test server writing each request to a new log; the server and the log's reader."""
        path = os.path.join(WORK_DIR, f"{name}-requests.jsonl")
        if os.path.exists(path):
            os.remove(path)
        return self.server(*extra, log=path), RequestLog(path)
