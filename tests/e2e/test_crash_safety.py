"""data.dat survives a hard kill in the middle of saving: the program marks
topics read one by one ("Все", each mark a save) while the server's replies
keep bringing them back unread, and is killed with SIGKILL right after a
save, with more queued. data.dat loads whole, as the state before or after
some save, and a restart reads it with its marks intact."""

import os
import signal
import time

from harness import VK_F5, VK_F9, E2ETestCase, wait_until

TOPICS = 30


def topics(generation):
    """A topic set in which every topic has a new reply count each generation."""
    return [{"title": f"Тема {k} «{generation}»", "path": f"topic-{k}", "forum": "15",
             "replies": 100 + generation * (k + 1), "author": "Ivan"} for k in range(TOPICS)]


class CrashSafetyTest(E2ETestCase):
    def test_data_dat_is_whole_after_a_kill_during_a_save_and_read_by_the_restart(self):
        settings = {"IntervalMs": 60000, "TopicCount": TOPICS, "ForumNames": ["General=15"], "Nick": "Тестер",
                    "Favorites": ["Избранная\x11General\x11http://example/forum/x-0-17\x11"]}
        srv, prog = self.start(settings, topics(1))
        written, probe = prog.state(), self.probe
        pid = prog.pid()
        # The first "Все" also hides the popup of the first reply, which under
        # Xvfb without a window manager blocks the program for a while.
        probe.key(VK_F9)
        wait_until(lambda: len(prog.state()["ReadMarks"]) == TOPICS and probe.here_count() == 1, 60,
                   what="the first marks")
        first = dict(m.split(b"\x11") for m in prog.state()["ReadMarks"])
        # "Все" a few presses ahead of the program, new reply counts each poll,
        # until a save of later marks has just ended: the next one is under way.
        generation = 1

        def just_saved():
            nonlocal generation
            generation += 1
            srv.topics(topics(generation))
            probe.key(VK_F5)
            probe.key(VK_F9, count=3)
            fresh = time.time_ns() - os.stat(prog.data_path).st_mtime_ns < 50_000_000
            return fresh and dict(m.split(b"\x11") for m in prog.state()["ReadMarks"]) != first
        wait_until(just_saved, 60, 0.01, what="a save under way")
        os.kill(pid, signal.SIGKILL)
        prog.proc.wait(30)

        state = prog.state()  # raises on a damaged file
        self.assertEqual({k: state[k] for k in settings}, {k: written[k] for k in settings})
        marks = state["ReadMarks"]
        replies = {link: int(n) for link, n in (m.split(b"\x11") for m in marks)}
        # Every topic still marked, none further back than at the first save, some further on.
        self.assertEqual(set(replies), set(first))
        self.assertTrue(all(replies[link] >= int(n) for link, n in first.items()), marks)
        self.assertGreater(sum(replies.values()), sum(map(int, first.values())))

        count = srv.log.count()
        prog.start()
        wait_until(lambda: srv.log.count() > count and probe.here_count() == 1, 60, what="the restart")
        self.assertIn(f"c={TOPICS}&", srv.log.requests()[count]["query"])
        self.assertEqual(self.halt(prog), 0)
        self.assertEqual(prog.state()["ReadMarks"], marks)
