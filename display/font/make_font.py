#!/usr/bin/env python3
"""Builds the LCD symbol font "SEGMO-A2" from the outline description in glyphs.txt.

usage: make_font.py glyphs.txt output.ttf

The description is a list of glyphs made of a few primitives (seven-segment
segments, thick polylines, filled polygons, arcs and discs).  Every primitive
becomes one or more closed contours; contours that overlap are all wound the
same way, so the non-zero fill of the rasteriser unites them.
"""

import math
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

UNITS_PER_EM = 1000
ASCENT = 900
DESCENT = 200
FAMILY = "SEGMO-A2"


def signed_area(points):
    area = 0.0
    for i, (x0, y0) in enumerate(points):
        x1, y1 = points[(i + 1) % len(points)]
        area += x0 * y1 - x1 * y0
    return area / 2.0


def oriented(points, hole=False):
    """Filled contours run clockwise (TrueType's outer direction), holes the other way."""
    clockwise = signed_area(points) < 0
    if clockwise == hole:
        points = list(reversed(points))
    return points


class Geometry:
    """The seven-segment cell shared by the digit glyphs."""

    def __init__(self, params):
        self.left = params.get("seg_left", 24)
        self.width = params.get("seg_width", 290)
        self.bottom = params.get("seg_bottom", -20)
        self.top = params.get("seg_top", 700)
        self.thick = params.get("seg_thick", 66)
        self.gap = params.get("seg_gap", 9)

    def segment(self, name):
        h = self.thick / 2.0
        xl, xr = self.left + h, self.left + self.width - h
        yb, yt = self.bottom + h, self.top - h
        ym = (yb + yt) / 2.0
        lines = {
            "a": ((xl, yt), (xr, yt)),
            "b": ((xr, yt), (xr, ym)),
            "c": ((xr, ym), (xr, yb)),
            "d": ((xl, yb), (xr, yb)),
            "e": ((xl, ym), (xl, yb)),
            "f": ((xl, yt), (xl, ym)),
            "g": ((xl, ym), (xr, ym)),
        }
        if name not in lines:
            raise ValueError("unknown segment %r" % name)
        (x0, y0), (x1, y1) = lines[name]
        return [hexagon(x0, y0, x1, y1, h, self.gap)]


def hexagon(x0, y0, x1, y1, h, gap):
    """A segment with pointed ends between two segment centres."""
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -uy, ux
    g = gap / 2.0 + 0.0
    pts = [
        (x0 + ux * g, y0 + uy * g),
        (x0 + ux * (g + h) + nx * h, y0 + uy * (g + h) + ny * h),
        (x1 - ux * (g + h) + nx * h, y1 - uy * (g + h) + ny * h),
        (x1 - ux * g, y1 - uy * g),
        (x1 - ux * (g + h) - nx * h, y1 - uy * (g + h) - ny * h),
        (x0 + ux * (g + h) - nx * h, y0 + uy * (g + h) - ny * h),
    ]
    return oriented(pts)


def quad(p0, p1, h, ext0, ext1):
    (x0, y0), (x1, y1) = p0, p1
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -uy, ux
    x0, y0 = x0 - ux * ext0, y0 - uy * ext0
    x1, y1 = x1 + ux * ext1, y1 + uy * ext1
    return oriented([(x0 + nx * h, y0 + ny * h), (x1 + nx * h, y1 + ny * h),
                     (x1 - nx * h, y1 - ny * h), (x0 - nx * h, y0 - ny * h)])


