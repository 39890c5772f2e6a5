#!/usr/bin/env python3
"""Draws the program's own cursor, icons and button glyphs and writes them as .cur, .ico and
.bmp files beside this script. Standard library only; run it again after changing a picture.

    python3 resources/make_images.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Glyph bitmaps leave out the colour of their bottom-left pixel when drawn.
GLYPH_KEY = (0, 128, 128)


class Canvas:
    """An RGBA picture drawn with shapes sampled 4 x 4 per pixel for smooth edges."""

    def __init__(self, w, h, background=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[background for _ in range(w)] for _ in range(h)]

    def shape(self, inside, color, samples=4):
        r, g, b = color[:3]
        a_max = color[3] if len(color) > 3 else 255
        for y in range(self.h):
            for x in range(self.w):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if inside(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                            hits += 1
                if hits:
                    self.blend(x, y, (r, g, b), a_max * hits / (samples * samples))

    def blend(self, x, y, rgb, alpha):
        br, bg, bb, ba = self.px[y][x]
        a = alpha / 255.0
        out_a = a + ba / 255.0 * (1 - a)
        if out_a <= 0:
            return
        mix = lambda c, d: int(round((c * a + d * (ba / 255.0) * (1 - a)) / out_a))
        self.px[y][x] = (mix(rgb[0], br), mix(rgb[1], bg), mix(rgb[2], bb), int(round(out_a * 255)))

    def disc(self, cx, cy, r, color):
        self.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, color)

    def ring(self, cx, cy, r_out, r_in, color, start=0.0, end=360.0):
        def inside(x, y):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if not (r_in * r_in <= d2 <= r_out * r_out):
                return False
            ang = math.degrees(math.atan2(y - cy, x - cx)) % 360
            return start <= ang <= end if start <= end else (ang >= start or ang <= end)
        self.shape(inside, color)

    def rect(self, x0, y0, x1, y1, color):
        self.shape(lambda x, y: x0 <= x < x1 and y0 <= y < y1, color)

    def round_rect(self, x0, y0, x1, y1, r, color):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.shape(inside, color)

    def polygon(self, pts, color):
        def inside(x, y):
            c = False
            n = len(pts)
            for i in range(n):
                (xa, ya), (xb, yb) = pts[i], pts[(i + 1) % n]
                if (ya > y) != (yb > y) and x < (xb - xa) * (y - ya) / (yb - ya) + xa:
                    c = not c
            return c
        self.shape(inside, color)

    def line(self, xa, ya, xb, yb, width, color):
        def inside(x, y):
            dx, dy = xb - xa, yb - ya
            t = max(0.0, min(1.0, ((x - xa) * dx + (y - ya) * dy) / float(dx * dx + dy * dy)))
            px, py = xa + t * dx, ya + t * dy
            return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2
        self.shape(inside, color)


# --- file writers ----------------------------------------------------------------------------

def dib_32(c):
    """BITMAPINFOHEADER + bottom-up BGRA rows + AND mask, as stored in .ico files."""
    header = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''.join(bytes(v for p in c.px[y] for v in (p[2], p[1], p[0], p[3]))
                    for y in reversed(range(c.h)))
    return header + rows + and_mask(c, lambda p: p[3] < 128)


def and_mask(c, transparent):
    stride = ((c.w + 31) // 32) * 4
    out = b''
    for y in reversed(range(c.h)):
        bits = bytearray(stride)
        for x in range(c.w):
            if transparent(c.px[y][x]):
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


# The 16 colours of the classic VGA palette.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
       (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def dib_4(c):
    """A 16-colour icon image: each pixel takes the nearest palette colour."""
    header = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in VGA)
    stride = ((c.w * 4 + 31) // 32) * 4

    def nearest(p):
        return min(range(16), key=lambda i: sum((p[k] - VGA[i][k]) ** 2 for k in range(3)))
    rows = b''
    for y in reversed(range(c.h)):
        row = bytearray(stride)
        for x in range(c.w):
            p = c.px[y][x]
            idx = nearest(p) if p[3] >= 128 else 0
            row[x // 2] |= idx << (4 if x % 2 == 0 else 0)
        rows += bytes(row)
    return header + palette + rows + and_mask(c, lambda p: p[3] < 128)


def write_ico(name, images):
    """images: list of (canvas, dib bytes)."""
    count = len(images)
    out = struct.pack('<HHH', 0, 1, count)
    offset = 6 + 16 * count
    body = b''
    for c, dib in images:
        bpp = struct.unpack_from('<H', dib, 14)[0]
        colors = 16 if bpp == 4 else 0
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, colors, 0, 1, bpp, len(dib), offset)
        offset += len(dib)
        body += dib
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out + body)


def write_cur(name, c, hotspot):
    """A monochrome cursor: black, white and transparent pixels (alpha 0)."""
    header = struct.pack('<IiiHHIIiiII', 40, c.w, c.h * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    xor = and_mask(c, lambda p: p[3] >= 128 and p[0] > 127)  # white pixels set
    dib = header + palette + xor + and_mask(c, lambda p: p[3] < 128)
    out = struct.pack('<HHH', 0, 2, 1)
    out += struct.pack('<BBBBHHII', c.w, c.h, 2, 0, hotspot[0], hotspot[1], len(dib), 22)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out + dib)


def write_bmp(name, c):
    """A 24-bit bitmap; transparent pixels take the glyph key colour."""
    stride = (c.w * 3 + 3) & ~3
    rows = b''
    for y in reversed(range(c.h)):
        row = bytearray()
        for x in range(c.w):
            r, g, b, a = c.px[y][x]
            k = GLYPH_KEY
            f = a / 255.0
            row += bytes((int(round(b * f + k[2] * (1 - f))), int(round(g * f + k[1] * (1 - f))),
                          int(round(r * f + k[0] * (1 - f)))))
        row += bytes(stride - len(row))
        rows += bytes(row)
    info = struct.pack('<IiiHHIIiiII', 40, c.w, c.h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(head + info + rows)


def hard_edges(c):
    """Glyphs are small: pixels are either drawn or left out, no half-transparent rims."""
    for y in range(c.h):
        for x in range(c.w):
            r, g, b, a = c.px[y][x]
            c.px[y][x] = (r, g, b, 255) if a >= 110 else (0, 0, 0, 0)
    return c


# --- the pictures ----------------------------------------------------------------------------

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)


def hand_cursor():
    """A pointing hand, the fingertip at (12, 8)."""
    c = Canvas(32, 32)
    outline = []
    # index finger, other fingers, palm and wrist: a black shape with a white inside
    shape = [(10, 9), (11, 7), (13, 7), (14, 9), (14, 16), (17, 15), (19, 16), (20, 17),
             (22, 17), (23, 18), (25, 19), (26, 21), (26, 25), (24, 29), (13, 29), (7, 22),
             (6, 19), (7, 18), (9, 19), (10, 20)]
    outline.append(shape)
    c.polygon(shape, BLACK + (255,))
    inner = [(11, 9), (12, 8), (13, 9), (13, 18), (14, 18), (14, 17), (17, 16), (19, 17),
             (19, 19), (20, 18), (22, 18), (22, 20), (23, 19), (25, 21), (25, 25), (23, 28),
             (14, 28), (8, 21), (8, 20), (11, 22)]
    c.polygon(inner, WHITE + (255,))
    for y in range(32):
        for x in range(32):
            p = c.px[y][x]
            if p[3] < 128:
                c.px[y][x] = (0, 0, 0, 0)
            else:
                v = 255 if p[0] > 127 else 0
                c.px[y][x] = (v, v, v, 255)
    return c


def program_icon(size=16):
    """A small camera frame: a fuchsia lens area in a dark frame with a red record dot."""
    s = size / 16.0
    c = Canvas(size, size)
    c.round_rect(0.5 * s, 2 * s, 15.5 * s, 14 * s, 1.5 * s, (40, 40, 90, 255))
    c.rect(2 * s, 3.5 * s, 14 * s, 10 * s, (255, 0, 255, 255))
    c.rect(2 * s, 10.5 * s, 14 * s, 12.5 * s, (205, 204, 251, 255))
    c.disc(4 * s, 11.5 * s, 1.2 * s, (220, 0, 0, 255))
    return c


def bubble(c, fill, edge):
    c.round_rect(2, 3, 30, 23, 7, edge + (255,))
    c.polygon([(8, 20), (16, 20), (6, 30)], edge + (255,))
    c.round_rect(3.2, 4.2, 28.8, 21.8, 6, fill + (255,))
    c.polygon([(9, 20), (14.5, 20), (7.6, 27.5)], fill + (255,))


def info_icon():
    c = Canvas(32, 32)
    bubble(c, WHITE, (30, 60, 160))
    c.disc(16, 7.8, 1.9, (20, 60, 200, 255))
    c.round_rect(14.3, 11, 17.7, 19.5, 0.8, (20, 60, 200, 255))
    return c


def question_icon():
    c = Canvas(32, 32)
    bubble(c, WHITE, (30, 60, 160))
    blue = (20, 60, 200, 255)
    c.ring(16, 9.8, 5, 2.6, blue, 180, 90)
    c.rect(14.8, 13.2, 17.2, 16.2, blue)
    c.disc(16, 18.6, 1.6, blue)
    return c


def warning_icon():
    c = Canvas(32, 32)
    c.polygon([(16, 1.5), (31, 28.5), (1, 28.5)], (90, 70, 0, 255))
    c.polygon([(16, 4.2), (28.8, 27.2), (3.2, 27.2)], (255, 210, 0, 255))
    c.polygon([(14.4, 10), (17.6, 10), (16.8, 20.5), (15.2, 20.5)], BLACK + (255,))
    c.disc(16, 23.6, 1.7, BLACK + (255,))
    return c


def error_icon():
    c = Canvas(32, 32)
    c.disc(16, 16, 14.6, (120, 0, 0, 255))
    c.disc(16, 16, 13.4, (220, 20, 20, 255))
    c.line(10.5, 10.5, 21.5, 21.5, 3.4, WHITE + (255,))
    c.line(21.5, 10.5, 10.5, 21.5, 3.4, WHITE + (255,))
    return c


def rec_glyph():
    c = Canvas(12, 12)
    c.disc(6, 6, 5, (200, 0, 0, 255))
    return hard_edges(c)


def pause_glyph():
    c = Canvas(12, 12)
    c.rect(2, 1, 5, 11, (30, 30, 30, 255))
    c.rect(7, 1, 10, 11, (30, 30, 30, 255))
    return c


def stop_glyph():
    c = Canvas(12, 12)
    c.rect(1, 1, 11, 11, (30, 30, 30, 255))
    return c


def window_glyph():
    """A window with a title bar and a cross-hair: pick a target window."""
    c = Canvas(19, 17)
    c.rect(0, 0, 16, 13, (0, 0, 128, 255))
    c.rect(1, 3, 15, 12, WHITE + (255,))
    c.rect(11, 8, 19, 9, (200, 0, 0, 255))
    c.rect(14.5, 5, 15.5, 17, (200, 0, 0, 255))
    return c


def options_glyph():
    """Three sliders: the recording options."""
    c = Canvas(18, 18)
    for i, pos in enumerate((5, 11, 8)):
        y = 3 + i * 6
        c.rect(2, y, 16, y + 1, (60, 60, 60, 255))
        c.rect(pos - 1.5, y - 2, pos + 1.5, y + 3, (0, 70, 160, 255))
    return c


def folder_glyph():
    c = Canvas(19, 17)
    c.polygon([(1, 3), (6, 3), (8, 5), (17, 5), (17, 15), (1, 15)], (150, 110, 0, 255))
    c.polygon([(2, 7), (18.5, 7), (16.5, 15), (1, 15)], (240, 200, 60, 255))
    return hard_edges(c)


def close_glyph():
    c = Canvas(16, 16)
    c.line(4, 4, 12, 12, 2.2, (40, 40, 40, 255))
    c.line(12, 4, 4, 12, 2.2, (40, 40, 40, 255))
    return hard_edges(c)


def main():
    write_cur('hand.cur', hand_cursor(), (12, 8))
    small, large = program_icon(16), program_icon(32)
    write_ico('quarnelby.ico', [(small, dib_32(small)), (large, dib_32(large))])
    for name, draw in (('information.ico', info_icon), ('question.ico', question_icon),
                       ('warning.ico', warning_icon), ('error.ico', error_icon)):
        c = draw()
        write_ico(name, [(c, dib_32(c))])
    info16 = info_icon()
    write_ico('information16.ico', [(info16, dib_4(info16))])
    for name, draw in (('btnRec.bmp', rec_glyph), ('btnPause.bmp', pause_glyph),
                       ('btnStop.bmp', stop_glyph), ('spdWindow.bmp', window_glyph),
                       ('SpeedButton4.bmp', options_glyph), ('spdDir.bmp', folder_glyph),
                       ('btnClose.bmp', close_glyph)):
        write_bmp(name, draw())


if __name__ == '__main__':
    main()
