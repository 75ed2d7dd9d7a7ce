#!/usr/bin/python3
"""GNU Radio 3.10's broadcast FM receiver on the recording of sigkit_bench_receiver's main case,
timed in CPU time: the peer of BM_Receiver/wfm_2M4_48k.

  gr_wfm_speed.py [--seconds S] [--rounds N] [--wav FILE]

The recording: 2.4 MHz I/Q, three FM stations of 75 kHz deviation and amplitude 0.25 at 250 kHz,
-350 kHz and 650 kHz (tones of 1 kHz, 400 Hz, 1.5 kHz) in complex Gaussian noise 20 dB below one
carrier in 200 kHz, S seconds (default 1) generated in memory, or read from a WAV file (I/Q,
float or 16-bit, centred so that the station is at 250 kHz). The chain, with GNU Radio's own
blocks and defaults (as gr_peer.py's wfm mode): freq_xlating_fir_filter_ccc decimating by 10 with
firdes.low_pass(1, 2.4 MHz, 100 kHz, 20 kHz) (Hamming), then wfm_rcv(240 kHz, 5) (75 us
de-emphasis), into a null sink; from a vector source, so reading a file is not timed.

Prints the CPU time of the whole process (all of GNU Radio's threads) over each round's
flowgraph run, the best of N rounds (default 5), as input frames per CPU second and as the
recording's length over the CPU time.
"""
import argparse
import math
import os
import sys
import time

import numpy as np


def recording(seconds, rate=2.4e6):
    n = int(round(seconds * rate))
    t = np.arange(n) / rate
    x = np.zeros(n, dtype=np.complex128)
    for offset, tone in ((0.0, 1000.0), (-600e3, 400.0), (400e3, 1500.0)):
        f = 250e3 + offset
        x += 0.25 * np.exp(1j * (2 * math.pi * f * t + 75e3 / tone * np.sin(2 * math.pi * tone * t)))
    sigma = math.sqrt(0.25 ** 2 / 100.0 * rate / 200e3 / 2.0)
    rng = np.random.default_rng(1)
    x += sigma * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    return x.astype(np.complex64)


def read_wav(path):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "quality", "peers"))
    import wavio
    rate, frames = wavio.read(path)
    return wavio.as_complex(frames).astype(np.complex64), rate


def run_once(x, rate):
    from gnuradio import analog, blocks, filter, gr
    from gnuradio.filter import firdes
    tb = gr.top_block()
    src = blocks.vector_source_c(x, False)
    taps = firdes.low_pass(1.0, rate, 100e3, 20e3)
    xlate = filter.freq_xlating_fir_filter_ccc(int(rate) // 240000, taps, 250e3, rate)
    rcv = analog.wfm_rcv(240000, 5)
    sink = blocks.null_sink(gr.sizeof_float)
    tb.connect(src, xlate, rcv, sink)
    start = time.process_time()
    wall = time.perf_counter()
    tb.run()
    return time.process_time() - start, time.perf_counter() - wall


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--wav")
    args = parser.parse_args()
    if args.wav:
        x, rate = read_wav(args.wav)
    else:
        rate = 2.4e6
        x = recording(args.seconds, rate)
    seconds = len(x) / rate
    best = None
    for _ in range(args.rounds):
        cpu, wall = run_once(x, rate)
        if best is None or cpu < best[0]:
            best = (cpu, wall)
    cpu, wall = best
    print("GR wfm_rcv 2.4M->48k: %.3f s of recording, best of %d: CPU %.1f ms (wall %.1f ms), "
          "%.2f M input frames per CPU second, %.1f x realtime"
          % (seconds, args.rounds, 1e3 * cpu, 1e3 * wall, len(x) / cpu / 1e6, seconds / cpu))
    return 0


if __name__ == "__main__":
    sys.exit(main())
