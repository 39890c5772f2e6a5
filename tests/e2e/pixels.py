#!/usr/bin/env python3
"""Looks at pixels of screenshots and recorded files for the end-to-end tests.

  pixels.py bbox IMAGE R G B         bounding box "x0 y0 x1 y1" (inclusive) of pixels of that colour
  pixels.py frame AVI N OUT.ppm      decodes frame N of a recording (ffmpeg) into a PPM file
  pixels.py bars IMAGE               checks the pattern window's eight bars are seen, and no fuchsia
"""
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


def bars(img):
    """The lower part of the image shows the eight bars from left to right; nothing is fuchsia."""
    w, h, _ = img
    problems = []
    fuchsia = sum(1 for y in range(h) for x in range(w) if near(pixel(img, x, y), FUCHSIA, 24))
    if fuchsia:
        problems.append(f"{fuchsia} fuchsia pixels")
    y = h * 3 // 4
    seen = [pixel(img, (2 * i + 1) * w // 16, y) for i in range(8)]
    for i, (got, want) in enumerate(zip(seen, BARS)):
        if not near(got, want, 16):
            problems.append(f"bar {i} at ({(2 * i + 1) * w // 16},{y}) is {got}, expected {want}")
    return problems


def main(argv):
    if argv[1] == "bbox":
        box = bbox(load(argv[2]), tuple(int(v) for v in argv[3:6]))
        if box is None:
            return 1
        print(*box)
    elif argv[1] == "frame":
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", argv[2], "-vf",
                        f"select=eq(n\\,{int(argv[3])})", "-frames:v", "1", argv[4]], check=True)
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
