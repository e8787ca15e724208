#!/usr/bin/env python3
"""Draws the wizard's graphic button faces (24-bit BMPs) into faces/:
next_*.bmp "下一步" and cancel_*.bmp "取消" (72 x 22), retest_*.bmp
"重新测试网络" (104 x 22), each as normal, hover, pressed and disabled, and
ok_normal/ok_hover/ok_pressed.bmp "确定" (72 x 22), the Cancel button's faces
on the last pages. Run it again after a change: python3 draw_button_faces.py"""
import os

from bmp import bmp24

# 12 x 12 glyphs, one row of 12 bits a hexadecimal number, leftmost pixel in
# the highest bit.
GLYPHS = {
    "下": "000 7FE 040 040 040 070 058 044 040 040 040 000",
    "一": "000 000 000 000 000 7FE 000 000 000 000 000 000",
    "步": "000 140 13C 140 7FE 000 144 34C 258 060 780 000",
    "取": "000 7FE 452 792 454 794 44C 448 7CC 056 062 000",
    "消": "010 254 054 4FE 682 0FE 282 2FE 682 482 48E 000",
    "重": "00C 3F0 7FE 040 3FC 3FC 244 3FC 7FE 040 7FE 000",
    "新": "100 7DC 250 290 7DE 114 7D4 114 564 524 324 000",
    "测": "402 7F2 11A 15A 75A 15A 15A 35A 442 4A2 516 000",
    "试": "208 20A 07E 008 608 278 228 228 326 3F6 006 000",
    "网": "000 7FE 44A 56A 59A 49A 4DA 57A 722 402 40E 000",
    "络": "010 23E 2A4 574 718 236 540 63E 1A2 622 03E 000",
    "确": "010 7BC 26C 27E 44A 7FE ACA 2FE 2CA 3CA 2CE 000",
    "定": "040 7FE 402 000 1F8 020 120 238 320 6A0 47E 000",
}

# Face looks: top and bottom of the fill's gradient, border, text.
LOOKS = {
    "normal": ((246, 246, 246), (214, 214, 214), (140, 140, 140), (32, 32, 32)),
    "hover": ((255, 184, 84), (236, 116, 0), (184, 88, 0), (255, 255, 255)),
    "pressed": ((96, 110, 126), (44, 56, 70), (28, 36, 46), (255, 255, 255)),
    "disabled": ((242, 242, 242), (226, 226, 226), (176, 176, 176), (48, 96, 192)),
}


def face(width, height, text, look):
    top, bottom, border, ink = LOOKS[look]
    inked = set()
    text_width = 13 * len(text) - 1
    left = (width - text_width) // 2
    upper = (height - 12) // 2
    for i, ch in enumerate(text):
        rows = [int(r, 16) for r in GLYPHS[ch].split()]
        for y, bits in enumerate(rows):
            for x in range(12):
                if bits >> (11 - x) & 1:
                    inked.add((left + 13 * i + x, upper + y))

    def pixel(x, y):
        # Rounded corners: the corner pixel takes the panel's colour.
        corner = (x in (0, width - 1)) and (y in (0, height - 1))
        if corner:
            return (236, 233, 216)
        if x in (0, width - 1) or y in (0, height - 1):
            return border
        if (x, y) in inked:
            return ink
        t = (y - 1) / max(1, height - 3)
        # A glossy upper half: lighter, then the gradient.
        c = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
        if y < height // 2:
            c = tuple(min(255, v + 10) for v in c)
        return c

    return bmp24(width, height, pixel)


BUTTONS = (
    ("next", 72, "下一步", ("normal", "hover", "pressed", "disabled")),
    ("cancel", 72, "取消", ("normal", "hover", "pressed", "disabled")),
    ("retest", 104, "重新测试网络", ("normal", "hover", "pressed", "disabled")),
    ("ok", 72, "确定", ("normal", "hover", "pressed")),
)

folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "faces")
os.makedirs(folder, exist_ok=True)
for name, width, text, looks in BUTTONS:
    for look in looks:
        with open(os.path.join(folder, "%s_%s.bmp" % (name, look)), "wb") as out:
            out.write(face(width, 22, text, look))
