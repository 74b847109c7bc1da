"""Reads and writes data.dat as the program lays it out, so tests can prepare
a state before a start and inspect it after an exit. The layout is the
program's own field table (core/DataFile.h), read from there."""

import os
import re
import struct

KEY = b"583~916kR2"
_TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "core", "DataFile.h")
_NUMBERS = {"U8": "B", "Bool": "B", "U16": "H", "U32": "I", "I32": "i", "F64": "d"}

with open(_TABLE, encoding="utf-8") as _f:
    ROWS = re.findall(r"TDataField<&\w+::(\w+), TWire::(\w+)>", _f.read())
FIELDS = [name for name, wire in ROWS if wire in _NUMBERS]
STRINGS = [name for name, wire in ROWS if wire.endswith("Text")]
SCRAMBLED = [name for name, wire in ROWS if wire == "ScrambledText"]
LISTS = [name for name, wire in ROWS if wire == "Lines"]
# The numbers fill the 64-byte block at the start, in table order.
SETTINGS = struct.Struct("<" + "".join(_NUMBERS[wire] for _, wire in ROWS[:len(FIELDS)]))
assert SETTINGS.size == 64 and [n for n, _ in ROWS] == FIELDS + STRINGS + LISTS, ROWS


# Byte i (from 1) is XORed with KEY[i - 1] up to the tenth, then with KEY[i % 10 - 1]; every tenth one after
# the first ten stays as it is.
def scramble(b):
    return bytes(c ^ (KEY[i - 1] if i <= 10 else KEY[i % 10 - 1] if i % 10 else 0) for i, c in enumerate(b, 1))


def encode(state):
    s = {**{f: 0 for f in FIELDS}, "TrafficSince": 0.0, **{n: b"" for n in STRINGS}, **{n: [] for n in LISTS},
         **state}
    out = bytearray(SETTINGS.pack(*[s[f] for f in FIELDS]))
    for name in STRINGS:
        v = s[name].encode("cp1251") if isinstance(s[name], str) else s[name]
        v = scramble(v) if name in SCRAMBLED else v
        out += struct.pack("<i", len(v)) + v
    for name in LISTS:
        lines = [l.encode("cp1251") if isinstance(l, str) else l for l in s[name]]
        text = b"".join(l + b"\r\n" for l in lines)
        out += struct.pack("<i", len(text)) + text
    return bytes(out)


def decode(data):
    s = dict(zip(FIELDS, SETTINGS.unpack_from(data, 0)))
    pos = 64
    for name in STRINGS + LISTS:
        (n,) = struct.unpack_from("<i", data, pos)
        pos += 4
        v = data[pos:pos + n]
        if len(v) != n:
            raise ValueError(f"{name}: length {n} beyond the end of the file")
        pos += n
        v = scramble(v) if name in SCRAMBLED else v
        if name in LISTS:
            v = [l for l in v.replace(b"\r\n", b"\r").split(b"\r")][:-1] if v else []
        s[name] = v
    if pos != len(data):
        raise ValueError(f"{len(data) - pos} bytes after the last list")
    return s
