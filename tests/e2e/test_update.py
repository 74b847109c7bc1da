"""End to end: the update with the real programs under Wine. This build's
0.4 installer goes silently into a fresh prefix, as the user's own install:
the local programs folder, values under HKEY_CURRENT_USER only, no access
rights changed. The 0.5 patch that the same build makes from the same
libraries (target next_packages), its manifest signed by scripts/sign-update
with the build's key; the installed program takes it from its popup and
comes back as 0.5 with its data.dat intact, or refuses each broken package
or manifest (a changed byte, none, cut off, another key); 0.5 refuses this
build's validly signed 0.4 patch. DLLs named like those the program loads
lie beside it, preferred by Wine as Windows would: none is ever loaded.
The uninstaller cleans up. (A manifest of another file or of the installed
version, a cancelled download and a build without a key are window tests.)"""

import base64
import hashlib
import os
import shutil
import subprocess
import zipfile
from pathlib import Path
from unittest import mock

import yaml

import datfile
import harness
from harness import BUILD_DIR, POPUP, SOURCE_DIR, E2ETestCase, Probe, hexu, wait_until, wine_env, wine_start

NEXT_DIR = os.path.join(BUILD_DIR, "next")
KEY_DIR = os.path.join(BUILD_DIR, "test-key")
UPDATE_FILES = os.path.join(BUILD_DIR, "update-files")
PLANTED_DLL = os.path.join(BUILD_DIR, "tests", "PlantedDll.dll")
# The DLLs the program and the patch load that are no KnownDLLs (the system
# looks for those beside the exe first); Wine is told to prefer them there too.
PLANTED = ["uxtheme", "wininet", "comctl32", "bcrypt", "iphlpapi", "winmm", "msftedit", "oleacc"]
UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zelt Rarazovo"
WINGET_INSTALLER = os.path.join(BUILD_DIR, "packages", "winget", "ZeltRarazovo.Informer.installer.yaml")
FAILED = "Произошла ошибка при загрузке."
INFO_TITLE = "title:" + hexu("Информация об обновлении")
DOWNLOAD_TITLE = "title:" + hexu("Загрузка обновления")
PATCH_CHOICE = "Загрузить только файл - патч ("
BOXES = "class:#32770"  # the message boxes shown
WM_COMMAND, IDOK = 0x111, 1
UPDATE_BUTTON = (120 + 24, 54 + 21)  # the popup's update button, client point at 96 DPI
DATA = datfile.encode({"TopicCount": 7, "IntervalMs": 600000, "AutoStart": 1, "Nick": "Ёжик",
                       "Favorites": ["topic-1\x11Первая тема"], "ReadMarks": ["topic-2\x1112"]})


