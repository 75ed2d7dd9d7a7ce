"""The Python package over libsigkit: the same bits as the C path, streaming equal to whole
arrays, WAV round trips, and errors raised with the library's message."""

import os
import re
import subprocess
import sys

import numpy as np
import pytest

import sigkit

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = os.environ.get("SIGKIT_API_HEADER",
                        os.path.join(HERE, "..", "..", "include", "sigkit_api.h"))
DRIVER = os.environ.get("SIGKIT_API_DRIVER")
EXAMPLE = os.environ.get("SIGKIT_EXAMPLE_WAV")


def noise(frames, complex_, seed):
    rng = np.random.default_rng(seed)
    if complex_:
        return (rng.uniform(-1, 1, frames) + 1j * rng.uniform(-1, 1, frames)).astype(np.complex64)
    return rng.uniform(-1, 1, frames).astype(np.float32)


# kind, rate, complex input, frequency, band or output rate, quality, the whole-array call
CASES = [
    ("iq2r", 48000, False, 0, 0, 0, lambda x: sigkit.iq2r(x, 48000, "low")),
    ("iq2r", 24000, True, 0, 0, 1, lambda x: sigkit.iq2r(x, 24000, "medium")),
    ("resample", 48000, True, 3000, 8000, 0,
     lambda x: sigkit.resample(x, 48000, 8000, 3000, quality="low")),
    ("resample", 240000, True, -20000, 12000, 2,
     lambda x: sigkit.resample(x, 240000, 12000, -20000, quality="high")),
    ("convert", 48000, True, -12000, 8000, 0,
     lambda x: sigkit.convert(x, 48000, -12000, 8000, quality="low")),
    ("convert", 22050, False, 5000, 3000, 1,
     lambda x: sigkit.convert(x, 22050, 5000, 3000, quality="medium")),
    ("invert", 48000, False, 0, 0, 0, lambda x: sigkit.invert(x, 48000)),
    ("am-classic", 48000, True, 10000, 12000, 0,
     lambda x: sigkit.am_classic(x, 48000, 10000, 12000, quality="low")),
    ("fm-classic", 48000, True, -6000, 16000, 3,
     lambda x: sigkit.fm_classic(x, 48000, -6000, 16000, quality="best")),
]


@pytest.mark.skipif(DRIVER is None, reason="SIGKIT_API_DRIVER not set (run through ctest)")
@pytest.mark.parametrize("case", CASES, ids=lambda c: f"{c[0]}-{c[1]}-{'c' if c[2] else 'r'}")
def test_whole_array_equals_the_c_path_bit_for_bit(case, tmp_path):
    kind, rate, complex_, frequency, third, quality, call = case
    x = noise(30011, complex_, 1)
    x.view(np.float32).tofile(tmp_path / "in.f32")
    subprocess.run([DRIVER, kind, str(rate), str(int(complex_)), str(frequency), str(third),
                    str(quality), "4096", str(tmp_path / "in.f32"), str(tmp_path / "out.f32")],
                   check=True, capture_output=True)
    expected = np.fromfile(tmp_path / "out.f32", dtype=np.uint32)
    got = call(x)
    assert got.size > 500
    assert np.array_equal(np.ascontiguousarray(got).view(np.uint32).reshape(-1), expected)


@pytest.mark.parametrize("case", CASES, ids=lambda c: f"{c[0]}-{c[1]}-{'c' if c[2] else 'r'}")
def test_streaming_equals_whole_array(case):
    kind, rate, complex_, frequency, third, quality, call = case
    x = noise(20000, complex_, 2)
    whole = call(x)
    fields = {"frequency": frequency}
    if kind == "convert":
        fields["band"] = third
    elif kind not in ("iq2r", "invert"):
        fields["output_rate"] = third
    if kind in ("iq2r", "invert"):
        fields = {}
    names = ["low", "medium", "high", "best"]
    stream = sigkit.Processor(kind, rate, complex_, quality=names[quality], **fields)
    pieces, at = [], 0
    for size in [1, 5000, 17, 4096, 3, 100000]:
        pieces.append(stream.process(x[at:at + size]))
        at += size
    pieces.append(stream.flush())
    assert np.array_equal(np.concatenate(pieces), whole)
    # After a reset the same stream gives the same output again.
    stream.reset()
    again = np.concatenate([stream.process(x), stream.flush()])
    assert np.array_equal(again, whole)


