#!/usr/bin/env python3
"""Writes the winget manifests (schema 1.10.0) of the per-user installer:
    winget.py --version V --publisher P --installer SETUP.exe --url URL --out DIR
DIR gets ZeltRarazovo.Informer.yaml (version), .installer.yaml and the locale
manifests .locale.ru-RU.yaml (the default locale) and .locale.en-US.yaml:
a second language is a manifest of its own in this schema. URL is where the
installer is published (InstallerUrl); its SHA-256 is taken from SETUP.exe."""

import argparse
import hashlib
import os

import yaml

IDENTIFIER = "ZeltRarazovo.Informer"
MANIFEST_VERSION = "1.10.0"
PRODUCT = "Zelt Rarazovo"  # the per-user Uninstall key's name
LOCALES = {
    "ru-RU": {"ShortDescription": "Сообщает о новых сообщениях в темах форума Zelt Rarazovo.",
              "License": "Проприетарная"},
    "en-US": {"Publisher": "Zelt Rarazovo team",
              "ShortDescription": "Tells you about new messages in the topics of the Zelt Rarazovo forum.",
              "License": "Proprietary"},
}
DEFAULT_LOCALE = "ru-RU"


def manifests(version, publisher, sha256, url):
    """File name -> (manifest type, content)."""
    head = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    tail = {"ManifestVersion": MANIFEST_VERSION}
    out = {f"{IDENTIFIER}.yaml": ("version", {**head, "DefaultLocale": DEFAULT_LOCALE, "ManifestType": "version",
                                              **tail})}
    out[f"{IDENTIFIER}.installer.yaml"] = ("installer", {
        **head,
        "InstallerLocale": DEFAULT_LOCALE,
        "Platform": ["Windows.Desktop"],
        "InstallerType": "nullsoft",
        "Scope": "user",
        "InstallModes": ["interactive", "silent", "silentWithProgress"],
        # NSIS: /S silent; /D= the folder, last on the line and unquoted.
        "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S", "InstallLocation": "/D=<INSTALLPATH>"},
        "UpgradeBehavior": "install",
        # Run elevated it would install for the administrator, not for the user.
        "ElevationRequirement": "elevationProhibited",
        "ProductCode": PRODUCT,
        "AppsAndFeaturesEntries": [{"DisplayName": PRODUCT, "Publisher": publisher, "DisplayVersion": version,
                                    "ProductCode": PRODUCT}],
        "Installers": [{"Architecture": "x64", "InstallerUrl": url, "InstallerSha256": sha256}],
        "ManifestType": "installer", **tail})
    for locale, texts in LOCALES.items():
        kind = "defaultLocale" if locale == DEFAULT_LOCALE else "locale"
        out[f"{IDENTIFIER}.locale.{locale}.yaml"] = (kind, {
            **head, "PackageLocale": locale, "Publisher": publisher, "PackageName": PRODUCT, **texts,
            "ManifestType": kind, **tail})
    return out


def main():
    parser = argparse.ArgumentParser()
    for name in ("version", "publisher", "installer", "url", "out"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    with open(args.installer, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    os.makedirs(args.out, exist_ok=True)
    # Only this version's manifests: the folder is submitted whole.
    for name in os.listdir(args.out):
        if name.endswith(".yaml"):
            os.remove(os.path.join(args.out, name))
    for name, (kind, content) in manifests(args.version, args.publisher, sha256, args.url).items():
        schema = f"https://aka.ms/winget-manifest.{kind.lower()}.{MANIFEST_VERSION}.schema.json"
        text = f"# yaml-language-server: $schema={schema}\n\n" + yaml.safe_dump(
            content, allow_unicode=True, sort_keys=False, default_flow_style=False)
        with open(os.path.join(args.out, name), "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
