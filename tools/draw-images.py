#!/usr/bin/env python3
"""Draws the installer's pictures: the application icon (128), the language
flags (141-161) and the wizard's side banner (137).

Run it after changing a drawing; it rewrites res/icons/*.ico and
res/bitmaps/137-banner.bmp, which are committed. Only the standard library is
used. Every picture is computed from geometry here, supersampled for smooth
edges, and stored uncompressed as the resource compiler expects: icons as
24-bit (flags) or 32-bit (application icon) DIBs with an AND mask, the banner
as an 8-bit DIB with a 256-colour palette.
"""
import math
import os
import struct
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")


# ---------------------------------------------------------------- helpers

def render(width, height, shade, samples=4):
    """Pixels (rows top to bottom) of RGBA tuples; shade(x, y) gets
    coordinates in pixels and returns (r, g, b, a) with a in 0..1."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    r, g, b, a = shade(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            alpha = acc[3] / n
            if alpha > 0:
                color = tuple(min(255, round(c / acc[3])) for c in acc[:3])
            else:
                color = (0, 0, 0)
            row.append(color + (round(alpha * 255),))
        rows.append(row)
    return rows


def star_contains(cx, cy, radius, x, y, rotation=-math.pi / 2):
    """Inside a regular five-pointed star (point up)."""
    points = []
    for i in range(10):
        r = radius if i % 2 == 0 else radius * 0.382
        angle = rotation + i * math.pi / 5
        points.append((cx + r * math.cos(angle), cy + r * math.sin(angle)))
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def triangle_contains(points, x, y):
    def side(a, b):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])
    s = [side(points[i], points[(i + 1) % 3]) for i in range(3)]
    return all(v >= 0 for v in s) or all(v <= 0 for v in s)


def regular_triangle(cx, cy, r, up):
    start = -math.pi / 2 if up else math.pi / 2
    return [(cx + r * math.cos(start + k * 2 * math.pi / 3),
             cy + r * math.sin(start + k * 2 * math.pi / 3)) for k in range(3)]


def stripes(colors, t):
    return colors[min(len(colors) - 1, int(t * len(colors)))]


# ---------------------------------------------------------------- flags
# Each takes u in [0, 1.5) and v in [0, 1) (the flag's height is 1) and
# returns an RGB colour.

WHITE = (255, 255, 255)


def german(u, v):
    return stripes([(0, 0, 0), (221, 0, 0), (255, 206, 0)], v)


def danish(u, v):
    red = (200, 16, 46)
    return WHITE if 0.43 <= u < 0.60 or 0.42 <= v < 0.58 else red


def spanish(u, v):
    return (241, 191, 0) if 0.25 <= v < 0.75 else (170, 21, 27)


def french(u, v):
    return stripes([(0, 35, 149), WHITE, (237, 41, 57)], u / 1.5)


def english(u, v):
    blue, red = (1, 33, 105), (200, 16, 46)
    # Diagonals run corner to corner of the 1.5 x 1 field.
    d1 = abs(v * 1.5 - u) / math.hypot(1.5, 1)
    d2 = abs((1 - v) * 1.5 - u) / math.hypot(1.5, 1)
    cu, cv = abs(u - 0.75), abs(v - 0.5)
    if cu < 0.10 or cv < 0.10:
        return red
    if cu < 0.17 or cv < 0.17:
        return WHITE
    if min(d1, d2) < 0.045:
        return red
    if min(d1, d2) < 0.11:
        return WHITE
    return blue


def italian(u, v):
    return stripes([(0, 146, 70), WHITE, (206, 43, 55)], u / 1.5)


def dutch(u, v):
    return stripes([(174, 28, 40), WHITE, (33, 70, 139)], v)


def portuguese(u, v):
    d = math.hypot(u - 0.6, v - 0.5)
    if d < 0.16:
        return (255, 255, 255) if d < 0.09 and abs(u - 0.6) < 0.07 else (210, 0, 0)
    if d < 0.26:
        return (255, 204, 0)
    return (0, 102, 0) if u < 0.6 else (255, 0, 0)


def turkish(u, v):
    red = (227, 10, 23)
    if math.hypot(u - 0.5, v - 0.5) < 0.25 and math.hypot(u - 0.5625, v - 0.5) >= 0.2:
        return WHITE
    if star_contains(0.88, 0.5, 0.125, u, v, rotation=math.pi):
        return WHITE
    return red


def bulgarian(u, v):
    return stripes([WHITE, (0, 150, 110), (214, 38, 18)], v)


def romanian(u, v):
    return stripes([(0, 43, 127), (252, 209, 22), (206, 17, 38)], u / 1.5)


def chinese(u, v):
    yellow = (255, 222, 0)
    g = 1 / 20  # the flag's design grid: 30 x 20 cells
    if star_contains(5 * 1.5 * g, 5 * g, 3 * g, u, v):
        return yellow
    for cx, cy in ((10, 2), (12, 4), (12, 7), (10, 9)):
        if star_contains(cx * 1.5 * g, cy * g, 1.2 * g, u, v):
            return yellow
    return (238, 28, 37)


def czech(u, v):
    if u < 0.75 * (1 - abs(2 * v - 1)):
        return (17, 69, 126)
    return WHITE if v < 0.5 else (215, 20, 26)


def norwegian(u, v):
    x, y = u / 1.5 * 22, v * 16
    if 7 <= x < 9 or 7 <= y < 9:
        return (0, 32, 91)
    if 6 <= x < 10 or 6 <= y < 10:
        return WHITE
    return (186, 12, 47)


def greek(u, v):
    blue = (13, 94, 175)
    s = 1 / 9  # one stripe
    if u < 5 * s and v < 5 * s:
        return WHITE if (2 * s <= u < 3 * s) or (2 * s <= v < 3 * s) else blue
    return blue if int(v / s) % 2 == 0 else WHITE


def polish(u, v):
    return WHITE if v < 0.5 else (220, 20, 60)


def hebrew(u, v):
    blue = (0, 56, 184)
    if 0.1 <= v < 0.25 or 0.75 <= v < 0.9:
        return blue
    for up in (True, False):
        outer = regular_triangle(0.75, 0.5, 0.2, up)
        inner = regular_triangle(0.75, 0.5, 0.2 - 0.09, up)
        if triangle_contains(outer, u, v) and not triangle_contains(inner, u, v):
            return blue
    return WHITE


def vietnamese(u, v):
    return (255, 255, 0) if star_contains(0.75, 0.52, 0.32, u, v) else (218, 37, 29)


def japanese(u, v):
    return (188, 0, 45) if math.hypot(u - 0.75, v - 0.5) < 0.3 else WHITE


def hungarian(u, v):
    return stripes([(205, 42, 62), WHITE, (67, 111, 77)], v)


FLAGS = [
    (141, "german", german), (142, "danish", danish), (143, "spanish", spanish),
    (144, "french", french), (145, "english", english), (146, "italian", italian),
    (147, "dutch", dutch), (148, "portuguese", portuguese), (149, "turkish", turkish),
    (150, "bulgarian", bulgarian), (151, "romanian", romanian), (152, "chinese", chinese),
    (153, "czech", czech), (154, "norwegian", norwegian), (155, "greek", greek),
    (156, "polish", polish), (157, "hebrew", hebrew), (158, "vietnamese", vietnamese),
    (160, "japanese", japanese), (161, "hungarian", hungarian),
]


def draw_flag(flag, width=18, height=12):
    def shade(x, y):
        return flag(x / height, y / height) + (1.0,)
    rows = render(width, height, shade)
    # A soft grey edge keeps white flags visible on a white list.
    for y in range(height):
        for x in range(width):
            if x in (0, width - 1) or y in (0, height - 1):
                r, g, b, a = rows[y][x]
                rows[y][x] = (round(r * 0.75 + 96 * 0.25), round(g * 0.75 + 96 * 0.25),
                              round(b * 0.75 + 96 * 0.25), a)
    return rows


# ---------------------------------------------------------------- application icon

def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def app_icon_shade(size):
    """A tree under a light: rounded tile, trunk, three-lobed crown."""
    def shade(x, y):
        u, v = x / size, y / size
        # Rounded tile.
        m, rad = 0.04, 0.2
        qx = max(abs(u - 0.5) - (0.5 - m - rad), 0)
        qy = max(abs(v - 0.5) - (0.5 - m - rad), 0)
        if math.hypot(qx, qy) > rad:
            return (0, 0, 0, 0.0)
        color = mix((232, 244, 252), (150, 196, 226), v)
        # Light from the upper right.
        glow = max(0.0, 1 - math.hypot(u - 0.78, v - 0.2) / 0.3)
        color = mix(color, (255, 246, 200), glow * 0.8)
        # Ground.
        if v > 0.8 - 0.05 * math.cos((u - 0.5) * 3):
            color = mix((96, 160, 72), (60, 120, 50), (v - 0.75) / 0.25)
        # Trunk.
        if abs(u - 0.5) < 0.06 - 0.02 * (v - 0.5) and 0.5 < v < 0.84:
            color = (120, 78, 44) if u < 0.5 else (96, 60, 34)
        # Crown.
        lobes = ((0.5, 0.36, 0.2), (0.32, 0.47, 0.15), (0.68, 0.47, 0.15))
        for cx, cy, r in lobes:
            d = math.hypot(u - cx, v - cy)
            if d < r:
                light = max(0.0, min(1.0, 0.5 + (cx + 0.3 * r - u) * 1.5 - (v - cy) * 1.5))
                color = mix((34, 110, 48), (120, 196, 88), light)
        # Tile rim.
        if math.hypot(qx, qy) > rad - 0.035 or (qx == 0 and qy == 0 and
                                                max(abs(u - 0.5), abs(v - 0.5)) > 0.5 - m - 0.035):
            color = mix(color, (40, 80, 120), 0.6)
        return color + (1.0,)
    return shade


# ---------------------------------------------------------------- banner

def banner_shade(width, height):
    def shade(x, y):
        u, v = x / width, y / height
        sky = mix((18, 58, 104), (150, 200, 226), min(1.0, v / 0.75))
        glow = max(0.0, 1 - math.hypot((u - 0.75) * width, (v - 0.14) * height) / 70)
        color = mix(sky, (255, 244, 196), glow ** 1.5)
        # Light rays from the glow.
        angle = math.atan2((v - 0.14) * height, (u - 0.75) * width)
        ray = 0.5 + 0.5 * math.cos(angle * 9)
        color = mix(color, (255, 250, 220), 0.12 * ray * glow)
        # Far and near hills.
        far = 0.74 - 0.04 * math.sin(u * 5 + 1)
        near = 0.82 + 0.03 * math.sin(u * 4 + 2.5)
        if v > far:
            color = mix((70, 130, 96), (52, 104, 78), (v - far) * 4)
        if v > near:
            color = mix((92, 156, 72), (48, 100, 44), (v - near) / (1 - near))
        # The tree: trunk, then crown lobes lit from the upper right.
        tx = 0.42 * width
        px, py = x, y
        if abs(px - tx) < 4.2 - 0.02 * (py - 96) and 96 < py < 146:
            color = (110, 72, 40) if px < tx else (86, 56, 32)
        for cx, cy, r in ((tx, 74, 24), (tx - 17, 92, 16), (tx + 17, 90, 17), (tx, 100, 15)):
            d = math.hypot(px - cx, py - cy)
            if d < r:
                lit = max(0.0, min(1.0, 0.45 + ((px - cx) - (py - cy)) / (2.2 * r)))
                color = mix((24, 88, 40), (140, 206, 96), lit)
        # A thin light edge on the right, where the page area begins.
        if x > width - 1:
            color = mix(color, (255, 255, 255), 0.5)
        return color + (1.0,)
    return shade


def median_cut(colors, count):
    """Palette of at most `count` colours and the index of each input colour."""
    boxes = [list(set(colors))]
    while len(boxes) < count:
        best, best_range, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for c in range(3):
                values = [p[c] for p in box]
                if max(values) - min(values) > best_range:
                    best, best_range, best_channel = i, max(values) - min(values), c
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda p: p[best_channel])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette, index = [], {}
    for box in boxes:
        avg = tuple(round(sum(p[c] for p in box) / len(box)) for c in range(3))
        for p in box:
            index[p] = len(palette)
        palette.append(avg)
    return palette, index


# ---------------------------------------------------------------- file formats

def dib(rows, bits, icon):
    """BITMAPINFOHEADER and pixel rows (bottom-up); for an icon the height is
    doubled and the AND mask follows."""
    height, width = len(rows), len(rows[0])
    palette = b""
    body = b""
    if bits == 8:
        flat = [p[:3] for row in rows for p in row]
        colors, index = median_cut(flat, 256)
        colors += [(0, 0, 0)] * (256 - len(colors))
        palette = b"".join(struct.pack("<BBBB", c[2], c[1], c[0], 0) for c in colors)
    stride = (width * bits + 31) // 32 * 4
    for row in reversed(rows):
        line = b""
        for p in row:
            if bits == 8:
                line += bytes([index[p[:3]]])
            elif bits == 24:
                line += bytes([p[2], p[1], p[0]])
            else:
                line += bytes([p[2], p[1], p[0], p[3]])
        body += line + b"\0" * (stride - len(line))
    if icon:
        mask_stride = (width + 31) // 32 * 4
        for row in reversed(rows):
            bitsrow = bytearray(mask_stride)
            for x, p in enumerate(row):
                if p[3] == 0:
                    bitsrow[x // 8] |= 0x80 >> (x % 8)
            body += bytes(bitsrow)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2 if icon else height, 1, bits, 0,
                         len(body), 2835 if not icon else 0, 2835 if not icon else 0,
                         256 if bits == 8 else 0, 0)
    return header + palette + body


def ico(images):
    """An .ico file from (rows, bits) pairs."""
    data = [dib(rows, bits, True) for rows, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (rows, bits), blob in zip(images, data):
        w, h = len(rows[0]), len(rows)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return out + b"".join(data)


def bmp(rows):
    blob = dib(rows, 8, False)
    return struct.pack("<2sIHHI", b"BM", 14 + len(blob), 0, 0, 14 + 40 + 1024) + blob


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    print("wrote", os.path.relpath(path, os.getcwd()))


def main():
    os.makedirs(os.path.join(ROOT, "icons"), exist_ok=True)
    os.makedirs(os.path.join(ROOT, "bitmaps"), exist_ok=True)
    for ident, name, flag in FLAGS:
        write(os.path.join(ROOT, "icons", "%d-%s.ico" % (ident, name)), ico([(draw_flag(flag), 24)]))
    app = [(render(s, s, app_icon_shade(s)), 32) for s in (32, 16, 48)]
    write(os.path.join(ROOT, "icons", "128-application.ico"), ico(app))
    write(os.path.join(ROOT, "bitmaps", "137-banner.bmp"), bmp(render(87, 171, banner_shade(87, 171), 3)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
