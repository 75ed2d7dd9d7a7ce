"""What the Python package costs over the C API: the same 10-million-sample complex array through
the same kind, block by block, from C (sigkit_api_driver) and from Python (the streaming class,
and the whole-array function).

    /usr/bin/python3 bench/python_overhead.py [BUILD_FOLDER] [KIND ...]

Prints the fastest of five runs of each, in seconds, and the overhead in per cent: Python
streaming into one output array (as the C driver does), streaming into a fresh array per block,
and the whole-array call.
"""

import os
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
kinds = sys.argv[2:] or ["convert", "resample", "invert"]
os.environ.setdefault("SIGKIT_LIBRARY", os.path.join(build, "lib", "libsigkit.so.1"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))

import numpy as np  # noqa: E402

import sigkit  # noqa: E402

FRAMES = 10_000_000
BLOCK = 65536
REPEATS = 5
# kind: (rate, frequency, band or output rate, quality)
SETTINGS = {
    "convert": (2_400_000, 100_000, 200_000, 0),
    "resample": (2_400_000, 100_000, 48_000, 0),
    "invert": (2_400_000, 0, 0, 0),
}


def python_stream(kind, x):
    rate, frequency, third, quality = SETTINGS[kind]
    fields = {"frequency": frequency}
    if kind == "convert":
        fields["band"] = third
    elif kind == "resample":
        fields["output_rate"] = third
    else:
        fields = {}
    p = sigkit.Processor(kind, rate, True, quality=["low", "medium", "high", "best"][quality],
                         **fields)
    # Into one output array, as the C driver writes.
    out = np.empty(p.max_output(FRAMES) + p.max_output(BLOCK) + p.max_output(0), np.complex64)
    best = float("inf")
    for _ in range(REPEATS):
        p.reset()
        start = time.perf_counter()
        made = 0
        for at in range(0, FRAMES, BLOCK):
            made += len(p.process(x[at:at + BLOCK], out[made:]))
        p.flush(out[made:])
        best = min(best, time.perf_counter() - start)
    # A fresh array per block.
    fresh = float("inf")
    for _ in range(REPEATS):
        p.reset()
        start = time.perf_counter()
        for at in range(0, FRAMES, BLOCK):
            p.process(x[at:at + BLOCK])
        p.flush()
        fresh = min(fresh, time.perf_counter() - start)
    whole = float("inf")
    for _ in range(REPEATS):
        p.reset()
        start = time.perf_counter()
        p(x)
        whole = min(whole, time.perf_counter() - start)
    return best, fresh, whole


def main():
    rng = np.random.default_rng(1)
    x = (rng.uniform(-1, 1, FRAMES) + 1j * rng.uniform(-1, 1, FRAMES)).astype(np.complex64)
    driver = os.path.join(build, "bench", "sigkit_api_driver")
    with tempfile.TemporaryDirectory() as folder:
        raw = os.path.join(folder, "in.f32")
        x.view(np.float32).tofile(raw)
        print(f"{FRAMES} complex samples, blocks of {BLOCK}, fastest of {REPEATS} runs")
        print(f"{'kind':10} {'C API':>8} {'Python':>8} {'over C':>7} {'fresh':>8} {'over C':>7} "
              f"{'whole':>8} {'over C':>7}")
        for kind in kinds:
            rate, frequency, third, quality = SETTINGS[kind]
            c = float(subprocess.run(
                [driver, kind, str(rate), "1", str(frequency), str(third), str(quality),
                 str(BLOCK), raw, "-", str(REPEATS)],
                check=True, capture_output=True, text=True).stdout)
            stream, fresh, whole = python_stream(kind, x)
            print(f"{kind:10} {c:8.3f} {stream:8.3f} {100 * (stream / c - 1):6.1f}% "
                  f"{fresh:8.3f} {100 * (fresh / c - 1):6.1f}% {whole:8.3f} {100 * (whole / c - 1):6.1f}%")


main()
