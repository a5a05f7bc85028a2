#!/usr/bin/env bash
# Checks the launcher's pictures and icon file: sizes, formats and the icon
# directory. Exits non-zero and names every problem found.
#   check_art.sh              check the files next to this script
#   check_art.sh --self-test  also make sure damaged files are rejected
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

exec python3 - "$HERE" "$@" <<'PY'
import os
import shutil
import struct
import sys
import tempfile
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
ICON_SIZES = [16, 32, 48, 64, 128, 256]
JPEG_LIMIT = 400 * 1024     # both pictures are carried inside the executable
PICTURES = [("background.jpg", 1088, 976), ("varnguard.jpg", 1024, 1024)]


def jpeg_problems(data, width, height):
    if data[:3] != b"\xff\xd8\xff":
        return ["not a JPEG file"]
    out = []
    if data[-2:] != b"\xff\xd9":
        out.append("does not end with the end-of-image marker (truncated?)")
    if len(data) > JPEG_LIMIT:
        out.append("%d bytes, limit is %d" % (len(data), JPEG_LIMIT))
    pos, frame = 2, None
    while pos + 4 <= len(data) and frame is None:
        if data[pos] != 0xFF:
            return out + ["broken marker structure at byte %d" % pos]
        marker = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        if marker == 0xE1:
            out.append("carries an APP1 (Exif/XMP) segment; strip metadata")
        if marker in (0xC0, 0xC1, 0xC2):
            h, w, comps = struct.unpack(">HHB", data[pos + 5:pos + 10])
            frame = (w, h, comps)
        elif marker == 0xDA:
            break
        pos += 2 + length
    if frame is None:
        return out + ["no baseline or progressive frame header"]
    w, h, comps = frame
    if (w, h) != (width, height):
        out.append("is %dx%d, want %dx%d" % (w, h, width, height))
    if comps != 3:
        out.append("has %d colour components, want 3" % comps)
    return out


def png_pixels(data):
    """Decodes an 8-bit RGBA, non-interlaced PNG into rows of bytes."""
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if zlib.crc32(kind + body) != struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]:
            raise ValueError("bad CRC in %s chunk" % kind.decode("latin-1"))
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    w, h, depth, colour, _, _, interlace = ihdr
    if depth != 8 or colour != 6 or interlace != 0:
        raise ValueError("not 8-bit non-interlaced RGBA")
    raw, stride, rows, prev = zlib.decompress(idat), w * 4, [], bytearray(w * 4)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
            elif f != 0:
                raise ValueError("unknown PNG filter %d" % f)
        rows.append(line)
        prev = line
    return rows


