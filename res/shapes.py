#!/usr/bin/env python3
"""Vector shapes for the launcher background, written as ImageMagick MVG files.

Every shape is drawn white on black by make_art.sh and used as a mask, so the
files only describe geometry. Fixed seeds keep the output identical run to run.

Coordinates are those of the 1568 x 976 working canvas.

usage: shapes.py OUTDIR
"""
import math
import random
import sys


def smooth_profile(ctrl, x):
    """Cosine interpolation through (x, y) control points."""
    if x <= ctrl[0][0]:
        return ctrl[0][1]
    for (xa, ya), (xb, yb) in zip(ctrl, ctrl[1:]):
        if xa <= x <= xb:
            t = (x - xa) / (xb - xa)
            t = (1 - math.cos(t * math.pi)) / 2
            return ya + (yb - ya) * t
    return ctrl[-1][1]


class ValueNoise1D:
    def __init__(self, rng, count=512):
        self.v = [rng.uniform(-1.0, 1.0) for _ in range(count)]

    def at(self, x):
        i = math.floor(x)
        f = x - i
        f = f * f * (3 - 2 * f)
        a = self.v[i % len(self.v)]
        b = self.v[(i + 1) % len(self.v)]
        return a + (b - a) * f


def ridgeline(ctrl, width, amp, freq, seed, octaves=7, sharp=0.6, step=2):
    """Control profile plus fractal detail; low octaves are folded (abs) so
    peaks come out sharp and valleys rounded, like eroded rock."""
    rng = random.Random(seed)
    layers = [ValueNoise1D(rng) for _ in range(octaves)]
    pts = []
    x = -20
    while x <= width + 20:
        h = 0.0
        a = 1.0
        f = freq
        for o, n in enumerate(layers):
            v = n.at(x * f)
            if o < 3:
                v = sharp * (1.0 - 2.0 * abs(v)) + (1 - sharp) * v
            h += a * v
            a *= 0.5
            f *= 2.0
        pts.append((x, smooth_profile(ctrl, x) - amp * h))
        x += step
    return pts


def polygon(points):
    return "polygon " + " ".join("%.1f,%.1f" % p for p in points) + "\n"


def closed_to_bottom(pts, width, height):
    return pts + [(width + 20, height + 20), (-20, height + 20)]


def jagged(points, seed, amp, step=3):
    """Roughen a hand-placed outline with small seeded jitter along each edge."""
    rng = random.Random(seed)
    noise = ValueNoise1D(rng)
    out = []
    dist = 0.0
    for (xa, ya), (xb, yb) in zip(points, points[1:]):
        seg = math.hypot(xb - xa, yb - ya)
        n = max(1, int(seg / step))
        nx, ny = -(yb - ya) / seg, (xb - xa) / seg
        for i in range(n):
            t = i / n
            d = amp * (noise.at(dist / 18.0) + 0.5 * noise.at(dist / 5.0 + 100))
            out.append((xa + (xb - xa) * t + nx * d, ya + (yb - ya) * t + ny * d))
            dist += seg / n
    out.append(points[-1])
    return out


