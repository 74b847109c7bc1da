#!/usr/bin/env python3
"""Packs files into the patch's payload (the layout PatchFiles_win.h reads):
    pack_payload.py OUT ROOT NAME...
NAMEs are paths below ROOT with "/" or "\\"; they are stored with "\\"."""

import os
import struct
import sys


def main(out, root, names):
    blob = bytearray(b"ZPAYLOAD" + struct.pack("<I", len(names)))
    for name in names:
        stored = name.replace("/", "\\").encode("utf-8")
        with open(os.path.join(root, *name.replace("\\", "/").split("/")), "rb") as f:
            data = f.read()
        blob += struct.pack("<H", len(stored)) + stored + struct.pack("<I", len(data)) + data
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(blob)
    os.replace(tmp, out)


if __name__ == "__main__":
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2], sys.argv[3:])
