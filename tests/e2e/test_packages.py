"""The release files as built by the target packages: the four binaries a user
runs carry an Authenticode signature that osslsigncode accepts against the
test build's throwaway CA, and the winget manifests follow the rules of
schema 1.10.0 that apply to them and describe the installer that was built."""

import hashlib
import os
import re
import subprocess
import unittest
import zipfile

import yaml

from harness import BUILD_DIR, INSTALL_DIR

PACKAGES = os.path.join(BUILD_DIR, "packages")
CA = os.path.join(BUILD_DIR, "test-codesign", "ca.pem")
NAME = r"[^.\s\\/:*?\"<>|\x01-\x1f]{1,32}"
LOCALE = r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$"
# Per manifest type: required fields, and pattern, enumeration or length rules.
COMMON = {"PackageIdentifier": rf"^{NAME}(\.{NAME}){{1,7}}$", "PackageVersion": r"^[^\\/:*?\"<>|\x01-\x1f]+$",
          "ManifestVersion": r"^1\.10\.0$"}
LOCALE_RULES = {**COMMON, "PackageLocale": LOCALE, "Publisher": (2, 256), "PackageName": (2, 256),
                "License": (3, 512), "ShortDescription": (3, 256)}
RULES = {
    "version": {**COMMON, "DefaultLocale": LOCALE},
    "installer": {**COMMON, "Installers": list, "InstallerType": ["nullsoft"], "Scope": ["user"],
                  "InstallModes": {"interactive", "silent", "silentWithProgress"},
                  "ElevationRequirement": ["elevationProhibited"], "UpgradeBehavior": ["install"],
                  "ProductCode": (1, 255)},
    "defaultLocale": LOCALE_RULES,
    # Only the identity is required here; ours gives the English texts too.
    "locale": {k: v for k, v in LOCALE_RULES.items() if k != "PackageName"},
}
INSTALLER_RULES = {"Architecture": ["x64"], "InstallerUrl": r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$",
                   "InstallerSha256": r"^[A-Fa-f0-9]{64}$"}


def broken_rules(document, rules):
    """The fields of `document` that are missing or break their rule."""
    broken = []
    for field, rule in rules.items():
        value = document.get(field)
        ok = {str: lambda: isinstance(value, str) and re.match(rule, value),
              tuple: lambda: isinstance(value, str) and rule[0] <= len(value) <= rule[1],
              list: lambda: value in rule, set: lambda: value and set(value) <= rule,
              type: lambda: isinstance(value, rule) and value}[type(rule)]()
        if not ok:
            broken.append(f"{field}={value!r}")
    return broken


class PackagesTest(unittest.TestCase):
    def test_binaries_are_signed_and_the_winget_manifests_describe_the_installer(self):
        done = subprocess.run(["cmake", "--build", BUILD_DIR, "--target", "packages"], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout[-3000:])
        with zipfile.ZipFile(os.path.join(PACKAGES, "ZeltInformerSetup.zip")) as z:
            setup = z.read("ZeltInformerSetup.exe")
        with open(os.path.join(PACKAGES, "ZeltInformerSetup.exe"), "rb") as f:
            self.assertEqual(f.read(), setup, "the installer published for winget is the one in the zip")
        binaries = [os.path.join(INSTALL_DIR, "ZeltInformer.exe"), os.path.join(PACKAGES, "files.zip"),
                    os.path.join(PACKAGES, "ZeltInformerSetup.exe"),
                    os.path.join(BUILD_DIR, "resources", "installer", "Uninstall.exe")]
        for path in binaries:
            with self.subTest(os.path.basename(path)):
                verify = subprocess.run(["osslsigncode", "verify", "-CAfile", CA, "-in", path], capture_output=True,
                                        text=True)
                self.assertEqual(verify.returncode, 0, verify.stdout[-2000:] + verify.stderr[-2000:])
                self.assertIn("Signature verification: ok", verify.stdout)

        folder = os.path.join(PACKAGES, "winget")
        manifests = {n: yaml.safe_load(open(os.path.join(folder, n), encoding="utf-8")) for n in os.listdir(folder)}
        kinds = {m["ManifestType"]: n for n, m in manifests.items()}  # one file of each kind
        self.assertEqual((len(manifests), sorted(kinds)), (4, ["defaultLocale", "installer", "locale", "version"]))
        for name, document in manifests.items():
            with self.subTest(name):
                self.assertEqual(broken_rules(document, RULES[document["ManifestType"]]), [])
        same = {(m["PackageIdentifier"], m["PackageVersion"]) for m in manifests.values()}
        self.assertEqual(len(same), 1, same)
        locales = {m["PackageLocale"]: m for m in manifests.values() if "PackageLocale" in m}
        self.assertEqual((set(locales), locales[manifests[kinds["version"]]["DefaultLocale"]]["ManifestType"]),
                         ({"ru-RU", "en-US"}, "defaultLocale"))
        self.assertTrue(re.search("[а-яА-Я]", locales["ru-RU"]["ShortDescription"]))
        installer = manifests[kinds["installer"]]
        entry, = installer["Installers"]
        self.assertEqual(broken_rules(entry, INSTALLER_RULES), [])
        self.assertEqual(entry["InstallerSha256"].lower(), hashlib.sha256(setup).hexdigest())
        self.assertTrue(entry["InstallerUrl"].endswith("/ZeltInformerSetup.exe"))
        self.assertEqual(installer["InstallerSwitches"]["Silent"], "/S")
        self.assertEqual(installer["ProductCode"], "Zelt Rarazovo")


if __name__ == "__main__":
    unittest.main()