def join(prev, vertex, nxt, h):
    """Mitre (or, for sharp corners, bevel) patch between two butt-ended strokes."""
    (ax, ay), (vx, vy), (bx, by) = prev, vertex, nxt
    l1 = math.hypot(vx - ax, vy - ay)
    l2 = math.hypot(bx - vx, by - vy)
    u1 = ((vx - ax) / l1, (vy - ay) / l1)
    u2 = ((bx - vx) / l2, (by - vy) / l2)
    cross = u1[0] * u2[1] - u1[1] * u2[0]
    if abs(cross) < 1e-9:
        return []
    side = -1.0 if cross > 0 else 1.0  # the outer side of the turn
    n1 = (-u1[1] * side, u1[0] * side)
    n2 = (-u2[1] * side, u2[0] * side)
    pa = (vx + n1[0] * h, vy + n1[1] * h)
    pb = (vx + n2[0] * h, vy + n2[1] * h)
    # Intersection of the two outer offset lines.
    denom = u1[0] * u2[1] - u1[1] * u2[0]
    t = ((pb[0] - pa[0]) * u2[1] - (pb[1] - pa[1]) * u2[0]) / denom
    mitre = (pa[0] + u1[0] * t, pa[1] + u1[1] * t)
    if math.hypot(mitre[0] - vx, mitre[1] - vy) <= 2.2 * h:
        return [oriented([(vx, vy), pa, mitre, pb])]
    return [oriented([(vx, vy), pa, pb])]


def stroke(points, width, closed=False, cap="square"):
    h = width / 2.0
    contours = []
    if closed:
        points = points + [points[0]]
    count = len(points)
    for i in range(count - 1):
        ext0 = h if (i == 0 and not closed and cap == "square") else 0.0
        ext1 = h if (i == count - 2 and not closed and cap == "square") else 0.0
        contours.append(quad(points[i], points[i + 1], h, ext0, ext1))
    for i in range(1, count - 1):
        contours += join(points[i - 1], points[i], points[i + 1], h)
    if closed and count > 2:
        contours += join(points[-2], points[0], points[1], h)
    return contours


