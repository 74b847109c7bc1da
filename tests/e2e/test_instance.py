"""One copy of the real program through a session: it announces itself once,
answers FIND, keeps a second start from opening windows, polls with the
settings of its data.dat, makes one request within seconds of a resume the
system reports (however often), sounds one error for a whole outage and
polls soon after it, and halts through its close path; a hung window
elsewhere holds none of it up."""

import os
import time

from harness import WORK_DIR, E2ETestCase, probe_process, wait_until

TOPICS = os.path.join(os.path.dirname(__file__), "data", "topics.json")
WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC = 0x0218, 0x0012
HOUR_MS = 3600000  # no interval tick during the test


class InstanceTest(E2ETestCase):
    def test_one_copy_polls_catches_up_after_a_resume_and_halts(self):
        hung = probe_process("hang", 300000, ready="READY")
        self.addCleanup(lambda: (hung.kill(), hung.wait()))
        self.assertEqual(self.probe.here_count(), 0)
        srv = self.server("--topics", TOPICS)
        # The error sound is the only one set; Wine's MCI trace tells its plays.
        sound = "Z:" + os.path.join(WORK_DIR, "first", "Sounds", "Ошибка.ogg").replace("/", "\\")
        first = self.program("first", {"TopicCount": 7, "ForumNames": ["Общий=15", "Новости=5"],
                                       "IntervalMs": HOUR_MS, "UseSounds": 1, "SoundError": sound})
        trace_path = os.path.join(first.dir, "mci-trace.txt")
        trace = open(trace_path, "wb")
        self.addCleanup(trace.close)
        first.start(debug="trace+mci", stderr=trace)
        wait_until(lambda: srv.log.count() == 1 and self.probe.here_count() == 1, 60, what="the first request")
        second = self.program("second").start(debug="fixme-all")  # errors kept for the message below
        self.assertEqual(second.proc.wait(60), 0, second.wine_said())
        self.assertTrue(first.running())
        self.assertEqual(self.probe.here_count(), 1)

        # The first request asks for the whole list, the next (F5) for changes.
        self.probe.poll_now(srv.log)
        requests = srv.log.requests()
        self.assertEqual([r["query"] for r in requests], ["c=7&u=0.4&p=0", "c=7&u=0.4&p=1"])
        for r in requests:
            self.assertEqual((r["method"], r["headers"].get("User-Agent"), r["headers"].get("Connection")),
                             ("GET", "Zelt Rarazovo 0.4", "close"))

        def resume(times=1):
            """The system's resume report, `times` in a row as fast as the probe posts them."""
            for _ in range(times):
                self.assertEqual(self.probe.post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC), "OK")

        for times in (1, 3):
            total = srv.log.count() + 1
            resume(times)
            wait_until(lambda: srv.log.count() >= total, 15, what=f"the request after {times} resume(s)")
            # Longer than the settling a second catch-up would wait.
            for _ in range(12):
                self.assertEqual(srv.log.count(), total)
                time.sleep(0.5)

        def error_sounds():
            """Plays of the error sound: each starts with an MCI open of element,
            shareable and notify (0x301); a refused one is tried once more without shareable."""
            with open(trace_path, "rb") as f:
                return f.read().decode("ascii", "replace").count("MCI_Open (00000301,")

        # The server fails the next three requests, then answers again.
        before = srv.log.count()
        srv.script(*[{"status": 503}] * 3)
        resume()
        wait_until(lambda: srv.log.count() > before and error_sounds() == 1, 30, what="the first failure's sound")
        resume(3)  # the machine reports more while the outage lasts
        wait_until(lambda: srv.log.count() >= before + 3, 30, what="the failures")
        back = time.monotonic()
        wait_until(lambda: srv.log.count() >= before + 4, 30, what="the request after the server is back")
        self.assertLess(time.monotonic() - back, 25)
        self.assertEqual(error_sounds(), 1, "one error sound for the whole outage")

        self.assertEqual(self.halt(first), 0)
        seen = self.probe.seen()
        self.assertEqual((seen.count("ZELTI_START"), seen.count("ZELTI_CLOSE")), (1, 1))
        self.assertEqual(self.probe.here_count(), 0)
        self.assertIsNone(hung.poll(), "the hung window ended before the program did")
