#!/usr/bin/python3
"""scipy as a peer of the quality table: rate change and channel cut on float WAV files.

  scipy_peer.py check                                   exit 0 when scipy.signal imports
  scipy_peer.py rate IN OUT fout=HZ                     resample_poly with its default window
                                                        (Kaiser, beta 5), every channel
  scipy_peer.py channel IN OUT fout=HZ freq=HZ band=HZ  I/Q in and out: shift freq to 0 Hz, then
                                                        resample_poly with a firwin design taken
                                                        as its filter

The channel filter is stated as the channel kind states its default: pass the band, 100 dB of
stop-band beyond the band edge plus a transition of a tenth of the band; kaiserord gives the taps
and the Kaiser shape, firwin cuts in the middle of the transition.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def options(args):
    return {k: float(v) for k, v in (a.split("=", 1) for a in args)}


def main(argv):
    if len(argv) >= 2 and argv[1] == "check":
        import scipy.signal  # noqa: F401
        return 0
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    import numpy as np
    from scipy import signal
    import wavio

    mode, inp, out = argv[1], argv[2], argv[3]
    opt = options(argv[4:])
    rate, frames = wavio.read(inp)
    fout = int(round(opt["fout"]))
    g = math.gcd(int(rate), fout)
    up, down = fout // g, int(rate) // g
    if mode == "rate":
        y = signal.resample_poly(frames.astype(np.float64), up, down, axis=0)
        wavio.write(out, fout, y)
        return 0
    if mode == "channel":
        x = wavio.as_complex(frames)
        n = np.arange(len(x), dtype=np.float64)
        turns = np.mod(opt["freq"] * n / rate, 1.0)
        x = x * np.exp(-2j * np.pi * turns)
        band = opt["band"]
        transition = 0.1 * band
        numtaps, beta = signal.kaiserord(100.0, transition / (rate * up / 2.0))
        numtaps |= 1
        taps = signal.firwin(numtaps, band / 2.0 + transition / 2.0, window=("kaiser", beta),
                             fs=rate * up)
        y = signal.resample_poly(x, up, down, window=taps)
        wavio.write(out, fout, wavio.from_complex(y))
        return 0
    print("unknown mode " + mode, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
