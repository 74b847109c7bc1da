"""Reads and writes data.dat as the program lays it out, so tests can prepare
a state before a start and inspect it after an exit."""

import struct

KEY = b"583~916kR2"
SETTINGS = struct.Struct("<9I I d i i 5B B H")
FIELDS = ["LastInBytes", "LastInUnpacked", "LastOutBytes", "TotalInBytes", "TotalInUnpacked", "TotalOutBytes",
          "UpdateInBytes", "UpdateOutBytes", "UpdateTotalBytes", "Reserved36", "TrafficSince", "IntervalMs",
          "TopicCount", "IgnoreOwnPosts", "AutoStart", "ShowOnNew", "UseSounds", "UseIESettings", "Reserved61",
          "ProxyPort"]
STRINGS = ["ProxyServer", "UserName", "Password", "Nick", "SoundNewMessages", "SoundNewVersion", "SoundError"]
LISTS = ["Favorites", "ForumNames", "ReadMarks"]
assert SETTINGS.size == 64


def scramble(b):
    out = bytearray(b)
    for i in range(1, len(out) + 1):
        k = i if i <= 10 else i % 10
        if k:
            out[i - 1] ^= KEY[k - 1]
    return bytes(out)


def defaults():
    d = {f: 0 for f in FIELDS}
    d["TrafficSince"] = 0.0
    d.update({s: b"" for s in STRINGS})
    d.update({l: [] for l in LISTS})
    return d


def encode(state):
    s = defaults()
    s.update(state)
    out = bytearray(SETTINGS.pack(*[s[f] for f in FIELDS]))
    for name in STRINGS:
        v = s[name]
        v = v.encode("cp1251") if isinstance(v, str) else v
        if name == "Password":
            v = scramble(v)
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
        if name == "Password":
            v = scramble(v)
        if name in LISTS:
            v = [l for l in v.replace(b"\r\n", b"\r").split(b"\r")][:-1] if v else []
        s[name] = v
    if pos != len(data):
        raise ValueError(f"{len(data) - pos} bytes after the last list")
    return s
