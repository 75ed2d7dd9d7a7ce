#!/usr/bin/python3
"""GNU Radio 3.10 as a peer of the quality table: flowgraphs of its blocks on float WAV files.

  gr_peer.py check                        exit 0 when the GNU Radio modules import
  gr_peer.py MODE IN OUT fout=HZ freq=HZ band=HZ deviation=HZ deemphasis=S

MODE and the chain it runs (parameters not named are the blocks' defaults):
  rational  rational_resampler_fff (or _ccc for I/Q) with its own taps (fractional_bw 0.4)
  pfb       pfb.arb_resampler_fff, its own taps design (atten 100 dB, 32 filters)
  channel   freq_xlating_fir_filter_ccc down to k * fout (the smallest such rate that divides the
            input rate and holds twice the band) with firdes.low_pass_2: cut-off at band / 2 plus
            half a transition of band / 10, 100 dB, Kaiser window (beta 10.06 for 100 dB); then
            rational_resampler_ccc(1, k) with its own taps
  nbfm      freq_xlating_fir_filter_ccc (no decimation), firdes.low_pass cut-off band / 2,
            transition band / 10, Hamming; quadrature_demod_cf, gain rate / (2 pi deviation);
            fir_filter_fff decimating to fout with nbfm_rx's audio filter (low_pass 2.7 kHz,
            transition 0.5 kHz, Hamming); no de-emphasis
  wfm       freq_xlating_fir_filter_ccc down to 240 kHz (firdes.low_pass cut-off 100 kHz,
            transition 20 kHz, Hamming; left out when the input is already 240 kHz at 0 Hz),
            then wfm_rcv(240 kHz, 240 kHz / fout) (its de-emphasis is 75 us)
  am        freq_xlating_fir_filter_ccc down to fout (firdes.low_pass cut-off 5 kHz, transition
            1 kHz, Hamming), then am_demod_cf(fout, 1, 5000, 5500) (demod_10k0a3e_cf's filter)
  usb, lsb  freq_xlating_fir_filter_ccc down to fout with firdes.complex_band_pass over
            300..2700 Hz (usb) or -2700..-300 Hz (lsb), transition 200 Hz, Blackman-Harris;
            complex_to_real
  cw        freq_xlating_fir_filter_ccc down to fout, centred 700 Hz below the carrier, with
            firdes.complex_band_pass over 700 Hz +- band / 2, transition band / 10,
            Blackman-Harris; complex_to_real (the carrier sounds at 700 Hz)
"""
import math
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def options(args):
    return {k: float(v) for k, v in (a.split("=", 1) for a in args)}


def run_chain(blocks_in_order, x, complex_in, complex_out):
    """Runs x through the blocks from a file source to a file sink; returns the output array."""
    import numpy as np
    from gnuradio import blocks, gr

    folder = tempfile.mkdtemp(prefix="gr_peer_")
    src_path = os.path.join(folder, "in.raw")
    dst_path = os.path.join(folder, "out.raw")
    try:
        (x.astype(np.complex64) if complex_in else x.astype(np.float32)).tofile(src_path)
        size_in = gr.sizeof_gr_complex if complex_in else gr.sizeof_float
        size_out = gr.sizeof_gr_complex if complex_out else gr.sizeof_float
        tb = gr.top_block()
        src = blocks.file_source(size_in, src_path, False)
        dst = blocks.file_sink(size_out, dst_path, False)
        dst.set_unbuffered(False)
        tb.connect(src, *blocks_in_order, dst)
        tb.run()
        dst.close()
        return np.fromfile(dst_path, dtype=np.complex64 if complex_out else np.float32)
    finally:
        for p in (src_path, dst_path):
            if os.path.exists(p):
                os.remove(p)
        os.rmdir(folder)


