"""Single instance and the instance messages, with the real program."""

import subprocess
import tempfile

from harness import E2ETestCase, Watcher, here_count, probe, wait_until, wine_env, WINE_RUN, PREFIX, PROBE


class InstanceTest(E2ETestCase):
    def test_find_is_answered_once_by_a_running_copy_and_not_at_all_without_one(self):
        self.assertEqual(here_count(), 0)
        first = self.program().start()
        wait_until(lambda: here_count() == 1, 60, what="the first copy to answer ZELTI_FIND")
        self.assertEqual(here_count(), 1)
        self.assertEqual(first.halt(), 0)
        self.assertEqual(here_count(), 0)

    def test_second_start_ends_at_once_and_the_first_keeps_running(self):
        first = self.program("first").start()
        wait_until(lambda: here_count() == 1, 60, what="the first copy")
        watcher = Watcher(6000)
        second = self.program("second").start()
        self.assertEqual(second.wait(30), 0)
        # A copy that creates its main window announces it with ZELTI_START.
        self.assertNotIn("ZELTI_START", watcher.messages(), "the second copy created its windows")
        self.assertTrue(first.running())
        self.assertEqual(here_count(), 1)

    def test_halt_ends_the_copy_through_its_close_path(self):
        prog = self.program().start()
        wait_until(lambda: here_count() == 1, 60, what="the copy")
        watcher = Watcher(8000)
        probe("halt")
        self.assertEqual(prog.wait(30), 0)
        seen = watcher.messages()
        self.assertIn("ZELTI_CLOSE", seen)
        self.assertEqual(seen.count("ZELTI_CLOSE"), 1)

    def test_start_is_broadcast_once_when_the_main_window_is_created(self):
        watcher = Watcher(8000)
        prog = self.program().start()
        seen = watcher.messages()
        self.assertEqual(seen.count("ZELTI_START"), 1)
        self.assertTrue(prog.running())

    def test_a_hung_window_elsewhere_does_not_hang_the_program(self):
        # A top-level window that stops answering: the program's broadcasts
        # (ZELTI_START at creation, ZELTI_CLOSE when it closes) must give up on
        # it, so the copy starts, answers and ends while the window still hangs.
        # (A thread waiting in its own broadcast still answers sent messages,
        # so the posted close request of ZELTI_HALT is what tells them apart.)
        out = tempfile.NamedTemporaryFile()
        hung = subprocess.Popen([WINE_RUN, PREFIX, PROBE, "hang", "120000"], stdout=out,
                                stderr=subprocess.DEVNULL, env=wine_env())
        try:
            wait_until(lambda: b"READY" in open(out.name, "rb").read(), 60, what="the hung window")
            prog = self.program().start()
            wait_until(lambda: here_count() == 1, 60, what="the program to answer")
            probe("halt")
            self.assertEqual(prog.wait(60), 0)
            self.assertIsNone(hung.poll(), "the hung window ended before the program did")
        finally:
            hung.kill()
            hung.wait()
