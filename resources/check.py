#!/usr/bin/env python3
"""Checks the rendered resources of ZeltInformer.exe before they are linked in.

  check.py --res BUILD/resources/res --sounds BUILD/ZeltInformer/Sounds
           --manifest resources/ZeltInformer.manifest

The pictures: every PNG resource, at 100 % and at its 125, 150 and 200 %
sizes, is a 32-bit RGBA PNG of its size with both a transparent background
and a solid picture; the list strips (16, 20, 24 and 32 pixel pictures) are
24 bpp bitmaps of three pictures on black (their transparency key) with no
black holes inside and no near-black fringes; the icons hold 16, 20, 24, 32,
40, 48 and 64 pixel 32-bit images with a real alpha channel. The sounds are well-formed
Ogg Vorbis streams of 0.3 to 1.2 s that neither clip nor are silent, and the
manifest is well-formed XML asking for what the program relies on.
Prints one line per file and exits non-zero when anything is wrong.
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zlib

PNG16 = [
    "MAINFORM_ICTRAFFIC", "MAINFORM_ICNEW", "MAINFORM_ICALLREADED",
    "MAINFORM_ICFAVORITES", "MAINFORM_ICCONFIG", "MAINFORM_ICREFRESH",
    "SOUNDSFORM_ICDEFAULT", "SOUNDSFORM_ICDELETE", "SOUNDSFORM_ICCHANGE",
    "FAVORITESFORM_ICCLEAR", "FAVORITESFORM_ICDELETE",
]
PNG32 = ["INFOFORM_ICREAD", "INFOFORM_ICUPDATE", "INFOFORM_ICNOUPDATE"]
ICONS = ["MAINICON", "ZMAINFORM_TRAYICON"]
ICON_SIZES = [16, 20, 24, 32, 40, 48, 64]
SCALES = [100, 125, 150, 200]  # percent: the pictures exist for each
SOUNDS = ["Сообщение.ogg", "Новая версия.ogg", "Ошибка.ogg"]


class Bad(Exception):
    pass


def expect(cond, what):
    if not cond:
        raise Bad(what)


# ---------------------------------------------------------------- PNG

def png_rgba(data):
    """Decodes an 8-bit RGBA, non-interlaced PNG: (width, height, rows of
    (r, g, b, a) tuples). Anything else is reported as Bad."""
    expect(data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        expect(pos + 12 <= len(data), "truncated chunk")
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        expect(zlib.crc32(kind + body) == crc, f"bad CRC in chunk {kind!r}")
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    expect(ihdr is not None, "no IHDR")
    width, height, depth, ctype, _, _, interlace = ihdr
    expect(depth == 8 and ctype == 6, f"not 8-bit RGBA (depth {depth}, colour type {ctype})")
    expect(interlace == 0, "interlaced")
    raw = zlib.decompress(idat)
    stride = width * 4
    expect(len(raw) == height * (stride + 1), "pixel data of the wrong size")
    prev = bytearray(stride)
    rows = []
    for y in range(height):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 0xFF
            elif ftype == 2:
                line[i] = (line[i] + b) & 0xFF
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
            else:
                expect(ftype == 0, f"unknown filter {ftype}")
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return width, height, rows


def check_alpha_use(pixels, what):
    """A picture on a transparent background: some of each."""
    n = len(pixels)
    clear = sum(1 for p in pixels if p[3] == 0)
    solid = sum(1 for p in pixels if p[3] >= 200)
    expect(clear >= n * 0.08, f"{what}: almost no transparent background ({clear}/{n})")
    expect(solid >= n * 0.15, f"{what}: almost nothing drawn ({solid}/{n})")


def check_png(path, size):
    with open(path, "rb") as f:
        w, h, rows = png_rgba(f.read())
    expect((w, h) == (size, size), f"{w}x{h}, expected {size}x{size}")
    check_alpha_use([p for r in rows for p in r], "picture")
    return f"{w}x{h} RGBA"


# ---------------------------------------------------------------- BMP strip

def check_strip(path, side=16):
    with open(path, "rb") as f:
        data = f.read()
    expect(data[:2] == b"BM", "not a BMP")
    (offset,) = struct.unpack("<I", data[10:14])
    hsize, width, height, planes, bpp, compression = struct.unpack("<IiiHHI", data[14:34])
    expect(hsize >= 40, f"header of {hsize} bytes")
    expect((width, abs(height)) == (3 * side, side), f"{width}x{abs(height)}, expected {3 * side}x{side}")
    expect(planes == 1 and bpp == 24, f"{bpp} bits per pixel, expected 24")
    expect(compression == 0, "compressed")
    stride = (width * 3 + 3) & ~3
    expect(len(data) >= offset + stride * side, "pixel data cut short")
    px = {}
    for row in range(side):
        y = side - 1 - row if height > 0 else row
        base = offset + row * stride
        for x in range(3 * side):
            b, g, r = data[base + x * 3:base + x * 3 + 3]
            px[x, y] = (r, g, b)

    black = (0, 0, 0)
    for cell in range(3):
        x0 = cell * side
        cells = [(x, y) for x in range(x0, x0 + side) for y in range(side)]
        drawn = [px[c] for c in cells if px[c] != black]
        expect(len(cells) * 40 // 256 <= len(drawn) <= len(cells) * 240 // 256,
               f"image {cell}: {len(drawn)} of {len(cells)} pixels drawn, the rest is the black key")
        # Every black pixel must be background reachable from the edge (a cut
        # between two shapes may run diagonally); an enclosed one would show
        # as a hole in the picture.
        seen = set()
        todo = [c for c in cells if px[c] == black and
                (c[0] in (x0, x0 + side - 1) or c[1] in (0, side - 1))]
        while todo:
            c = todo.pop()
            if c in seen:
                continue
            seen.add(c)
            x, y = c
            for n in ((x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                if x0 <= n[0] < x0 + side and 0 <= n[1] < side and px[n] == black:
                    todo.append(n)
        holes = [c for c in cells if px[c] == black and c not in seen]
        expect(not holes, f"image {cell}: black holes inside the picture at {holes[:4]}")
        # Edges blend toward a mid tone: no near-black fringe next to the key.
        for (x, y) in cells:
            if px[x, y] == black:
                continue
            near_key = any(px.get(n) == black for n in
                           ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1))
                           if x0 <= n[0] < x0 + side)
            expect(not near_key or max(px[x, y]) >= 48,
                   f"image {cell}: near-black edge pixel {px[x, y]} at {(x, y)}")
        mean = [sum(p[i] for p in drawn) / len(drawn) for i in range(3)]
        if cell == 0:
            expect(mean[2] > mean[0] + 60, f"image 0 (unread) is not blue: mean {mean}")
        elif cell == 1:
            expect(max(mean) - min(mean) < 25, f"image 1 (read) is not grey: mean {mean}")
        else:
            light = sum(1 for p in drawn if min(p) >= 200)
            blue = sum(1 for p in drawn if p[2] > p[0] + 80)
            expect(light >= 10 and blue >= 10,
                   f"image 2 (tray) lacks its letter ({light}) or arrow ({blue})")
    return f"{3 * side}x{side} 24 bpp"


# ---------------------------------------------------------------- ICO

def check_ico(path):
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    expect(reserved == 0 and kind == 1, "not an icon file")
    sizes = []
    for i in range(count):
        w, h, _, _, planes, bpp, length, offset = struct.unpack(
            "<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        w, h = w or 256, h or 256
        expect(w == h, f"entry {i} is {w}x{h}")
        expect(bpp == 32, f"{w}px entry has {bpp} bpp, expected 32")
        expect(offset + length <= len(data), f"{w}px entry runs past the end")
        image = data[offset:offset + length]
        if image[:8] == b"\x89PNG\r\n\x1a\n":
            iw, ih, rows = png_rgba(image)
            expect((iw, ih) == (w, h), f"{w}px entry holds a {iw}x{ih} PNG")
            alphas = [p[3] for r in rows for p in r]
        else:
            hsize, iw, ih, _, ibpp, comp = struct.unpack("<IiiHHI", image[:20])
            expect((iw, ih) == (w, 2 * h), f"{w}px entry holds a {iw}x{ih // 2} bitmap")
            expect(ibpp == 32 and comp == 0, f"{w}px bitmap is {ibpp} bpp")
            pixels = image[hsize:hsize + w * h * 4]
            expect(len(pixels) == w * h * 4, f"{w}px bitmap cut short")
            alphas = list(pixels[3::4])
        check_alpha_use([(0, 0, 0, a) for a in alphas], f"{w}px image")
        sizes.append(w)
    expect(sorted(sizes) == ICON_SIZES, f"sizes {sorted(sizes)}, expected {ICON_SIZES}")
    return f"{', '.join(map(str, ICON_SIZES))} px, 32 bpp"


# ---------------------------------------------------------------- Ogg Vorbis

def ogg_crc(page):
    crc = 0
    for byte in page:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
            crc &= 0xFFFFFFFF
    return crc


def check_ogg(path):
    with open(path, "rb") as f:
        data = f.read()
    pos, pages, packets, partial = 0, [], [], b""
    while pos < len(data):
        expect(data[pos:pos + 4] == b"OggS", f"no page at byte {pos}")
        version, flags, granule, serial, seq, crc, nseg = struct.unpack(
            "<BBqIIIB", data[pos + 4:pos + 27])
        expect(version == 0, "unknown Ogg version")
        lacing = data[pos + 27:pos + 27 + nseg]
        end = pos + 27 + nseg + sum(lacing)
        expect(end <= len(data), "page cut short")
        page = bytearray(data[pos:end])
        page[22:26] = b"\0\0\0\0"
        expect(ogg_crc(page) == crc, f"bad CRC in page {seq}")
        expect(seq == len(pages), f"page {len(pages)} is numbered {seq}")
        body = pos + 27 + nseg
        for lace in lacing:
            partial += data[body:body + lace]
            body += lace
            if lace < 255:
                packets.append(partial)
                partial = b""
        pages.append((flags, granule, serial))
        pos = end
    expect(pages and pages[0][0] & 2, "first page lacks the start flag")
    expect(pages[-1][0] & 4, "last page lacks the end flag")
    expect(len({p[2] for p in pages}) == 1, "more than one stream")
    expect(len(packets) > 3, "no audio packets")
    ident, comment, setup = packets[:3]
    expect(ident[:7] == b"\x01vorbis" and len(ident) == 30, "first packet is not a Vorbis identification header")
    expect(comment[:7] == b"\x03vorbis", "no Vorbis comment header")
    expect(setup[:7] == b"\x05vorbis", "no Vorbis setup header")
    _, channels, rate = struct.unpack("<IBI", ident[7:16])
    expect(channels in (1, 2) and rate >= 22050, f"{channels} channels at {rate} Hz")
    seconds = pages[-1][1] / rate
    expect(0.3 <= seconds <= 1.2, f"lasts {seconds:.2f} s, expected 0.3 to 1.2 s")
    # Level through sox, which decodes Vorbis: a peak below full scale and a
    # sound one can hear.
    stats = subprocess.run(["sox", path, "-n", "stats"], capture_output=True, text=True)
    expect(stats.returncode == 0, f"sox cannot decode it: {stats.stderr.strip()}")
    peak = float(re.search(r"Pk lev dB\s+(-?[\d.]+|-inf)", stats.stderr).group(1))
    rms = float(re.search(r"RMS lev dB\s+(-?[\d.]+|-inf)", stats.stderr).group(1))
    expect(peak <= -0.5, f"peak {peak} dBFS: clips")
    expect(rms >= -35, f"RMS {rms} dBFS: too quiet")
    return f"Vorbis {channels} ch {rate} Hz, {seconds:.2f} s, peak {peak} dB"


# ---------------------------------------------------------------- manifest

def check_manifest(path):
    tree = ET.parse(path)  # raises on malformed XML
    ns = {"a1": "urn:schemas-microsoft-com:asm.v1", "a3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1",
          "w5": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
          "w16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
    root = tree.getroot()
    expect(root.tag == "{urn:schemas-microsoft-com:asm.v1}assembly", "root is not an assembly")
    deps = root.findall("a1:dependency/a1:dependentAssembly/a1:assemblyIdentity", ns)
    expect(any(d.get("name") == "Microsoft.Windows.Common-Controls" and d.get("version") == "6.0.0.0"
               for d in deps), "no common controls 6")
    level = root.find(".//a3:requestedExecutionLevel", ns)
    expect(level is not None and level.get("level") == "asInvoker", "not asInvoker")
    aware = root.find(".//w5:dpiAware", ns)
    awareness = root.find(".//w16:dpiAwareness", ns)
    expect(aware is not None and aware.text.strip() == "true/pm", "no per-monitor dpiAware")
    expect(awareness is not None and awareness.text.strip().startswith("PerMonitorV2"),
           "no PerMonitorV2 dpiAwareness")
    oses = {o.get("Id") for o in root.findall(".//c:supportedOS", ns)}
    expect("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" in oses and
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" in oses, "Windows 7 or 10 not declared")
    return f"{len(oses)} supported systems"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--res", required=True)
    ap.add_argument("--sounds", required=True)
    ap.add_argument("--manifest", required=True)
    args = ap.parse_args()

    jobs = []
    for names, base in ((PNG16, 16), (PNG32, 32)):
        for percent in SCALES:
            px = base * percent // 100
            suffix = "" if percent == 100 else f"_{px}"
            jobs += [(f"{n}{suffix}.png", lambda p, px=px: check_png(p, px), args.res) for n in names]
    for side in (16, 20, 24, 32):
        name = "MAINFORM_LVIMAGES" + ("" if side == 16 else f"_{side}") + ".bmp"
        jobs += [(name, lambda p, side=side: check_strip(p, side), args.res)]
    jobs += [(f"{n}.ico", check_ico, args.res) for n in ICONS]
    jobs += [(n, check_ogg, args.sounds) for n in SOUNDS]
    jobs += [(os.path.basename(args.manifest), check_manifest, os.path.dirname(args.manifest))]

    failed = 0
    for name, check, folder in jobs:
        path = os.path.join(folder, name)
        try:
            if not os.path.isfile(path):
                raise Bad("missing")
            print(f"ok    {name}: {check(path)}")
        except (Bad, ET.ParseError, struct.error, zlib.error) as e:
            failed += 1
            print(f"FAIL  {name}: {e}")
    print(f"{len(jobs) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
