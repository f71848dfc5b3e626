#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora into fuzz/corpus/<target>/ from the repository's own files.

    fuzz/make_corpus.py [--vantrel PATH]

The patches, packages and settings files of tests/data and installation/ seed the text readers
and the patch targets; their formula lines seed the formula target; small Standard MIDI Files
and MIDI byte streams written here seed the MIDI target. With --vantrel (a built vantrel
command) every text configuration is also converted into XML for the XML reader's corpus.
Running it again replaces the generated files; files added by hand under other names stay.
"""
import argparse
import hashlib
import os
import pathlib
import random
import struct
import subprocess

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
MAX_FILE = 16 * 1024  # seeds stay small: libFuzzer's default -max_len follows the largest


def text_configs():
    """Every patch, package and settings file kept in the repository, smallest first."""
    globs = ["tests/data/**/*.vantrel", "tests/data/**/*.vanpack", "installation/**/*.vantrel",
             "fuzz/packages/*.vanpack"]
    files = sorted({p for g in globs for p in ROOT.glob(g)})
    return [p for p in files if p.stat().st_size <= MAX_FILE]


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    (folder / name).write_bytes(data)


def seed_name(prefix, data):
    if isinstance(data, str):
        data = data.encode()
    return "%s-%s" % (prefix, hashlib.sha1(data).hexdigest()[:12])


def formula_lines(text):
    """The right-hand sides of a configuration's variable lines."""
    for line in text.splitlines():
        line = line.strip()
        if not line or line[0] in ";#[" or "=" not in line:
            continue
        name, value = line.split("=", 1)
        if name.strip() in ("ModuleType", "Per", "File"):
            continue
        yield value.strip()


# --- MIDI -------------------------------------------------------------------------------------

def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def track(events):
    """events: (delta ticks, bytes) pairs; the end-of-track marker is appended."""
    body = b"".join(vlq(d) + e for d, e in events) + vlq(0) + b"\xFF\x2F\x00"
    return b"MTrk" + struct.pack(">I", len(body)) + body


def smf(fmt, tracks, division=96):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division) + b"".join(tracks)


def midi_files():
    """A few short, well-formed files in the shapes real sequencers write."""
    tempo = b"\xFF\x51\x03\x07\xA1\x20"  # 500000 us per quarter
    scale = []
    for i, key in enumerate([60, 62, 64, 65, 67]):
        scale += [(0, bytes([0x90, key, 100])), (48, bytes([0x80, key, 64]))]
    yield "scale", smf(0, [track([(0, tempo)] + scale)])
    # Running status, a note-on with velocity 0 as note-off, a controller and pitch bend.
    running = [(0, b"\x90\x3C\x50"), (24, b"\x40\x50"), (24, b"\x3C\x00"), (0, b"\x40\x00"),
               (0, b"\xB0\x01\x40"), (12, b"\xE0\x00\x50"), (12, b"\xE0\x00\x40")]
    yield "running-status", smf(0, [track(running)])
    # Format 1: a tempo track and two parts on different channels, with a tempo change.
    meta = track([(0, tempo), (0, b"\xFF\x58\x04\x04\x02\x18\x08"), (192, b"\xFF\x51\x03\x0F\x42\x40")])
    part1 = track([(0, b"\xC0\x05"), (0, b"\x90\x30\x60"), (384, b"\x80\x30\x40")])
    part2 = track([(96, b"\x91\x43\x70"), (0, b"\xA1\x43\x20"), (96, b"\xD1\x30"), (96, b"\x81\x43\x00")])
    yield "format1", smf(1, [meta, part1, part2])
    # A chord held with the sustain pedal, then all notes off.
    chord = [(0, b"\xB0\x40\x7F")] + [(0, bytes([0x90, k, 90])) for k in (48, 52, 55, 60)]
    chord += [(96, bytes([0x80, k, 0])) for k in (48, 52, 55, 60)] + [(96, b"\xB0\x40\x00"), (0, b"\xB0\x7B\x00")]
    yield "pedal-chord", smf(0, [track(chord)])
    # A system-exclusive event, a text event and SMPTE time division.
    sysex = [(0, b"\xF0\x05\x7E\x7F\x09\x01\xF7"), (0, b"\xFF\x01\x04text"), (10, b"\x90\x45\x40"),
             (10, b"\x80\x45\x40")]
    yield "sysex-smpte", smf(0, [track(sysex)], division=0xE728)


