#!/usr/bin/python3
# Draws Quarn's icon font, the "ICONS" entry of quarn.data: every icon the editor shows is
# an ASCII character of this TrueType font, drawn as a coverage mask in the theme's colour.
# Usage: make_icon_font.py OUTPUT.ttf
#
# Every glyph is one em square: advance 1000 = units per em = ascent - descent, so an icon
# drawn at pixel size s fills the s-by-s square that the widgets use as its hit box. A
# hovered icon has the same outer shape as its normal one (outlined when normal, filled
# with the details cut out when hovered), so swapping them on hover moves nothing.
# The output is the same byte for byte on every run: fixed timestamps, fixed glyph order.

import math
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

UNITS_PER_EM = 1000
ASCENT = 800
DESCENT = -200
# Shapes are drawn in a 0..1000 square with y up; this moves them onto the baseline.
BASELINE_SHIFT = DESCENT
STROKE = 70
# 2024-01-01 00:00:00 UTC in seconds since 1904, the epoch of the head table.
FIXED_TIMESTAMP = 3786825600

#~ Contours
# A glyph is a list of closed polygons. Filled areas wind clockwise and holes counter-
# clockwise: with the non-zero rule a hole cancels the area around it, while two filled
# areas that overlap stay filled. A hole must therefore be one simple polygon: two
# overlapping holes would cancel twice and fill again.


def signed_area(points):
    area = 0.0
    for i, (x0, y0) in enumerate(points):
        x1, y1 = points[(i + 1) % len(points)]
        area += x0 * y1 - x1 * y0
    return area / 2.0


def filled(points):
    return points if signed_area(points) < 0 else list(reversed(points))


def hole(points):
    return points if signed_area(points) > 0 else list(reversed(points))


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def circle(cx, cy, r, steps=48):
    return [(cx + r * math.cos(2 * math.pi * i / steps), cy + r * math.sin(2 * math.pi * i / steps))
            for i in range(steps)]


def line_intersection(p, d, q, e):
    # p + s*d meets q + u*e; parallel lines meet at q.
    cross = d[0] * e[1] - d[1] * e[0]
    if abs(cross) < 1e-9:
        return q
    s = ((q[0] - p[0]) * e[1] - (q[1] - p[1]) * e[0]) / cross
    return (p[0] + s * d[0], p[1] + s * d[1])


def offset_edge(a, b, distance):
    # The edge a->b moved sideways to its left by distance.
    dx, dy = b[0] - a[0], b[1] - a[1]
    length = math.hypot(dx, dy)
    nx, ny = -dy / length, dx / length
    return (a[0] + nx * distance, a[1] + ny * distance), (dx, dy)


def inset(points, distance):
    # The polygon shrunk by distance, with mitred corners (convex and concave alike, as
    # long as no edge is shorter than the inset).
    points = list(reversed(filled(points)))  # counter-clockwise, so the inside is left
    edges = [offset_edge(points[i], points[(i + 1) % len(points)], distance) for i in range(len(points))]
    result = []
    for i in range(len(edges)):
        p, d = edges[i - 1]
        q, e = edges[i]
        result.append(line_intersection(p, d, q, e))
    return result


def outline(points, width=STROKE):
    return [filled(points), hole(inset(points, width))]


def stroke(points, width):
    # An open polyline as one polygon of the given width, mitred at its bends.
    half = width / 2.0
    left, right = [], []
    for side, out in ((half, left), (-half, right)):
        edges = [offset_edge(points[i], points[i + 1], side) for i in range(len(points) - 1)]
        out.append(edges[0][0])
        for i in range(1, len(edges)):
            p, d = edges[i - 1]
            q, e = edges[i]
            out.append(line_intersection(p, d, q, e))
        last, d = edges[-1]
        out.append((last[0] + d[0], last[1] + d[1]))
    return left + list(reversed(right))


def arc_band(cx, cy, r_outer, r_inner, start_degrees, end_degrees, steps=24):
    angles = [math.radians(start_degrees + (end_degrees - start_degrees) * i / steps) for i in range(steps + 1)]
    outer = [(cx + r_outer * math.cos(a), cy + r_outer * math.sin(a)) for a in angles]
    inner = [(cx + r_inner * math.cos(a), cy + r_inner * math.sin(a)) for a in reversed(angles)]
    return outer + inner


