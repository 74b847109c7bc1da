"""End to end: the update from the popup's update button to the started patch,
with the real ZeltInformer.exe under Wine and the test server serving the
update files the build makes (a description, a setup zip, and as the patch a
small program of ours that leaves patch-ran.txt beside itself when it runs)."""

import base64
import os
import subprocess
import tempfile
import time

from harness import (BUILD_DIR, INFORMER_PORT, PREFIX, PROBE, WINE_RUN, E2ETestCase, here_count, port_free,
                     wait_until, wine_env)

UPDATE_FILES = os.path.join(BUILD_DIR, "update-files")
PATCH_BYTES_FILE = os.path.join(UPDATE_FILES, "files.zip")
CAPTION = "Zelt Rarazovo 0.4"
INFO_TITLE = "Информация об обновлении"
DOWNLOAD_TITLE = "Загрузка обновления"
PATCH_CHOICE = "Загрузить только файл - патч ("
# Where the update button sits on the popup (client coordinates at 96 DPI).
UPDATE_BUTTON = (120 + 24, 54 + 21)


def hexu(text):
    return text.encode("utf-8").hex()


def unhexu(text):
    return "" if text == "-" else bytes.fromhex(text).decode("utf-8")


def ui(*args, timeout=60):
    """Runs a ui-* command of the probe; its exit code and output.

    The output goes through a file, not a pipe: a Wine helper process that the
    probe happens to start (the desktop, services) inherits its standard
    handles and lives on, and a pipe would stay open for as long as it does."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([WINE_RUN, PREFIX, PROBE, *map(str, args)], stdout=out, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, timeout=timeout, env=wine_env())
        out.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace")


def title(text):
    return "title:" + hexu(text)


def controls(window):
    """The controls of a visible window: dicts of class, enabled, visible,
    checked, x, y, text; None when the window is not shown."""
    _, out = ui("ui-list", window)
    lines = out.splitlines()
    if not any(l.startswith("WIN ") for l in lines):
        return None
    result = []
    for line in lines:
        if line.startswith("CTL "):
            _, _, cls, enabled, visible, checked, x, y, text = line.split(" ")
            result.append(dict(cls=unhexu(cls), enabled=enabled == "1", visible=visible == "1",
                               checked=checked == "1", x=int(x), y=int(y), text=unhexu(text)))
    return result


def control_text_starting(window, start):
    found = [c for c in (controls(window) or []) if c["text"].startswith(start)]
    return found[0] if found else None


def message_boxes():
    _, out = ui("ui-boxes")
    return [(unhexu(l.split(" ")[1]), unhexu(l.split(" ")[2])) for l in out.splitlines() if l.startswith("BOX ")]


class UpdateTest(E2ETestCase):
    def start_with_new_version(self, name, delay_patch=None):
        """A program whose first reply announces a new version, with its popup
        showing the update button."""
        self.assertTrue(os.path.isfile(PATCH_BYTES_FILE), "the build's update files are missing")
        # The previous test's server connections may still hold the port for
        # a while after it closed them.
        wait_until(lambda: port_free(INFORMER_PORT), 120, interval=1, what="the test server's port")
        server = self.server("--update-dir", UPDATE_FILES)
        server.control("version", {"flag": "1"})
        if delay_patch is not None:
            with open(PATCH_BYTES_FILE, "rb") as f:
                body = f.read()
            server.control("update-file", {"name": "files.zip", "body_b64": base64.b64encode(body)
                                           .decode(), "chunk": 4096, "delay": delay_patch})
        program = self.program(name)
        program.start()
        wait_until(lambda: controls("class:ZeltInfoForm") is not None, 90, what="the popup with the new version")
        return server, program

    def open_update_info_and_choose_patch(self):
        code, _ = ui("ui-clickat", "class:ZeltInfoForm", *UPDATE_BUTTON)
        self.assertEqual(code, 0, "no update button on the popup")
        choice = wait_until(lambda: (c := control_text_starting(title(INFO_TITLE), PATCH_CHOICE)) and c["enabled"]
                            and c, 60, what="the update information with the patch size")
        self.assertTrue(choice["text"].endswith(")"))
        self.assertEqual(ui("ui-click", title(INFO_TITLE), hexu(PATCH_CHOICE), "prefix")[0], 0)
        wait_until(lambda: control_text_starting(title(INFO_TITLE), PATCH_CHOICE)["checked"], 20,
                   what="the patch chosen")
        self.assertEqual(ui("ui-click", title(INFO_TITLE), hexu("Загрузить"))[0], 0)

    def test_patch_from_the_popup_is_written_beside_the_program_and_started(self):
        server, program = self.start_with_new_version("update_patch")
        self.open_update_info_and_choose_patch()
        marker = os.path.join(program.dir, "patch-ran.txt")
        wait_until(lambda: os.path.exists(marker) and os.path.getsize(marker) > 0, 90, what="the patch's marker")
        with open(os.path.join(program.dir, "sfx.exe"), "rb") as f, open(PATCH_BYTES_FILE, "rb") as g:
            self.assertEqual(f.read(), g.read())
        with open(marker, "rb") as f:
            self.assertTrue(f.read().decode("utf-8").lower().endswith("\\sfx.exe"))
        # The program neither waits for the patch nor ends.
        wait_until(lambda: controls(title(DOWNLOAD_TITLE)) is None and controls(title(INFO_TITLE)) is None, 30,
                   what="both update windows closed")
        self.assertTrue(program.running())
        self.assertEqual(here_count(), 1)
        paths = [r["path"] for r in server.log() if r["path"].startswith("/ZeltInformer/")]
        self.assertEqual(sorted(paths), ["/ZeltInformer/ZeltInformerSetup.zip", "/ZeltInformer/files.zip",
                                         "/ZeltInformer/files.zip", "/ZeltInformer/info.rtf"])
        agents = {r["headers"].get("User-Agent") for r in server.log() if r["path"].startswith("/ZeltInformer/")}
        self.assertEqual(agents, {"Zelt Rarazovo 0.4"})
        self.assertEqual(message_boxes(), [])

    def test_cancel_during_a_slow_download_writes_and_starts_nothing(self):
        server, program = self.start_with_new_version("update_cancel", delay_patch=0.5)
        self.open_update_info_and_choose_patch()
        wait_until(lambda: (c := control_text_starting(title(DOWNLOAD_TITLE), "Отмена")) and c, 60,
                   what="the download window")
        # Some of the patch has arrived: the bar's text counts it.
        wait_until(lambda: any(c["cls"] == "ZeltProgressBar" and c["text"].endswith("KB")
                               for c in controls(title(DOWNLOAD_TITLE)) or []), 60, what="progress")
        self.assertEqual(ui("ui-click", title(DOWNLOAD_TITLE), hexu("Отмена"))[0], 0)
        wait_until(lambda: controls(title(DOWNLOAD_TITLE)) is None, 20, what="the download window closed")
        time.sleep(3)
        self.assertFalse(os.path.exists(os.path.join(program.dir, "sfx.exe")))
        self.assertFalse(os.path.exists(os.path.join(program.dir, "patch-ran.txt")))
        self.assertTrue(program.running())
        self.assertEqual(message_boxes(), [])

    def test_missing_patch_shows_the_systems_message(self):
        server, program = self.start_with_new_version("update_missing")
        # sfx.exe cannot be written (it names a file in a folder that does not
        # exist), so the start that follows finds no patch.
        os.symlink("/nonexistent-zelt-folder/sfx.exe", os.path.join(program.dir, "sfx.exe"))
        self.open_update_info_and_choose_patch()
        boxes = wait_until(lambda: [b for b in message_boxes() if b[0] == CAPTION], 90, what="the message box")
        self.assertEqual(len(boxes), 1)
        self.assertIn(boxes[0][1], ("File not found.", "Path not found."))
        self.assertFalse(os.path.exists(os.path.join(program.dir, "patch-ran.txt")))
        self.assertTrue(program.running())
        self.assertEqual(ui("ui-okbox", hexu(CAPTION))[0], 0)
        wait_until(lambda: not [b for b in message_boxes() if b[0] == CAPTION], 20, what="the box closed")
        self.assertTrue(program.running())
