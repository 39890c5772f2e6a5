#!/usr/bin/env python3
"""Looks at pixels of screenshots and recorded files for the end-to-end tests.

  pixels.py bbox IMAGE R G B         bounding box "x0 y0 x1 y1" (inclusive) of pixels of that colour
  pixels.py band IMAGE R G B         like bbox, over the rows where at least 100 pixels have the colour
                                     (a panel, not stray pixels of that colour elsewhere)
  pixels.py frame AVI N OUT.ppm      decodes frame N of a recording (ffmpeg) into a PPM file
  pixels.py bars IMAGE               checks the pattern window's eight bars are seen, and no fuchsia
  pixels.py fuchsia IMAGE            counts the (nearly) fuchsia pixels
  pixels.py seethrough BEFORE AFTER X0 X1 YBOTTOM
                                     the top row of the see-through area that ends above row YBOTTOM:
                                     going up from YBOTTOM-1, the first row where AFTER differs from
                                     BEFORE anywhere in columns X0..X1, plus one
  pixels.py matches FRAME SCREEN X Y SKIP [CX CY R]...
                                     counts the pixels of FRAME, below its first SKIP rows, that differ
                                     from the SCREEN image at offset X, Y; those within R of each CX, CY
                                     (where the cursor was, with its marks) are left out
  pixels.py psnr FRAME SCREEN X Y SKIP
                                     the RGB PSNR in dB of FRAME, below its first SKIP rows, against
                                     the SCREEN image at offset X, Y ("inf" when they are the same)
  pixels.py mark IMAGE CX CY R0 R1 red|yellow
                                     counts the pixels at R0..R1 from CX, CY, left of it (where the
                                     arrow is not drawn), that are red (a click ring over a bar of
                                     another colour) or white tinted yellow (the cursor highlight)
  pixels.py transparent IMAGE         counts the pixels that are not fully opaque (a player or editor would
                                     show what lies behind them)
  pixels.py same IMAGE1 IMAGE2       compares two images of one size; prints the differing pixels
  pixels.py outline SHOT BEFORE X Y W H
                                     checks SHOT shows a 3-pixel outline of one colour, lime or red,
                                     just outside the window at X, Y of W x H (one pixel more to the
                                     right and below), and BEFORE's pixels inside it; prints the colour
"""
import math
import subprocess
import sys

BARS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0),
        (0, 255, 255), (255, 255, 255), (0, 0, 0), (128, 128, 128)]
FUCHSIA = (255, 0, 255)


def load(path):
    """Returns (width, height, bytes) of any image ImageMagick reads, as 8-bit RGB."""
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                          stdout=subprocess.PIPE).stdout
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:]


def pixel(img, x, y):
    w, _, px = img
    i = 3 * (y * w + x)
    return tuple(px[i:i + 3])


def near(a, b, tol=8):
    return all(abs(p - q) <= tol for p, q in zip(a, b))


def bbox(img, colour):
    w, h, _ = img
    xs, ys = [], []
    for y in range(h):
        for x in range(w):
            if pixel(img, x, y) == colour:
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs), max(ys)


def band(img, colour):
    w, h, _ = img
    rows = []
    for y in range(h):
        xs = [x for x in range(w) if pixel(img, x, y) == colour]
        if len(xs) >= 100:
            rows.append((y, min(xs), max(xs)))
    if not rows:
        return None
    return min(r[1] for r in rows), rows[0][0], max(r[2] for r in rows), rows[-1][0]


def fuchsia(img):
    w, h, _ = img
    return sum(1 for y in range(h) for x in range(w) if near(pixel(img, x, y), FUCHSIA, 24))


