#!/usr/bin/env python3
"""Draw the application icon (an opened cardboard box with a green arrow
pointing into it) and write it as a Windows .ico file.

Usage: python3 resources/make_icon.py OUTPUT.ico

The file holds nine classic DIB images (no PNG entries): 16, 32 and 48
pixels, each as 4-bit (VGA palette), 8-bit (fixed 256-colour palette) and
32-bit BGRA, every one with an AND mask.  Output is deterministic.
"""
import struct
import sys

SIZES = (16, 32, 48)
DEPTHS = (4, 8, 32)
SUPERSAMPLE = 8          # samples per pixel along each axis

# --- Drawing ---------------------------------------------------------------
# Coordinates are on a 48 x 48 design grid (y pointing down); main edges sit
# on multiples of 3 so they fall on pixel borders at 16 pixels too.  Shapes
# are listed back to front: (polygon, fill RGB, outline RGB, smallest icon
# size that shows it), so the 16-pixel icon keeps only the bold shapes.
DARK = (60, 36, 12)
ARROW_EDGE = (16, 88, 24)
SCENE = [
    # back flap, standing up behind the opening
    ([(15, 18), (45, 18), (47, 6), (18, 6)], (196, 142, 80), DARK, 32),
    # inside of the box
    ([(3, 24), (33, 24), (45, 18), (15, 18)], (96, 60, 28), DARK, 16),
    # right side face, in shadow
    ([(33, 24), (45, 18), (45, 39), (33, 45)], (150, 95, 45), DARK, 16),
    # front face
    ([(3, 24), (33, 24), (33, 45), (3, 45)], (216, 158, 90), DARK, 16),
    # strip of packing tape down the front
    ([(15, 31), (21, 31), (21, 45), (15, 45)], (236, 206, 150), DARK, 32),
    # front flap, folded forward and down over the front face
    ([(3, 24), (33, 24), (30, 31), (0, 31)], (234, 184, 118), DARK, 32),
    # green arrow pointing down into the box
    ([(18, 0), (30, 0), (30, 12), (39, 12), (24, 27), (9, 12), (18, 12)],
     (56, 200, 72), ARROW_EDGE, 16),
]


