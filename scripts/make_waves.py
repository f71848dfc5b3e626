#!/usr/bin/env python3
"""Writes the single-cycle waves of the 1980sDigiWave collection as raw unsigned 8-bit samples.

Every wave is computed here from a formula (sums of harmonics, pulses, windowed sines, phase
distortion); nothing is sampled or copied. The output is one file of WAVE_COUNT waves of
WAVE_LEN bytes each, wave k at byte offset k * WAVE_LEN, in the form the wavetable oscillator
reads: byte 127 is zero, 255 is +1.0, 0 is -0.99. The waves come in four sets of eight, each set
a sequence that a patch steps through from mellow to bright:

  0..7    Organ     drawbar-like additive waves gaining ever higher harmonics
  8..15   Pulse     rectangular waves narrowing from 50 % to 6 % duty
  16..23  Formant   a sine burst inside each cycle, its pitch climbing like a vowel's formant
  24..31  Metal     phase-distorted sines with growing inharmonic bite

Run from the checkout: python3 scripts/make_waves.py (writes installation/patch/1980sDigiWave/
waves/DigiWaves.raw and prints the table of contents the patches use).
"""
import math
import os

WAVE_LEN = 256
WAVE_COUNT = 32
OUT = os.path.join(os.path.dirname(__file__), "..", "installation", "patch", "1980sDigiWave", "waves",
                   "DigiWaves.raw")


def additive(amps, phases=None):
    """One cycle of sum(amps[h-1] * sin(2 pi h x))."""
    out = []
    for j in range(WAVE_LEN):
        x = j / WAVE_LEN
        v = 0.0
        for h, a in enumerate(amps, start=1):
            p = phases[h - 1] if phases else 0.0
            v += a * math.sin(2 * math.pi * (h * x + p))
        out.append(v)
    return out


def organ(step):
    # Drawbar levels for harmonics 1, 2, 3, 4, 6, 8, 10, 12, 16; each step pulls one more bar out.
    bars = [(1, 1.0), (2, 0.8), (3, 0.6), (4, 0.55), (6, 0.45), (8, 0.4), (10, 0.3), (12, 0.3), (16, 0.25)]
    amps = [0.0] * 16
    for i, (h, a) in enumerate(bars):
        if i <= step + 1:
            amps[h - 1] = a
    return additive(amps)


def pulse(step):
    # Band-limited to 24 harmonics so the table itself stays clean at 256 points.
    duty = 0.5 - step * 0.0625
    amps, phases = [], []
    for h in range(1, 25):
        amps.append(2 / (h * math.pi) * math.sin(math.pi * h * duty))
        phases.append(0.25)  # cosine series: a pulse centred on the cycle's start
    return additive(amps, phases)


def formant(step):
    # A decaying sine at ratio r of the fundamental, restarted every cycle: a resonance whose
    # frequency climbs with the step, the way a vowel's formant sits above the note.
    r = 1.5 + step * 1.1
    out = []
    for j in range(WAVE_LEN):
        x = j / WAVE_LEN
        env = math.exp(-3.5 * x) * (1 - x)
        out.append(env * math.sin(2 * math.pi * r * x))
    return out


def metal(step):
    # Phase distortion: the phase of a sine is bent by a sine of a higher, non-integer-looking
    # multiple (kept periodic by using whole multiples), deeper with each step.
    depth = 0.15 + step * 0.22
    ratio = 3 + (step % 3) * 2
    out = []
    for j in range(WAVE_LEN):
        x = j / WAVE_LEN
        out.append(math.sin(2 * math.pi * x + depth * math.sin(2 * math.pi * ratio * x) * 2))
    return out


def to_bytes(wave):
    """Removes the mean, normalises to full scale and quantises to unsigned 8-bit around 127."""
    mean = sum(wave) / len(wave)
    wave = [v - mean for v in wave]
    peak = max(abs(v) for v in wave) or 1.0
    return bytes(max(0, min(255, 127 + round(v / peak * 127))) for v in wave)


def main():
    waves = [organ(s) for s in range(8)] + [pulse(s) for s in range(8)] + \
            [formant(s) for s in range(8)] + [metal(s) for s in range(8)]
    assert len(waves) == WAVE_COUNT
    data = b"".join(to_bytes(w) for w in waves)
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "wb") as f:
        f.write(data)
    names = ["Organ", "Pulse", "Formant", "Metal"]
    for k in range(WAVE_COUNT):
        print(f"wave {k:2d}  {names[k // 8]:8s} step {k % 8}  SampleLoc1 = {k * WAVE_LEN}")
    print(f"wrote {len(data)} bytes to {os.path.normpath(OUT)}")


if __name__ == "__main__":
    main()
