#!/usr/bin/env python3
"""Draws the bundled example asset catalog source (Example.xcassets).

Every picture is drawn here from simple shapes (no third-party artwork):
a rounded square with a diagonal gradient whose colours depend on the idiom,
a white disc and a bar. Run it from this folder to regenerate the PNG files
and Contents.json descriptions; the output is deterministic.
"""
import json
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "Example.xcassets")

# (idiom, point size text, scale) of every icon of a complete iPhone / iPad /
# App Store set.
COMPLETE_SET = [
    ("iphone", "20", 2), ("iphone", "20", 3), ("iphone", "29", 1), ("iphone", "29", 2),
    ("iphone", "29", 3), ("iphone", "40", 2), ("iphone", "40", 3), ("iphone", "57", 1),
    ("iphone", "57", 2), ("iphone", "60", 2), ("iphone", "60", 3),
    ("ipad", "20", 1), ("ipad", "20", 2), ("ipad", "29", 1), ("ipad", "29", 2),
    ("ipad", "40", 1), ("ipad", "40", 2), ("ipad", "72", 1), ("ipad", "72", 2),
    ("ipad", "76", 1), ("ipad", "76", 2), ("ipad", "83.5", 2),
    ("ios-marketing", "1024", 1),
]

COLOURS = {  # gradient start and end (r, g, b) per idiom
    "iphone": ((40, 110, 230), (20, 200, 170)),
    "ipad": ((230, 90, 40), (240, 190, 40)),
    "ios-marketing": ((120, 60, 200), (230, 70, 140)),
    "gray": ((60, 60, 60), (200, 200, 200)),
}


def png_bytes(width, height, rows):
    """rows: list of bytes objects, RGBA, one per row."""
    raw = b"".join(b"\x00" + r for r in rows)
    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data +
                struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def draw_icon(size, colours, opaque=False):
    """An anti-aliased rounded square with a gradient, a disc and a bar."""
    (r0, g0, b0), (r1, g1, b1) = colours
    radius = size * 0.22
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            # Coverage of the rounded square, 4x4 supersampled.
            cover = 0
            for sy in range(4):
                for sx in range(4):
                    px = x + (sx + 0.5) / 4
                    py = y + (sy + 0.5) / 4
                    dx = max(radius - px, 0, px - (size - radius))
                    dy = max(radius - py, 0, py - (size - radius))
                    if dx * dx + dy * dy <= radius * radius:
                        cover += 1
            alpha = 255 if opaque else cover * 255 // 16
            t = (x + y) / (2 * size - 2) if size > 1 else 0
            r = r0 + (r1 - r0) * t
            g = g0 + (g1 - g0) * t
            b = b0 + (b1 - b0) * t
            cx, cy = size * 0.5, size * 0.42
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= (size * 0.2) ** 2:
                r = g = b = 250
            if size * 0.25 <= x < size * 0.75 and size * 0.72 <= y < size * 0.8:
                r = g = b = 245
            row += bytes((int(r), int(g), int(b), alpha))
        rows.append(bytes(row))
    return png_bytes(size, size, rows)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def contents(obj):
    return (json.dumps(obj, indent=2) + "\n").encode()


def pixel_size(size_text, scale):
    return int(float(size_text) * scale)


def main():
    write(os.path.join(ROOT, "Contents.json"),
          contents({"info": {"version": 1, "author": "xcode"}}))

    # A complete set: one picture per icon slot.
    images = []
    for idiom, size, scale in COMPLETE_SET:
        name = "Icon-%s-%sx%s@%dx.png" % (idiom, size, size, scale)
        px = pixel_size(size, scale)
        write(os.path.join(ROOT, "AppIcon.appiconset", name),
              draw_icon(px, COLOURS[idiom], opaque=(idiom == "ios-marketing")))
        images.append({"size": "%sx%s" % (size, size), "idiom": idiom,
                       "filename": name, "scale": "%dx" % scale})
    write(os.path.join(ROOT, "AppIcon.appiconset", "Contents.json"),
          contents({"images": images, "info": {"version": 1, "author": "xcode"}}))

    # A set made from one App Store picture: every other size is derived.
    write(os.path.join(ROOT, "Single.appiconset", "Icon-1024.png"),
          draw_icon(1024, COLOURS["ios-marketing"], opaque=True))
    write(os.path.join(ROOT, "Single.appiconset", "Contents.json"),
          contents({"images": [{"size": "1024x1024", "idiom": "ios-marketing",
                                "filename": "Icon-1024.png", "scale": "1x"}],
                    "info": {"version": 1, "author": "xcode"}}))


if __name__ == "__main__":
    main()