def inside(poly, x, y):
    """Even-odd point-in-polygon test."""
    hit = False
    for (x1, y1), (x2, y2) in zip(poly, poly[1:] + poly[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def edge_distance(poly, x, y):
    """Distance from (x, y) to the nearest edge of poly."""
    best = float("inf")
    for (x1, y1), (x2, y2) in zip(poly, poly[1:] + poly[:1]):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        best = min(best, ((x - x1 - t * dx) ** 2 + (y - y1 - t * dy) ** 2) ** 0.5)
    return best


def sample(x, y, line, size):
    """Colour of the design at (x, y), or None where it is transparent.
    line is the outline width in design units."""
    for poly, fill, edge, smallest in reversed(SCENE):
        if smallest <= size and inside(poly, x, y):
            return edge if edge_distance(poly, x, y) < line else fill
    return None


def render(size):
    """Return rows of (smooth RGBA, dominant RGB or None) per pixel."""
    scale = 48.0 / size
    line = max(scale, 1.5)  # outline: one pixel, 1.5 pixels at 48 to stay bold
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            counts, r, g, b = {}, 0, 0, 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = sample((px + (sx + 0.5) / SUPERSAMPLE) * scale,
                               (py + (sy + 0.5) / SUPERSAMPLE) * scale, line, size)
                    counts[c] = counts.get(c, 0) + 1
                    if c:
                        r, g, b = r + c[0], g + c[1], b + c[2]
            n = SUPERSAMPLE * SUPERSAMPLE - counts.get(None, 0)
            smooth = (r // n, g // n, b // n, n * 255 // SUPERSAMPLE ** 2) if n else (0, 0, 0, 0)
            # For palette images: opaque if at least half covered, then the
            # most common opaque colour (ties broken by colour value).
            solid = None
            if 2 * n >= SUPERSAMPLE ** 2:
                solid = max((k for k in counts if k), key=lambda k: (counts[k], k))
            row.append((smooth, solid))
        rows.append(row)
    return rows


# --- Palettes --------------------------------------------------------------
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
       (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
       (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
       (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 16 VGA colours, a 6x6x6 colour cube, then 24 greys.
PALETTE_256 = (VGA + [(r * 51, g * 51, b * 51) for r in range(6)
                      for g in range(6) for b in range(6)]
               + [(8 + 10 * i,) * 3 for i in range(24)])
PALETTES = {4: VGA, 8: PALETTE_256}


def nearest(palette, rgb):
    """Index of the closest palette colour, comparing brightness and colour
    separately and weighing colour double, so that browns stay brown rather
    than turning grey in the 16-colour palette."""
    def luma_chroma(c):
        y = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]
        return y, c[0] - y, c[2] - y
    y, u, v = luma_chroma(rgb)
    def distance(i):
        py, pu, pv = luma_chroma(palette[i])
        return (y - py) ** 2 + 2 * ((u - pu) ** 2 + (v - pv) ** 2)
    return min(range(len(palette)), key=distance)


# --- ICO writer ------------------------------------------------------------
def pack_rows(rows, depth):
    """Pack rows of values at 'depth' bits each, bottom row first, every
    row padded to a multiple of 4 bytes."""
    out = bytearray()
    for row in reversed(rows):
        acc, n, line = 0, 0, bytearray()
        for v in row:
            acc, n = (acc << depth) | v, n + depth
            if n == 8:
                line.append(acc)
                acc, n = 0, 0
        if n:
            line.append(acc << (8 - n))
        out += line + b"\0" * (-len(line) % 4)
    return bytes(out)


def dib(pixels, depth):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask."""
    size = len(pixels)
    if depth == 32:
        palette = b""
        xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels)
                       for (r, g, b, a), _ in row)
        opaque = [[sm[3] > 0 for sm, _ in row] for row in pixels]
    else:
        pal = PALETTES[depth]
        cache = {}
        index = [[cache.setdefault(s, nearest(pal, s)) if s else 0
                  for _, s in row] for row in pixels]
        xor = pack_rows(index, depth)
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
        opaque = [[s is not None for _, s in row] for row in pixels]
    mask = pack_rows([[0 if o else 1 for o in row] for row in opaque], 1)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, depth, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + palette + xor + mask


def build_ico():
    images = []
    for size in SIZES:
        pixels = render(size)
        for depth in DEPTHS:
            images.append((size, depth, dib(pixels, depth)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        colours = 16 if depth == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, depth,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def check(ico):
    """Parse the file back and check its directory and headers agree."""
    reserved, kind, count = struct.unpack_from("<HHH", ico)
    assert (reserved, kind, count) == (0, 1, len(SIZES) * len(DEPTHS))
    seen = set()
    for i in range(count):
        w, h, colours, _, planes, depth, length, offset = struct.unpack_from(
            "<BBBBHHII", ico, 6 + 16 * i)
        hsize, bw, bh, bplanes, bdepth = struct.unpack_from("<IiiHH", ico, offset)
        assert (hsize, bw, bh, bplanes, bdepth) == (40, w, 2 * h, 1, depth)
        stride = lambda bpp: (w * bpp + 31) // 32 * 4
        palette = 4 << depth if depth <= 8 else 0
        assert length == 40 + palette + h * (stride(depth) + stride(1))
        assert offset + length <= len(ico) and w == h
        seen.add((w, depth))
    assert seen == {(s, d) for s in SIZES for d in DEPTHS}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    ico = build_ico()
    check(ico)
    with open(sys.argv[1], "wb") as f:
        f.write(ico)


if __name__ == "__main__":
    main()
