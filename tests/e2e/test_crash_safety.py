"""data.dat survives a hard kill in the middle of saving: the program marks
topics read one by one ("Все", each mark a save) again and again while the
server's replies keep bringing them back unread, and is killed with SIGKILL
at random moments. Every time data.dat loads whole, as the state before or
after some save, and the program starts from it."""

import os
import random
import signal
import struct
import time

from harness import VK_F5, VK_F9, E2ETestCase, wait_until

ITERATIONS = 8
TOPICS = 30


def topics(generation):
    """A topic set in which every topic has a new reply count each generation."""
    return [{"title": f"Тема {k} &amp; «{generation}»", "path": f"topic-{k}", "forum": "15",
             "replies": 100 + generation * (k + 1), "author": "Ivan"} for k in range(TOPICS)]


def marks_by_link(state):
    """ReadMarks as link -> replies; every entry must be link 0x11 replies."""
    marks = [line.partition(b"\x11") for line in state["ReadMarks"]]
    if not all(sep and link.endswith(b"-1") and replies.isdigit() for link, sep, replies in marks):
        raise ValueError(f"damaged read marks {state['ReadMarks']!r}")
    return {link: int(replies) for link, _, replies in marks}


class CrashSafetyTest(E2ETestCase):
    def test_data_dat_is_before_or_after_a_save_whenever_the_process_is_killed(self):
        seed = int(os.environ.get("ZELT_CRASH_SEED", "0")) or random.randrange(1, 1 << 30)
        rng = random.Random(seed)
        srv, probe = self.server(), self.probe
        log = srv.log
        settings = {"IntervalMs": 60000, "TopicCount": TOPICS, "ForumNames": ["General=15"],
                    "Favorites": ["Избранная\x11General\x11http://example/forum/x-0-17\x11"], "Nick": "Тестер"}
        prog = self.program(state=settings)
        written = prog.state()
        generation = 0
        seen = {}  # link -> the highest reply count saved so far
        kills_while_saving = 0

        for it in range(ITERATIONS):
            generation += 1
            srv.topics(topics(generation))
            before_start = log.count()
            prog.start()
            wait_until(lambda: log.count() > before_start, 60, what=f"the first request of start {it + 1}")
            pid = prog.pid()
            # The program read data.dat: its first request asks for the saved topic count.
            self.assertIn(f"c={TOPICS}&", log.requests()[before_start]["query"] + "&")
            wait_until(lambda: probe.here_count() == 1, 60, what="the program's window")
            # The first "Все" also hides the popup of the first reply, which
            # under Xvfb without a window manager blocks the program for a
            # while; the random moments start once it answers again.
            stamp = os.stat(prog.data_path).st_mtime_ns
            probe.key(VK_F9)
            wait_until(lambda: os.stat(prog.data_path).st_mtime_ns != stamp, 30, 0.01, what="a save")
            wait_until(lambda: probe.here_count() == 1, 60, what="the program to answer")
            # "Все" again and again, a few presses ahead of the program so it
            # never runs dry; new reply counts make the topics unread again,
            # so every round writes new marks, one save per topic.
            end = time.monotonic() + rng.uniform(0.4, 2.5)
            while time.monotonic() < end:
                generation += 1
                srv.topics(topics(generation))
                probe.key(VK_F5)
                probe.key(VK_F9, count=3)
                time.sleep(rng.uniform(0.0, 0.05))
            age = time.time_ns() - os.stat(prog.data_path).st_mtime_ns
            os.kill(pid, signal.SIGKILL)
            prog.proc.wait(30)
            if age < 250_000_000:
                kills_while_saving += 1

            try:
                state = prog.state()
                marks = marks_by_link(state)
            except (ValueError, IndexError, struct.error) as e:
                self.fail(f"data.dat damaged after kill {it + 1} (seed {seed}): {e}")
            # Whole and consistent: what was set is still there, and no mark went back.
            self.assertEqual({k: state[k] for k in settings}, {k: written[k] for k in settings},
                             f"kill {it + 1} (seed {seed})")
            self.assertLessEqual(len(marks), TOPICS)
            for link, replies in seen.items():
                self.assertGreaterEqual(marks.get(link, -1), replies,
                                        f"read mark of {link!r} went back after kill {it + 1} (seed {seed})")
            seen.update(marks)

        print(f"\ncrash safety: {ITERATIONS} kills, {kills_while_saving} within 250 ms of a save, "
              f"{len(seen)} topics marked, seed {seed}")
        self.assertEqual(len(seen), TOPICS, "the marking did not reach data.dat")
        self.assertGreater(kills_while_saving, ITERATIONS // 2, "the kills missed the saves")
