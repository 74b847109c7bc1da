"""The update from the popup's update button to the started patch, with the
real program and the test server serving the update files the build makes
(a description, a setup zip, and as the patch a small program of ours that
leaves patch-ran.txt beside itself when it runs)."""

import os

from harness import BUILD_DIR, E2ETestCase, probe, wait_until

PATCH = os.path.join(BUILD_DIR, "update-files", "files.zip")
INFO = "Информация об обновлении"
DOWNLOAD = "Загрузка обновления"
PATCH_CHOICE = "Загрузить только файл - патч ("
UPDATE_BUTTON = (120 + 24, 54 + 21)  # on the popup, client coordinates at 96 DPI


def hexu(text):
    return text.encode("utf-8").hex()


def title(text):
    return "title:" + hexu(text)


def controls(window):
    """The controls of a shown window as dicts (cls, enabled, checked, text); None when not shown."""
    lines = probe("ui-list", window)[1].splitlines()
    if not any(l.startswith("WIN ") for l in lines):
        return None
    unhex = lambda t: "" if t == "-" else bytes.fromhex(t).decode("utf-8")  # noqa: E731
    return [dict(cls=unhex(f[2]), enabled=f[3] == "1", checked=f[5] == "1", text=unhex(f[8]))
            for f in (l.split(" ") for l in lines if l.startswith("CTL "))]


def control(window, start):
    return next((c for c in controls(window) or [] if c["text"].startswith(start)), None)


def message_boxes():
    return [tuple(bytes.fromhex(t).decode("utf-8") for t in l.split(" ")[1:3])
            for l in probe("ui-boxes")[1].splitlines() if l.startswith("BOX ")]


class UpdateTest(E2ETestCase):
    def start(self, name):
        """A program whose first reply announces a new version: its popup shows the update button."""
        server = self.server("--update-dir", os.path.dirname(PATCH))
        server.control("version", {"flag": "1"})
        program = self.program(name).start()
        wait_until(lambda: controls("class:ZeltInfoForm") is not None, 90, what="the popup with the new version")
        return server, program

    def choose_patch(self):
        self.assertEqual(probe("ui-clickat", "class:ZeltInfoForm", *UPDATE_BUTTON)[0], 0, "no update button")
        wait_until(lambda: (c := control(title(INFO), PATCH_CHOICE)) and c["enabled"], 60, what="the patch's size")
        self.assertEqual(probe("ui-click", title(INFO), hexu(PATCH_CHOICE), "prefix")[0], 0)
        wait_until(lambda: control(title(INFO), PATCH_CHOICE)["checked"], 20, what="the patch chosen")
        self.assertEqual(probe("ui-click", title(INFO), hexu("Загрузить"))[0], 0)

    def test_the_patch_is_written_beside_the_program_and_started(self):
        server, program = self.start("Обновление Зельт")  # a folder name outside the ANSI code page
        self.choose_patch()
        marker = os.path.join(program.dir, "patch-ran.txt")
        wait_until(lambda: os.path.exists(marker) and os.path.getsize(marker), 90, what="the patch's marker")
        with open(os.path.join(program.dir, "sfx.exe"), "rb") as f, open(PATCH, "rb") as g:
            self.assertEqual(f.read(), g.read())
        with open(marker, "rb") as f:
            self.assertTrue(f.read().decode("utf-8").lower().endswith("\\обновление зельт\\sfx.exe"))
        wait_until(lambda: controls(title(DOWNLOAD)) is None and controls(title(INFO)) is None, 30,
                   what="both update windows closed")
        self.assertTrue(program.running(), "the program neither waits for the patch nor ends")
        updates = [r for r in server.control("log") if r["path"].startswith("/ZeltInformer/")]
        self.assertEqual(sorted(r["path"] for r in updates), ["/ZeltInformer/ZeltInformerSetup.zip",
                         "/ZeltInformer/files.zip", "/ZeltInformer/files.zip", "/ZeltInformer/info.rtf"])
        self.assertEqual({r["headers"].get("User-Agent") for r in updates}, {"Zelt Rarazovo 0.4"})
        self.assertEqual(message_boxes(), [])
