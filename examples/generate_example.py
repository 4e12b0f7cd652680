#!/usr/bin/env python3
"""Draws the bundled example asset catalog source (Example.xcassets).

Every picture is drawn here from simple shapes (no third-party artwork):
a rounded square with a diagonal gradient whose colours depend on the idiom,
a white disc and a bar for the app icons; a lattice tower and an arch bridge
for the two AR reference images of the "Landmarks" AR resource group. Run it
to regenerate the PNG files and Contents.json descriptions; the output is
deterministic.

The tower picture is a JPEG. Python has no JPEG writer here, so the tower is
drawn as a PNG and converted by png_to_jpeg.cpp, a small program linked to
skarvel's own image library (quality 90, the library's JPEG settings). With
--build DIR (a configured and built skarvel build directory, for example
build/release) the generator compiles that program against DIR's libraries
and writes tower.jpg; without it the committed tower.jpg is kept as it is.
The committed file was made with

    python3 examples/generate_example.py --build build-ar

against libjpeg-turbo 2.1.5 (Debian 12).
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "Example.xcassets")
GROUP = os.path.join(ROOT, "Landmarks.arresourcegroup")

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


def blend(c0, c1, t):
    return tuple(int(a + (b - a) * t) for a, b in zip(c0, c1))


def draw_tower(size):
    """A lattice tower on a hill under a sky gradient, with the sun."""
    rows = []
    for y in range(size):
        v = y / (size - 1)
        row = bytearray()
        for x in range(size):
            u = x / (size - 1)
            colour = blend((70, 130, 210), (200, 225, 245), v)
            if (u - 0.78) ** 2 + (v - 0.2) ** 2 <= 0.07 ** 2:
                colour = (255, 230, 120)
            # The tower narrows from the base (v = 0.85) to the tip (v = 0.08).
            if 0.08 <= v <= 0.85:
                t = (v - 0.08) / 0.77
                half = 0.015 + 0.2 * t * t
                d = abs(u - 0.5)
                if d <= half:
                    edge = d >= half - 0.02
                    lattice = (int(v * 60) + int((u - 0.5 + half) * 60)) % 4 == 0
                    brace = int(v * 12) % 3 == 0 and int(v * 120) % 10 < 2
                    if edge or lattice or brace:
                        colour = (60, 50, 45)
            if v > 0.85 - 0.05 * (1 - abs(u - 0.5) * 2):
                colour = blend((90, 150, 70), (50, 100, 40), v)
            row += bytes(colour + (255,))
        rows.append(bytes(row))
    return png_bytes(size, size, rows)


def draw_bridge(size):
    """An arch bridge over water, with its reflection."""
    rows = []
    for y in range(size):
        v = y / (size - 1)
        row = bytearray()
        for x in range(size):
            u = x / (size - 1)
            colour = blend((235, 200, 160), (160, 190, 230), v * 1.6)
            if v >= 0.62:
                colour = blend((40, 90, 140), (20, 50, 90), (v - 0.62) / 0.38)
                if int(v * 80) % 3 == 0 and int(u * 20 + v * 7) % 4 == 0:
                    colour = (120, 160, 200)
            # The deck, the arch below it and the hangers between them.
            inside = abs(u - 0.5) <= 0.42
            arch = 0.62 - 0.3 * (1 - ((u - 0.5) / 0.42) ** 2) if inside else None
            if 0.3 <= v <= 0.34 and 0.04 <= u <= 0.96:
                colour = (180, 60, 40)
            elif inside and abs(v - arch) <= 0.018:
                colour = (190, 70, 45)
            elif inside and 0.34 < v < arch and int(u * 320) % 24 < 2:
                colour = (150, 60, 45)
            for px in (0.08, 0.92):
                if abs(u - px) <= 0.025 and 0.2 <= v <= 0.66:
                    colour = (120, 110, 100)
            row += bytes(colour + (255,))
        rows.append(bytes(row))
    return png_bytes(size, size, rows)


def make_jpeg(png, jpg, build):
    """Converts `png` to `jpg` with png_to_jpeg.cpp built against `build`."""
    repo = os.path.dirname(HERE)
    libraries = [os.path.join(build, "image", "libskarvel_image.a"),
                 os.path.join(build, "base", "libskarvel_base.a")]
    for library in libraries:
        if not os.path.exists(library):
            sys.exit("%s is missing: build skarvel in %s first" % (library, build))
    with tempfile.TemporaryDirectory() as work:
        tool = os.path.join(work, "png_to_jpeg")
        subprocess.run([os.environ.get("CXX", "c++"), "-std=c++20", "-O2", "-I", repo,
                        os.path.join(HERE, "png_to_jpeg.cpp")] + libraries +
                       ["-lpng", "-ljpeg", "-lz", "-o", tool], check=True)
        source = os.path.join(work, "tower.png")
        with open(source, "wb") as f:
            f.write(png)
        subprocess.run([tool, source, jpg], check=True)


def write_landmarks(build):
    """The AR resource group: a JPEG measured in centimeters and a PNG
    without a unit (meters)."""
    write(os.path.join(GROUP, "Contents.json"),
          contents({"info": {"version": 1, "author": "xcode"},
                    "resources": [{"filename": "Tower.arreferenceimage"},
                                  {"filename": "Bridge.arreferenceimage"}]}))
    tower = os.path.join(GROUP, "Tower.arreferenceimage")
    write(os.path.join(tower, "Contents.json"),
          contents({"images": [{"idiom": "universal", "filename": "tower.jpg"}],
                    "info": {"version": 1, "author": "xcode"},
                    "properties": {"width": 35, "unit": "centimeters"}}))
    jpg = os.path.join(tower, "tower.jpg")
    if build:
        make_jpeg(draw_tower(320), jpg, build)
    elif not os.path.exists(jpg):
        sys.exit("tower.jpg is missing: run again with --build DIR")
    bridge = os.path.join(GROUP, "Bridge.arreferenceimage")
    write(os.path.join(bridge, "bridge.png"), draw_bridge(320))
    write(os.path.join(bridge, "Contents.json"),
          contents({"images": [{"idiom": "universal", "filename": "bridge.png"}],
                    "info": {"version": 1, "author": "xcode"},
                    "properties": {"width": 1.5}}))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", help="skarvel build directory, to write tower.jpg")
    args = parser.parse_args()

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

    write_landmarks(args.build)


if __name__ == "__main__":
    main()
