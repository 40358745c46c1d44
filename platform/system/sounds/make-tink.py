#!/usr/bin/env python3
"""Writes tink.wav: the copy sound played where the desktop's sound theme has
none, a short bright tick (three decaying partials, 120 ms, 44.1 kHz, mono,
16-bit). Run it from this folder to make the file again."""
import math
import struct
import wave

RATE = 44100
LENGTH = 0.12
PARTIALS = [(2793.0, 0.55), (4186.0, 0.30), (6272.0, 0.15)]  # F7, C8 and a G8 shimmer

frames = bytearray()
for n in range(int(RATE * LENGTH)):
    t = n / RATE
    attack = min(1.0, t / 0.002)
    decay = math.exp(-t / 0.025)
    sample = sum(a * math.sin(2 * math.pi * f * t) for f, a in PARTIALS)
    frames += struct.pack("<h", int(round(0.45 * 32767 * attack * decay * sample)))

with wave.open("tink.wav", "wb") as out:
    out.setnchannels(1)
    out.setsampwidth(2)
    out.setframerate(RATE)
    out.writeframes(bytes(frames))
