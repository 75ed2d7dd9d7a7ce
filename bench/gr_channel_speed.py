#!/usr/bin/python3
"""CPU time of GNU Radio cutting the speed table's channel, beside sigkit_bench_chains'
BM_ChannelChain/2M4_10k_to_12k: a 10 kHz band 200 kHz off the centre of a 2.4 MHz I/Q recording,
to 12 kHz, through the chain the quality table's gr_peer.py runs for it
(freq_xlating_fir_filter_ccc with firdes.low_pass_2 at 100 dB, then rational_resampler_ccc).

  gr_channel_speed.py [SECONDS]     (default 10 s of input)

One second of tones and noise is written to a temporary file and repeated by the file source;
the CPU time (user + system, every thread) of the flowgraph is printed with that of the same
source and sink alone, and the input frames per second of CPU time with and without it.
"""
import os
import sys
import tempfile
import time

import numpy as np
from gnuradio import blocks, fft, filter, gr
from gnuradio.filter import firdes

RATE = 2400000.0
FREQ = 200000.0
BAND = 10000.0
FOUT = 12000


def timed(path, frames, chain):
    tb = gr.top_block()
    src = blocks.file_source(gr.sizeof_gr_complex, path, True)
    head = blocks.head(gr.sizeof_gr_complex, frames)
    sink = blocks.null_sink(gr.sizeof_gr_complex)
    tb.connect(src, head, *chain, sink)
    t0, w0 = os.times(), time.time()
    tb.run()
    t1, w1 = os.times(), time.time()
    return (t1.user - t0.user) + (t1.system - t0.system), w1 - w0


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 10.0
    frames = int(RATE * seconds)
    with tempfile.TemporaryDirectory(prefix="gr_channel_speed_") as folder:
        path = os.path.join(folder, "iq.c64")
        t = np.arange(int(RATE)) / RATE
        noise = np.random.default_rng(1).standard_normal((2, t.size))
        x = (0.3 * np.exp(2j * np.pi * (FREQ + 1000) * t) +
             0.2 * np.exp(2j * np.pi * (FREQ + 10000) * t) + 1e-3 * (noise[0] + 1j * noise[1]))
        x.astype(np.complex64).tofile(path)
        # As gr_peer.py's channel mode: k * fout divides the rate and holds twice the band.
        k = 1
        while int(RATE) % (k * FOUT) != 0 or k * FOUT < 2 * BAND:
            k += 1
        transition = BAND / 10.0
        taps = firdes.low_pass_2(1.0, RATE, BAND / 2.0 + transition / 2.0, transition, 100.0,
                                 fft.window.WIN_KAISER, 10.06)
        base_cpu, base_wall = timed(path, frames, [])
        cpu, wall = timed(path, frames, [
            filter.freq_xlating_fir_filter_ccc(int(RATE) // (k * FOUT), taps, FREQ, RATE),
            filter.rational_resampler_ccc(1, k)])
    print(f"GNU Radio: {len(taps)} taps, decimation {int(RATE) // (k * FOUT)} then 1/{k}; "
          f"{seconds:g} s of 2.4 MHz I/Q")
    print(f"  source and sink alone: cpu {base_cpu:.2f} s, wall {base_wall:.2f} s")
    print(f"  with the channel:      cpu {cpu:.2f} s, wall {wall:.2f} s: "
          f"{frames / cpu / 1e6:.1f} M frames/s of CPU, "
          f"{frames / (cpu - base_cpu) / 1e6:.1f} M without the source and sink")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
