"""Shared pieces of the end-to-end tests: the test server on the port the
build was made for, the real ZeltInformer.exe under Wine in a folder of its
own, and the probe that drives it (tools/ZeltProbe.cpp lists its commands)."""

import json
import os
import shutil
import subprocess
import sys
import time
import unittest
import urllib.request
from pathlib import Path

SOURCE_DIR = os.environ.get("ZELT_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import datfile  # noqa: E402
# The tests take these from here.
from watch import ProbeServer, RequestLog, build_port, linux_figures, port_free, stop_process, \
    wait_until, wine_pid  # noqa: E402,F401

BUILD_DIR = os.environ.get("ZELT_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win64"))
INSTALL_DIR = os.path.join(BUILD_DIR, "ZeltInformer")
PREFIX = os.environ.get("ZELT_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
WINE_RUN = os.path.join(SOURCE_DIR, "scripts", "wine-run")
PROBE = os.path.join(BUILD_DIR, "tools", "ZeltProbe.exe")
WORK_DIR = os.path.join(BUILD_DIR, "e2e-work")
INFORMER_PORT = int(os.environ.get("ZELT_INFORMER_PORT") or build_port(BUILD_DIR) or 0)  # 0: not known (yet)

MAIN, SIDE, POPUP = "ZeltMainForm", "ZeltForm", "ZeltInfoForm"  # SIDE: the side window in front
VK_ESCAPE, VK_F3, VK_F5, VK_F7, VK_F9 = 0x1B, 0x72, 0x74, 0x76, 0x78
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP = 0x200, 0x201, 0x202
TRAY_CALLBACK = 0x8000 + 40  # WM_APP + 40, the tray icon's callback message


# scripts/wine-run drops the proxies and sets the debug output and DLL overrides.
def wine_env():
    return dict(os.environ, WINEPREFIX=PREFIX)


def wine_start(*args, env=None):
    """A Windows program run in the prefix of the moment, its output dropped."""
    return subprocess.Popen([WINE_RUN, PREFIX, *args], env=env or wine_env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def hexu(text):
    return text.encode("utf-8").hex()


class Probe(ProbeServer):
    """The probe in serve mode in the prefix of the moment; its window sees the
    instance messages all along."""

    def __init__(self):
        super().__init__([WINE_RUN, PREFIX, PROBE, "serve"], wine_env())

    def key(self, vk, window=MAIN, count=1):
        return self.ask(f"key {window} {vk} {count}")

    def post(self, msg, wp=0, lp=0, window=MAIN, child=""):
        return self.ask(f"post {window} {msg} {wp} {lp} {child}")

    def here_count(self):
        """How many copies of the program answer ZELTI_FIND."""
        return int(self.ask("find 400").split()[1])

    def controls(self, window):
        """A window's controls as (handle, text, enabled, checked); None when the window is not shown."""
        rows = [line.split(" ") for line in self.ask(f"list {window}").splitlines()]
        if not any(r[0] == "WIN" for r in rows):
            return None
        return [(r[1], "" if r[4] == "-" else bytes.fromhex(r[4]).decode(), r[2] == "1", r[3] == "1")
                for r in rows if r[0] == "CTL"]

    def control(self, window, start):
        """The shown control whose text starts so, or None."""
        return next((c for c in self.controls(window) or [] if c[1].startswith(start)), None)

    def press(self, window, text, prefix=False):
        return self.ask(f"press {window} {hexu(text)}" + (" prefix" if prefix else "")).startswith("PRESSED")

    def rows(self):
        answer = self.ask(f"rows {MAIN}")
        return int(answer.split()[1]) if answer.startswith("ROWS ") else -1

    def texts(self, window=f"class:{MAIN}"):
        return [c[1] for c in self.controls(window) or [] if c[1]]

    def side_window(self, vk):
        """Opens a side window with its key and closes it with Esc; the
        program's windows are counted before, between and after."""
        windows = lambda: self.stats(MAIN)["windows"]
        before = windows()
        self.key(vk)
        wait_until(lambda: windows() > before, 30, 0.05, what="the side window")
        self.key(VK_ESCAPE, SIDE)
        wait_until(lambda: windows() == before, 30, 0.05, what="the side window to close")

    def poll_now(self, log):
        """F5 until a request reaches the server (`log`, a RequestLog): a press
        while the previous request still runs is skipped by the program."""
        want = log.count() + 1
        end = time.monotonic() + 20
        while log.count() < want:
            if time.monotonic() > end:
                raise AssertionError("no request after F5")
            self.key(VK_F5)
            until = time.monotonic() + 0.08
            while time.monotonic() < until and log.count() < want:
                time.sleep(0.005)


class Server:
    """The informer/update test server; its requests go to a file read as it grows (`log`)."""

    def __init__(self, name, *extra):
        path = os.path.join(WORK_DIR, f"{name}-requests.jsonl")
        Path(path).unlink(missing_ok=True)
        self.proc = subprocess.Popen([sys.executable, os.path.join(SOURCE_DIR, "tools", "zelt_server.py"), "--host",
                                      "127.0.0.1", "--port", str(INFORMER_PORT), "--log", path, *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("PORT "):
            raise AssertionError(f"the test server did not start on {INFORMER_PORT}: {line!r}")
        self.log = RequestLog(path)

    def control(self, what, payload=None):
        """Posts `payload`; without one, reads (the log, with what happened after each request came)."""
        data = None if payload is None else json.dumps(payload).encode()
        req = urllib.request.Request(f"http://127.0.0.1:{INFORMER_PORT}/_control/{what}", data)
        with urllib.request.urlopen(req, timeout=10) as r:
            body = r.read()
        return json.loads(body) if body else None

    def topics(self, topics, forums=None):
        self.control("topics", {"latest_version": "0.4", "forums": forums or {"15": "General"}, "topics": topics})

    def script(self, *replies):
        self.control("script", {"path": "/inf.php", "replies": list(replies)})


class Program:
    """ZeltInformer.exe copied with its files into a folder of its own (with a
    data.dat of the given settings and lists) and run under Wine."""

    def __init__(self, name, state=None):
        self.dir = os.path.join(WORK_DIR, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        shutil.copytree(INSTALL_DIR, self.dir)
        self.exe = os.path.join(self.dir, "ZeltInformer.exe")
        self.data_path = os.path.join(self.dir, "data.dat")
        if state is not None:
            Path(self.data_path).write_bytes(datfile.encode(state))
        self.proc = None

    def start(self):
        self.proc = wine_start(self.exe)
        return self

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def pid(self):
        """The Linux PID of its Wine process."""
        return wait_until(lambda: wine_pid(self.exe), 30, what="the Wine process")

    def state(self):
        """data.dat as the program last saved it."""
        return datfile.decode(Path(self.data_path).read_bytes())


class E2ETestCase(unittest.TestCase):
    """Each test starts with no copy of the program running and ends the same
    way; `probe` drives what runs in between."""

    def setUp(self):
        os.makedirs(WORK_DIR, exist_ok=True)
        self.programs, self.servers = [], []
        self.probe = Probe()
        if self.probe.here_count() != 0:
            self.probe.close()
            subprocess.run(["wineserver", "-k"], env=wine_env(), capture_output=True)
            subprocess.run(["wineserver", "-w"], env=wine_env(), capture_output=True, timeout=60)
            self.probe = Probe()

    def tearDown(self):
        for p in self.programs:
            if p.running():
                try:
                    self.halt(p, timeout=20)
                except Exception:
                    p.proc.kill()
                    p.proc.wait()
        self.probe.close()
        for s in self.servers:
            stop_process(s.proc)

    def halt(self, program, timeout=60):
        """Asks the running copy to close through ZELTI_HALT; its exit code."""
        self.probe.ask("halt")
        return program.proc.wait(timeout)

    def program(self, name=None, state=None):
        p = Program(name or self.id().split(".")[-1], state)
        self.programs.append(p)
        return p

    def server(self, *extra):
        self.assertTrue(INFORMER_PORT, "the port the build was made for is not known")
        # An earlier run's connections may hold the port for a while after it closed them.
        wait_until(lambda: port_free(INFORMER_PORT), 120, interval=0.5, what=f"port {INFORMER_PORT} to be free")
        s = Server(self.id().split(".")[-1], *extra)
        self.servers.append(s)
        return s

    def start(self, state, topics, name=None):
        """The test server (with these topics) and the program, started from
        this data.dat, once it has made its first request and answers FIND."""
        srv = self.server()
        srv.topics(topics)
        prog = self.program(name, state).start()
        wait_until(lambda: srv.log.count() >= 1 and self.probe.here_count() == 1, 60, what="the first request")
        return srv, prog
