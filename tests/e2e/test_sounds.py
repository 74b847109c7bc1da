"""Event sounds with the real program: a failed request plays the error sound
through MCI, and a machine without a sound device shows no message."""

import os
import re
import socket
import subprocess

import datfile
from harness import E2ETestCase, here_count, wait_until


def visible_windows():
    """Names of the shown X windows; Wine's stand-in for a missing notification
    area holds the tray icon and is no message."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], capture_output=True).stdout.split()
    names = [subprocess.run(["xdotool", "getwindowname", w], capture_output=True).stdout.decode("utf-8", "replace")
             .strip() for w in ids]
    return {n for n in names if n != "Wine System Tray"}


class SoundsTest(E2ETestCase):
    def test_a_failed_request_opens_the_error_sound_and_no_message_appears(self):
        # Through a proxy where nothing listens (a port free a moment ago), the
        # first request fails at once.
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            closed = s.getsockname()[1]
        prog = self.program()
        sound = os.path.join(prog.dir, "Sounds", "Ошибка.ogg")
        self.assertTrue(os.path.exists(sound), "the default sounds lie beside the exe")
        windows_path = "Z:" + sound.replace("/", "\\")
        with open(prog.data_path, "wb") as f:
            f.write(datfile.encode({"IntervalMs": 3600000, "UseSounds": 1, "SoundError": windows_path,
                                    "ProxyServer": "127.0.0.1", "ProxyPort": closed}))
        before = visible_windows()
        trace = open(os.path.join(prog.dir, "mci-trace.txt"), "wb")
        self.addCleanup(trace.close)
        prog.start(debug="trace+mci", stderr=trace)
        # The only sound set is the error sound; its Russian name reaches MCI
        # in a form the system's code page can hold (its short name here).
        opened = re.compile(r'MCI_Open lpstrElementName=L"[^"]*\\\\Sounds\\\\[^"]*\.ogg"', re.I)
        wait_until(lambda: opened.search(open(trace.name, "rb").read().decode("ascii", "replace")), 60,
                   what="the MCI open of the error sound")
        # The program has handled its messages since: a box of the open would be up.
        self.assertEqual(here_count(), 1)
        self.assertEqual(visible_windows() - before, set())
        self.assertTrue(prog.running())