def arc_points(cx, cy, r, a0, a1, steps):
    return [(cx + r * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + r * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def arc(cx, cy, r, width, a0, a1):
    h = width / 2.0
    steps = max(8, int(abs(a1 - a0) / 6))
    if abs(a1 - a0) >= 360:
        outer = arc_points(cx, cy, r + h, 0, 360, steps)[:-1]
        inner = arc_points(cx, cy, r - h, 0, 360, steps)[:-1]
        return [oriented(outer), oriented(inner, hole=True)]
    outer = arc_points(cx, cy, r + h, a0, a1, steps)
    inner = arc_points(cx, cy, r - h, a1, a0, steps)
    return [oriented(outer + inner)]


def disc(cx, cy, r):
    return [oriented(arc_points(cx, cy, r, 0, 360, 40)[:-1])]


def parse_points(tokens):
    pts = []
    for tok in tokens:
        x, y = tok.split(",")
        pts.append((float(x), float(y)))
    return pts


def parse_options(tokens):
    opts, rest = {}, []
    for tok in tokens:
        if "=" in tok:
            key, value = tok.split("=", 1)
            opts[key] = value
        else:
            rest.append(tok)
    return opts, rest


def character_of(token):
    names = {"space": " ", "quote": '"', "hash": "#"}
    if token in names:
        return names[token]
    if token.startswith("U+"):
        return chr(int(token[2:], 16))
    if len(token) != 1:
        raise ValueError("bad character %r" % token)
    return token


def read_description(path):
    params = {}
    glyphs = []  # (char, advance, slant, [contours])
    current = None
    geometry = None
    with open(path, encoding="utf-8") as handle:
        for number, raw in enumerate(handle, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            words = line.split()
            try:
                if words[0] == "param":
                    params[words[1]] = float(words[2])
                    geometry = None
                elif words[0] == "glyph":
                    opts, rest = parse_options(words[2:])
                    current = {
                        "char": character_of(words[1]),
                        "advance": float(opts.get("adv", params.get("advance", 500))),
                        "slant": float(opts.get("slant", params.get("slant", 0))),
                        "width": float(opts.get("w", params.get("stroke", 80))),
                        "contours": [],
                    }
                    glyphs.append(current)
                elif current is None:
                    raise ValueError("primitive before the first glyph")
                elif words[0] == "seg":
                    geometry = geometry or Geometry(params)
                    for name in "".join(words[1:]):
                        current["contours"] += geometry.segment(name)
                elif words[0] in ("stroke", "loop"):
                    opts, rest = parse_options(words[1:])
                    width = float(opts.get("w", current["width"]))
                    current["contours"] += stroke(parse_points(rest), width,
                                                  closed=words[0] == "loop",
                                                  cap=opts.get("cap", "square"))
                elif words[0] == "poly":
                    current["contours"].append(oriented(parse_points(words[1:])))
                elif words[0] == "hole":
                    current["contours"].append(oriented(parse_points(words[1:]), hole=True))
                elif words[0] == "rect":
                    x, y, w, h = (float(v) for v in words[1:5])
                    current["contours"].append(oriented([(x, y), (x + w, y), (x + w, y + h), (x, y + h)]))
                elif words[0] == "arc":
                    opts, rest = parse_options(words[1:])
                    cx, cy, r = (float(v) for v in rest[:3])
                    a0, a1 = (float(v) for v in rest[3:5]) if len(rest) >= 5 else (0.0, 360.0)
                    current["contours"] += arc(cx, cy, r, float(opts.get("w", current["width"])), a0, a1)
                elif words[0] == "disc":
                    cx, cy, r = (float(v) for v in words[1:4])
                    current["contours"] += disc(cx, cy, r)
                else:
                    raise ValueError("unknown primitive %r" % words[0])
            except (ValueError, IndexError) as error:
                raise SystemExit("%s:%d: %s" % (path, number, error))
    return glyphs


def glyph_name(char):
    return "space" if char == " " else "u%04X" % ord(char)


def draw(contours, slant):
    pen = TTGlyphPen(None)
    for contour in contours:
        pts = [(round(x + y * slant), round(y)) for x, y in contour]
        # Drop repeated points left by rounding.
        cleaned = [p for i, p in enumerate(pts) if p != pts[i - 1]]
        if len(cleaned) < 3:
            continue
        pen.moveTo(cleaned[0])
        for p in cleaned[1:]:
            pen.lineTo(p)
        pen.closePath()
    return pen.glyph()


def build(glyphs, out_path):
    notdef = TTGlyphPen(None)
    for contour in (oriented([(60, 0), (440, 0), (440, 700), (60, 700)]),
                    oriented([(120, 60), (380, 60), (380, 640), (120, 640)], hole=True)):
        notdef.moveTo(contour[0])
        for p in contour[1:]:
            notdef.lineTo(p)
        notdef.closePath()

    order = [".notdef"]
    cmap = {}
    outlines = {".notdef": notdef.glyph()}
    advances = {".notdef": 500}
    for g in glyphs:
        name = glyph_name(g["char"])
        if name in outlines:
            raise SystemExit("glyph for %r defined twice" % g["char"])
        order.append(name)
        cmap[ord(g["char"])] = name
        outlines[name] = draw(g["contours"], g["slant"])
        advances[name] = int(round(g["advance"]))

    fb = FontBuilder(UNITS_PER_EM, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap(cmap)
    fb.setupGlyf(outlines)
    glyf = fb.font["glyf"]
    metrics = {}
    for name in order:
        glyph = glyf[name]
        glyph.recalcBounds(glyf)
        metrics[name] = (advances[name], getattr(glyph, "xMin", 0))
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=ASCENT, descent=-DESCENT)
    fb.setupNameTable({
        "familyName": FAMILY,
        "styleName": "Regular",
        "uniqueFontIdentifier": FAMILY + "-Regular",
        "fullName": FAMILY,
        "psName": FAMILY + "-Regular",
        "version": "Version 1.000",
        "copyright": "Drawn for the Orvex interface program",
    })
    fb.setupOS2(sTypoAscender=ASCENT, sTypoDescender=-DESCENT, sTypoLineGap=0,
                usWinAscent=ASCENT, usWinDescent=DESCENT, fsSelection=0x40 | 0x80,
                achVendID="ORVX", version=4, sxHeight=480, sCapHeight=700)
    fb.setupPost()
    fb.save(out_path)


def main(argv):
    if len(argv) != 3:
        raise SystemExit("usage: make_font.py glyphs.txt output.ttf")
    glyphs = read_description(argv[1])
    build(glyphs, argv[2])


if __name__ == "__main__":
    main(sys.argv)