def castle(cx, base):
    """Keep, towers and curtain wall standing on a crag plateau at y = base."""
    s = []
    merlon = 9

    def rect(x0, y0, x1, y1):
        s.append("rectangle %.1f,%.1f %.1f,%.1f\n" % (x0, y0, x1, y1))

    def crenels(x0, x1, y, h=9):
        x = x0
        while x + merlon <= x1 + 0.5:
            rect(x, y - h, x + merlon, y + 1)
            x += merlon * 1.8

    def roof(x0, x1, y, tip, flare=4):
        s.append(polygon([(x0 - flare, y), ((x0 + x1) / 2, tip), (x1 + flare, y)]))

    def spire_line(x, y0, y1):
        rect(x - 1.5, min(y0, y1), x + 1.5, max(y0, y1) + 2)

    # curtain wall
    rect(cx - 140, base - 52, cx + 140, base + 30)
    crenels(cx - 140, cx + 140, base - 52)
    # left tower
    rect(cx - 158, base - 112, cx - 112, base + 30)
    roof(cx - 158, cx - 112, base - 112, base - 178)
    spire_line(cx - 135, base - 178, base - 196)
    # main keep and its tall spire tower
    rect(cx - 52, base - 140, cx + 34, base + 30)
    crenels(cx - 52, cx + 34, base - 140, 11)
    rect(cx - 70, base - 118, cx - 48, base - 60)          # buttress turret
    roof(cx - 70, cx - 48, base - 118, base - 150, 3)
    rect(cx - 30, base - 212, cx + 6, base - 135)
    roof(cx - 30, cx + 6, base - 212, base - 292, 5)
    spire_line(cx - 12, base - 292, base - 318)
    # right towers
    rect(cx + 92, base - 98, cx + 136, base + 30)
    roof(cx + 92, cx + 136, base - 98, base - 156)
    spire_line(cx + 114, base - 156, base - 170)
    rect(cx + 54, base - 82, cx + 74, base - 40)
    roof(cx + 54, cx + 74, base - 82, base - 110, 3)
    # ruined arch bridge stub going right
    s.append(polygon([(cx + 136, base - 20), (cx + 210, base - 14), (cx + 214, base + 4),
                      (cx + 196, base + 4), (cx + 186, base - 4), (cx + 170, base - 2),
                      (cx + 160, base + 10), (cx + 136, base + 12)]))
    return s


def castle_windows(cx, base):
    """Lit windows as (x, y, w, h) in the same frame as castle()."""
    return [
        (cx - 139, base - 92, 5, 11), (cx - 131, base - 62, 5, 10),
        (cx - 40, base - 118, 5, 12), (cx - 22, base - 120, 5, 12),
        (cx + 14, base - 96, 5, 12), (cx - 30, base - 78, 5, 10),
        (cx - 15, base - 190, 6, 14), (cx - 15, base - 160, 5, 10),
        (cx + 110, base - 76, 5, 11), (cx + 120, base - 46, 4, 9),
        (cx + 62, base - 66, 4, 9), (cx - 100, base - 30, 4, 8),
        (cx + 40, base - 26, 4, 8),
    ]


def tree(x, y, seed):
    """A gnarled dead tree as round-capped strokes of shrinking width."""
    rng = random.Random(seed)
    out = ["stroke-linecap round\nstroke-linejoin round\n"]

    def branch(x, y, ang, length, width, depth):
        px, py = x, y
        for _ in range(3):
            ang += rng.uniform(-0.28, 0.28)
            nx = px + math.cos(ang) * length / 3
            ny = py - math.sin(ang) * length / 3
            out.append("stroke-width %.2f line %.1f,%.1f %.1f,%.1f\n"
                       % (width, px, py, nx, ny))
            px, py = nx, ny
            width *= 0.9
        if depth == 0 or width < 0.9:
            return
        kids = 2 if rng.random() < 0.7 else 3
        for k in range(kids):
            spread = rng.uniform(0.3, 0.75) * (1 if k % 2 == 0 else -1)
            if kids == 3 and k == 2:
                spread = rng.uniform(-0.15, 0.15)
            branch(px, py, ang + spread, length * rng.uniform(0.62, 0.8),
                   width * rng.uniform(0.55, 0.72), depth - 1)

    # the trunk leans left, towards the moon
    branch(x, y, math.radians(104), 120, 20, 7)
    return out


