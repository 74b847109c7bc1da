"""Event sounds with the real program: a failed request plays the error
sound through MCI, and a machine without a sound device shows no message."""

import os
import socket
import struct
import subprocess
import time

from harness import E2ETestCase, PREFIX, WINE_RUN, here_count, wait_until, wine_env


def data_dat(**fields):
    """A data.dat with the given settings; everything else at its reset value."""
    block = struct.pack("<9I I d i i 5B B H",
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.0,
                        fields.get("IntervalMs", 0), fields.get("TopicCount", 0),
                        0, 0, 0, int(fields.get("UseSounds", False)), 0, 0, fields.get("ProxyPort", 0))
    out = bytearray(block)
    for name in ("ProxyServer", "UserName", "Password", "Nick",
                 "SoundNewMessages", "SoundNewVersion", "SoundError"):
        value = fields.get(name, "").encode("cp1251")
        out += struct.pack("<i", len(value)) + value
    for _ in ("Favorites", "ForumNames", "ReadMarks"):
        out += struct.pack("<i", 0)
    return bytes(out)


def closed_port():
    """A loopback port where nothing listens (it was free a moment ago)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows_path(unix_path):
    """The path as the program sees it under Wine (the Z: drive maps /)."""
    return "Z:" + unix_path.replace("/", "\\")


def wine_debug_string(text):
    """How Wine's traces print a wide string: backslashes doubled, characters
    beyond ASCII as a backslash and four hex digits."""
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif 32 <= ord(ch) < 127:
            out.append(ch)
        else:
            out.append("\\%04x" % ord(ch))
    return 'L"' + "".join(out) + '"'


# Wine's stand-in for a notification area on a display that has none: it
# holds the tray icon and is no message.
TRAY_HOST = "Wine System Tray"


def visible_window_ids():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], capture_output=True)
    return set(out.stdout.split())


def window_name(wid):
    out = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True)
    return out.stdout.decode("utf-8", "replace").strip()


class SoundsTest(E2ETestCase):
    def start_traced(self, prog, trace_path):
        """Starts the program with Wine's MCI trace written to trace_path."""
        env = wine_env()
        env["WINEDEBUG"] = "trace+mci"
        trace = open(trace_path, "wb")
        self.addCleanup(trace.close)
        prog.proc = subprocess.Popen([WINE_RUN, PREFIX, prog.exe], env=env, stdout=subprocess.DEVNULL, stderr=trace)
        return prog

    def test_a_failed_request_opens_the_error_sound_and_no_message_appears(self):
        # The request goes through a proxy where nothing listens, so the first
        # one fails at once whatever runs on the informer port.
        prog = self.program()
        error_sound = windows_path(os.path.join(prog.dir, "Sounds", "Ошибка.ogg"))
        self.assertTrue(os.path.exists(os.path.join(prog.dir, "Sounds", "Ошибка.ogg")), "default sounds beside the exe")
        with open(prog.data_path, "wb") as f:
            f.write(data_dat(IntervalMs=3600000, TopicCount=10, UseSounds=True, SoundError=error_sound,
                             ProxyServer="127.0.0.1", ProxyPort=closed_port()))

        before = visible_window_ids()
        trace_path = os.path.join(prog.dir, "mci-trace.txt")
        self.start_traced(prog, trace_path)
        expected = "lpstrElementName=" + wine_debug_string(error_sound)

        def opened():
            with open(trace_path, "rb") as f:
                return expected in f.read().decode("ascii", "replace")

        # The first request leaves at once and fails; its error sound is the
        # first thing the program opens. (The probe is asked only once the
        # program is up: a probe that boots the prefix's services first keeps
        # them tied to its output.)
        wait_until(opened, 60, what="the MCI open of the error sound")
        self.assertEqual(here_count(), 1)
        # The prefix has no audio driver: the open fails or plays into nothing,
        # and either way no window appears while the program goes on.
        for _ in range(15):
            new = [n for n in (window_name(w) for w in visible_window_ids() - before) if n != TRAY_HOST]
            self.assertEqual(new, [], f"windows appeared: {new}")
            time.sleep(0.2)
        self.assertEqual(here_count(), 1)
        self.assertTrue(prog.running())