def sha(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def run(*args, timeout=900):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    assert done.returncode == 0, done.stdout.decode(errors="replace")[-3000:]


def wine(*args, timeout=120):
    return subprocess.run([harness.WINE_RUN, harness.PREFIX, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout, env=wine_env())


def unix_path(windows):
    return os.path.join(harness.PREFIX, "drive_c", *windows[3:].split("\\"))


def reg_values(key):
    """The key's values as {name: text} ({} when there is no key); a number in hex."""
    lines = wine("reg", "query", key).stdout.decode("utf-8", "replace").splitlines()
    return dict(l.strip().split("    ", 2)[::2] for l in lines if l.startswith("    ") and "    REG_" in l)


def descriptor_changes(probe, top):
    """Paths from `top` down whose security descriptor is not the one a plain
    CreateDirectory or CreateFile gives in the same folder."""
    paths = [top]
    for folder, dirs, files in os.walk(unix_path(top)):
        windows = top + folder[len(unix_path(top)):].replace("/", "\\")
        paths += [windows + "\\" + n for n in dirs + files]
    fresh = {parent: probe.ask("sd-fresh " + hexu(parent)).split() for parent in {p.rsplit("\\", 1)[0] for p in paths}}
    changed = []
    for p in paths:
        sddl = probe.ask("sd " + hexu(p))
        if sddl == "-" or sddl != fresh[p.rsplit("\\", 1)[0]][0 if os.path.isdir(unix_path(p)) else 1]:
            changed.append((p, sddl))
    return changed


def sign(path, version, key=os.path.join(KEY_DIR, "private.pem")):
    """The manifest of `path` for `version`, signed."""
    run(os.path.join(SOURCE_DIR, "scripts", "sign-update"), key, path, version)
    return Path(path + ".sig").read_bytes()


class UpdateTest(E2ETestCase):
    def refused(self, program_version):
        """The update windows say the download failed and close without a trace."""
        probe = self.probe
        wait_until(lambda: FAILED in probe.texts(BOXES), 90, what="the failure's message box")
        self.assertEqual(probe.post(WM_COMMAND, IDOK, window="title:" + hexu("Zelt Rarazovo " + program_version)), "OK")
        self.assertTrue(probe.press(DOWNLOAD_TITLE, "Отмена"))
        wait_until(lambda: probe.controls(DOWNLOAD_TITLE) is None and probe.controls(INFO_TITLE) is None,
                   30, what="the update windows closed")

    def take_patch(self):
        """Update button on the popup, the patch, "Загрузить"."""
        probe = self.probe
        pressed = probe.ask(f"press-at class:{POPUP} {UPDATE_BUTTON[0]} {UPDATE_BUTTON[1]}")
        self.assertTrue(pressed.startswith("PRESSED"), "no update button")
        wait_until(lambda: (c := probe.control(INFO_TITLE, PATCH_CHOICE)) and c[2], 60, what="the patch's size")
        self.assertTrue(probe.press(INFO_TITLE, PATCH_CHOICE, prefix=True))
        wait_until(lambda: probe.control(INFO_TITLE, PATCH_CHOICE)[3], 20, what="the patch chosen")
        self.assertTrue(probe.press(INFO_TITLE, "Загрузить"))

    def test_installed_program_takes_the_signed_patch_and_refuses_broken_ones(self):
        work = os.path.join(harness.WORK_DIR, "update-loop")
        shutil.rmtree(work, ignore_errors=True)  # made again with the folder to serve
        # The 0.4 installer of this build; the 0.5 patch, signed, in a folder to
        # serve, first signed with another key for a manifest that must fail.
        run(os.path.join(SOURCE_DIR, "scripts", "package"), "win64", "-B", BUILD_DIR)
        run("cmake", "--build", BUILD_DIR, "--target", "next_packages")
        serve = os.path.join(work, "server")
        os.makedirs(serve)
        shutil.copy(os.path.join(UPDATE_FILES, "info.rtf"), serve)
        shutil.copy(os.path.join(BUILD_DIR, "packages", "ZeltInformerSetup.zip"), serve)
        shutil.copy(os.path.join(NEXT_DIR, "packages", "files.zip"), serve)
        other = os.path.join(work, "other.pem")
        run("openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other)
        other_manifest = sign(os.path.join(serve, "files.zip"), "0.5", key=other)
        for name in ("files.zip", "ZeltInformerSetup.zip"):
            sign(os.path.join(serve, name), "0.5")
        with zipfile.ZipFile(os.path.join(BUILD_DIR, "packages", "ZeltInformerSetup.zip")) as z:
            self.assertEqual(z.namelist(), ["ZeltInformerSetup.exe"])
            z.extract("ZeltInformerSetup.exe", work)
        # A fresh prefix for the install.
        prefix = os.path.join(BUILD_DIR, "e2e-install-prefix")
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix), capture_output=True)
        shutil.rmtree(prefix, ignore_errors=True)
        shutil.rmtree(prefix + ".lock", ignore_errors=True)
        self.enterContext(mock.patch.object(harness, "PREFIX", prefix))
        self.addCleanup(subprocess.run, ["wineserver", "-k"], env=wine_env(), capture_output=True)
        self.probe.close()
        probe = self.probe = Probe()
        # Installed as winget would, with its manifest's switches.
        switches = yaml.safe_load(Path(WINGET_INSTALLER).read_text(encoding="utf-8"))["InstallerSwitches"]
        setup = lambda *args: wine(os.path.join(work, "ZeltInformerSetup.exe"), switches["Silent"], *args,
                                   timeout=180).returncode
        local, appdata = wine("cmd", "/c", "echo %LOCALAPPDATA%& echo %APPDATA%").stdout.decode().splitlines()
        # A folder holding someone else's files is refused whole.
        foreign = local + "\\Записи"
        os.makedirs(unix_path(foreign))
        Path(unix_path(foreign + "\\notes.txt")).touch()
        self.assertEqual(setup(switches["InstallLocation"].replace("<INSTALLPATH>", foreign)), 2)
        self.assertEqual((os.listdir(unix_path(foreign)), reg_values(UNINSTALL_KEY)), (["notes.txt"], {}))

        self.assertEqual(setup(), 0)
        installed = local + "\\Programs\\Zelt Rarazovo"
        folder = unix_path(installed)
        exe = os.path.join(folder, "ZeltInformer.exe")
        self.assertEqual(sha(exe), sha(os.path.join(harness.INSTALL_DIR, "ZeltInformer.exe")))
        for name in ("Sounds/Сообщение.ogg", "Help/Zelt Rarazovo.chm", "Uninstall.exe"):
            self.assertTrue(os.path.isfile(os.path.join(folder, name)), name)
        entry = reg_values(UNINSTALL_KEY)  # holds these values among others
        self.assertEqual(entry, entry | {"DisplayVersion": "0.4", "InstallLocation": installed, "NoModify": "0x1",
                                         "QuietUninstallString": f'"{installed}\\Uninstall.exe" /S'})
        self.assertEqual(descriptor_changes(probe, local + "\\Programs"), [])
        menu_entry = unix_path(appdata + "\\Microsoft\\Windows\\Start Menu\\Programs\\Zelt Rarazovo\\Zelt Rarazovo.lnk")
        self.assertTrue(os.path.isfile(menu_entry))
        Path(folder, "data.dat").write_bytes(DATA)

        # A patch that a crash stopped halfway through its swap, its journal
        # pointing forward: the program's start finishes it.
        for name, text in (("readme.txt.new", "new"), ("readme.txt.old", "old"),
                           ("ZeltUpdate.journal", "ZeltUpdate journal\nforward\n1 readme.txt\n")):
            Path(folder, name).write_text(text, newline="\n")
        server = self.server("--update-dir", serve)
        server.control("version", {"flag": "1", "latest_version": "0.5"})
        for name in PLANTED:  # beside the program, and preferred
            shutil.copy(PLANTED_DLL, os.path.join(folder, name + ".dll"))
        old = wine_start(installed + "\\ZeltInformer.exe",
                         env=dict(wine_env(), WINEDLLOVERRIDES=",".join(PLANTED) + "=n,b"))
        self.addCleanup(lambda: old.poll() is None and old.kill())
        wait_until(lambda: probe.controls(f"class:{POPUP}") is not None, 90, what="the popup with the new version")
        self.assertEqual([n for n in os.listdir(folder) if n.startswith(("readme", "ZeltUpdate"))], ["readme.txt"])
        self.assertEqual(Path(folder, "readme.txt").read_text(), "new")
        os.remove(os.path.join(folder, "readme.txt"))
        patch = Path(serve, "files.zip").read_bytes()
        b64 = lambda b: base64.b64encode(b).decode()
        failures = [
            ("one byte changed", "files.zip", {"body_b64": b64(patch[:500] + bytes([patch[500] ^ 1]) + patch[501:])}),
            ("no manifest", "files.zip.sig", {"status": 404}),
            ("cut off", "files.zip", {"body_b64": b64(patch), "close_after_bytes": len(patch) // 2}),
            ("another key", "files.zip.sig", {"body_b64": b64(other_manifest)}),
        ]
        for name, file_name, reply in failures:
            with self.subTest(name):
                server.control("update-file", dict(reply, name=file_name))
                self.take_patch()
                self.refused("0.4")
                server.control("update-file", {"name": file_name, "remove": True})
                self.assertEqual(sha(exe), sha(os.path.join(harness.INSTALL_DIR, "ZeltInformer.exe")))
                self.assertIsNone(old.poll())
                self.assertEqual(probe.here_count(), 1)

        server.control("reset", {})
        self.take_patch()
        old.wait(90)  # the patch ended the 0.4 copy, which saved data.dat on its way out
        saved = Path(folder, "data.dat").read_bytes()
        first = wait_until(lambda: [r for r in server.log.requests() if "u=0.5" in r["query"]], 90,
                           what="the first request of 0.5")[0]
        self.assertEqual(first["query"], "c=7&u=0.5&p=0")
        self.assertEqual(sha(exe), sha(os.path.join(NEXT_DIR, "ZeltInformer", "ZeltInformer.exe")))
        # The first request goes out before the main window, which answers, is made.
        wait_until(lambda: probe.here_count() == 1, 30, what="one copy answering")
        self.assertEqual(Path(folder, "data.dat").read_bytes(), saved)
        state = datfile.decode(saved)
        self.assertEqual((state["Favorites"], state["ReadMarks"], state["Nick"]),
                         (["topic-1\x11Первая тема".encode("cp1251")], [b"topic-2\x1112"], "Ёжик".encode("cp1251")))
        self.assertEqual([n for n in os.listdir(folder) if n.endswith((".new", ".old", ".journal"))], [])
        self.assertEqual(probe.texts(BOXES), [])

        # 0.5 is told of a newer version once more, and offered this build's
        # 0.4 patch with its valid manifest: refused, 0.5 stays.
        wait_until(lambda: probe.controls(f"class:{POPUP}") is not None, 90, what="0.5's popup")
        shutil.copy(os.path.join(BUILD_DIR, "packages", "files.zip"), serve)
        sign(os.path.join(serve, "files.zip"), "0.4")
        self.take_patch()
        self.refused("0.5")
        self.assertEqual(sha(exe), sha(os.path.join(NEXT_DIR, "ZeltInformer", "ZeltInformer.exe")))
        self.assertEqual(probe.here_count(), 1)
        self.assertEqual([n for n in os.listdir(folder) if n.endswith(".loaded")], [])  # no planted DLL loaded
        for name in PLANTED:
            os.remove(os.path.join(folder, name + ".dll"))

        # The user's own values, and nothing of ours for the whole machine.
        values = [(UNINSTALL_KEY, None), ("HKCU\\Software\\Zelt Rarazovo", "Path"),
                  ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "ZeltInformerA")]
        found = lambda: [wine("reg", "query", k, *(["/v", v] if v else [])).returncode == 0 for k, v in values]
        self.assertEqual(found(), [True, True, True])
        self.assertEqual(reg_values(values[2][0])["ZeltInformerA"], f'"{installed}\\ZeltInformer.exe"')
        machine = os.path.join(work, "machine.reg")
        self.assertEqual(wine("reg", "export", "HKLM", machine, "/y").returncode, 0)
        self.assertNotIn("zelt", Path(machine).read_bytes().decode("utf-16").lower())
        # The silent uninstaller ends the running copy and keeps data.dat
        # (its registry values go last); a new install takes the folder up
        # again, ending a running copy first; /KEEPDATA=0 removes it all.
        uninstall = lambda *args: (wine(installed + "\\Uninstall.exe", "/S", *args),
                                   wait_until(lambda: found() == [False] * 3, 60, what="the uninstaller done"))
        uninstall()
        self.assertEqual(probe.here_count(), 0)
        self.assertEqual((os.listdir(folder), os.path.exists(os.path.dirname(menu_entry))), (["data.dat"], False))
        self.assertEqual(setup(), 0)
        again = wine_start(installed + "\\ZeltInformer.exe")
        wait_until(lambda: probe.here_count() == 1, 60, what="the program started again")
        self.assertEqual(setup(), 0)
        self.assertEqual((again.wait(30), probe.here_count()), (0, 0))
        self.assertEqual(sha(exe), sha(os.path.join(harness.INSTALL_DIR, "ZeltInformer.exe")))
        uninstall("/KEEPDATA=0")
        self.assertFalse(os.path.exists(folder))