def bars(img):
    """The lower part of the image shows the eight bars from left to right; nothing is fuchsia."""
    w, h, _ = img
    problems = []
    if fuchsia(img):
        problems.append(f"{fuchsia(img)} fuchsia pixels")
    y = h * 3 // 4
    seen = [pixel(img, (2 * i + 1) * w // 16, y) for i in range(8)]
    for i, (got, want) in enumerate(zip(seen, BARS)):
        if not near(got, want, 16):
            problems.append(f"bar {i} at ({(2 * i + 1) * w // 16},{y}) is {got}, expected {want}")
    return problems


def outline(shot, before, x, y, w, h):
    """The highlight frame around a window: (colour name, problems)."""
    left, top, right, bottom = x - 3, y - 3, x + w + 3, y + h + 3
    ring = [(px, py) for py in range(top, bottom + 1) for px in range(left, right + 1)
            if px < x or py < y or px > x + w or py > y + h]
    colours = {pixel(shot, px, py) for px, py in ring}
    names = {(0, 255, 0): "lime", (255, 0, 0): "red"}
    problems = []
    if len(colours) != 1 or next(iter(colours)) not in names:
        problems.append(f"the outline has the colours {sorted(colours)[:4]}")
    inside = sum(1 for py in range(y, y + h + 1) for px in range(x, x + w + 1)
                 if pixel(shot, px, py) != pixel(before, px, py))
    if inside:
        problems.append(f"{inside} pixels inside the outline differ from the screen without it")
    return names.get(next(iter(colours)), "?"), problems


def mark(img, cx, cy, r0, r1, kind):
    def red(p):
        return p[0] > 150 and p[0] - p[1] > 100 and p[0] - p[2] > 100

    def yellow(p):
        return p[0] > 200 and p[1] > 200 and p[2] < 200
    test = red if kind == "red" else yellow
    return sum(1 for y in range(max(0, cy - r1), min(img[1], cy + r1 + 1))
               for x in range(max(0, cx - r1), min(img[0], cx - 1))
               if r0 <= math.hypot(x - cx, y - cy) <= r1 and test(pixel(img, x, y)))


def main(argv):
    if argv[1] == "bbox":
        box = bbox(load(argv[2]), tuple(int(v) for v in argv[3:6]))
        if box is None:
            return 1
        print(*box)
    elif argv[1] == "band":
        box = band(load(argv[2]), tuple(int(v) for v in argv[3:6]))
        if box is None:
            return 1
        print(*box)
    elif argv[1] == "frame":
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", argv[2], "-vf",
                        f"select=eq(n\\,{int(argv[3])})", "-frames:v", "1", argv[4]], check=True)
    elif argv[1] == "seethrough":
        before, after = load(argv[2]), load(argv[3])
        x0, x1, ybottom = int(argv[4]), int(argv[5]), int(argv[6])
        y = ybottom - 1
        while y >= 0 and all(pixel(before, x, y) == pixel(after, x, y) for x in range(x0, x1 + 1)):
            y -= 1
        print(y + 1)
    elif argv[1] == "matches":
        frame, screen = load(argv[2]), load(argv[3])
        ox, oy, skip = int(argv[4]), int(argv[5]), int(argv[6])
        spots = [tuple(int(v) for v in argv[i:i + 3]) for i in range(7, len(argv) - 2, 3)]
        diff = sum(1 for y in range(skip, frame[1]) for x in range(frame[0])
                   if all((x - cx) ** 2 + (y - cy) ** 2 > r * r for cx, cy, r in spots)
                   and pixel(frame, x, y) != pixel(screen, ox + x, oy + y))
        print(diff)
        return 1 if diff else 0
    elif argv[1] == "psnr":
        frame, screen = load(argv[2]), load(argv[3])
        ox, oy, skip = int(argv[4]), int(argv[5]), int(argv[6])
        squares = count = 0
        for y in range(skip, frame[1]):
            for x in range(frame[0]):
                for a, b in zip(pixel(frame, x, y), pixel(screen, ox + x, oy + y)):
                    squares += (a - b) ** 2
                    count += 1
        print(f"{10 * math.log10(255 ** 2 * count / squares):.2f}" if squares else "inf")
    elif argv[1] == "mark":
        print(mark(load(argv[2]), *(int(v) for v in argv[3:7]), argv[7]))
    elif argv[1] == "transparent":
        alpha = subprocess.run(["convert", argv[2], "-alpha", "extract", "-depth", "8", "gray:-"],
                               check=True, stdout=subprocess.PIPE).stdout
        count = sum(1 for a in alpha if a < 255)
        print(count)
        return 1 if count else 0
    elif argv[1] == "same":
        a, b = load(argv[2]), load(argv[3])
        if a[:2] != b[:2]:
            print(f"sizes differ: {a[:2]} and {b[:2]}")
            return 1
        diff = sum(1 for y in range(a[1]) for x in range(a[0]) if pixel(a, x, y) != pixel(b, x, y))
        print(diff)
        return 1 if diff else 0
    elif argv[1] == "outline":
        colour, problems = outline(load(argv[2]), load(argv[3]), *(int(v) for v in argv[4:8]))
        print(colour, *problems, sep="\n")
        return 1 if problems else 0
    elif argv[1] == "ink":
        # Rows of a box that hold anything but its background colour: the height of its text.
        img = load(argv[2])
        x0, y0, x1, y1 = (int(v) for v in argv[3:7])
        colour = tuple(int(v) for v in argv[7:10])
        rows = [y for y in range(y0, y1 + 1)
                if any(pixel(img, x, y) != colour for x in range(x0, x1 + 1))]
        print(max(rows) - min(rows) + 1 if rows else 0)
    elif argv[1] == "fuchsia":
        count = fuchsia(load(argv[2]))
        print(count)
        return 1 if count else 0
    elif argv[1] == "bars":
        problems = bars(load(argv[2]))
        for p in problems:
            print(p)
        return 1 if problems else 0
    else:
        print(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
