#!/usr/bin/env python3
"""Draws the wizard's left picture (100 x 240, 24-bit BMP): a blue globe on a
light panel with two orange arrows circling it. Run it again after a change:
python3 draw_left_picture.py > left_picture.bmp"""
import math
import sys

from bmp import bmp24

W, H = 100, 240
CX, CY, R = 50.0, 92.0, 34.0


def pixel(x, y):
    # Panel: a soft vertical gradient.
    t = y / (H - 1)
    bg = (int(236 - 30 * t), int(242 - 22 * t), 250)
    dx, dy = x + 0.5 - CX, y + 0.5 - CY
    d = math.hypot(dx, dy)
    # Two orange arcs round the globe, each ending in an arrow head.
    angle = math.degrees(math.atan2(dy, dx)) % 360
    ring = R + 9
    for start, end in ((200, 330), (20, 150)):
        if start <= angle <= end and abs(d - ring) <= 2.6:
            return (255, 140, 0)
        head = math.radians(end)
        hx, hy = CX + ring * math.cos(head), CY + ring * math.sin(head)
        # The head: a small triangle pointing along the circle.
        tx, ty = -math.sin(head), math.cos(head)
        px, py = x + 0.5 - hx, y + 0.5 - hy
        along = px * tx + py * ty
        across = abs(px * math.cos(head) + py * math.sin(head))
        if 0 <= along <= 8 and across <= (8 - along) * 0.8:
            return (255, 120, 0)
    if d <= R:
        # Globe: shaded blue with meridians and parallels.
        light = max(0.0, 1.0 - math.hypot(dx + 12, dy + 12) / (R * 1.9))
        base = (int(20 + 120 * light), int(90 + 120 * light), int(190 + 65 * light))
        lat = math.degrees(math.asin(max(-1.0, min(1.0, dy / R))))
        z = math.sqrt(max(0.0, R * R - dx * dx - dy * dy))
        lon = math.degrees(math.atan2(dx, z))
        if abs(lat % 30) < 1.6 or abs(lon % 30) < 1.8:
            return tuple(min(255, c + 60) for c in base)
        return base
    return bg


sys.stdout.buffer.write(bmp24(W, H, pixel))