def main(argv):
    if len(argv) >= 2 and argv[1] == "check":
        from gnuradio import analog, blocks, filter, gr  # noqa: F401
        return 0
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    import numpy as np
    from gnuradio import analog, blocks, fft, filter
    from gnuradio.filter import firdes, pfb
    import wavio

    mode, inp, out = argv[1], argv[2], argv[3]
    opt = options(argv[4:])
    rate, frames = wavio.read(inp)
    fout = int(round(opt["fout"]))
    freq = opt.get("freq", 0.0)
    band = opt.get("band", 0.0)

    if mode in ("rational", "pfb"):
        g = math.gcd(int(rate), fout)
        interp, decim = fout // g, int(rate) // g
        if mode == "rational" and frames.shape[1] == 2:
            y = run_chain([filter.rational_resampler_ccc(interp, decim)],
                          wavio.as_complex(frames), True, True)
            wavio.write(out, fout, wavio.from_complex(y))
            return 0
        channels = []
        for c in range(frames.shape[1]):
            block = (filter.rational_resampler_fff(interp, decim) if mode == "rational"
                     else pfb.arb_resampler_fff(fout / rate))
            channels.append(run_chain([block], frames[:, c], False, False))
        n = min(len(y) for y in channels)
        wavio.write(out, fout, np.stack([y[:n] for y in channels], axis=1))
        return 0

    x = wavio.as_complex(frames)
    if mode == "channel":
        k = 1
        while int(rate) % (k * fout) != 0 or k * fout < 2 * band:
            k += 1
            if k * fout > rate:
                raise ValueError("no intermediate rate for this channel")
        transition = band / 10.0
        taps = firdes.low_pass_2(1.0, rate, band / 2.0 + transition / 2.0, transition, 100.0,
                                 fft.window.WIN_KAISER, 10.06)
        chain = [filter.freq_xlating_fir_filter_ccc(int(rate) // (k * fout), taps, freq, rate)]
        if k > 1:
            chain.append(filter.rational_resampler_ccc(1, k))
        y = run_chain(chain, x, True, True)
        wavio.write(out, fout, wavio.from_complex(y))
        return 0
    if mode == "nbfm":
        taps = firdes.low_pass(1.0, rate, band / 2.0, band / 10.0)
        audio = firdes.low_pass(1.0, rate, 2.7e3, 0.5e3, fft.window.WIN_HAMMING)
        chain = [filter.freq_xlating_fir_filter_ccc(1, taps, freq, rate),
                 analog.quadrature_demod_cf(rate / (2 * math.pi * opt["deviation"])),
                 filter.fir_filter_fff(int(rate) // fout, audio)]
    elif mode == "wfm":
        quad = 240000
        chain = []
        if int(rate) != quad or freq != 0.0:
            taps = firdes.low_pass(1.0, rate, 100e3, 20e3)
            chain.append(filter.freq_xlating_fir_filter_ccc(int(rate) // quad, taps, freq, rate))
        chain.append(analog.wfm_rcv(quad, quad // fout))
    elif mode == "am":
        taps = firdes.low_pass(1.0, rate, 5e3, 1e3)
        chain = [filter.freq_xlating_fir_filter_ccc(int(rate) // fout, taps, freq, rate),
                 analog.am_demod_cf(fout, 1, 5000, 5500)]
    elif mode in ("usb", "lsb"):
        low, high = (300.0, 2700.0) if mode == "usb" else (-2700.0, -300.0)
        taps = firdes.complex_band_pass(1.0, rate, low, high, 200.0,
                                        fft.window.WIN_BLACKMAN_HARRIS)
        chain = [filter.freq_xlating_fir_filter_ccc(int(rate) // fout, taps, freq, rate),
                 blocks.complex_to_real()]
    elif mode == "cw":
        beat = 700.0
        taps = firdes.complex_band_pass(1.0, rate, beat - band / 2.0, beat + band / 2.0,
                                        band / 10.0, fft.window.WIN_BLACKMAN_HARRIS)
        chain = [filter.freq_xlating_fir_filter_ccc(int(rate) // fout, taps, freq - beat, rate),
                 blocks.complex_to_real()]
    else:
        print("unknown mode " + mode, file=sys.stderr)
        return 2
    y = run_chain(chain, x, True, False)
    wavio.write(out, fout, y)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
