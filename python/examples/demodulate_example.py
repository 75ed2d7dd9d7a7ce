"""Demodulate the bundled example recording's two stations with the sigkit package.

    python3 demodulate_example.py [RECORDING.wav] [OUTPUT_FOLDER]

The recording (made by the build as build/examples/example_iq.wav) is 16-bit I/Q at 48 kHz with
an AM station 10 kHz above the centre (a 1 kHz tone) and an FM station 12 kHz below it (a 700 Hz
tone). The cells below can be run one by one in an editor that knows "# %%".
"""

# %% Read the recording: complex64 samples at full scale 1.0, and what the file says.
import os
import sys

import numpy as np

import sigkit

here = os.path.dirname(os.path.abspath(__file__))
recording = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    here, "..", "..", "build", "examples", "example_iq.wav")
folder = sys.argv[2] if len(sys.argv) > 2 else os.path.dirname(os.path.abspath(recording))

iq, info = sigkit.read(recording)
print(f"{recording}: {info.frames} frames at {info.rate:g} Hz, {info.encoding}, "
      f"{'I/Q' if info.complex else 'real'}, {info.duration:.2f} s")

# %% Where the stations are: the strongest bins of the averaged spectrum.
spectrum = np.abs(np.fft.fftshift(np.fft.fft(iq[: 1 << 16]))) ** 2
freqs = np.fft.fftshift(np.fft.fftfreq(1 << 16, 1 / info.rate))
peaks = freqs[np.argsort(spectrum)[-3:]]
print("strongest frequencies (Hz):", sorted(int(f) for f in peaks))

# %% AM: the carrier at +10 kHz to 0 Hz, envelope, 12 kHz audio (the level is the modulation
# depth, so a gain of 1 keeps it below full scale).
am = sigkit.am_classic(iq, info.rate, frequency=10e3, output_rate=12e3, gain=1.0)
path = os.path.join(folder, "example_iq_am.wav")
clipped = sigkit.write(path, am, 12e3, encoding="s16")
print(f"wrote {path}: {len(am)} samples, {clipped} clipped")

# %% FM: keep 8 kHz around -12 kHz first (the demodulator has no channel filter of its own),
# then the phase step per sample; 3 kHz deviation at 48 kHz is a step of about 0.39, so a gain
# of 2 gives about 0.8 of full scale.
channel = sigkit.convert(iq, info.rate, frequency=-12e3, band=8e3)
fm = sigkit.fm_classic(channel, info.rate, frequency=0, output_rate=12e3, gain=2.0)
path = os.path.join(folder, "example_iq_fm.wav")
clipped = sigkit.write(path, fm, 12e3, encoding="s16")
print(f"wrote {path}: {len(fm)} samples, {clipped} clipped")

# %% The same AM station as a stream, block by block, as for a file too large for memory.
stream = sigkit.AMClassic(info.rate, frequency=10e3, output_rate=12e3)
pieces = [stream.process(block) for block in sigkit.blocks(recording, 8192)]
pieces.append(stream.flush())
assert np.array_equal(np.concatenate(pieces), am)
print(f"streamed AM equals the whole-array result (delay {stream.latency:.1f} output samples)")
