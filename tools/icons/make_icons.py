#!/usr/bin/env python3
"""Draws the agent's thirteen tray and window icons (16 colours) and writes them as .ico files,
plus a resource script that names them. Run at build time:

    make_icons.py OUTDIR

Every icon shows a figure with a clock face in its lower right corner. Image1..Image4 are the
resting pictures; Image5..Image13 are the nine frames of the busy animation, whose clock hand
turns and whose clock colour changes from frame to frame.

Each file holds the picture in the sizes the notification area uses at 100, 125, 150 and 200 %
(16, 20, 24 and 32 pixels), each drawn for its own grid from one design on a 32-pixel grid:
outlines stay one pixel wide and small sizes leave out what would only blur, so no size is a
scaled copy of another. The 32-pixel picture is the design itself.
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
DESIGN = 32
SIZES = (16, 20, 24, 32)
TRANSPARENT = None


class Canvas:
    """A picture of SIZE pixels. The design's shapes take coordinates on the 32-pixel grid; round
    shapes are centred on whole or half pixels of this picture so that they stay symmetric, and
    outlines are one pixel wide at every size."""

    def __init__(self, size):
        self.size = size
        self.scale = size / DESIGN
        self.pixels = [[TRANSPARENT] * size for _ in range(size)]

    def at(self, coordinate):
        """Where a design coordinate lies on this picture's grid: the same place at 32."""
        return (coordinate + 0.5) * self.scale - 0.5

    def snap(self, cx, cy, r):
        """A circle of the design on this grid: centre and radius in half pixels, the radius
        rounded up (a small circle rounded down comes out as a diamond)."""
        return (round(self.at(cx) * 2) / 2, round(self.at(cy) * 2) / 2,
                math.ceil(r * self.scale * 2) / 2)

    def put(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def fill(self, inside, colour):
        for y in range(self.size):
            for x in range(self.size):
                if inside(x, y):
                    self.put(x, y, colour)

    def disc(self, circle, colour, inset=0):
        cx, cy, r = circle
        r -= inset
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def framed_disc(self, circle, colour):
        self.disc(circle, BLACK)
        self.disc(circle, colour, inset=1)

    def ring(self, circle, colour):
        cx, cy, r = circle
        self.fill(lambda x, y: r - 0.8 <= math.hypot(x - cx, y - cy) <= r + 0.3, colour)

    def bounds(self, low, high):
        """The first and last pixel whose centres lie in the design pixels low..high."""
        first = math.ceil(low * self.scale - 0.5)
        last = math.floor((high + 1) * self.scale - 0.5 - 1e-9)
        return first, max(first, last)

    def box(self, x0, y0, x1, y1):
        """A rectangle of the design as the pixels (left, top, right, bottom) it covers here."""
        (left, right), (top, bottom) = self.bounds(x0, x1), self.bounds(y0, y1)
        return left, top, right, bottom

    def rect(self, box, colour, inset=0):
        left, top, right, bottom = box
        for y in range(top + inset, bottom - inset + 1):
            for x in range(left + inset, right - inset + 1):
                self.put(x, y, colour)

    def framed_rect(self, box, colour):
        self.rect(box, BLACK)
        self.rect(box, colour, inset=1)

    def line(self, x0, y0, x1, y1, colour):
        """A line between two points of this grid."""
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(steps + 1):
            t = i / steps
            self.put(round(x0 + (x1 - x0) * t), round(y0 + (y1 - y0) * t), colour)


def figure(c, body, face):
    """A standing figure in the upper left part: head, shoulders, body."""
    c.framed_disc(c.snap(10, 6, 4.5), face)
    c.framed_rect(c.box(4, 12, 16, 25), body)
    c.rect(c.box(6, 26, 8, 30), BLACK)
    c.rect(c.box(12, 26, 14, 30), BLACK)


def clock(c, face, hand_angle):
    """A clock face in the lower right corner with two hands; angle in degrees from 12. Below 24
    pixels only the quarter hours are marked, and at 16 none: the marks would fill the face."""
    circle = c.snap(23, 23, 8)
    cx, cy, r = circle
    c.disc(circle, face)
    c.ring(circle, BLACK)
    hand = r - 2 * c.scale
    marks = range(0, 12, 1 if c.size >= 24 else 3) if c.size > 16 else ()
    for hour in marks:
        a = math.radians(hour * 30)
        c.put(round(cx + hand * math.sin(a)), round(cy - hand * math.cos(a)), BLACK)
    c.line(cx, cy, cx, cy - 4 * c.scale, BLACK)  # hour hand stays at twelve
    a = math.radians(hand_angle)
    c.line(cx, cy, cx + hand * math.sin(a), cy - hand * math.cos(a), RED)
    c.put(round(cx), round(cy), BLACK)


def envelope(c):
    """A small letter over the figure: the sign that new mail has arrived. Its flap runs from
    the inner corners of the frame down to the middle."""
    box = c.box(18, 1, 30, 9)
    c.framed_rect(box, WHITE)
    left, top, right = box[0] + 1, box[1] + 1, box[2] - 1
    middle = (left + right) / 2
    bottom = top + (middle - left) * 0.8
    c.line(left, top, middle, bottom, BLACK)
    c.line(right, top, middle, bottom, BLACK)


def image_bytes(canvas):
    """One 4-bit image of an .ico file with its transparency mask, rows bottom-up, each padded
    to whole 32-bit words."""
    size = canvas.size
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor_row = (size * 4 + 31) // 32 * 4
    mask_row = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row = canvas.pixels[y] + [TRANSPARENT]  # a last odd column pairs with nothing
        colours = [0 if p is TRANSPARENT else p for p in row]
        packed = bytearray((colours[x] << 4) | colours[x + 1] for x in range(0, size, 2))
        xor += packed.ljust(xor_row, b'\0')
        bits = 0
        for x in range(mask_row * 8):
            bits = (bits << 1) | (1 if x >= size or row[x] is TRANSPARENT else 0)
        mask += bits.to_bytes(mask_row, 'big')
    return header + palette + bytes(xor) + bytes(mask)


def icon_bytes(canvases):
    """An .ico file holding one image per canvas."""
    images = [image_bytes(c) for c in canvases]
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        directory += struct.pack('<BBBBHHII', canvas.size, canvas.size, 16, 0, 1, 4, len(image),
                                 offset)
        offset += len(image)
    return directory + b''.join(images)


def draw(number, size=DESIGN):
    c = Canvas(size)
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
            f.write(icon_bytes([draw(n, size) for size in SIZES]))
        rc.append('%d ICON "%s"' % (100 + n, path.replace('\\', '/')))
    with open(os.path.join(out, 'icons.rc'), 'w') as f:
        f.write('\n'.join(rc) + '\n')


if __name__ == '__main__':
    main()