def png_problems(data, size):
    if data[:8] != PNG_SIGNATURE:
        return ["not a PNG file"]
    if data[12:16] != b"IHDR":
        return ["PNG without IHDR first"]
    w, h, depth, colour = struct.unpack(">IIBB", data[16:26])
    out = []
    if (w, h) != (size, size):
        out.append("is %dx%d, want %dx%d" % (w, h, size, size))
    if depth != 8 or colour != 6:
        out.append("is not 32-bit RGBA (bit depth %d, colour type %d)" % (depth, colour))
    if out:
        return out
    try:
        rows = png_pixels(data)
    except (ValueError, zlib.error, struct.error, TypeError) as e:
        return ["does not decode: %s" % e]
    corner = rows[0][3]
    centre = rows[size // 2][(size // 2) * 4 + 3]
    # rounded corners: at most an anti-aliasing sliver of the outermost pixel
    if corner > 32:
        out.append("corner pixel is not transparent (alpha %d)" % corner)
    if centre != 255:
        out.append("centre pixel is not opaque (alpha %d)" % centre)
    return out


def ico_problems(data, pngs):
    """pngs: size -> PNG bytes that the icon file must hold."""
    if len(data) < 6:
        return ["too short for an icon header"]
    reserved, kind, count = struct.unpack("<HHH", data[:6])
    if reserved != 0 or kind != 1:
        return ["not an icon file (reserved %d, type %d)" % (reserved, kind)]
    out = []
    if count != len(ICON_SIZES):
        out.append("holds %d images, want %d" % (count, len(ICON_SIZES)))
    if len(data) < 6 + 16 * count:
        return out + ["directory runs past the end of the file"]
    seen, spans = [], []
    for i in range(count):
        w, h, colours, res, planes, bpp, nbytes, offset = struct.unpack(
            "<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        size = w or 256
        where = "entry %d (%dx%d)" % (i, w or 256, h or 256)
        seen.append(size)
        if w != h:
            out.append("%s: not square" % where)
        if planes != 1 or bpp != 32:
            out.append("%s: %d planes, %d bpp; want 1 and 32" % (where, planes, bpp))
        if colours != 0 or res != 0:
            out.append("%s: colour count/reserved bytes not 0" % where)
        if offset < 6 + 16 * count or offset + nbytes > len(data):
            out.append("%s: data outside the file" % where)
            continue
        spans.append((offset, offset + nbytes))
        payload = data[offset:offset + nbytes]
        if payload[:8] != PNG_SIGNATURE:
            out.append("%s: data is not PNG" % where)
            continue
        pw, ph = struct.unpack(">II", payload[16:24])
        if (pw, ph) != (size, size):
            out.append("%s: PNG inside is %dx%d" % (where, pw, ph))
        if size in pngs and payload != pngs[size]:
            out.append("%s: differs from icons/talvora-%d.png" % (where, size))
    if sorted(seen) != ICON_SIZES:
        out.append("sizes are %s, want %s" % (sorted(seen), ICON_SIZES))
    spans.sort()
    if any(a[1] > b[0] for a, b in zip(spans, spans[1:])):
        out.append("image data of two entries overlap")
    return out


def check_dir(root):
    problems = []

    def read(rel):
        path = os.path.join(root, rel)
        if not os.path.isfile(path):
            problems.append("%s: missing" % rel)
            return None
        with open(path, "rb") as f:
            return f.read()

    for name, w, h in PICTURES:
        data = read(name)
        if data is not None:
            problems += ["%s: %s" % (name, p) for p in jpeg_problems(data, w, h)]
    pngs = {}
    for size in ICON_SIZES:
        rel = "icons/talvora-%d.png" % size
        data = read(rel)
        if data is not None:
            pngs[size] = data
            problems += ["%s: %s" % (rel, p) for p in png_problems(data, size)]
    data = read("talvora.ico")
    if data is not None:
        problems += ["talvora.ico: %s" % p for p in ico_problems(data, pngs)]
    return problems


def self_test(root):
    """Each damage below must make check_dir report at least one problem."""
    def patch(rel, fn):
        def run(tmp):
            path = os.path.join(tmp, rel)
            with open(path, "rb") as f:
                data = bytearray(f.read())
            with open(path, "wb") as f:
                f.write(fn(data))
        return run

    def set_u16(pos, value):
        def fn(d):
            d[pos:pos + 2] = struct.pack("<H", value)
            return d
        return fn

    def jpeg_width(d):
        i = d.find(b"\xff\xc0")
        d[i + 7:i + 9] = struct.pack(">H", 1087)
        return d

    def png_rgb(d):
        d[25] = 2
        return d

    def swap_icon_payloads(d):
        # the 16 px image stored where the 32 px one is declared
        off16 = struct.unpack("<I", d[6 + 12:6 + 16])[0]
        n16 = struct.unpack("<I", d[6 + 8:6 + 12])[0]
        d[6 + 16 + 12:6 + 16 + 16] = struct.pack("<I", off16)
        d[6 + 16 + 8:6 + 16 + 12] = struct.pack("<I", n16)
        return d

    def opaque_corner(d):
        rows = png_pixels(bytes(d))
        rows[0][3] = 255
        raw = b"".join(b"\x00" + bytes(r) for r in rows)
        w = len(rows)
        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body
                    + struct.pack(">I", zlib.crc32(kind + body)))
        return (PNG_SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", w, w, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))

    cases = [
        ("background JPEG truncated", patch("background.jpg", lambda d: d[:len(d) // 2])),
        ("background 1087 px wide", patch("background.jpg", jpeg_width)),
        ("badge that is not a JPEG", patch("varnguard.jpg", lambda d: bytearray(
            PNG_SIGNATURE + bytes(d[8:])))),
        ("icon entry declares 24 bpp", patch("talvora.ico", set_u16(6 + 16 * 2 + 6, 24))),
        ("icon entry declares 0 planes", patch("talvora.ico", set_u16(6 + 4, 0))),
        ("icon file holds 5 images", patch("talvora.ico", set_u16(4, 5))),
        ("icon entry points at the wrong image", patch("talvora.ico", swap_icon_payloads)),
        ("16 px icon without alpha", patch("icons/talvora-16.png", png_rgb)),
        ("32 px icon with an opaque corner", patch("icons/talvora-32.png", opaque_corner)),
        ("48 px icon missing", lambda tmp: os.remove(os.path.join(tmp, "icons/talvora-48.png"))),
    ]
    failed = 0
    for label, damage in cases:
        tmp = tempfile.mkdtemp()
        try:
            for rel in ["background.jpg", "varnguard.jpg", "talvora.ico"] + \
                    ["icons/talvora-%d.png" % s for s in ICON_SIZES]:
                os.makedirs(os.path.dirname(os.path.join(tmp, rel)), exist_ok=True)
                shutil.copy(os.path.join(root, rel), os.path.join(tmp, rel))
            damage(tmp)
            found = check_dir(tmp)
        finally:
            shutil.rmtree(tmp)
        if found:
            print("self-test ok: %s -> %s" % (label, found[0]))
        else:
            print("SELF-TEST FAILED: %s was not detected" % label)
            failed += 1
    return failed


def main():
    root = sys.argv[1]
    problems = check_dir(root)
    for p in problems:
        print("FAIL: %s" % p)
    if problems:
        print("check_art: %d problem(s)" % len(problems))
        return 1
    print("check_art: pictures and icons ok")
    if "--self-test" in sys.argv[2:]:
        if self_test(root):
            return 1
    return 0


sys.exit(main())
PY
