"""Captures what every patch of three sets sounds like, in doubles, through `vantrel regress`:
shared by scripts/render-diff (two binaries compared) and scripts/render-reference (the stored
reference of the renderer's differential test).

The sets, each played in an installation folder of its own:
  shipped  the installation's patches (installation/patch)
  tests    the annotated test patches (tests/data/patches, in patch/data/ of the test installation
           tests/data/install, whose sub-patches and packages they use)
  fuzz     the generated patches of tests/data/render_reference/fuzz (fuzz/patchgen_write.cpp)
The regression runner installs each patch on channel 1, plays note 60 at velocity 0.5 for
--frames frames and writes the first voice's output of every frame, as doubles, to
regressions/NAME.exemplar; that is the capture. Only the standard library is used.
"""
import array
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE_DIR = os.path.join(ROOT, "tests", "data", "render_reference")
SETS = ("shipped", "tests", "fuzz")
DEFAULT_FRAMES = 1024
# The stored reference keeps one sample and the sum of each block of this many frames.
BLOCK = 16


def make_install(name, dest):
    """Lays out the installation folder of one set in dest (which must not exist)."""
    if name == "shipped":
        shutil.copytree(os.path.join(ROOT, "installation"), dest,
                        ignore=shutil.ignore_patterns("regressions"))
    elif name == "tests":
        shutil.copytree(os.path.join(ROOT, "tests", "data", "install"), dest)
        data = os.path.join(dest, "patch", "data")
        os.makedirs(data, exist_ok=True)
        source = os.path.join(ROOT, "tests", "data", "patches")
        for file in sorted(os.listdir(source)):
            if file.endswith(".vantrel"):
                shutil.copy(os.path.join(source, file), data)
    else:
        shutil.copytree(os.path.join(REFERENCE_DIR, "fuzz"), dest)
    os.makedirs(os.path.join(dest, "regressions"), exist_ok=True)


def read_doubles(path):
    values = array.array("d")
    with open(path, "rb") as file:
        data = file.read()
    values.frombytes(data[:len(data) // 8 * 8])
    if sys.byteorder != "little":
        values.byteswap()
    return values


def capture(vantrel, name, work, frames):
    """Plays one set with the binary; answers {patch name: array of doubles} of the patches that
    compiled (a patch whose voice never sounds has an empty capture)."""
    dest = os.path.join(work, name)
    shutil.rmtree(dest, ignore_errors=True)
    make_install(name, dest)
    env = dict(os.environ, HOME=work, XDG_DATA_HOME=os.path.join(work, "xdg"))
    env.pop("KSStatus", None)
    run = subprocess.run([vantrel, "regress", "--install", dest, "--frames", str(frames)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
    regressions = os.path.join(dest, "regressions")
    if not os.path.exists(os.path.join(regressions, "results.txt")):
        sys.exit("%s regress failed on the %s set:\n%s%s" % (vantrel, name, run.stdout, run.stderr))
    captures = {}
    for folder, _, files in os.walk(regressions):
        for file in files:
            if file.endswith(".exemplar"):
                path = os.path.join(folder, file)
                key = os.path.relpath(path, regressions)[:-len(".exemplar")] + ".vantrel"
                captures[key] = read_doubles(path)
    return captures


def largest_difference(a, b):
    """0 when bit-identical (NaN matching NaN), else the largest absolute difference; a length
    mismatch or NaN against a number counts as infinite."""
    if len(a) != len(b):
        return float("inf")
    worst = 0.0
    for x, y in zip(a, b):
        if x == y or (x != x and y != y):
            continue
        d = abs(x - y)
        if not d <= worst:
            worst = d if d == d else float("inf")
    return worst


def reduce(values):
    """The stored form of a capture: per block of BLOCK frames, its first sample and its sum."""
    rows = []
    for i in range(0, len(values), BLOCK):
        total = 0.0
        for value in values[i:i + BLOCK]:  # in order, as the test adds them (no compensated sum)
            total += value
        rows.append((values[i], total))
    return rows
