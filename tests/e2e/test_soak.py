"""The real program over a couple of minutes of use: two hundred polls with
changing replies, network errors, new forums, sorting, side windows opened
and closed. Afterwards its open files and sockets, threads, handles, windows,
GDI objects and anonymous memory are back near where they were, and data.dat
holds what was done."""

import random
import time

from harness import MAIN, TRAY_CALLBACK, VK_ESCAPE, VK_F3, VK_F7, VK_F9, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, \
    E2ETestCase, linux_figures, wait_until

REQUEST_BYTES = 544
# How far each figure may grow from after the warm-up to the end (each the
# smallest of a few samples at a quiet moment): Linux fds, sockets and
# threads of the Wine process, the system's handles, windows with children,
# the GDI handle table, and anonymous resident memory (heap fragmentation).
BOUNDS = {"fds": 0, "sockets": 0, "threads": 0, "handles": 4, "windows": 0, "gdi": 4, "rss_anon_kb": 1536}
# The program knows the first forum at the start; the server starts with two
# and adds one now and then, so the forum list is asked for again.
FORUMS = [("15", "General"), ("5", "Новости")] + [(str(20 + k), f"Форум {k}") for k in range(8)]


def topic_set(rng, generation, forums):
    """30 topics whose reply counts, authors and order change with each generation."""
    ids = sorted(forums)
    topics = [{"title": f"Тема {k} «{generation % 7}» & <{k}>", "path": f"topic-{1000 + k}",
               "forum": ids[k % len(ids)], "replies": 10 + k + generation * (1 + k % 3),
               "author": rng.choice(["Ivan", "Ольга", "Пётр", "Sergey"]),
               "encode": rng.choice(["named", "numeric", "full"])} for k in range(30)]
    rng.shuffle(topics)
    return topics


class SoakTest(E2ETestCase):
    def test_resources_come_back_and_data_dat_holds_what_was_done(self):
        rng = random.Random(20240611)
        forums = dict(FORUMS[:2])
        # The refresh key polls (the timer at most once a minute); one forum
        # is unknown at first, so the forum list is asked for.
        srv, prog = self.start({"IntervalMs": 60000, "TopicCount": 30, "ForumNames": ["General=15"]},
                               topic_set(rng, 0, forums), forums=forums)
        pid, log, probe = prog.pid(), srv.log, self.probe

        def figures():
            """Each figure at its smallest over a few samples: a poll in flight
            holds a socket and two threads for a moment."""
            taken = []
            for _ in range(6):
                w = probe.stats(MAIN)
                taken.append(dict(linux_figures(pid), handles=w["handles_sys"], windows=w["windows"],
                                  gdi=w["gdi_table"]))
                time.sleep(0.35)
            return {k: min(t[k] for t in taken) for k in BOUNDS}

        def one_round(i):
            calm = i >= 180  # the last rounds: no failures, no new forum
            if i % 30 == 20 and not calm and len(forums) < len(FORUMS):
                forums.setdefault(*FORUMS[len(forums)])
            srv.topics(topic_set(rng, i + 1, forums), forums)
            if i % 9 == 4 and not calm:
                srv.script(rng.choice([{"status": 500, "raw_text": "error"}, {"close_before_headers": True},
                                       {"text": "0", "delay_headers": 0.4}]))
            probe.poll_now(log)
            if i % 11 == 5:
                probe.key(VK_F9)
            if i % 20 == 6:  # from the tray, a click on a column header, Esc
                probe.post(TRAY_CALLBACK, 1, WM_LBUTTONUP)
                for msg in (WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP):
                    probe.post(msg, int(msg == WM_LBUTTONDOWN), (8 << 16) + 20 + 80 * (i % 5), child="SysHeader32")
                probe.key(VK_ESCAPE)
            if i % 20 == 12:
                probe.side_window(lambda: probe.key(VK_F3))
            if i % 30 == 17:
                probe.side_window(lambda: probe.key(VK_F7))

        # Warm-up: every action once, so first-use caches exist before the baseline.
        for _ in range(2):
            probe.poll_now(log)
        for i in range(40):
            one_round(i)
        wait_until(lambda: any(r["query"].endswith("p=2") for r in log.requests()), 30, what="a forum list request")
        before, polls_before = figures(), log.count()
        for i in range(40, 200):
            one_round(i)
        after, polls = figures(), log.count() - polls_before
        print(f"\nsoak: {polls} polls; before {before}; after {after}")
        self.assertGreaterEqual(polls, 160)
        for key, bound in BOUNDS.items():
            self.assertLessEqual(after[key], before[key] + bound,
                                 f"{key} grew from {before[key]} to {after[key]} (bound +{bound})")

        # The end: the topics stay as they are, everything is marked read, exit.
        last = topic_set(rng, 201, forums)
        srv.topics(last, forums)
        for _ in range(3):
            probe.poll_now(log)  # the last topics
        probe.key(VK_F9)

        def unsaved():
            """The topics marked read whose marks data.dat lacks."""
            try:  # the file may be changing hands this moment
                marks = prog.state()["ReadMarks"]
            except (OSError, ValueError):
                return ["data.dat"]
            return [t["path"] for t in last if not any(m.endswith(f"/forum/{t['path']}-1\x11{t['replies']}".encode())
                                                       for m in marks)]
        wait_until(lambda: not unsaved(), 30, what="the read marks in data.dat")
        self.assertEqual(self.halt(prog), 0)
        self.assertEqual(unsaved(), [], "the end lost read marks")

        state = prog.state()
        self.assertEqual((state["IntervalMs"], state["TopicCount"]), (60000, 30))
        self.assertEqual(sorted(state["ForumNames"]),
                         sorted(f"{name}={fid}".encode("cp1251") for fid, name in forums.items()))
        self.assertLessEqual(len(state["ReadMarks"]), 999)
        self.assertEqual(state["LastOutBytes"], REQUEST_BYTES)
        # Every request counted, and only those (one may still have been on
        # its way when the program closed).
        self.assertEqual(state["TotalOutBytes"] % REQUEST_BYTES, 0)
        self.assertLessEqual(abs(state["TotalOutBytes"] // REQUEST_BYTES - log.count()), 1)
