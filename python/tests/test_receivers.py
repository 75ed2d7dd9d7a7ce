"""The rate, channel and receiver kinds through the package: streams equal whole arrays bit for
bit, tones at their level and frequency, exact lengths, the same bits as sigrun, and refusals."""

import os
import subprocess

import numpy as np
import pytest

import sigkit

RATE = 48000
TOP = 10 ** (-1 / 20)  # -1 dBFS


def tone_level(x, hertz, rate):
    """Amplitude of a tone in the middle half of x (Hann windowed)."""
    n = len(x)
    part = np.asarray(x[n // 4: n // 4 + n // 2], dtype=np.float64)
    k = np.arange(len(part)) + n // 4
    w = np.hanning(len(part))
    s = np.sum(w * part * np.exp(-2j * np.pi * hertz * k / rate))
    return (1 if np.iscomplexobj(part) else 2) * abs(s) / np.sum(w)


def stations(seconds=1.0):
    """AM (50 %, 1 kHz) at +8 kHz; narrow FM (1 kHz at 2.5 kHz deviation) at -12 kHz; a bare
    carrier at -3 kHz."""
    t = np.arange(int(RATE * seconds)) / RATE
    am = 0.2 * (1 + 0.5 * np.cos(2 * np.pi * 1000 * t)) * np.exp(2j * np.pi * 8000 * t)
    fm = 0.3 * np.exp(1j * (2 * np.pi * -12000 * t + 2.5 * np.sin(2 * np.pi * 1000 * t)))
    carrier = 0.1 * np.exp(2j * np.pi * -3000 * t)
    return (0.5 * (am + fm + carrier)).astype(np.complex64)


STREAMS = [
    ("am", lambda: sigkit.AM(RATE, 8000, 12000), True),
    ("fm", lambda: sigkit.FM(RATE, -12000), True),
    ("usb", lambda: sigkit.USB(RATE, -4000, 16000), True),
    ("lsb", lambda: sigkit.LSB(RATE, -2000, 16000, agc=False), True),
    ("cw", lambda: sigkit.CW(RATE, -3000, 8000, cw_pitch=600), True),
    ("channel", lambda: sigkit.Channel(RATE, 8000, 10000), True),
    ("rate", lambda: sigkit.Rate(RATE, 44100, complex_input=True, quality="best"), True),
    ("rate-real", lambda: sigkit.Rate(RATE, 16000, complex_input=False, channels=2), False),
]


@pytest.mark.parametrize("name,make,complex_", STREAMS, ids=[s[0] for s in STREAMS])
def test_streams_equal_whole_arrays_and_have_the_exact_length(name, make, complex_):
    x = stations()
    if not complex_:
        x = np.stack([x.real, x.imag], axis=1).astype(np.float32)
    whole = make()(x)
    stream = make()
    rng = np.random.default_rng(7)
    parts, at = [], 0
    while at < len(x):
        step = int(rng.integers(1, 5000))
        parts.append(stream.process(x[at: at + step]))
        at += step
    parts.append(stream.flush())
    assert np.array_equal(np.concatenate(parts), whole)
    assert stream.latency == 0.0
    assert len(whole) == round(len(x) * stream.output_rate / RATE)
    assert np.all(np.isfinite(whole))


@pytest.mark.parametrize("call,out_rate,hertz,level", [
    (lambda x: sigkit.am(x, RATE, 8000, 12000), 12000, 1000, 0.5 * TOP),
    (lambda x: sigkit.fm(x, RATE, -12000), 48000, 1000, 0.5 * TOP),
    (lambda x: sigkit.usb(x, RATE, -4000), 48000, 1000, None),
    (lambda x: sigkit.lsb(x, RATE, -2000), 48000, 1000, None),
    (lambda x: sigkit.cw(x, RATE, -3000), 48000, 700, None),
], ids=["am", "fm", "usb", "lsb", "cw"])
def test_receivers_give_their_tone(call, out_rate, hertz, level):
    audio = call(stations())
    assert audio.dtype == np.float32 and audio.ndim == 1
    got = tone_level(audio, hertz, out_rate)
    if level is not None:
        assert 20 * np.log10(got / level) == pytest.approx(0, abs=1.0)
    else:
        assert got > 0.3
    assert tone_level(audio, hertz * 1.5, out_rate) < 0.01 * got


def test_side_band_rejects_the_other_side():
    x = stations()
    wanted = tone_level(sigkit.lsb(x, RATE, -2000, agc=False), 1000, RATE)
    other = tone_level(sigkit.usb(x, RATE, -2000, agc=False), 1000, RATE)
    assert other < 10 ** (-50 / 20) * wanted


def test_channel_and_rate_shapes():
    x = stations()
    ch = sigkit.Channel(RATE, 8000, 10000)
    assert ch.output_complex and 10000 <= ch.output_rate < RATE
    out = sigkit.channel(x, RATE, 8000, 10000)
    assert out.dtype == np.complex64
    assert len(out) == round(len(x) * ch.output_rate / RATE)
    real = np.stack([x.real, x.imag, x.real], axis=1).astype(np.float32)
    r = sigkit.rate(real, RATE, 8000)
    assert r.dtype == np.float32 and r.shape == (len(x) // 6, 3)
    # Aligned: the carrier's phase at output time k / 8000 is the input's at the same time.
    t = np.arange(len(x)) / RATE
    slow = (0.4 * np.cos(2 * np.pi * 500 * t)).astype(np.float32)
    y = sigkit.rate(slow, RATE, 8000, quality="best")
    k = np.arange(len(y))
    expected = 0.4 * np.cos(2 * np.pi * 500 * k / 8000)
    mid = slice(len(y) // 4, 3 * len(y) // 4)
    assert np.max(np.abs(y[mid] - expected[mid])) < 1e-4


def test_receivers_refuse_what_they_cannot_do():
    with pytest.raises(ValueError):
        sigkit.AM(RATE, 0).process(np.zeros(10, dtype=np.float32))  # real samples
    with pytest.raises(sigkit.SigkitError) as caught:
        sigkit.FM(RATE, 25000)
    assert caught.value.status == -14
    with pytest.raises(sigkit.SigkitError):
        sigkit.Channel(RATE, 0, 0)
    with pytest.raises(TypeError):
        sigkit.AM(RATE, 0, squelch=True)
    quiet = sigkit.am(np.zeros(RATE, dtype=np.complex64), RATE, 1000)
    assert np.all(np.isfinite(quiet)) and np.max(np.abs(quiet)) < 1e-3


def sigrun_path():
    library = os.environ.get("SIGKIT_LIBRARY", "")
    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(library))), "bin",
                        "sigrun")
    return path if library and os.access(path, os.X_OK) else None


@pytest.mark.parametrize("mode,args", [
    ("am", ["-f", "8k", "-r", "12k"]),
    ("rate", ["-r", "11025"]),
])
def test_sigrun_gives_the_same_bits(tmp_path, mode, args):
    program = sigrun_path()
    if program is None:
        pytest.skip("sigrun is not built beside the library")
    x = stations(0.5)
    path = tmp_path / "in.wav"
    sigkit.write(path, x, RATE, encoding="s16")
    run = subprocess.run([program, "-Q", "-m", mode, *args, "-e", "f32", "-o",
                          str(tmp_path / "out.wav"), str(path)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    back, _ = sigkit.read(path)
    ours, info = sigkit.read(tmp_path / "out.wav")
    if mode == "am":
        expected = sigkit.am(back, RATE, 8000, 12000)
    else:
        expected = sigkit.rate(back, RATE, 11025)
    assert info.encoding == "f32"
    assert np.array_equal(ours, expected)
