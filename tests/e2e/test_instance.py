"""Single instance and the instance messages, with the real program."""

import subprocess
import tempfile

from harness import PREFIX, PROBE, WINE_RUN, E2ETestCase, Watcher, here_count, probe, wait_until, wine_env


class InstanceTest(E2ETestCase):
    def test_a_copy_announces_itself_once_answers_find_and_halts_through_its_close_path(self):
        self.assertEqual(here_count(), 0)
        watcher = Watcher()
        prog = self.program().start()
        wait_until(lambda: here_count() == 1, 60, what="the copy to answer ZELTI_FIND")
        probe("halt")
        self.assertEqual(prog.proc.wait(60), 0)
        seen = watcher.stop()
        self.assertEqual((seen.count("ZELTI_START"), seen.count("ZELTI_CLOSE")), (1, 1))
        self.assertEqual(here_count(), 0)

    def test_a_second_start_ends_without_a_window_and_the_first_goes_on(self):
        first = self.program("first").start()
        wait_until(lambda: here_count() == 1, 60, what="the first copy")
        watcher = Watcher()  # watches for the whole life of the second copy
        second = self.program("second").start()
        self.assertEqual(second.proc.wait(60), 0)
        self.assertNotIn("ZELTI_START", watcher.stop(), "the second copy created its windows")
        self.assertTrue(first.running())
        self.assertEqual(here_count(), 1)

    def test_a_hung_window_elsewhere_does_not_hang_the_program(self):
        # The program's broadcasts (ZELTI_START, ZELTI_CLOSE) must give up on a
        # window that stops answering; the posted close request of ZELTI_HALT
        # tells a copy that still runs its loop from one stuck in a broadcast.
        out = tempfile.NamedTemporaryFile()
        hung = subprocess.Popen([WINE_RUN, PREFIX, PROBE, "hang", "120000"], stdout=out, stderr=subprocess.DEVNULL,
                                env=wine_env())
        try:
            wait_until(lambda: b"READY" in open(out.name, "rb").read(), 60, what="the hung window")
            prog = self.program().start()
            wait_until(lambda: here_count() == 1, 60, what="the program to answer")
            probe("halt")
            self.assertEqual(prog.proc.wait(60), 0)
            self.assertIsNone(hung.poll(), "the hung window ended before the program did")
        finally:
            hung.kill()
            hung.wait()