def test_latency_and_layout():
    r = sigkit.Resample(240000, 48000, quality="high")
    assert r.output_rate == 48000 and r.output_complex
    # The original resampler drops more start-up output than its filter delays: output early.
    assert r.latency == pytest.approx((504 + 1 - 5) / 5 - 500)
    d = sigkit.AMClassic(48000, 1000, 12000)
    assert not d.output_complex and d.output_channels == 1
    assert sigkit.IQ2R(48000).output_rate == 24000


@pytest.mark.parametrize("make,status", [
    (lambda: sigkit.Resample(0, 8000), -5),
    (lambda: sigkit.Resample(float("nan"), 8000), -5),
    (lambda: sigkit.Resample(48000, -1), -5),
    (lambda: sigkit.Convert(48000, frequency=30000, band=1000), -14),
    (lambda: sigkit.Resample(48000, 8000, gain=float("inf")), -2),
    (lambda: sigkit.WFM(48000, 0), -2),  # a 200 kHz channel from 48 kHz
    (lambda: sigkit.Rate(48000, -1), -5),
    (lambda: sigkit.AM(48000, 30000), -14),
])
def test_bad_settings_raise_with_the_library_message(make, status):
    with pytest.raises(sigkit.SigkitError) as caught:
        make()
    assert caught.value.status == status
    assert "cannot make" in str(caught.value)


def test_bad_arguments_raise():
    with pytest.raises(ValueError):
        sigkit.Processor("no-such-kind", 48000)
    with pytest.raises(ValueError):
        sigkit.Resample(48000, 8000, quality="superb")
    with pytest.raises(TypeError):
        sigkit.Processor("convert", 48000, bandwidth=10)
    stream = sigkit.Convert(48000, band=1000)
    with pytest.raises(ValueError):
        stream.process(np.zeros(10, dtype=np.float32))  # real block for complex input
    stream.flush()
    with pytest.raises(sigkit.SigkitError) as caught:
        stream.process(np.zeros(10, dtype=np.complex64))
    assert caught.value.status == -11
    with pytest.raises(ValueError):
        sigkit.write("/tmp/never.wav", np.zeros(4), 8000, encoding="s12")
    assert all(sigkit.kind_available(k) for k in ("resample", "rate", "channel", "wfm", "cw"))
    assert not sigkit.kind_available("no-such-kind")


def test_wav_round_trips(tmp_path):
    iq = noise(5000, True, 3) * np.float32(0.5)
    path = tmp_path / "iq.wav"
    assert sigkit.write(path, iq, 2.4e6, encoding="f32") == 0
    back, info = sigkit.read(path)
    assert back.dtype == np.complex64 and np.array_equal(back, iq)
    assert (info.rate, info.channels, info.frames, info.encoding, info.complex) == \
        (2.4e6, 2, 5000, "f32", True)
    assert info.centre_frequency is None and info.start_time is None

    stereo = noise(3000 * 3, False, 4).reshape(-1, 3)
    sigkit.write(tmp_path / "three.wav", stereo, 44100, encoding="s24")
    back, info = sigkit.read(tmp_path / "three.wav")
    assert back.shape == (3000, 3) and np.abs(back - stereo).max() <= 0.5 / 2**23

    loud = np.array([0.0, 1.0, -1.0, 3.0, 0.25], dtype=np.float32)
    assert sigkit.write(tmp_path / "loud.wav", loud, 8000, encoding="u8") == 3
    back, info = sigkit.read(tmp_path / "loud.wav")
    assert info.encoding == "u8"
    assert back.tolist() == [0.0, 127 / 128, -1.0, 127 / 128, 0.25]

    # Two channels read as real when asked.
    back, info = sigkit.read(path, complex=False)
    assert back.shape == (5000, 2) and not info.complex


def test_blocks_and_writer_in_a_loop(tmp_path):
    x = noise(100000, True, 5) * np.float32(0.3)
    sigkit.write(tmp_path / "in.wav", x, 48000, encoding="f32")
    conv = sigkit.Convert(48000, frequency=5000, band=10000, quality="low")
    with sigkit.WavWriter(tmp_path / "out.wav", conv.output_rate, 2, "f32") as writer:
        for block in sigkit.blocks(tmp_path / "in.wav", 7000):
            writer.write(conv.process(block))
        writer.write(conv.flush())
    streamed, _ = sigkit.read(tmp_path / "out.wav")
    whole = sigkit.convert(x, 48000, 5000, 10000, quality="low")
    assert np.array_equal(streamed, whole)


