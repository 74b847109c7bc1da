"""Shared pieces of the end-to-end tests: the test server, the real
ZeltInformer.exe under Wine in a folder of its own, and the probe program."""

import json
import os
import shutil
import subprocess
import sys
import time
import unittest
import urllib.request

from watch import port_free, stop_process, wait_until  # noqa: F401  (the e2e tests take them from here)

SOURCE_DIR = os.environ.get("ZELT_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("ZELT_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win64"))
INSTALL_DIR = os.path.join(BUILD_DIR, "ZeltInformer")
PREFIX = os.environ.get("ZELT_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
PROBE = os.path.join(BUILD_DIR, "tools", "ZeltProbe.exe")
SERVER = os.path.join(SOURCE_DIR, "tools", "zelt_server.py")
WORK_DIR = os.path.join(BUILD_DIR, "e2e-work")
# The address the exe is built with (the default build settings).
INFORMER_PORT = int(os.environ.get("ZELT_INFORMER_PORT", "18765"))


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(k, None)
    return env


def _run_to_file(args, timeout):
    """Runs a Wine program with its output in a file, not a pipe: a wineserver
    that the program starts inherits its handles and would hold a pipe open."""
    import tempfile
    with tempfile.TemporaryFile() as out:
        subprocess.run(args, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout,
                       env=wine_env())
        out.seek(0)
        return out.read().decode("cp1251", "replace")


def probe(*args, timeout=60):
    """Runs ZeltProbe.exe under Wine and returns its stdout."""
    return _run_to_file([WINE_RUN, PREFIX, PROBE, *map(str, args)], timeout)


def here_count():
    line = [l for l in probe("find", 400).splitlines() if l.startswith("HERE ")]
    return int(line[-1].split()[1]) if line else -1


class Watcher:
    """A probe that records the instance messages it sees while it runs."""

    def __init__(self, ms):
        import tempfile
        self.out = tempfile.NamedTemporaryFile(delete=False)
        self.proc = subprocess.Popen([WINE_RUN, PREFIX, PROBE, "watch", str(ms)], stdout=self.out,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, env=wine_env())
        wait_until(lambda: b"READY" in open(self.out.name, "rb").read(), 60, what="the watching probe")

    def messages(self, timeout=120):
        self.proc.wait(timeout)
        text = open(self.out.name, "rb").read().decode()
        os.unlink(self.out.name)
        return [l.split()[1] for l in text.splitlines() if l.startswith("MSG ")]


class Server:
    """The informer/update test server on the port the exe is built for."""

    def __init__(self, *extra, port=INFORMER_PORT, log=None):
        self.port = port
        args = [sys.executable, SERVER, "--host", "127.0.0.1", "--port", str(port), *extra]
        if log:
            args += ["--log", log]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("PORT "):
            err = self.proc.stderr.read().decode(errors="replace") if self.proc.poll() is not None else ""
            raise AssertionError(f"test server did not start on {port}: {line!r} {err}")

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def control(self, what, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        req = urllib.request.Request(self.url("/_control/" + what), data=data,
                                     method="GET" if data is None else "POST")
        with urllib.request.urlopen(req, timeout=10) as r:
            body = r.read()
        return json.loads(body) if body else None

    def log(self):
        return self.control("log")

    def informer_requests(self):
        return [r for r in self.log() if r["path"].endswith("/inf.php")]

    def stop(self):
        stop_process(self.proc)


class Program:
    """ZeltInformer.exe copied with its files into a folder of its own, so each
    test has its own data.dat, and run under Wine."""

    def __init__(self, name, data_dat=None):
        self.dir = os.path.join(WORK_DIR, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        shutil.copytree(INSTALL_DIR, self.dir)
        self.exe = os.path.join(self.dir, "ZeltInformer.exe")
        if data_dat is not None:
            with open(self.data_path, "wb") as f:
                f.write(data_dat)
        self.proc = None

    @property
    def data_path(self):
        return os.path.join(self.dir, "data.dat")

    def start(self):
        self.proc = subprocess.Popen([WINE_RUN, PREFIX, self.exe], env=wine_env(), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        return self

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait(self, timeout):
        return self.proc.wait(timeout)

    def halt(self, timeout=60):
        """Asks the running copy to close through ZELTI_HALT and waits for its exit."""
        probe("halt")
        return self.wait(timeout)

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait()


def kill_all_wine():
    subprocess.run(["wineserver", "-k"], env=wine_env(), capture_output=True)
    subprocess.run(["wineserver", "-w"], env=wine_env(), capture_output=True, timeout=60)


class E2ETestCase(unittest.TestCase):
    """Each test starts with no copy of the program running and ends the same way."""

    def setUp(self):
        os.makedirs(WORK_DIR, exist_ok=True)
        self.programs = []
        self.servers = []
        if here_count() != 0:
            kill_all_wine()

    def tearDown(self):
        for p in self.programs:
            if p.running():
                try:
                    p.halt(timeout=20)
                except Exception:
                    p.kill()
        for s in self.servers:
            s.stop()

    def program(self, name=None, data_dat=None):
        p = Program(name or self.id().split(".")[-1], data_dat)
        self.programs.append(p)
        return p

    def server(self, *extra, **kw):
        # Another run may still hold the port for a while (a demo server, a
        # developer's test); wait for it rather than fail at once.
        end = time.monotonic() + 120
        while not port_free(INFORMER_PORT):
            if time.monotonic() > end:
                self.fail(f"port {INFORMER_PORT} is taken (is the demo server running?)")
            time.sleep(1)
        s = Server(*extra, **kw)
        self.servers.append(s)
        return s
