"""The real program on a machine that sleeps and loses its network: a resume
reported to it brings one request within seconds, however often it is
reported, and an outage sounds one error and is followed by a request soon
after the server answers again."""

import os
import time

import datfile
from harness import E2ETestCase, driver, here_count, wait_until

WM_POWERBROADCAST = 0x0218
PBT_APMRESUMEAUTOMATIC = 0x0012
HOUR_MS = 3600000  # no interval tick during a test


def windows_path(unix_path):
    """The path as the program sees it under Wine (the Z: drive maps /)."""
    return "Z:" + unix_path.replace("/", "\\")


class DesktopTest(E2ETestCase):
    def start(self, srv):
        """The program with the error sound set and Wine's MCI trace on."""
        prog = self.program()
        self.sound = windows_path(os.path.join(prog.dir, "Sounds", "Ошибка.ogg"))
        with open(prog.data_path, "wb") as f:
            f.write(datfile.encode(dict(IntervalMs=HOUR_MS, UseSounds=1, SoundError=self.sound)))
        self.trace = os.path.join(prog.dir, "mci-trace.txt")
        trace = open(self.trace, "wb")
        self.addCleanup(trace.close)
        prog.start(debug="trace+mci", stderr=trace)
        wait_until(lambda: len(srv.informer_requests()) == 1 and here_count() == 1, 60, what="the first request")
        return prog

    def error_sounds(self):
        """Plays of the error sound, the only sound set (by its short path, so
        not told by name): each starts with an MCI open of element, shareable
        and notify (0x301); a refused one is tried once more without shareable."""
        with open(self.trace, "rb") as f:
            return f.read().decode("ascii", "replace").count("MCI_Open (00000301,")

    def resume(self, times=1):
        """The system's resume report, `times` in a row as fast as one probe posts them."""
        if not hasattr(self, "probe"):
            self.probe = driver()
            self.addCleanup(self.probe.close)
        for _ in range(times):
            self.assertEqual(self.probe.ask(f"post ZeltMainForm {WM_POWERBROADCAST} {PBT_APMRESUMEAUTOMATIC} 0"), "OK")

    def assert_requests_stay(self, srv, n, seconds=6):
        # Longer than the settling a second catch-up would wait.
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.assertEqual(len(srv.informer_requests()), n)
            time.sleep(0.5)

    def test_a_resume_makes_one_request_within_seconds_also_when_reported_three_times(self):
        srv = self.server()
        self.start(srv)
        for times, total in ((1, 2), (3, 3)):
            sent = time.monotonic()
            self.resume(times)
            wait_until(lambda: len(srv.informer_requests()) >= total, 15, what=f"the request after {times} resume(s)")
            self.assertLess(time.monotonic() - sent, 15)
            self.assert_requests_stay(srv, total)

    def test_an_outage_sounds_one_error_and_a_request_follows_soon_after_the_server_is_back(self):
        srv = self.server()
        self.start(srv)
        # The server fails the next three requests, then answers again.
        srv.control("script", {"path": "/inf.php", "replies": [{"status": 503}] * 3})
        self.resume()
        wait_until(lambda: len(srv.informer_requests()) >= 2 and self.error_sounds() == 1, 30, what="the first failure's sound")
        self.resume(3)  # the machine reports more while the outage lasts
        wait_until(lambda: len(srv.informer_requests()) >= 4, 30, what="the failures")
        back = time.monotonic()
        wait_until(lambda: len(srv.informer_requests()) >= 5, 30, what="the request after the server is back")
        self.assertLess(time.monotonic() - back, 25)
        self.assertEqual(self.error_sounds(), 1, "one error sound for the whole outage")
