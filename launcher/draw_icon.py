#!/usr/bin/env python3
"""Draws the launcher's program icon: a night-blue disc holding a spiral of
stars, in 48 x 48, 32 x 32 and 16 x 16 pixels at 32 bits per pixel (colour
and alpha), as one icon file. Each pixel is the mean of 4 x 4 samples, so
the disc's edge is smooth against any background. Run it again after a
change: python3 draw_icon.py > launcher.ico"""
import math
import struct
import sys

SIZES = (48, 32, 16)
SAMPLES = 4


def sample(u, v):
    """The colour (r, g, b, a) at (u, v) of the unit square."""
    dx, dy = u - 0.5, v - 0.5
    d = math.hypot(dx, dy)
    if d > 0.47:
        return (0, 0, 0, 0)
    if d > 0.43:
        return (230, 190, 80, 255)  # a gold rim
    # The disc: lighter towards its upper left.
    light = max(0.0, 1.0 - math.hypot(dx + 0.15, dy + 0.15) / 0.7)
    colour = [int(20 + 60 * light), int(30 + 70 * light), int(90 + 110 * light)]
    # Two arms of a spiral of light round a bright core.
    angle = math.atan2(dy, dx)
    for arm in (0.0, math.pi):
        spiral = (angle - arm - d * 14.0) % (2 * math.pi)
        closeness = min(spiral, 2 * math.pi - spiral)
        glow = max(0.0, 1.0 - closeness / 0.7) * max(0.0, 1.0 - d / 0.43)
        for i in range(3):
            colour[i] = min(255, int(colour[i] + glow * (235 - colour[i])))
    core = max(0.0, 1.0 - d / 0.12)
    colour = [min(255, int(c + core * (255 - c))) for c in colour]
    return (colour[0], colour[1], colour[2], 255)


def image(size):
    """One image as an icon file holds it: a bitmap header of twice the
    height (colour rows, then the transparency mask's), rows bottom up,
    pixels as blue, green, red, alpha."""
    rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):
        row = bytearray()
        mask = bytearray(mask_stride)
        for x in range(size):
            total = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    r, g, b, a = sample((x + (sx + 0.5) / SAMPLES) / size,
                                        (y + (sy + 0.5) / SAMPLES) / size)
                    # Colours weighed by their cover, so edges do not darken.
                    total[0] += r * a
                    total[1] += g * a
                    total[2] += b * a
                    total[3] += a
            alpha = total[3] // (SAMPLES * SAMPLES)
            if total[3] == 0:
                row += bytes(4)
            else:
                row += bytes((total[2] // total[3], total[1] // total[3],
                              total[0] // total[3], alpha))
            if alpha == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    images = [image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    sys.stdout.buffer.write(out + b"".join(images))


main()
