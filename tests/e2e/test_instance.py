"""One copy of the real program through a session: it announces itself once,
answers FIND, keeps a second start from opening windows, polls with the
settings of its data.dat, makes one request within seconds of a resume the
system reports (however often), and halts through its close path; a hung
window elsewhere holds none of it up."""

import os
import time

from harness import E2ETestCase, Probe, wait_until

TOPICS = os.path.join(os.path.dirname(__file__), "data", "topics.json")
WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC = 0x0218, 0x0012
HOUR_MS = 3600000  # no interval tick during the test


class InstanceTest(E2ETestCase):
    def test_one_copy_polls_catches_up_after_a_resume_and_halts(self):
        hung = Probe()  # a second probe, whose window stops answering
        self.addCleanup(lambda: (hung.proc.kill(), hung.proc.wait()))
        self.assertEqual(hung.ask("hang 300000"), "READY")
        self.assertEqual(self.probe.here_count(), 0)
        srv = self.server("--topics", TOPICS)
        first = self.program("first", {"TopicCount": 7, "ForumNames": ["Общий=15", "Новости=5"],
                                       "IntervalMs": HOUR_MS}).start()
        wait_until(lambda: srv.log.count() == 1 and self.probe.here_count() == 1, 60, what="the first request")
        second = self.program("second").start()
        self.assertEqual(second.proc.wait(60), 0)
        self.assertTrue(first.running())
        self.assertEqual(self.probe.here_count(), 1)

        # The first request asks for the whole list, the next (F5) for changes.
        self.probe.poll_now(srv.log)
        requests = srv.log.requests()
        self.assertEqual([r["query"] for r in requests], ["c=7&u=0.4&p=0", "c=7&u=0.4&p=1"])
        for r in requests:
            self.assertEqual((r["method"], r["headers"].get("User-Agent"), r["headers"].get("Connection")),
                             ("GET", "Zelt Rarazovo 0.4", "close"))

        for times in (1, 3):
            total = srv.log.count() + 1
            for _ in range(times):  # the system's resume report, as fast as the probe posts it
                self.assertEqual(self.probe.post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC), "OK")
            wait_until(lambda: srv.log.count() >= total, 15, what=f"the request after {times} resume(s)")
            # Longer than the settling a second catch-up would wait.
            for _ in range(12):
                self.assertEqual(srv.log.count(), total)
                time.sleep(0.5)

        self.assertEqual(self.halt(first), 0)
        seen = self.probe.ask("seen").split()[1:]  # the instance messages seen so far
        self.assertEqual((seen.count("ZELTI_START"), seen.count("ZELTI_CLOSE")), (1, 1))
        self.assertEqual(self.probe.here_count(), 0)
        self.assertIsNone(hung.proc.poll(), "the hung window ended before the program did")