def cross_shape(cx, cy, half, width):
    # An X as one 12-point polygon, so it can be cut out as a single hole.
    h = width / math.sqrt(2.0)  # the arm's half width measured along the axes
    return [(cx, cy + h), (cx + half - h, cy + half), (cx + half, cy + half - h), (cx + h, cy),
            (cx + half, cy - half + h), (cx + half - h, cy - half), (cx, cy - h),
            (cx - half + h, cy - half), (cx - half, cy - half + h), (cx - h, cy),
            (cx - half, cy + half - h), (cx - half + h, cy + half)]


def plus_shape(cx, cy, half, width):
    w = width / 2.0
    return [(cx - w, cy + half), (cx + w, cy + half), (cx + w, cy + w), (cx + half, cy + w),
            (cx + half, cy - w), (cx + w, cy - w), (cx + w, cy - half), (cx - w, cy - half),
            (cx - w, cy - w), (cx - half, cy - w), (cx - half, cy + w), (cx - w, cy + w)]


def check_shape(cx, cy, size, width):
    return stroke([(cx - 0.45 * size, cy + 0.02 * size), (cx - 0.12 * size, cy - 0.32 * size),
                   (cx + 0.48 * size, cy + 0.32 * size)], width)


def rect_minus(a, b):
    # The parts of axis-aligned rectangle a outside rectangle b, as rectangles.
    ax0, ay0, ax1, ay1 = a
    bx0, by0, bx1, by1 = b
    if bx1 <= ax0 or bx0 >= ax1 or by1 <= ay0 or by0 >= ay1:
        return [a]
    parts = []
    if by1 < ay1:
        parts.append((ax0, by1, ax1, ay1))
    if by0 > ay0:
        parts.append((ax0, ay0, ax1, by0))
    top, bottom = min(ay1, by1), max(ay0, by0)
    if bx0 > ax0:
        parts.append((ax0, bottom, bx0, top))
    if bx1 < ax1:
        parts.append((bx1, bottom, ax1, top))
    return parts


#~ Icons


def page():
    # A sheet with its top right corner folded away.
    return [(200, 60), (800, 60), (800, 700), (580, 920), (200, 920)]


def folder():
    return [(80, 130), (920, 130), (920, 700), (480, 700), (400, 800), (80, 800)]


def terminal_prompt():
    return stroke([(240, 640), (400, 500), (240, 360)], 80), rect(450, 290, 700, 360)


def floppy():
    return [(120, 120), (880, 120), (880, 760), (760, 880), (120, 880)]


def floppy_shutter():
    return rect(290, 660, 640, 800)


def floppy_label():
    return rect(250, 200, 750, 500)


def left_triangle():
    return [(700, 110), (700, 890), (220, 500)]


def right_triangle():
    return [(300, 110), (300, 890), (780, 500)]


def copy_pages(front_filled):
    front = (330, 100, 860, 700)
    back = (140, 300, 670, 900)
    gap = 50
    cleared = (front[0] - gap, front[1] - gap, front[2] + gap, front[3] + gap)
    bars = [(back[0], back[3] - STROKE, back[2], back[3]), (back[0], back[1], back[0] + STROKE, back[3]),
            (back[2] - STROKE, back[1], back[2], back[3]), (back[0], back[1], back[2], back[1] + STROKE)]
    contours = []
    for bar in bars:
        for part in rect_minus(bar, cleared):
            contours.append(filled(rect(*part)))
    if front_filled:
        contours.append(filled(rect(*front)))
    else:
        contours += outline(rect(*front))
    return contours


def trash_can():
    body = [(230, 80), (770, 80), (820, 660), (180, 660)]
    return body, rect(120, 700, 880, 780), rect(390, 780, 610, 880)


def question_mark():
    return [filled(arc_band(500, 640, 250, 160, 165, -50)),
            filled(stroke([(500 + 205 * math.cos(math.radians(-50)), 640 + 205 * math.sin(math.radians(-50))),
                           (500, 420), (500, 300)], 90)),
            filled(circle(500, 150, 65))]