def test_file_errors_raise(tmp_path):
    with pytest.raises(sigkit.SigkitError) as caught:
        sigkit.read(tmp_path / "missing.wav")
    assert caught.value.status == -16 and "missing.wav" in str(caught.value)
    with pytest.raises(sigkit.SigkitError):
        sigkit.write(tmp_path / "no" / "dir.wav", np.zeros(4, np.float32), 8000)
    sigkit.write(tmp_path / "kept.wav", np.zeros(4, np.float32), 8000)
    with pytest.raises(sigkit.SigkitError) as caught:
        sigkit.write(tmp_path / "kept.wav", np.ones(4, np.float32), 8000, no_replace=True)
    assert caught.value.status == -10
    # An exception inside the writer's block leaves the partial file, not the name.
    with pytest.raises(RuntimeError):
        with sigkit.WavWriter(tmp_path / "gone.wav", 8000, 1) as writer:
            writer.write(np.zeros(100, np.float32))
            raise RuntimeError("stop")
    assert not (tmp_path / "gone.wav").exists()
    assert (tmp_path / "gone.partial.wav").exists()


def test_declarations_match_the_header():
    with open(HEADER) as f:
        header = f.read()
    # The calls on the WAV handles of sigkit.h are not part of the package.
    declared = {name for name, params in
                re.findall(r"SIGKIT_PUBLIC[^;(]*\b(sigkit_\w+)\s*\(([^;]*)\);", header)
                if "Handle*" not in params}
    from sigkit._cdef import CDEF
    assert declared == set(re.findall(r"\b(sigkit_\w+)\s*\(", CDEF))
    for name in ("SIGKIT_CONFIG_SIZE_V1", "SIGKIT_WAV_INFO_SIZE_V1", "SIGKIT_WAV_FORMAT_SIZE_V1"):
        size = int(re.search(name + r"\s+(\d+)u", header).group(1))
        record = {"SIGKIT_CONFIG_SIZE_V1": "sigkit_config", "SIGKIT_WAV_INFO_SIZE_V1":
                  "sigkit_wav_info", "SIGKIT_WAV_FORMAT_SIZE_V1": "sigkit_wav_format"}[name]
        assert sigkit.ffi.sizeof(record) == size


@pytest.mark.skipif(EXAMPLE is None, reason="SIGKIT_EXAMPLE_WAV not set (run through ctest)")
def test_example_script_runs(tmp_path):
    script = os.path.join(HERE, "..", "examples", "demodulate_example.py")
    result = subprocess.run([sys.executable, script, EXAMPLE, str(tmp_path)],
                            capture_output=True, text=True, check=True)
    audio, info = sigkit.read(tmp_path / "example_iq_am.wav")
    assert info.rate == 12000 and info.channels == 1 and info.frames == 36000
    assert "wrote" in result.stdout


def test_versions_agree():
    assert sigkit.version() == sigkit.__version__
    project = os.environ.get("SIGKIT_PROJECT_VERSION")
    if project is not None:
        assert sigkit.__version__ == project


def test_spectrum_arrays_picture_and_stations(tmp_path):
    rate = 48000
    t = np.arange(rate) / rate
    tone = 0.25 * np.exp(2j * np.pi * 6000 * t) + 0.05 * np.exp(-2j * np.pi * 9000 * t)
    tone += noise(rate, True, 3) * 1e-4
    path = tmp_path / "rec.wav"
    sigkit.write(path, tone.astype(np.complex64), rate, encoding="f32")

    view = sigkit.spectrum(path, width=800, height=500, centre_frequency=7.1e6)
    assert view.complex and view.rate == rate and view.centre_frequency == 7.1e6
    assert view.waterfall.ndim == 2 and view.waterfall.shape[0] > 10
    strongest = view.frequencies[np.argmax(view.average)]
    assert abs(strongest - 6000) <= view.bin_width
    # The strongest column of the waterfall lies right of the centre, the weaker tone left.
    columns = np.linspace(view.low_frequency, view.high_frequency, view.waterfall.shape[1])
    assert abs(columns[np.argmax(view.waterfall.mean(axis=0))] - 6000) < 2 * rate / 800
    assert view.picture().shape == (500, 800, 3)
    assert view.picture((-100, 0)).dtype == np.uint8
    stations = view.stations()
    assert [round(s["offset_hz"] / 100) for s in stations] == [60, -90]
    assert abs(stations[0]["frequency_hz"] - 7.106e6) <= view.bin_width
    assert "7.10600 MHz" in view.stations_text()
    with pytest.raises(sigkit.SigkitError):
        sigkit.spectrum(path, span=(20000, 10000))
    with pytest.raises(sigkit.SigkitError):
        sigkit.spectrum(tmp_path / "missing.wav")
