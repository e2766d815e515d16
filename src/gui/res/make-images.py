#!/usr/bin/env python3
"""Draws KLT's pictures and writes them as PNG files beside this script:
toolbar310.png, the seven 16 x 16 toolbar images side by side (magenta is transparent), and
klt128.png, the 32 x 32 application icon. Run again after changing a drawing."""
import pathlib
import struct
import zlib

MAGENTA = (255, 0, 255)
TRANSPARENT = (0, 0, 0, 0)


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):  # inclusive corners, filled
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.put(x, y0, colour)
            self.put(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.put(x0, y, colour)
            self.put(x1, y, colour)

    def disc(self, cx, cy, r, colour):
        for y in range(self.height):
            for x in range(self.width):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def write_png(self, path, alpha):
        rows = b""
        for row in self.pixels:
            rows += b"\x00"
            for p in row:
                rows += bytes(p if alpha else p[:3])
        colour_type = 6 if alpha else 2

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, colour_type, 0, 0, 0)
        path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                         chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


BLACK = (0, 0, 0)
DARK = (64, 64, 64)
GREY = (160, 160, 160)
LIGHT = (216, 216, 216)
WHITE = (255, 255, 255)
YELLOW = (240, 200, 64)
DARK_YELLOW = (176, 128, 32)
BLUE = (40, 80, 176)
LIGHT_BLUE = (120, 160, 232)
GREEN = (32, 152, 56)
RED = (200, 40, 40)


def open_image(c, ox):
    c.rect(ox + 1, 4, ox + 6, 5, DARK_YELLOW)            # tab
    c.rect(ox + 1, 5, ox + 13, 13, DARK_YELLOW)          # back of the folder
    c.rect(ox + 2, 6, ox + 12, 12, YELLOW)
    for i in range(6):                                   # the open flap, slanted
        c.rect(ox + 3 + (5 - i) // 2, 8 + i, ox + 15 - i // 2, 8 + i, YELLOW)
    c.rect(ox + 3, 13, ox + 13, 13, DARK_YELLOW)


def save_image(c, ox):
    c.rect(ox + 1, 1, ox + 14, 14, BLUE)
    c.rect(ox + 4, 1, ox + 11, 6, WHITE)                 # label
    c.rect(ox + 9, 2, ox + 10, 5, BLUE)
    c.rect(ox + 3, 9, ox + 12, 14, LIGHT)                # shutter
    c.rect(ox + 5, 10, ox + 7, 13, DARK)


def print_image(c, ox):
    c.rect(ox + 4, 1, ox + 11, 6, WHITE)                 # paper in
    c.frame(ox + 4, 1, ox + 11, 6, DARK)
    c.rect(ox + 1, 6, ox + 14, 11, GREY)                 # body
    c.frame(ox + 1, 6, ox + 14, 11, DARK)
    c.put(ox + 12, 8, GREEN)
    c.rect(ox + 4, 10, ox + 11, 14, WHITE)               # paper out
    c.frame(ox + 4, 10, ox + 11, 14, DARK)
    c.rect(ox + 6, 12, ox + 9, 12, DARK)


def start_image(c, ox):
    for i in range(6):                                   # arrow down into a tray
        c.rect(ox + 2 + i, 5 + i, ox + 13 - i, 5 + i, GREEN)
    c.rect(ox + 6, 1, ox + 9, 5, GREEN)
    c.rect(ox + 1, 12, ox + 14, 14, DARK)
    c.rect(ox + 2, 12, ox + 13, 13, GREY)


def stop_image(c, ox):
    c.rect(ox + 3, 3, ox + 12, 12, RED)
    c.frame(ox + 3, 3, ox + 12, 12, (128, 16, 16))


def port_image(c, ox):
    for i in range(7):                                   # a D-shaped connector shell
        c.rect(ox + 1 + i // 3, 4 + i, ox + 14 - i // 3, 4 + i, GREY)
    c.frame(ox + 1, 4, ox + 14, 4, DARK)
    for x in (3, 5, 7, 9, 11):                           # pins
        c.put(ox + x + 1, 6, BLACK)
    for x in (4, 6, 8, 10):
        c.put(ox + x + 1, 8, BLACK)
    c.rect(ox + 6, 11, ox + 9, 15, DARK)                 # cable


def about_image(c, ox):
    c.disc(ox + 7.5, 7.5, 7, BLUE)
    c.rect(ox + 7, 3, ox + 8, 4, WHITE)
    c.rect(ox + 7, 6, ox + 8, 12, WHITE)
    c.rect(ox + 6, 6, ox + 6, 6, WHITE)
    c.rect(ox + 6, 12, ox + 9, 12, WHITE)


def toolbar():
    c = Canvas(112, 16, MAGENTA)
    for index, draw in enumerate([open_image, save_image, print_image, start_image,
                                  stop_image, port_image, about_image]):
        draw(c, index * 16)
    return c


def app_icon():
    c = Canvas(32, 32, TRANSPARENT)
    opaque = lambda rgb: rgb + (255,)
    c.rect(5, 2, 26, 29, opaque(WHITE))                  # a history sheet
    c.frame(5, 2, 26, 29, opaque(DARK))
    for y in range(6, 27, 3):
        c.rect(8, y, 8 + (17 if y % 2 else 12), y, opaque(BLUE))
    c.disc(24, 24, 6.5, opaque(GREEN))                   # receiving
    for i in range(4):
        c.rect(21 + i, 23 + i, 27 - i, 23 + i, opaque(WHITE))
    c.rect(23, 19, 25, 23, opaque(WHITE))
    return c


if __name__ == "__main__":
    here = pathlib.Path(__file__).resolve().parent
    toolbar().write_png(here / "toolbar310.png", alpha=False)
    app_icon().write_png(here / "klt128.png", alpha=True)
