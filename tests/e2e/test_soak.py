"""The real program over a couple of minutes of use: two hundred polls with
changing replies, network errors, forum lists, sorting, side windows opened
and closed. Afterwards its open files and sockets, threads, handles, windows,
GDI objects and anonymous memory are back near where they were, and data.dat
is valid and holds what was done."""

import os
import random
import time

import datfile
from harness import WORK_DIR, E2ETestCase, here_count, probe, wait_until
from harness import driver as probe_driver
from watch import RequestLog, linux_figures, wine_pid

VK_ESCAPE, VK_F3, VK_F5, VK_F7, VK_F9 = 0x1B, 0x72, 0x74, 0x76, 0x78
WM_LBUTTONUP = 0x202
TRAY_CALLBACK = 0x8000 + 40  # WM_APP + 40, the tray icon's callback message
MAIN = "ZeltMainForm"
SIDE = "ZeltForm"  # side windows; the probe takes the visible one in front
FAVORITES_BUTTON = (532, 268)  # centre of the favourites button in the main window, at 96 DPI
REQUEST_BYTES = 544

# After the soak, compared with the figures after the warm-up (each taken at a
# quiet moment, the smallest of a few samples):
BOUNDS = {
    "fds": 0,           # open files, pipes and sockets of the Wine process
    "sockets": 0,
    "threads": 0,       # Linux threads of the process
    "handles": 4,       # Windows handles (the system's handle list)
    "windows": 0,       # windows of the process, children included
    "gdi": 4,           # live GDI objects (the process's GDI handle table)
    "rss_anon_kb": 1536,  # anonymous resident memory: heap fragmentation, caches
}


def figures(driver, pid):
    f = linux_figures(pid)
    w = driver.stats(MAIN)
    f.update(handles=w["handles_sys"], windows=w["windows"], gdi=w["gdi_table"])
    return f


def quiet_figures(driver, pid, samples=6):
    """Each figure at its smallest over a few samples: a poll in flight holds a
    socket and two threads for a moment."""
    taken = []
    for _ in range(samples):
        taken.append(figures(driver, pid))
        time.sleep(0.35)
    return {k: min(t[k] for t in taken) for k in taken[0]}


def poll_now(driver, log, timeout=20):
    """F5 until a request reaches the server: a press while the previous
    request is still running is skipped by the program."""
    want = log.count() + 1
    end = time.monotonic() + timeout
    while log.count() < want:
        if time.monotonic() > end:
            raise AssertionError("no request after F5")
        driver.key(VK_F5, MAIN)
        until = time.monotonic() + 0.08
        while time.monotonic() < until and log.count() < want:
            time.sleep(0.005)


# --- what the server says ----------------------------------------------------------

# Forum ids and names; the program knows the first at the start, the server
# starts with two and adds one now and then.
FORUMS = [("15", "General"), ("5", "Новости")] + [(str(20 + k), f"Форум {k}") for k in range(8)]


def topic_set(rng, generation, forums):
    """30 topics whose reply counts, authors and order change with each
    generation; every forum has a topic."""
    ids = sorted(forums)
    topics = []
    for k in range(30):
        topics.append({"title": f"Тема {k} «{generation % 7}» & <{k}>", "path": f"topic-{1000 + k}",
                       "forum": ids[k % len(ids)], "replies": 10 + k + generation * (1 + k % 3),
                       "author": rng.choice(["Ivan", "Ольга", "Пётр", "Sergey"]),
                       "encode": rng.choice(["named", "numeric", "full"])})
    rng.shuffle(topics)
    return {"latest_version": "0.4", "forums": forums, "topics": topics}


