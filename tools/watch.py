"""Watching a run from the Linux side: the test server's request log as it
grows, the probe that drives the program, the figures of a Wine process that
the system keeps in /proc, and the loopback port a build was made for. Used
by the end-to-end tests, the footprint measurement and scripts/run."""

import json
import os
import re
import signal
import socket
import subprocess
import time
from pathlib import Path

CLK_TCK = os.sysconf("SC_CLK_TCK")


class RequestLog:
    """The test server's JSON-lines request log, read as it grows; keeps the
    informer requests."""

    def __init__(self, path):
        self.path = path
        self.pos = 0
        self.informer = []

    def requests(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.pos)
                chunk = f.read()
        except FileNotFoundError:
            return self.informer
        end = chunk.rfind(b"\n")  # a line still being written waits for the next read
        if end >= 0:
            for line in chunk[:end].splitlines():
                r = json.loads(line)
                if r["path"] == "/inf.php":
                    self.informer.append(r)
            self.pos += end + 1
        return self.informer

    def count(self):
        return len(self.requests())

    def forget(self):
        """Reads what is there and starts counting afresh."""
        self.requests()
        self.informer = []


class ProbeServer:
    """ZeltProbe in serve mode, started with `argv` (the wine-run wrapper, the
    prefix, the probe, "serve"): one command per line, its answer's lines
    ended by an empty one (tools/ZeltProbe.cpp lists the commands)."""

    def __init__(self, argv, env):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env)
        first = self.proc.stdout.readline().decode().strip()
        if first != "READY":
            raise RuntimeError(f"probe did not start: {first!r}")

    def ask(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()
        lines = []
        while line := self.proc.stdout.readline().decode("utf-8", "replace").strip():
            lines.append(line)
        return "\n".join(lines)

    def stats(self, target):
        """The figures of the process that owns the window class `target`."""
        answer = self.ask("stats " + target)
        if not answer.startswith("STATS "):
            raise RuntimeError(f"stats {target}: {answer}")
        return {k: int(v) for k, v in (kv.split("=", 1) for kv in answer.split()[1:])}

    def close(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
            self.proc.wait(20)
        except Exception:
            self.proc.kill()
            self.proc.wait()


def stop_process(proc, timeout=10):
    """Asks a child process (a test server) to end, and kills it if it does not."""
    if proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def wine_pid(exe, prefix=None):
    """The Linux PID of the Wine process that runs exe (its first argument),
    in the given Wine prefix when one is named."""
    want = f"WINEPREFIX={prefix}".encode() if prefix else None
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if Path(f"/proc/{entry}/cmdline").read_bytes().split(b"\0")[0].decode(errors="replace") != exe:
                continue
            if want and want not in Path(f"/proc/{entry}/environ").read_bytes().split(b"\0"):
                continue
        except OSError:
            continue
        return int(entry)
    return None


def wait_until(predicate, timeout, interval=0.1, what="condition"):
    """Polls predicate until it returns a true value; fails after timeout."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


def linux_figures(pid):
    """Anonymous and resident memory, threads, open fds and sockets, CPU time
    and context switches of a process."""
    status = {}
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        k, _, v = line.partition(":")
        status[k] = v.strip()
    fds = os.listdir(f"/proc/{pid}/fd")
    sockets = 0
    for fd in fds:
        try:
            sockets += os.readlink(f"/proc/{pid}/fd/{fd}").startswith("socket:")
        except OSError:
            pass
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    cpu_ms = (int(fields[11]) + int(fields[12])) * 1000 // CLK_TCK  # utime, stime
    switches = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            for line in Path(f"/proc/{pid}/task/{tid}/status").read_text().splitlines():
                if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                    switches += int(line.split()[1])
        except OSError:
            pass

    def kb(key):
        return int(status.get(key, "0 kB").split()[0])
    return {"rss_anon_kb": kb("RssAnon"), "vm_rss_kb": kb("VmRSS"), "vm_hwm_kb": kb("VmHWM"),
            "threads": int(status.get("Threads", 0)), "fds": len(fds), "sockets": sockets, "cpu_ms": cpu_ms,
            "ctx_switches": switches}


def port_free(port):
    """Whether a server can listen on the port now. Connections of an earlier
    run waiting out TIME_WAIT do not count: the test server reuses the address."""
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def build_port(build_dir):
    """The loopback port the build in build_dir talks to (from its CMake
    cache), or None for a build with other addresses."""
    try:
        cache = Path(build_dir, "CMakeCache.txt").read_text()
    except OSError:
        return None
    found = re.search(r"^ZELT_INFORMER_URL:\w*=http://127\.0\.0\.1:(\d+)/?\s*$", cache, re.MULTILINE)
    return int(found[1]) if found else None
