#!/usr/bin/env python3
"""Draws the agent's thirteen tray and window icons (32x32, 16 colours) and writes them as .ico
files, plus a resource script that names them. Run at build time:

    make_icons.py OUTDIR

Every icon shows a figure with a clock face in its lower right corner. Image1..Image4 are the
resting pictures; Image5..Image13 are the nine frames of the busy animation, whose clock hand
turns and whose clock colour changes from frame to frame.
"""
import math
import os
import struct
import sys

# The standard 16-colour palette (index: (r, g, b)).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
SIZE = 32
TRANSPARENT = None


class Canvas:
    def __init__(self):
        self.pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def put(self, x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.pixels[y][x] = colour

    def disc(self, cx, cy, r, colour):
        for y in range(SIZE):
            for x in range(SIZE):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, colour)

    def ring(self, cx, cy, r, colour):
        for y in range(SIZE):
            for x in range(SIZE):
                d = math.hypot(x - cx, y - cy)
                if r - 0.8 <= d <= r + 0.3:
                    self.put(x, y, colour)

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour):
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(steps + 1):
            t = i / steps
            self.put(round(x0 + (x1 - x0) * t), round(y0 + (y1 - y0) * t), colour)


def figure(c, body, face):
    """A standing figure in the upper left part: head, shoulders, body."""
    c.disc(10, 6, 4.5, BLACK)
    c.disc(10, 6, 3.5, face)
    c.rect(4, 12, 16, 25, BLACK)
    c.rect(5, 13, 15, 24, body)
    c.rect(6, 26, 8, 30, BLACK)
    c.rect(12, 26, 14, 30, BLACK)


def clock(c, face, hand_angle):
    """A clock face in the lower right corner with two hands; angle in degrees from 12."""
    cx, cy, r = 23, 23, 8
    c.disc(cx, cy, r, face)
    c.ring(cx, cy, r, BLACK)
    for hour in range(12):
        a = math.radians(hour * 30)
        c.put(round(cx + (r - 2) * math.sin(a)), round(cy - (r - 2) * math.cos(a)), BLACK)
    c.line(cx, cy, cx, cy - 4, BLACK)  # hour hand stays at twelve
    a = math.radians(hand_angle)
    c.line(cx, cy, cx + (r - 2) * math.sin(a), cy - (r - 2) * math.cos(a), RED)
    c.put(cx, cy, BLACK)


def envelope(c):
    """A small letter over the figure: the sign that new mail has arrived."""
    c.rect(18, 1, 30, 9, BLACK)
    c.rect(19, 2, 29, 8, WHITE)
    c.line(19, 2, 24, 6, BLACK)
    c.line(29, 2, 24, 6, BLACK)


def icon_bytes(canvas):
    """A .ico file holding one 32x32 4-bit image with its transparency mask."""
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = canvas.pixels[y]
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append((hi << 4) | lo)
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] is None else 0)
        mask += struct.pack('>I', bits)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def draw(number):
    c = Canvas()
    if number == 1:    # stand-alone, messages arrived
        figure(c, NAVY, YELLOW)
        envelope(c)
        clock(c, YELLOW, 90)
    elif number == 2:  # stand-alone, resting
        figure(c, NAVY, SILVER)
        clock(c, WHITE, 90)
    elif number == 3:  # background mode, messages arrived (and start-up)
        figure(c, TEAL, YELLOW)
        envelope(c)
        clock(c, LIME, 90)
    elif number == 4:  # background mode, nothing arrived
        figure(c, TEAL, SILVER)
        clock(c, AQUA, 90)
    else:              # busy animation, frame 0..8
        frame = number - 5
        colours = [WHITE, AQUA, LIME, YELLOW, FUCHSIA, RED, YELLOW, LIME, AQUA]
        figure(c, GRAY, SILVER)
        clock(c, colours[frame], frame * 40)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else '.'
    os.makedirs(out, exist_ok=True)
    rc = ['// Generated by make_icons.py: the agent\'s thirteen icons.']
    for n in range(1, 14):
        path = os.path.join(out, 'Image%d.ico' % n)
        with open(path, 'wb') as f:
            f.write(icon_bytes(draw(n)))
        rc.append('%d ICON "%s"' % (100 + n, path.replace('\\', '/')))
    with open(os.path.join(out, 'icons.rc'), 'w') as f:
        f.write('\n'.join(rc) + '\n')


if __name__ == '__main__':
    main()
