#!/usr/bin/env python3
"""Draws the panel's two pictures (logo.png, RVXDDC_001.png) with the standard library only.

Shapes are signed-distance functions; each pixel's coverage comes from its distance to the edge,
which gives anti-aliased edges without supersampling. Run from anywhere:
    python3 ui/pictures/make_pictures.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Canvas:
    def __init__(self, width, height, background=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.px = [list(background) for _ in range(width * height)]

    def fill(self, sdf, colour, bbox=None):
        """Composites colour (r, g, b, a) or colour(x, y) over every pixel inside sdf."""
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0) - 1), max(0, int(y0) - 1)
        x1, y1 = min(self.width, int(x1) + 2), min(self.height, int(y1) + 2)
        for y in range(y0, y1):
            for x in range(x0, x1):
                cx, cy = x + 0.5, y + 0.5
                cover = min(1.0, max(0.0, 0.5 - sdf(cx, cy)))
                if cover <= 0.0:
                    continue
                c = colour(cx, cy) if callable(colour) else colour
                a = cover * c[3] / 255.0
                p = self.px[y * self.width + x]
                out_a = a + p[3] / 255.0 * (1 - a)
                if out_a <= 0:
                    continue
                for i in range(3):
                    p[i] = (c[i] * a + p[i] * (p[3] / 255.0) * (1 - a)) / out_a
                p[3] = out_a * 255.0

    def save(self, path):
        rows = bytearray()
        for y in range(self.height):
            rows.append(0)  # filter: none
            for x in range(self.width):
                rows.extend(max(0, min(255, int(round(v)))) for v in self.px[y * self.width + x])

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)  # 8-bit RGBA
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n")
            f.write(chunk(b"IHDR", header))
            f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
            f.write(chunk(b"IEND", b""))


# Signed distances (negative inside), in pixels.
def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_rect(x0, y0, x1, y1, r):
    cx, cy, hw, hh = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def d(x, y):
        qx, qy = abs(x - cx) - hw, abs(y - cy) - hh
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r

    return d


def segment(ax, ay, bx, by, half_width):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - vx * t, py - vy * t) - half_width

    return d


def polyline(points, half_width):
    parts = [segment(*points[i], *points[i + 1], half_width) for i in range(len(points) - 1)]
    return lambda x, y: min(p(x, y) for p in parts)


def arc(cx, cy, r, half_width, start_deg, end_deg):
    """A ring piece with round ends; angles in degrees, 0 = right, counter-clockwise (y up)."""
    a0, span = math.radians(start_deg), math.radians(end_deg - start_deg)
    ends = [(cx + r * math.cos(a), cy - r * math.sin(a)) for a in (a0, a0 + span)]

    def d(x, y):
        ang = (math.atan2(-(y - cy), x - cx) - a0) % (2 * math.pi)
        if ang <= span:
            return abs(math.hypot(x - cx, y - cy) - r) - half_width
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - half_width

    return d


def polygon(points):
    def d(x, y):
        best, inside = float("inf"), False
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            best = min(best, segment(ax, ay, bx, by, 0)(x, y))
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                inside = not inside
        return -best if inside else best

    return d


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def vertical_gradient(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, (y - y0) / (y1 - y0))


def draw_logo(size=110):
    c = Canvas(size, size)
    s = size / 110.0
    mid = size / 2
    # Disc with a soft top-to-bottom blue gradient and a thin light rim.
    c.fill(circle(mid, mid, 53 * s), vertical_gradient((40, 110, 200, 255), (10, 40, 100, 255), 2, size - 2))
    c.fill(lambda x, y: abs(circle(mid, mid, 50 * s)(x, y)) - 0.8 * s, (255, 255, 255, 90))
    # Antenna mast: a slim tower on a base, radiating arcs from its tip.
    tip = (mid, 34 * s)
    c.fill(polygon([(mid - 11 * s, 80 * s), (mid + 11 * s, 80 * s), (mid + 2 * s, tip[1]), (mid - 2 * s, tip[1])]),
           (255, 255, 255, 235))
    c.fill(segment(mid - 16 * s, 81 * s, mid + 16 * s, 81 * s, 1.6 * s), (255, 255, 255, 235))
    c.fill(circle(tip[0], tip[1], 4 * s), (255, 210, 80, 255))
    for r, alpha in ((11, 240), (18, 190), (25, 140)):
        for a0, a1 in ((-40, 40), (140, 220)):
            c.fill(arc(tip[0], tip[1], r * s, 1.6 * s, a0, a1), (255, 255, 255, alpha))
    # A sine wave crossing the lower half: the signal the receiver brings in.
    wave = [(x * s, (88 + 5 * math.sin((x - 14) / 6.0)) * s) for x in range(19, 92)]
    c.fill(polyline(wave, 1.4 * s), (255, 210, 80, 255), (10 * s, 80 * s, 100 * s, 96 * s))
    return c


def draw_receiver(width=240, height=135):
    c = Canvas(width, height, (255, 255, 255, 0))
    # Ground shadow under the box.
    c.fill(lambda x, y: (math.hypot((x - 120) / 1.0, (y - 117) * 6.0) - 100) / 6.0, (0, 0, 0, 40))
    # Case: dark body with a slightly lighter bevelled front panel.
    c.fill(rounded_rect(14, 24, 226, 116, 10), vertical_gradient((70, 74, 82, 255), (30, 32, 36, 255), 24, 116))
    c.fill(rounded_rect(20, 30, 220, 110, 6), vertical_gradient((92, 97, 106, 255), (55, 58, 64, 255), 30, 110))
    c.fill(segment(26, 32, 214, 32, 0.6), (255, 255, 255, 70))
    # Corner screws.
    for sx, sy in ((27, 37), (213, 37), (27, 103), (213, 103)):
        c.fill(circle(sx, sy, 2.6), (150, 155, 162, 255))
        c.fill(segment(sx - 1.6, sy, sx + 1.6, sy, 0.45), (60, 62, 66, 255))
    # Status LEDs with a soft glow: power, link, data.
    for i, colour in enumerate(((60, 220, 90), (255, 180, 40), (70, 160, 255))):
        lx, ly = 44 + i * 16, 52
        c.fill(circle(lx, ly, 7), (*colour, 60))
        c.fill(circle(lx, ly, 3.6), (*colour, 255))
        c.fill(circle(lx - 1.1, ly - 1.1, 1.2), (255, 255, 255, 200))
    # A row of vent slots.
    for i in range(6):
        vx = 40 + i * 9
        c.fill(segment(vx, 72, vx, 94, 1.4), (25, 27, 30, 255))
    # RJ45 socket: metal shell, dark opening with the latch notch, gold contacts.
    c.fill(rounded_rect(112, 54, 150, 94, 2), vertical_gradient((200, 204, 210, 255), (140, 145, 152, 255), 54, 94))
    c.fill(polygon([(116, 60), (146, 60), (146, 84), (138, 84), (138, 89), (124, 89), (124, 84), (116, 84)]),
           (18, 18, 20, 255))
    for i in range(8):
        px = 119.5 + i * 3.3
        c.fill(segment(px, 62, px, 67, 0.7), (220, 175, 60, 255))
    c.fill(circle(116.5, 57.5, 1.5), (60, 220, 90, 255))
    c.fill(circle(145.5, 57.5, 1.5), (255, 180, 40, 255))
    # SMA antenna connector: hexagonal nut, gold threaded barrel, insulator and centre pin.
    ax, ay = 190, 72
    c.fill(polygon([(ax + 15 * math.cos(math.radians(a)), ay + 15 * math.sin(math.radians(a)))
                    for a in range(0, 360, 60)]), vertical_gradient((205, 208, 214, 255), (120, 124, 130, 255), 57, 87))
    c.fill(circle(ax, ay, 10.5), vertical_gradient((250, 215, 110, 255), (175, 130, 40, 255), 61, 83))
    for r in (9.0, 7.5):
        c.fill(lambda x, y, r=r: abs(circle(ax, ay, r)(x, y)) - 0.35, (140, 100, 30, 160))
    c.fill(circle(ax, ay, 5.5), (235, 235, 228, 255))
    c.fill(circle(ax, ay, 1.8), (200, 150, 50, 255))
    return c


def main():
    draw_logo().save(os.path.join(HERE, "logo.png"))
    draw_receiver().save(os.path.join(HERE, "RVXDDC_001.png"))


if __name__ == "__main__":
    main()
