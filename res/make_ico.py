#!/usr/bin/env python3
"""Packs square RGBA PNG files into one Windows icon file.

Every image is stored as PNG data (which Windows accepts in icon files since
Vista) and its directory entry declares 1 plane and 32 bits per pixel. A size
of 256 is written as 0 in the one-byte width and height fields.

usage: make_ico.py OUT.ico IMAGE.png...
"""
import struct
import sys

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_size(data, name):
    """Width and height from the IHDR chunk; refuses anything but 8-bit RGBA."""
    if data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        sys.exit("make_ico.py: %s is not a PNG file" % name)
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    if depth != 8 or colour != 6:
        sys.exit("make_ico.py: %s is not 8-bit RGBA (depth %d, colour type %d)"
                 % (name, depth, colour))
    if width != height or not 1 <= width <= 256:
        sys.exit("make_ico.py: %s is %dx%d, want square up to 256" % (name, width, height))
    return width, height


def build_ico(images):
    """images: list of (size, png bytes). Returns the icon file's bytes."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, payload = b"", b""
    for size, data in images:
        dim = 0 if size == 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        payload += data
        offset += len(data)
    return header + entries + payload


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    images = []
    for name in sys.argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        images.append((png_size(data, name)[0], data))
    with open(sys.argv[1], "wb") as f:
        f.write(build_ico(images))


if __name__ == "__main__":
    main()