def make_icons():
    prompt_chevron, prompt_bar = terminal_prompt()
    can_body, can_lid, can_handle = trash_can()
    note_heads = [circle(290, 230, 120), circle(710, 310, 120)]
    note_stems = [rect(340, 230, 410, 790), rect(760, 310, 830, 870)]
    note_beam = [(340, 700), (830, 780), (830, 880), (340, 800)]
    # code point, glyph name, contours
    return [
        ("[", "new_file", outline(page()) + [filled(plus_shape(500, 450, 200, 80))]),
        ("]", "new_file.hover", [filled(page()), hole(plus_shape(500, 450, 200, 80))]),
        ("{", "open_file", outline(folder()) + [filled(rect(80, 560, 920, 560 + STROKE))]),
        ("}", "open_file.hover", [filled(folder())]),
        ("\\", "new_terminal", outline(rect(80, 150, 920, 850)) + [filled(prompt_chevron), filled(prompt_bar)]),
        ("/", "terminal", [filled(rect(80, 150, 920, 850)), hole(prompt_chevron), hole(prompt_bar)]),
        ("(", "save", outline(floppy()) + [filled(floppy_shutter())] + outline(floppy_label(), 60)),
        (")", "save.hover", [filled(floppy()), hole(floppy_shutter()), hole(floppy_label())]),
        ("1", "previous_tab", outline(left_triangle())),
        ("4", "previous_tab.hover", [filled(left_triangle())]),
        ("3", "next_tab", outline(right_triangle())),
        ("6", "next_tab.hover", [filled(right_triangle())]),
        ("C", "close", outline(circle(500, 500, 420)) + [filled(cross_shape(500, 500, 200, 80))]),
        ("X", "close.hover", [filled(circle(500, 500, 420)), hole(cross_shape(500, 500, 200, 90))]),
        ("e", "failed", [filled(circle(500, 500, 420)), hole(rect(455, 380, 545, 760)), hole(circle(500, 270, 55))]),
        ("o", "finished", [filled(circle(500, 500, 420)), hole(check_shape(500, 500, 480, 90))]),
        ("t", "copy", copy_pages(False)),
        ("T", "copy.hover", copy_pages(True)),
        ("B", "check_box_on", [filled(rect(120, 120, 880, 880)), hole(check_shape(500, 500, 560, 100))]),
        ("b", "check_box_off", outline(rect(120, 120, 880, 880))),
        (">", "path_separator", [filled(stroke([(360, 160), (660, 500), (360, 840)], 90))]),
        ("D", "directory", [filled(folder())]),
        ("F", "file", outline(page()) + [filled(rect(320, y, 680, y + 60)) for y in (260, 420, 580)]),
        ("w", "write_file", outline(page()) + [filled([(460, 640), (540, 640), (540, 400), (640, 400),
                                                       (500, 220), (360, 400), (460, 400)])]),
        ("r", "delete", outline(can_body) + [filled(can_lid), filled(can_handle),
                                             filled(rect(360, 200, 420, 560)), filled(rect(580, 200, 640, 560))]),
        ("p", "picture", outline(rect(80, 160, 920, 840)) +
              [filled([(200, 280), (460, 620), (600, 450), (680, 540), (800, 280)]), filled(circle(700, 690, 70))]),
        ("m", "audio", [filled(c) for c in note_heads + note_stems + [note_beam]]),
        ("?", "unknown", question_mark()),
    ]


def draw(contours):
    pen = TTGlyphPen(None)
    for contour in contours:
        points = [(round(x), round(y) + BASELINE_SHIFT) for x, y in contour]
        pen.moveTo(points[0])
        for point in points[1:]:
            pen.lineTo(point)
        pen.closePath()
    return pen.glyph()


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon_font.py OUTPUT.ttf")
    icons = make_icons()
    codes = [code for code, _, _ in icons]
    assert len(set(codes)) == len(codes), "an icon code point is used twice"

    glyphs = {".notdef": draw(outline(rect(150, 50, 850, 950), 60))}
    for _, name, contours in icons:
        glyphs[name] = draw(contours)
    order = list(glyphs)

    builder = FontBuilder(UNITS_PER_EM, isTTF=True)
    builder.setupGlyphOrder(order)
    builder.setupCharacterMap({ord(code): name for code, name, _ in icons})
    builder.setupGlyf(glyphs)
    glyf = builder.font["glyf"]
    builder.setupHorizontalMetrics({name: (UNITS_PER_EM, glyf[name].xMin) for name in order})
    builder.setupHorizontalHeader(ascent=ASCENT, descent=DESCENT, lineGap=0)
    builder.setupNameTable({"familyName": "Quarn Icons", "styleName": "Regular",
                            "uniqueFontIdentifier": "Quarn Icons Regular", "version": "Version 1.000"})
    builder.setupOS2(sTypoAscender=ASCENT, sTypoDescender=DESCENT, sTypoLineGap=0,
                     usWinAscent=ASCENT, usWinDescent=-DESCENT, achVendID="QRN ")
    builder.setupPost()
    builder.setupHead(unitsPerEm=UNITS_PER_EM, created=FIXED_TIMESTAMP, modified=FIXED_TIMESTAMP)
    builder.save(sys.argv[1])


if __name__ == "__main__":
    main()
