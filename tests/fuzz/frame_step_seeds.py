#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_frame_step into corpus/fuzz_frame_step/.

An input is read by FuzzedDataProvider: the numbers from the end of the
input backwards (each one's bytes most significant first), the pattern of
the background from the front. The order of the numbers is the order in
which fuzz_frame_step.cpp consumes them."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "fuzz_frame_step")

PLAIN, PATTERN, NOISE, GRADIENT = range(4)


class Input:
    def __init__(self):
        self.consumed = []  # bytes in the order they are consumed

    def number(self, value, low, high):
        span = high - low
        count = (span.bit_length() + 7) // 8
        raw = value - low
        self.consumed += list(raw.to_bytes(count, "big"))

    def unsigned(self, value, bits):
        self.consumed += list(value.to_bytes(bits // 8, "big"))

    def probability(self, p):
        self.unsigned(min(int(p * 0xFFFFFFFFFFFFFFFF), 0xFFFFFFFFFFFFFFFF), 64)

    def build(self, pattern):
        return bytes(pattern) + bytes(reversed(self.consumed))


def size(i, width, height):
    for side in (width, height):
        bits = max(0, (side - 1).bit_length())
        i.number(bits, 0, 12)
        i.number(side, 1, 1 << bits)


def frame_input(width, height, padding=0, frames=1, high_score=0, whole=False, seed=0, fill=PLAIN,
                colour=(70, 70, 70, 0), noise_seed=1, face=False, scale=1.0, x=0.0, y=0.0, dx=0, dy=0,
                steps=None, pattern=b"\x10\x80\xf0\x00\x55"):
    """`scale` is the photograph's scale, `x` and `y` its top-left corner.
    `steps` holds per frame (clock move in ms, detection pass, reset) or
    those and a new (width, height) taking effect with that frame."""
    i = Input()
    i.unsigned(0xFF if width * height > 1 << 20 else 0, 8)
    size(i, width, height)
    i.number(padding, 0, 67)
    steps = steps or [(33, False, False)] * frames
    i.number(len(steps), 1, 8)
    i.unsigned(high_score, 64)
    i.unsigned(1 if whole else 0, 8)
    i.unsigned(seed, 32)
    i.number(fill, 0, 3)
    for c in colour:
        i.unsigned(c, 8)
    i.unsigned(noise_seed, 32)
    i.unsigned(1 if face else 0, 8)
    i.probability((scale - 0.05) / 3.95)
    side = 512.0 * scale
    i.probability((x + side) / (width + side))
    i.probability((y + side) / (height + side))
    i.number(dx, -12, 12)
    i.number(dy, -12, 12)
    for k, step in enumerate(steps):
        advance, detect, reset = step[:3]
        i.number(advance, 0, 3000)
        i.unsigned(1 if detect else 0, 8)
        i.number(15 if not reset else 0, 0, 15)
        if k > 0:
            resize = step[3] if len(step) > 3 else None
            i.number(0 if resize else 7, 0, 7)
            if resize:
                size(i, *resize)
    return i.build(pattern)


SEEDS = {
    "tiny_1x1": frame_input(1, 1),
    "odd_stride_3x5": frame_input(3, 5, padding=7, frames=3, fill=NOISE),
    "wide_4096x2": frame_input(4096, 2, padding=1, fill=GRADIENT),
    "tall_2x4096": frame_input(2, 4096, padding=3, fill=PATTERN),
    "vga_face_detect": frame_input(640, 480, frames=8, face=True, scale=0.8, x=100, y=40, dx=3, dy=1,
                                   high_score=123456789,
                                   steps=[(33, True, False)] * 2 + [(33, False, False)] * 6),
    "vga_face_measured": frame_input(640, 480, padding=12, frames=8, face=True, scale=0.8, x=100, y=40, dx=2,
                                     steps=[(33, True, False), (33, False, False)] + [(3000, False, False)] * 6),
    "small_face_corner": frame_input(320, 240, padding=5, frames=6, face=True, scale=0.3, x=-40, y=-20, dx=-3,
                                     dy=-2, whole=True, steps=[(33, True, False)] * 6),
    "huge_high_score": frame_input(800, 600, frames=2, high_score=0xFFFFFFFFFFFFFFFF, fill=NOISE),
    "face_reset": frame_input(480, 360, frames=5, face=True, scale=0.6, x=80, y=10,
                              steps=[(33, True, False), (33, False, True), (33, True, False), (500, False, False),
                                     (33, False, False)]),
    "face_then_smaller_frame": frame_input(640, 480, frames=6, face=True, scale=0.8, x=300, y=200,
                                           steps=[(33, True, False), (33, True, False), (33, False, False, (320, 240)),
                                                  (33, False, False), (33, False, False, (17, 9)),
                                                  (3000, False, False)]),
    "full_4096x4096": frame_input(4096, 4096, padding=4, fill=GRADIENT, face=True, scale=4.0, x=1000, y=600),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