def midi_streams():
    """Byte streams as a MIDI port delivers them. The first byte chooses the dump buffer (low
    nibble) and how the stream is cut into deliveries (high nibble), as the target reads it."""
    yield "notes", b"\x00" + b"\x90\x3C\x64\x90\x40\x64\x80\x3C\x40\x80\x40\x00"
    yield "running-status", b"\x30" + b"\x90\x3C\x64\x40\x64\x3C\x00\x40\x00"
    yield "controllers", b"\x00" + b"\xB0\x01\x40\xB0\x21\x10\xB0\x07\x7F\xB0\x79\x00\xB0\x78\x00\xB0\x7B\x00"
    yield "rpn-pitchbend", b"\x00" + b"\xB0\x65\x00\xB0\x64\x00\xB0\x06\x0C\xE0\x00\x00\xE0\x7F\x7F\xE0\x00\x40"
    yield "pressure-program", b"\x00" + b"\xA0\x3C\x30\xD0\x40\xC0\x05"
    yield "realtime-inside", b"\x20" + b"\x90\xF8\x3C\xFE\x64\xF8"
    yield "sysex", b"\x0F" + b"\xF0\x7E\x7F\x09\x01\xF7\x90\x3C\x10"
    yield "sysex-split", b"\x1F" + b"\xF0\x43\x10\x4C\x00\x00\x7E\x00\xF7"
    yield "sysex-overrun", b"\x01" + b"\xF0" + bytes(range(0x20)) + b"\xF7"
    yield "system-common", b"\x00" + b"\xF1\x10\xF2\x00\x10\xF3\x01\xF6\xFA\xFC\xFF"
    yield "velocity-prefix", b"\x00" + b"\xB0\x58\x40\x90\x3C\x64"
    rnd = random.Random(14)
    for i in range(4):
        msgs = b""
        for _ in range(24):
            status = rnd.choice([0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0]) | rnd.randrange(16)
            n = 1 if status >> 4 in (0xC, 0xD) else 2
            msgs += bytes([status] + [rnd.randrange(128) for _ in range(n)])
        yield "random%d" % i, bytes([rnd.randrange(256)]) + msgs


# --- the corpora ------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--vantrel", help="a built vantrel command, to write the XML corpus")
    args = parser.parse_args()

    configs = text_configs()
    formulas = set()
    for path in configs:
        data = path.read_bytes()
        stem = path.stem.replace(".", "_")
        write("conf_text", "%s-%s" % (path.parent.name, stem) + path.suffix, data)
        if path.suffix == ".vantrel" and "install" not in path.parts:
            write("patch", "%s-%s.vantrel" % (path.parent.name, stem), data)
        formulas.update(formula_lines(data.decode("utf-8", "replace")))
        if args.vantrel:
            xml = subprocess.run([args.vantrel, "conf", "--to-xml", str(path)], capture_output=True)
            if xml.returncode == 0 and xml.stdout:
                write("conf_xml", "%s-%s.xml" % (path.parent.name, stem), xml.stdout)
    for path in sorted(ROOT.glob("tests/data/conf/*.xml")):
        write("conf_xml", "conf-" + path.name, path.read_bytes())
    # Formulas that exercise what patches rarely write: strings, keywords, history, anonymous
    # modules, every unit family.
    formulas.update([
        '"text" + 1', 'IF( Osc1:Freq > 100, Lowpass, Highpass )', 'Osc1:Output@3 + Osc1@1',
        'Osc( 440 ) * 0.5', '-6 dB + 20 ms + 3 semis + 10 cents', 'C#4 + A4@3', 'Global:FreqA * 2 ^ (3 / 12)',
        '0 / 0', 'Max( 1, 2, 3 ) + Min( 4 ) + Abs( -1 )', 'RANDOM() * 2 - 1', 'true && !false || 1 < 2',
    ])
    for formula in sorted(formulas):
        write("formula", seed_name("f", formula), formula)
    for name, data in midi_files():
        write("midi", "file-%s.mid" % name, data)
    for name, data in midi_streams():
        write("midi", "stream-" + name, data)
    # The structure-aware generator reads its input as choices: a few spread seeds are enough.
    rnd = random.Random(3)
    for i in range(8):
        write("patch_gen", "choices%d" % i, bytes(rnd.randrange(256) for _ in range(64 + 64 * i)))


if __name__ == "__main__":
    main()
