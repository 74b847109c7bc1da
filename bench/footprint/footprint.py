#!/usr/bin/env python3
"""Footprint of ZeltInformer.exe beside a minimal Win32 window program.

One command: builds, starts the real exe under Wine against the test server,
drives it, and prints a table of its figures next to those of the floor
program (bench/footprint/floor_win.cpp, built with the same toolchain and
flags), each as a ratio to the floor's, all measured in the same run.

    python3 bench/footprint/footprint.py [--polls 1000] [--idle 60] [--starts 5]
                                         [--no-build] [--no-decode] [--json FILE]

What is measured
  exe size        the file on disk
  start           from launching the process (wine-run) to the first informer
                  request logged by the server; for the floor, to the moment
                  its window is shown (it writes the wall-clock time). Median
                  of --starts alternating runs, after one warm-up run of each.
  after the first reply, and after --polls polls forced with F5 (posted to
  the main window as WM_KEYDOWN/WM_KEYUP) with 30-topic replies that change
  every time, HTTP 500s, dropped connections and slow replies mixed in;
  the floor gets the same number of F5 presses:
    anon memory   Linux RssAnon of the process: what "private bytes" are here
                  (Wine's GetProcessMemoryInfo reports no private bytes)
    resident      Linux VmRSS (the working set Wine reports is the same figure)
    handles       Windows handles in the system's handle list (wineserver);
                  GetProcessHandleCount answers 0 under Wine
    open fds      entries of /proc/PID/fd (files, sockets, pipes of Wine itself)
    sockets       of those, sockets
    GDI objects   live, non-stock entries of the process's GDI handle table
                  (GetGuiResources answers 0 under Wine)
    windows       windows of the process, children included (the USER objects
                  that can be counted from outside; menus and icons cannot)
    threads       Linux threads of the process (Toolhelp gives the same)
    CPU time      Linux utime + stime since the start
  idle minute     CPU time and context switches over --idle seconds with
                  nothing happening (the poll interval is set to 30 minutes, so
                  no tick falls inside), and the requests seen meanwhile.
  decoding        entity-dense text, the linear decoder against the literal
                  reference decoder (native Google Benchmark, core_decode_bench).

Needs: the win64 build (and the native one for decoding), Wine, Xvfb. Uses the
informer port of the build and waits while another run holds it.
The Wine prefix is build/win64/wineprefix-footprint; its wineserver is ended
at the end.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import datfile  # noqa: E402  (the data.dat layout, shared with the e2e tests)
from watch import (ProbeServer, RequestLog, build_port, linux_figures, port_free, stop_process,  # noqa: E402
                   wait_until, wine_pid)

PORT = build_port(os.path.join(SOURCE, "build", "win64")) or 18765
VK_F5 = 0x74
WM_CLOSE = 0x10


# --- plumbing -------------------------------------------------------------

class Env:
    def __init__(self, build):
        self.build = build
        self.exe = os.path.join(build, "ZeltInformer", "ZeltInformer.exe")
        self.install = os.path.join(build, "ZeltInformer")
        self.probe_exe = os.path.join(build, "tools", "ZeltProbe.exe")
        self.floor = os.path.join(build, "bench", "footprint", "ZeltFloor.exe")
        self.prefix = os.path.join(build, "wineprefix-footprint")
        self.work = os.path.join(build, "footprint-work")
        self.wine_run = os.path.join(SOURCE, "scripts", "wine-run")
        self.server_script = os.path.join(SOURCE, "tools", "zelt_server.py")

    def env(self):
        e = dict(os.environ)
        e.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
            e.pop(k, None)
        return e

    def run_wine(self, *args, **kw):
        return subprocess.Popen([self.wine_run, self.prefix, *args], env=self.env(), **kw)

    def probe(self, *args, timeout=60):
        # Output through a file, not a pipe: a wineserver started by this probe
        # would inherit the pipe and hold it open.
        import tempfile
        with tempfile.TemporaryFile() as out:
            subprocess.run([self.wine_run, self.prefix, self.probe_exe, *map(str, args)], env=self.env(),
                           stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
            out.seek(0)
            return out.read().decode("cp1251", "replace").strip()


class Prober(ProbeServer):
    def __init__(self, env):
        super().__init__([env.wine_run, env.prefix, env.probe_exe, "serve"], env.env())


class Server:
    """tools/zelt_server.py with a request log file that is read as it grows."""

    def __init__(self, env, log):
        self.log_path = log
        if os.path.exists(log):
            os.remove(log)
        self.proc = subprocess.Popen([sys.executable, env.server_script, "--host", "127.0.0.1", "--port", str(PORT),
                                      "--log", log], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("PORT "):
            raise RuntimeError(f"test server did not start: {line!r}")
        self.log = RequestLog(log)

    def control(self, what, payload):
        import urllib.request
        req = urllib.request.Request(f"http://127.0.0.1:{PORT}/_control/{what}", data=json.dumps(payload).encode(),
                                     method="POST")
        with urllib.request.urlopen(req, timeout=10) as r:
            r.read()

    def script(self, replies):
        self.control("script", {"path": "/inf.php", "replies": replies})

    def reset(self):
        self.control("reset", {})

    def informer(self):
        """Informer requests logged so far (read incrementally from the log file)."""
        return self.log.requests()

    def forget(self):
        self.log.forget()

    def stop(self):
        stop_process(self.proc)


def wait_for(pred, timeout, interval=0.005, what="condition"):
    return wait_until(pred, timeout, interval, what)


# --- the Linux side of a Wine process ----------------------------------------

def figures(prober, pid, target):
    f = linux_figures(pid)
    w = prober.stats(target)
    f.update(handles=w["handles_sys"], gdi=w["gdi_table"], windows=w["windows"], win_threads=w["threads"],
             win_workingset_kb=w["workingset"] // 1024, win_private=w["private"], win_handle_api=w["handles"],
             win_gdi_api=w["gdi_api"], win_user_api=w["user_api"])
    return f


def linux_pid(env, exe_path):
    """The Wine process of exe_path in this run's prefix; a copy running in
    another prefix (another measurement, a test) is not taken for it."""
    return wait_for(lambda: wine_pid(exe_path, env.prefix), 60, 0.01, "the Wine process of " + exe_path)


# --- replies -------------------------------------------------------------------

TITLES = ["Продам велосипед &quot;Кама&quot;", "Где купить шины? &laquo;срочно&raquo;",
          "&#1053;&#1086;&#1074;&#1086;&#1089;&#1090;&#1080; района", "Встреча выпускников &amp; друзей",
          "Ищу попутчиков &#8212; до Москвы", "Погода &lt;завтра&gt;", "Фотоконкурс &#8470;5",
          "Ремонт &hellip; советы", "Рыбалка на &#1042;олге", "Кто &quot;за&quot;?"]
AUTHORS = ["Ivan", "Olga", "Пётр", "&#1052;&#1072;&#1096;&#1072;", "Sergey", "Анна"]
FORUMS = {"15": "General", "5": "Новости", "7": "Барахолка"}


def topic_reply(i, count=30):
    """Poll i's reply text: `count` topics whose reply counts and order change with i."""
    records = []
    for j in range(count):
        k = (j + i) % count
        fields = [f"{TITLES[k % len(TITLES)]} {k}", f"topic-{1000 + k}", list(FORUMS)[k % len(FORUMS)],
                  str(10 + k + i // (1 + k % 3)), AUTHORS[(i + k) % len(AUTHORS)]]
        records.append("\x11".join(fields) + "\x11")
    return "0" + "".join(records)


def scripted_reply(i):
    """What the server answers to poll i: mostly a new 30-topic reply, sometimes
    a failure or a slow reply."""
    if i % 20 == 19:
        return {"status": 500, "raw_text": "error"}
    if i % 31 == 30:
        return {"close_before_headers": True}
    reply = {"text": topic_reply(i)}
    if i % 15 == 14:
        reply["delay_headers"] = 0.4
    return reply


# --- runs ----------------------------------------------------------------------

def prepare_program_dir(env, name, interval_ms):
    d = os.path.join(env.work, name)
    shutil.rmtree(d, ignore_errors=True)
    shutil.copytree(env.install, d)
    with open(os.path.join(d, "data.dat"), "wb") as f:
        f.write(datfile.encode({"IntervalMs": interval_ms, "TopicCount": 30,
                                "ForumNames": [f"{n}={i}" for i, n in FORUMS.items()]}))
    return os.path.join(d, "ZeltInformer.exe")


def stop_ours(env, popen):
    env.probe("halt")
    try:
        popen.wait(60)
    except subprocess.TimeoutExpired:
        popen.kill()
        popen.wait()


def stop_floor(prober, popen):
    prober.ask(f"post ZeltFloor {WM_CLOSE} 0 0")
    try:
        popen.wait(30)
    except subprocess.TimeoutExpired:
        popen.kill()
        popen.wait()


def start_time_ours(env, server, exe):
    server.forget()
    server.reset()
    server.script([{"text": topic_reply(0)}])
    t0 = time.time()
    p = env.run_wine(exe, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    first = wait_for(lambda: server.informer(), 60, what="the first request")[0]
    stop_ours(env, p)
    return first["time"] - t0


def start_time_floor(env, prober):
    stamp = os.path.join(env.work, "floor-stamp.txt")
    if os.path.exists(stamp):
        os.remove(stamp)
    t0 = time.time()
    p = env.run_wine(env.floor, stamp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def read():
        try:
            with open(stamp) as f:
                text = f.read().strip()
            return int(text) if text else None
        except (FileNotFoundError, ValueError):
            return None
    shown = wait_for(read, 60, what="the floor's window")
    stop_floor(prober, p)
    return shown / 1e6 - t0


def drive_polls(prober, server, polls, log=None):
    """Forces `polls` informer requests with F5, scripting one reply for each.
    A press while a request is still running is skipped by the program, so a
    press that brings no request within a moment is repeated."""
    done = len(server.informer())
    presses = 0
    for i in range(1, polls + 1):
        reply = scripted_reply(i)
        server.script([reply])
        want = done + 1
        while len(server.informer()) < want:
            prober.ask(f"key ZeltMainForm {VK_F5}")
            presses += 1
            end = time.monotonic() + 0.25 + reply.get("delay_headers", 0)
            while time.monotonic() < end and len(server.informer()) < want:
                time.sleep(0.002)
        done = want
        if log and i % 100 == 0:
            log(f"  {i} polls")
    return presses


def run_ours(env, server, prober, args, log):
    exe = prepare_program_dir(env, "ours", 1800000)
    server.forget()
    server.reset()
    server.script([{"text": topic_reply(0)}])
    p = env.run_wine(exe, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pid = linux_pid(env, exe)
    wait_for(lambda: server.informer(), 60, what="the first request")
    time.sleep(args.settle)
    a = figures(prober, pid, "ZeltMainForm")
    log("ours after the first reply: " + json.dumps(a))
    t = time.monotonic()
    presses = drive_polls(prober, server, args.polls, log)
    polls_s = time.monotonic() - t
    time.sleep(args.settle)
    b = figures(prober, pid, "ZeltMainForm")
    log("ours after the polls: " + json.dumps(b))
    before = len(server.informer())
    time.sleep(args.idle)
    c = figures(prober, pid, "ZeltMainForm")
    idle_requests = len(server.informer()) - before
    stop_ours(env, p)
    return {"first": a, "polls": b, "idle_end": c, "idle_requests": idle_requests, "presses": presses,
            "polls_seconds": polls_s}


def run_floor(env, prober, args, log):
    p = env.run_wine(env.floor, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pid = linux_pid(env, env.floor)
    wait_for(lambda: prober.ask("stats ZeltFloor").startswith("STATS"), 60, 0.1, "the floor's window")
    time.sleep(args.settle)
    a = figures(prober, pid, "ZeltFloor")
    log("floor after its window: " + json.dumps(a))
    for _ in range(args.polls):
        prober.ask(f"key ZeltFloor {VK_F5}")
    time.sleep(args.settle)
    b = figures(prober, pid, "ZeltFloor")
    log("floor after the presses: " + json.dumps(b))
    time.sleep(args.idle)
    c = figures(prober, pid, "ZeltFloor")
    stop_floor(prober, p)
    return {"first": a, "polls": b, "idle_end": c}


# What the floor costs with what any program of this kind needs before its own
# code: the common controls (the list, tooltips, progress bars) and one worker
# thread (a blocking request off the window thread).
FLOOR_STEPS = (("floor + common controls", ["--common-controls"]),
               ("floor + common controls + a worker thread", ["--common-controls", "--worker-thread"]))


def floor_steps(env, prober, args, log):
    out = []
    for name, options in FLOOR_STEPS:
        # The floor that ran before must be gone, or its window would be taken for this one's.
        wait_for(lambda: not prober.ask("stats ZeltFloor").startswith("STATS"), 60, 0.05, "the previous floor to end")
        p = env.run_wine(env.floor, *options, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pid = linux_pid(env, env.floor)
        wait_for(lambda: prober.ask("stats ZeltFloor").startswith("STATS"), 60, 0.1, "the floor's window")
        time.sleep(args.settle)
        f = linux_figures(pid)
        log(f"{name}: " + json.dumps(f))
        out.append({"name": name, "rss_anon_kb": f["rss_anon_kb"], "vm_rss_kb": f["vm_rss_kb"]})
        stop_floor(prober, p)
    return out


def decode_ratio(build_native, skip_build, log):
    if not skip_build:
        if not os.path.exists(os.path.join(build_native, "build.ninja")):
            subprocess.run(["cmake", "--preset", "native"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "native", "-j2", "--target", "core_decode_bench"],
                       cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    bench = os.path.join(build_native, "bench", "core_decode_bench")
    out = subprocess.run([bench, "--benchmark_filter=Dense1MiB", "--benchmark_format=json"], capture_output=True,
                         check=True)
    times = {b["name"]: b["real_time"] for b in json.loads(out.stdout)["benchmarks"]}
    linear = times["BM_Dense1MiB_Linear"]
    reference = next(v for k, v in times.items() if k.startswith("BM_Dense1MiB_Reference"))
    log(f"decoding 1 MiB entity-dense: linear {linear:.2f} ms, reference {reference:.1f} ms")
    return linear, reference


def imported_dlls(exe):
    """The DLLs the exe imports, from its import directory."""
    import struct
    with open(exe, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    opt = pe + 24
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    import_rva = struct.unpack_from("<I", data, opt + 120)[0]  # PE32+ data directory 1

    def offset(rva):
        for i in range(sections):
            sh = opt + opt_size + 40 * i
            vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, sh + 8)
            if va <= rva < va + max(vsize, rawsize):
                return rva - va + raw
        raise ValueError(f"rva {rva:#x} outside the sections")
    names, at = [], offset(import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, at + 12)[0]
        if name_rva == 0:
            return names
        o = offset(name_rva)
        names.append(data[o:data.index(b"\0", o)].decode().lower())
        at += 20


SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
               "ole32.dll", "oleaut32.dll", "shell32.dll", "user32.dll", "wininet.dll", "winmm.dll",
               "windowscodecs.dll", "uxtheme.dll", "msimg32.dll", "shlwapi.dll", "ws2_32.dll", "version.dll",
               "winspool.drv", "imm32.dll", "riched20.dll", "msftedit.dll"}


# --- report --------------------------------------------------------------------

def ratio(a, b):
    if b in (0, None) or a is None:
        return "—"
    return f"{a / b:.2f}"


def table(res):
    ours, floor = res["ours"], res["floor"]
    rows = []

    def row(name, o, f, unit=""):
        rows.append((name, f"{o}{unit}", f"{f}{unit}", ratio(o, f)))

    row("exe size (bytes)", res["exe_size"]["ours"], res["exe_size"]["floor"])
    row("start → first request / first window (ms, median)", round(res["start"]["ours_ms"]),
        round(res["start"]["floor_ms"]))
    row("start → first request / first window (ms, best)", round(min(res["start"]["ours_all"])),
        round(min(res["start"]["floor_all"])))
    for phase, label in (("first", "after the first reply"), ("polls", f"after {res['polls']} polls")):
        o, f = ours[phase], floor[phase]
        row(f"{label}: anon memory, RssAnon (KiB) [private bytes]", o["rss_anon_kb"], f["rss_anon_kb"])
        row(f"{label}: resident, VmRSS (KiB) [working set]", o["vm_rss_kb"], f["vm_rss_kb"])
        row(f"{label}: handles (system handle list)", o["handles"], f["handles"])
        row(f"{label}: open fds /proc/PID/fd", o["fds"], f["fds"])
        row(f"{label}: GDI objects (handle table)", o["gdi"], f["gdi"])
        row(f"{label}: USER: windows", o["windows"], f["windows"])
        row(f"{label}: threads", o["threads"], f["threads"])
        row(f"{label}: CPU time since start (ms)", o["cpu_ms"], f["cpu_ms"])
    per_poll = (ours["polls"]["cpu_ms"] - ours["first"]["cpu_ms"]) / res["polls"]
    per_press = (floor["polls"]["cpu_ms"] - floor["first"]["cpu_ms"]) / res["polls"]
    rows.append(("CPU time per poll / per F5 press (ms)", f"{per_poll:.1f}", f"{per_press:.2f}", "—"))
    oi = ours["idle_end"]["cpu_ms"] - ours["polls"]["cpu_ms"]
    fi = floor["idle_end"]["cpu_ms"] - floor["polls"]["cpu_ms"]
    row(f"idle {res['idle']} s: CPU time (ms)", oi, fi)
    row(f"idle {res['idle']} s: context switches",
        ours["idle_end"]["ctx_switches"] - ours["polls"]["ctx_switches"],
        floor["idle_end"]["ctx_switches"] - floor["polls"]["ctx_switches"])
    if res.get("decode"):
        lin, ref = res["decode"]
        rows.append(("decoding 1 MiB entity-dense text (ms): linear / reference", f"{lin:.2f}", f"{ref:.1f}",
                     f"{ref / lin:.0f}× faster"))
    w = [max(len(r[i]) for r in rows + [("figure", "ours", "floor", "ours/floor")]) for i in range(4)]
    lines = ["| " + " | ".join(h.ljust(w[i]) for i, h in enumerate(("figure", "ours", "floor", "ours/floor"))) + " |",
             "|" + "|".join("-" * (x + 2) for x in w) + "|"]
    for r in rows:
        lines.append("| " + " | ".join(c.ljust(w[i]) for i, c in enumerate(r)) + " |")
    return "\n".join(lines)


def attribution(res):
    """Anonymous memory of ours beside the floor with the common controls and
    a worker thread: what is left is the program's own."""
    ours = res["ours"]["polls"]["rss_anon_kb"]
    lines = ["| anon memory, RssAnon (KiB) | KiB | ours/this |", "|---|---|---|"]
    for name, kb in [("floor", res["floor"]["polls"]["rss_anon_kb"])] + \
            [(s["name"], s["rss_anon_kb"]) for s in res.get("floor_steps", [])]:
        lines.append(f"| {name} | {kb} | {ratio(ours, kb)} |")
    lines.append(f"| ours after {res['polls']} polls | {ours} | 1.00 |")
    return "\n".join(lines)


def targets(res):
    ours, floor = res["ours"], res["floor"]
    out = []

    def check(name, ok, detail):
        out.append(f"{'met   ' if ok else 'MISSED'} {name}: {detail}")

    size = res["exe_size"]["ours"]
    check("exe at most 1.5 MB", size <= 1.5e6, f"{size} bytes")
    foreign = [d for d in res["imports"] if d not in SYSTEM_DLLS]
    check("the exe needs no DLL beside it", not foreign, ", ".join(foreign) or "system DLLs only")
    r = ours["polls"]["rss_anon_kb"] / max(1, floor["polls"]["rss_anon_kb"])
    check("anonymous resident memory at most 1.5× the floor's", r <= 1.5,
          f"{ours['polls']['rss_anon_kb']} KiB vs {floor['polls']['rss_anon_kb']} KiB = {r:.2f}×")
    for key in ("fds", "sockets", "threads", "handles", "gdi", "windows"):
        a, b = ours["first"][key], ours["polls"][key]
        check(f"no growth of {key} over the polls", b <= a, f"{a} → {b}")
    d = res["start"]["ours_ms"] - res["start"]["floor_ms"]
    check("first request within 100 ms of the floor's first window", d <= 100,
          f"{res['start']['ours_ms']:.0f} ms vs {res['start']['floor_ms']:.0f} ms ({d:+.0f} ms)")
    if res.get("decode"):
        lin, ref = res["decode"]
        check("entity-dense decoding at least 20× the reference", ref / lin >= 20, f"{ref / lin:.0f}×")
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build-dir", default=os.path.join(SOURCE, "build", "win64"))
    ap.add_argument("--polls", type=int, default=1000)
    ap.add_argument("--idle", type=float, default=60.0)
    ap.add_argument("--starts", type=int, default=9)
    ap.add_argument("--settle", type=float, default=3.0, help="seconds before a measurement")
    ap.add_argument("--no-build", action="store_true")
    ap.add_argument("--no-decode", action="store_true")
    ap.add_argument("--port-wait", type=float, default=900, help="seconds to wait for a busy port")
    ap.add_argument("--json", help="write the raw figures here")
    args = ap.parse_args()
    log = lambda s: print(s, file=sys.stderr, flush=True)

    env = Env(os.path.abspath(args.build_dir))
    if not args.no_build:
        if not os.path.exists(os.path.join(env.build, "build.ninja")):
            subprocess.run(["cmake", "--preset", "win64"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "win64", "-j2", "--target", "ZeltInformer", "ZeltProbe",
                        "ZeltFloor"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    os.makedirs(env.work, exist_ok=True)

    xvfb = None
    if not os.environ.get("DISPLAY"):
        r, w = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24"], pass_fds=(w,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        os.environ["DISPLAY"] = ":" + os.read(r, 32).decode().strip()
        os.close(r)

    res = {"polls": args.polls, "idle": args.idle}
    server = prober = None
    try:
        end = time.monotonic() + args.port_wait
        while not port_free(PORT):
            if time.monotonic() > end:
                raise RuntimeError(f"port {PORT} stayed taken")
            log(f"port {PORT} is taken; waiting")
            time.sleep(5)
        env.probe("find", 10, timeout=300)  # boots the prefix on first use
        # The probe in serve mode runs throughout, so the wineserver stays up
        # between the starts that are timed.
        prober = Prober(env)
        server = Server(env, os.path.join(env.work, "requests.jsonl"))

        res["exe_size"] = {"ours": os.path.getsize(env.exe), "floor": os.path.getsize(env.floor)}
        res["imports"] = imported_dlls(env.exe)
        start_exe = prepare_program_dir(env, "start", 1800000)
        start_time_floor(env, prober)  # warm-up runs, not counted
        start_time_ours(env, server, start_exe)
        ours_t, floor_t = [], []
        for _ in range(args.starts):
            floor_t.append(start_time_floor(env, prober) * 1000)
            prepare_program_dir(env, "start", 1800000)
            ours_t.append(start_time_ours(env, server, start_exe) * 1000)
        log(f"start (ms): ours {[round(x) for x in ours_t]}, floor {[round(x) for x in floor_t]}")
        res["start"] = {"ours_ms": statistics.median(ours_t), "floor_ms": statistics.median(floor_t),
                        "ours_all": ours_t, "floor_all": floor_t}

        res["ours"] = run_ours(env, server, prober, args, log)
        res["floor"] = run_floor(env, prober, args, log)
        res["floor_steps"] = floor_steps(env, prober, args, log)
        if not args.no_decode:
            res["decode"] = decode_ratio(os.path.join(SOURCE, "build", "native"), args.no_build, log)
    finally:
        if prober:
            prober.close()
        if server:
            server.stop()
        subprocess.run(["wineserver", "-k"], env=env.env(), capture_output=True)
        if xvfb:
            xvfb.terminate()
            xvfb.wait()

    if args.json:
        with open(args.json, "w") as f:
            json.dump(res, f, indent=1)
    print(table(res))
    print()
    print(f"polls: {args.polls} requests from {res['ours']['presses']} F5 presses in "
          f"{res['ours']['polls_seconds']:.0f} s; requests during the idle minute: {res['ours']['idle_requests']}")
    print()
    print(attribution(res))
    print(targets(res))
    return 0


if __name__ == "__main__":
    sys.exit(main())
