"""24-bit BMP files for the pictures that the updater's drawing scripts make."""
import struct


def bmp24(width, height, pixel):
    """The bytes of a bottom-up 24-bit BMP whose pixel (x, y), counted from
    the top left, has the colour pixel(x, y) = (r, g, b)."""
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * ((4 - len(row) % 4) % 4)
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data