class SoakTest(E2ETestCase):
    def test_resources_come_back_and_data_dat_holds_what_was_done(self):
        rng = random.Random(20240611)
        forums = dict(FORUMS[:2])
        log_path = os.path.join(WORK_DIR, "soak-requests.jsonl")
        if os.path.exists(log_path):
            os.remove(log_path)
        srv = self.server(log=log_path)
        log = RequestLog(log_path)
        srv.control("topics", topic_set(rng, 0, forums))
        # A fast timer polls on its own, beside the refresh key; one forum is
        # unknown at first, so the forum list is asked for.
        prog = self.program(data_dat=datfile.encode({"IntervalMs": 1000, "TopicCount": 30,
                                                      "ForumNames": ["General=15"]})).start()
        wait_until(lambda: here_count() == 1, 60, what="the program")
        wait_until(lambda: len(log.requests()) >= 3, 60, what="the first polls")
        pid = wait_until(lambda: wine_pid(prog.exe), 30, what="the Wine process")
        driver = probe_driver()
        self.addCleanup(driver.close)
        generation = 0

        def next_topics():
            nonlocal generation
            generation += 1
            srv.control("topics", topic_set(rng, generation, forums))

        def side_window(open_key=None):
            before = driver.stats(MAIN)["windows"]
            if open_key:
                driver.key(open_key, MAIN)
            else:
                probe("ui-clickat", f"class:{MAIN}", *FAVORITES_BUTTON)
            wait_until(lambda: driver.stats(MAIN)["windows"] > before, 30, 0.05, what="the side window")
            driver.key(VK_ESCAPE, SIDE)
            wait_until(lambda: driver.stats(MAIN)["windows"] == before, 30, 0.05, what="the side window to close")

        def show_main():
            driver.post(TRAY_CALLBACK, 1, WM_LBUTTONUP, MAIN)

        def one_round(i):
            calm = i >= 180  # the last rounds: no failures, no new forum
            if i % 30 == 20 and not calm and len(forums) < len(FORUMS):
                # A new forum appears: the next request asks for the forum list.
                fid, name = FORUMS[len(forums)]
                forums[fid] = name
            next_topics()
            if i % 9 == 4 and not calm:
                srv.control("script", {"path": "/inf.php", "replies": [rng.choice([
                    {"status": 500, "raw_text": "error"},
                    {"close_before_headers": True},
                    {"text": "0", "delay_headers": 0.4},
                ])]})
            poll_now(driver, log)
            if i % 11 == 5:
                driver.key(VK_F9, MAIN)
            if i % 20 == 6:
                show_main()
                driver.click("SysHeader32", 20 + 80 * (i % 5), 8, MAIN)
                if i % 40 == 26:
                    side_window()  # favourites
                driver.key(VK_ESCAPE, MAIN)
            if i % 20 == 12:
                side_window(VK_F3)
            if i % 30 == 17:
                side_window(VK_F7)

        # Warm-up: every action once, so first-use caches exist before the baseline.
        for i in range(40):
            one_round(i)
        wait_until(lambda: any(r["query"].endswith("p=2") for r in log.requests()), 30,
                   what="a forum list request")
        before = quiet_figures(driver, pid)
        polls_before = len(log.requests())

        for i in range(40, 200):
            one_round(i)
        after = quiet_figures(driver, pid)
        polls = len(log.requests()) - polls_before
        print(f"\nsoak: {polls} polls; before {before}; after {after}")
        self.assertGreaterEqual(polls, 160)
        for key, bound in BOUNDS.items():
            self.assertLessEqual(after[key], before[key] + bound,
                                 f"{key} grew from {before[key]} to {after[key]} (bound +{bound})")

        # The end: the topics stay as they are, everything is marked read, exit.
        last = topic_set(rng, generation + 1, forums)
        srv.control("topics", last)
        settled = len(log.requests()) + 3
        wait_until(lambda: len(log.requests()) >= settled, 30, what="polls of the last topics")
        driver.key(VK_F9, MAIN)

        def marks(state):
            return [f"/forum/{t['path']}-1\x11{t['replies']}".encode() for t in last["topics"]
                    if not any(m.endswith(f"/forum/{t['path']}-1\x11{t['replies']}".encode())
                               for m in state["ReadMarks"])]

        def saved_marks():
            try:
                return not marks(datfile.decode(open(prog.data_path, "rb").read()))
            except (OSError, ValueError):
                return False
        wait_until(saved_marks, 30, what="the read marks in data.dat")
        driver.close()
        self.assertEqual(prog.halt(), 0)
        requests = log.requests()

        state = datfile.decode(open(prog.data_path, "rb").read())
        self.assertEqual((state["IntervalMs"], state["TopicCount"]), (1000, 30))
        self.assertEqual(sorted(state["ForumNames"]),
                         sorted(f"{name}={fid}".encode("cp1251") for fid, name in forums.items()))
        self.assertEqual(marks(state), [], "topics marked read but missing from ReadMarks")
        self.assertLessEqual(len(state["ReadMarks"]), 999)
        self.assertEqual(state["LastOutBytes"], REQUEST_BYTES)
        # Every request counted, and only those (one may still have been on
        # its way when the program closed).
        self.assertEqual(state["TotalOutBytes"] % REQUEST_BYTES, 0)
        self.assertLessEqual(abs(state["TotalOutBytes"] // REQUEST_BYTES - len(requests)), 1)