def stars(width, height, seed, count, horizon):
    """Dim, mostly tiny stars; fewer and fainter towards the top so the title
    band stays calm."""
    rng = random.Random(seed)
    small, big = [], []
    for _ in range(count):
        x = rng.uniform(0, width)
        y = horizon * (rng.random() ** 0.8)
        top_fade = min(1.0, 0.35 + y / (height * 0.35))
        b = (rng.random() ** 3.0) * top_fade
        level = int(40 + 200 * b)
        r = 0.55 + 1.0 * b
        small.append("fill rgb(%d,%d,%d) circle %.1f,%.1f %.1f,%.1f\n"
                     % (level, level, min(255, level + 12), x, y, x + r, y))
        if b > 0.8:
            big.append((x, y, b))
    glints = []
    for x, y, b in big:
        a = 30 + 60 * b
        glints.append("stroke rgba(255,240,220,%.3f) stroke-width 0.8 "
                      "line %.1f,%.1f %.1f,%.1f line %.1f,%.1f %.1f,%.1f\n"
                      % (a / 255, x - 6, y, x + 6, y, x, y - 6, x, y + 6))
    return small, glints


def valley_lights(back, front, seed, count, x0, x1):
    """Far-off fires and lamps on the slopes of the range `back`, placed only
    where the range `front` does not hide them (both are ridgelines from
    ridgeline(), sampled every 2 px from x = -20)."""
    rng = random.Random(seed)

    def at(pts, x):
        return pts[int((x + 20) // 2)][1]

    out = []
    while len(out) < count:
        x = rng.triangular(x0, x1)
        top, bottom = at(back, x) + 14, at(front, x) - 6
        if bottom - top < 8:
            continue
        y = rng.uniform(max(top, bottom - 40), bottom)
        r = rng.uniform(0.8, 1.8)
        level = rng.randint(150, 255)
        out.append("fill rgb(%d,%d,%d) circle %.1f,%.1f %.1f,%.1f\n"
                   % (level, level, level, x, y, x + r, y))
    return out


def main():
    outdir = sys.argv[1]
    W, H = 1568, 976

    def write(name, lines, header="fill white\nstroke none\n"):
        with open("%s/%s.mvg" % (outdir, name), "w") as f:
            f.write(header)
            f.writelines(lines)
    far = ridgeline([(0, 440), (110, 370), (250, 440), (370, 405), (520, 470),
                     (690, 525), (800, 548), (920, 522), (1030, 455), (1140, 472),
                     (1290, 425), (1400, 440), (1490, 392), (1568, 420)],
                    W, 50, 1 / 210.0, 11, sharp=0.85)
    mid = ridgeline([(0, 530), (200, 480), (430, 540), (650, 580), (820, 610),
                     (990, 578), (1110, 520), (1200, 480), (1330, 540), (1568, 500)],
                    W, 42, 1 / 150.0, 23, sharp=0.8)
    near = ridgeline([(0, 650), (300, 625), (600, 648), (820, 668), (1010, 650),
                      (1300, 632), (1568, 645)], W, 18, 1 / 100.0, 37)
    write("lights", valley_lights(far, mid, 71, 22, 560, 1060),
          header="stroke none\n")
    write("far", [polygon(closed_to_bottom(far, W, H))])
    write("mid", [polygon(closed_to_bottom(mid, W, H))])
    write("near", [polygon(closed_to_bottom(near, W, H))])

    crag = jagged([(60, 1000), (110, 700), (160, 610), (205, 560), (232, 520),
                   (262, 498), (330, 488), (420, 492), (520, 490), (552, 506),
                   (586, 540), (640, 590), (720, 640), (800, 700), (860, 1000)],
                  41, 9)
    write("crag", [polygon(crag)] + castle(390, 492))
    write("windows", ["rectangle %.1f,%.1f %.1f,%.1f\n" % (x, y, x + w, y + h)
                      for x, y, w, h in castle_windows(390, 492)])

    cliff = jagged([(1020, 1000), (1120, 760), (1210, 680), (1300, 620),
                    (1380, 592), (1450, 578), (1520, 560), (1600, 548)], 53, 8)
    cliff += [(1600, 1000)]
    write("fore", [polygon(cliff)])
    write("tree", tree(1448, 590, 97), header="fill none\nstroke white\n")

    small, glints = stars(W, H, 5, 520, 560)
    write("stars", small, header="stroke none\n")
    write("glints", glints, header="fill none\n")


if __name__ == "__main__":
    main()
