"""Raw samples and streams in the Python package: known bytes of the raw types both ways, WAV
and raw samples through pipes, and the errors of hostile streams."""

import os
import threading

import numpy as np
import pytest

import sigkit


def feed(fd, data):
    """Writes data into the write end of a pipe from a thread, then closes it."""
    def run():
        try:
            for at in range(0, len(data), 65536):
                os.write(fd, data[at:at + 65536])
        except BrokenPipeError:
            pass  # the reader stopped early, as a refusal does
        os.close(fd)
    thread = threading.Thread(target=run)
    thread.start()
    return thread


@pytest.mark.parametrize("type_,raw,values", [
    ("cu8", bytes([0, 255, 128, 128]), [complex(-1, 1), complex(0.5 / 127.5, 0.5 / 127.5)]),
    ("cs8", bytes([0x80, 0x40]), [complex(-1, 0.5)]),
    ("cs16", bytes([0x00, 0x80, 0x00, 0x40]), [complex(-1, 0.5)]),
    ("s16", bytes([0x00, 0xC0, 0xFF, 0x7F]), [-0.5, 32767 / 32768]),
    ("s24", bytes([0x00, 0x00, 0x40]), [0.5]),
    ("f32", np.array([0.25, -2.0], np.float32).tobytes(), [0.25, -2.0]),
])
def test_raw_types_read_and_write_known_bytes(tmp_path, type_, raw, values):
    path = tmp_path / f"x.{type_}"
    path.write_bytes(raw)
    samples, info = sigkit.read_raw(path, type_, 1000)
    assert info.encoding == type_ and info.rate == 1000
    assert info.complex == type_.startswith("c")
    np.testing.assert_array_equal(samples, np.array(values, samples.dtype))
    out = tmp_path / f"y.{type_}"
    with sigkit.RawWriter(out, type_) as writer:
        writer.write(samples)
    assert out.read_bytes() == raw


def test_wav_through_a_pipe_reads_back_to_the_end():
    iq = (np.arange(3000) % 17 / 17 - 0.5).astype(np.float32).view(np.complex64)
    r, w = os.pipe()
    done = []

    def write():
        with sigkit.WavWriter(w, 48000, 2, "f32") as writer:
            for k in range(0, len(iq), 250):
                writer.write(iq[k:k + 250])
        os.close(w)
        done.append(True)

    thread = threading.Thread(target=write)
    thread.start()
    with sigkit.WavReader(r) as reader:
        assert reader.info.frames is None and reader.info.duration is None
        blocks = []
        while True:
            block = reader.read(4096)
            if len(block) == 0:
                break
            blocks.append(block)
    thread.join()
    os.close(r)
    assert done
    np.testing.assert_array_equal(np.concatenate(blocks), iq)


def test_raw_stream_and_raw_output_on_a_descriptor():
    raw = np.array([[1000, -1000], [2000, -2000], [0, 5]], np.int16).tobytes() + b"\x01"
    r, w = os.pipe()
    thread = feed(w, raw)
    with sigkit.RawReader(r, "cs16", 2.4e6) as reader:
        got = reader.read(100)
        while True:
            more = reader.read(100)
            if len(more) == 0:
                break
            got = np.concatenate([got, more])
    thread.join()
    os.close(r)
    # The byte after the last whole frame is not a frame.
    np.testing.assert_array_equal(got, np.array([1000 - 1000j, 2000 - 2000j, 5j]) / 32768)

    r, w = os.pipe()
    with sigkit.RawWriter(w, "cs16") as writer:
        writer.write(got)
    os.close(w)
    assert os.read(r, 100) == raw[:-1]
    os.close(r)


@pytest.mark.parametrize("data,status", [
    (b"", -21),
    (b"RIFF\x24\x00\x00\x00WAVEfmt ", -21),
    (b"\x00" * 4096, -9),
    (b"RIFF\xff\xff\xff\xffWAVE" + b"\x00" * (3 << 20), -22),
])
def test_hostile_streams_raise(data, status):
    r, w = os.pipe()
    thread = feed(w, data)
    with pytest.raises(sigkit.SigkitError) as caught:
        sigkit.WavReader(r)
    os.close(r)
    thread.join()
    assert caught.value.status == status


def test_bad_raw_arguments_raise(tmp_path):
    with pytest.raises(ValueError):
        sigkit.RawReader(tmp_path / "x", "cu9", 1000)
    (tmp_path / "x").write_bytes(b"\x00\x00")
    with pytest.raises(sigkit.SigkitError):
        sigkit.RawReader(tmp_path / "x", "cu8", 0)
    with pytest.raises(ValueError):
        sigkit.RawWriter(1, "cu8", no_replace=True)
