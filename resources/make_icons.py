#!/usr/bin/env python3
"""Draws the launcher's icons and writes them as .ico files.

    python3 resources/make_icons.py

writes resources/corvane.ico (the program icon, 16, 32 and 48 pixels) and the three status icons
resources/launcherdata/off.ico, on.ico and error.ico (16, 32 and 48 pixels). Each image is a
32-bit BGRA bitmap with its AND mask, the classic icon format that every reader understands.
It also writes the program icon for the desktop's icon theme, as PNG files at the theme's usual
sizes under resources/hicolor/. (The scalable one, hicolor/scalable/apps/*.svg, is drawn by hand
after the same shapes.) Standard library only.
"""

import math
import os
import struct
import zlib

SUPERSAMPLE = 4  # sub-samples per pixel side, for smooth edges


# ---- drawing ---------------------------------------------------------------------------------
# A picture is a list of layers, back to front. A layer is (inside, colour): inside(x, y) tells
# whether a point of the unit square (0..1, y downwards) is covered; colour(x, y) gives RGBA with
# components 0..1.


def solid(r, g, b, a=1.0):
    return lambda x, y: (r, g, b, a)


def vertical_gradient(top, bottom):
    def colour(x, y):
        return tuple(t + (b - t) * y for t, b in zip(top, bottom))

    return colour


def radial_shade(centre, radius, inner, outer):
    cx, cy = centre

    def colour(x, y):
        d = min(1.0, math.hypot(x - cx, y - cy) / radius)
        return tuple(i + (o - i) * d for i, o in zip(inner, outer))

    return colour


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_outer, r_inner):
    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        return r_inner * r_inner <= d2 <= r_outer * r_outer

    return inside


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        nx = min(max(x, x0 + radius), x1 - radius)
        ny = min(max(y, y0 + radius), y1 - radius)
        return (x - nx) ** 2 + (y - ny) ** 2 <= radius * radius

    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return inside


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def render(layers, size):
    """Returns rows of (r, g, b, a) bytes, top row first."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    r = g = b = a = 0.0
                    for inside, colour in layers:
                        if inside(x, y):
                            cr, cg, cb, ca = colour(x, y)
                            r = cr * ca + r * (1 - ca)
                            g = cg * ca + g * (1 - ca)
                            b = cb * ca + b * (1 - ca)
                            a = ca + a * (1 - ca)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            samples = n * n
            alpha = acc[3] / samples
            if alpha > 0:
                rgb = [c / samples / alpha for c in acc[:3]]
            else:
                rgb = [0.0, 0.0, 0.0]
            row.append(tuple(int(round(min(1.0, max(0.0, c)) * 255)) for c in rgb + [alpha]))
        rows.append(row)
    return rows


# ---- the pictures ----------------------------------------------------------------------------


def program_icon():
    """A blue tile with a bright C open to the right, and three server lamps in the opening."""
    tile = rounded_rect(0.03, 0.03, 0.97, 0.97, 0.18)
    c_ring = ring(0.46, 0.5, 0.36, 0.22)
    opening = polygon([(0.46, 0.5), (1.0, 0.12), (1.0, 0.88)])
    lamps = [circle(0.78, 0.5 + dy, 0.075) for dy in (-0.2, 0.0, 0.2)]
    layers = [
        (tile, vertical_gradient((0.16, 0.36, 0.70, 1.0), (0.05, 0.15, 0.38, 1.0))),
        (minus(c_ring, opening), vertical_gradient((1.0, 1.0, 1.0, 1.0), (0.78, 0.86, 0.95, 1.0))),
    ]
    lamp_colours = [(0.95, 0.80, 0.25, 1.0), (0.40, 0.90, 0.45, 1.0), (0.40, 0.90, 0.45, 1.0)]
    layers += [(lamp, solid(*colour)) for lamp, colour in zip(lamps, lamp_colours)]
    return layers


def status_lamp(light, dark, mark=False):
    """A round lamp with a dark rim and a soft highlight; optionally an exclamation mark."""
    rim = circle(0.5, 0.5, 0.47)
    body = circle(0.5, 0.5, 0.40)
    glint = circle(0.40, 0.34, 0.13)
    layers = [
        (rim, solid(*dark, 1.0)),
        (body, radial_shade((0.42, 0.36), 0.55, (*light, 1.0), (*dark, 1.0))),
        (glint, solid(1.0, 1.0, 1.0, 0.35)),
    ]
    if mark:
        bar = polygon([(0.43, 0.20), (0.57, 0.20), (0.54, 0.62), (0.46, 0.62)])
        dot = circle(0.5, 0.76, 0.075)
        layers += [(bar, solid(1.0, 1.0, 1.0)), (dot, solid(1.0, 1.0, 1.0))]
    return layers


PICTURES = {
    "corvane.ico": program_icon(),
    os.path.join("launcherdata", "off.ico"): status_lamp((0.62, 0.62, 0.62), (0.22, 0.22, 0.22)),
    os.path.join("launcherdata", "on.ico"): status_lamp((0.55, 0.95, 0.45), (0.05, 0.42, 0.08)),
    os.path.join("launcherdata", "error.ico"): status_lamp(
        (1.0, 0.45, 0.40), (0.55, 0.02, 0.02), mark=True
    ),
}
SIZES = (16, 32, 48)


# ---- the file format -------------------------------------------------------------------------


def bitmap_entry(rows):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, bottom-up 1-bit AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:  # transparent where nothing is drawn
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def ico_file(images):
    """images: list of (size, entry bytes)."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


APP_ID = "org.corvane.CorvaneLauncher"
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def png_file(rows):
    """An 8-bit RGBA PNG of the rows."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for size in THEME_SIZES:
        folder = os.path.join(here, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, APP_ID + ".png")
        with open(path, "wb") as f:
            f.write(png_file(render(program_icon(), size)))
        print(path)
    for name, layers in PICTURES.items():
        images = [(size, bitmap_entry(render(layers, size))) for size in SIZES]
        path = os.path.join(here, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(ico_file(images))
        print(path)


if __name__ == "__main__":
    main()
