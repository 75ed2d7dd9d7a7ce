"""sigkit: processing of recorded radio and audio signals, over libsigkit's C API.

Samples are NumPy arrays at full scale 1.0: ``complex64`` for I/Q recordings (one element per I/Q
pair), ``float32`` for real signals (1-D for one channel, ``(frames, channels)`` otherwise). Rates
and frequencies are in Hz; frequencies are offsets from the recording's centre (negative below
it). Every failure raises :class:`SigkitError` with the library's message.

Whole files::

    samples, info = sigkit.read("rec.wav")
    sigkit.write("out.wav", samples, info.rate, encoding="s16")

Whole arrays, one function per processing kind::

    audio = sigkit.am_classic(samples, info.rate, frequency=10e3, output_rate=12e3, gain=0.6)

A recording's spectra, its picture and its stations, in one pass over the file::

    view = sigkit.spectrum("rec.wav", span=(0, 100e3))
    view.waterfall        # (rows, columns) dBFS, time down
    view.stations()       # a list of dicts: frequency_hz, offset_hz, level_dbfs, kind, ...

Streams too large for memory, a class per kind::

    conv = sigkit.Convert(rate, frequency=-12e3, band=8e3)
    for block in sigkit.blocks("rec.wav", 65536):
        out = conv.process(block)
    tail = conv.flush()
"""

import json as _json
import math
import os
from dataclasses import dataclass
from typing import Iterator, Optional, Tuple

import numpy as np

from ._lib import ffi, lib

__all__ = [
    "SigkitError", "WavInfo", "read", "write", "blocks", "WavReader", "WavWriter", "Processor",
    "RawReader", "RawWriter", "read_raw", "SAMPLE_TYPES",
    "IQ2R", "Resample", "Convert", "Invert", "AMClassic", "FMClassic", "Rate", "Channel", "AM",
    "FM", "WFM", "USB", "LSB", "CW", "iq2r", "resample", "convert", "invert", "am_classic",
    "fm_classic", "rate", "channel", "am", "fm", "wfm", "usb", "lsb", "cw", "version",
    "kind_available", "Spectrum", "spectrum",
]

ENCODINGS = {"u8": 1, "s16": 2, "s24": 3, "s32": 4, "f32": 5, "f64": 6}
# Raw sample types: c = complex (I/Q pairs, I first), the others real; little-endian.
SAMPLE_TYPES = ["cu8", "cs8", "cs16", "cf32", "u8", "s16", "s24", "s32", "f32", "f64"]
_ENCODING_NAMES = {v: k for k, v in ENCODINGS.items()}
QUALITIES = {"low": 0, "medium": 1, "high": 2, "best": 3}


class SigkitError(Exception):
    """A failure reported by libsigkit: ``status`` is its code, the text its message."""

    def __init__(self, status: int, context: str = ""):
        self.status = status
        text = ffi.string(lib.sigkit_strerror(status)).decode()
        super().__init__(f"{context}: {text}" if context else text)


def _check(status: int, context: str = "") -> None:
    if status != 0:
        raise SigkitError(status, context)


def version() -> str:
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return ffi.string(lib.sigkit_version(ffi.NULL, ffi.NULL, ffi.NULL)).decode()


from ._version import __version__  # noqa: E402


def kind_available(kind: str) -> bool:
    """True when this library can process the kind named (e.g. "resample", "wfm")."""
    return kind in _KINDS and bool(lib.sigkit_kind_available(_KINDS[kind]))


# ---------------------------------------------------------------------------------------------
# WAV files
# ---------------------------------------------------------------------------------------------


@dataclass
class WavInfo:
    """What a WAV file holds.

    rate: frames per second (Hz); channels: samples per frame; frames: frames in the file (None
    for a stream that does not declare its length);
    encoding: "u8", "s16", "s24", "s32", "f32" or "f64"; complex: True for two channels read
    as I and Q; valid_bits: significant bits per sample; centre_frequency (Hz) and start_time
    (seconds since 1970 UTC): None where the file does not tell.
    """

    rate: float
    channels: int
    frames: Optional[int]
    encoding: str
    complex: bool
    valid_bits: int
    centre_frequency: Optional[float] = None
    start_time: Optional[float] = None

    @property
    def duration(self) -> float:
        """Length in seconds (None for a stream of unknown length)."""
        return None if self.frames is None else self.frames / self.rate


def _path(path) -> bytes:
    return os.fsencode(path)


def _sample_type(name: str) -> int:
    if name not in SAMPLE_TYPES:
        raise ValueError(f"sample type must be one of {SAMPLE_TYPES}")
    return lib.sigkit_sample_type_from_name(name.encode())


def _source_name(source) -> str:
    return f"descriptor {source}" if isinstance(source, int) else f"'{source}'"


class WavReader:
    """A WAV file open for reading in blocks: ``read(frames)`` returns up to that many frames
    (an empty array at the end). Use as a context manager or call ``close()``.

    `path` may also be an open descriptor (an int: standard input, a pipe, a socket), read in
    order as a stream: ``read`` then returns the frames that have arrived (waiting only while
    none has), and ``info.frames`` is None unless the header declares a length. The descriptor
    stays open."""

    def __init__(self, path, complex: Optional[bool] = None):
        info = ffi.new("sigkit_wav_info*")
        info.size = ffi.sizeof("sigkit_wav_info")
        handle = ffi.new("sigkit_wav_reader**")
        if isinstance(path, int):
            status = lib.sigkit_wav_open_fd(path, info, handle)
        else:
            status = lib.sigkit_wav_open(_path(path), info, handle)
        _check(status, f"cannot read {_source_name(path)}")
        self._adopt(handle[0], info, path, complex)

    def _adopt(self, reader, info, source, complex: Optional[bool]) -> None:
        self._reader = ffi.gc(reader, lib.sigkit_wav_close_reader)
        as_complex = bool(info.complex_samples) if complex is None else complex
        if as_complex and info.channels != 2:
            self.close()
            raise ValueError(f"{_source_name(source)} has {info.channels} channels: not I/Q")
        unknown = info.frames == 0xFFFFFFFFFFFFFFFF
        self.info = WavInfo(
            rate=info.rate,
            channels=info.channels,
            frames=None if unknown else info.frames,
            encoding=_ENCODING_NAMES.get(info.encoding)
            or ffi.string(lib.sigkit_sample_type_name(info.encoding)).decode(),
            complex=as_complex,
            valid_bits=info.valid_bits,
            centre_frequency=info.centre_frequency if info.metadata & 1 else None,
            start_time=info.start_time if info.metadata & 2 else None,
        )

    def read(self, frames: int) -> np.ndarray:
        """Up to `frames` frames: complex64 for I/Q, float32 otherwise (full scale 1.0)."""
        if self._reader is None:
            raise ValueError("reader closed")
        channels = self.info.channels
        out = np.empty(frames * channels, dtype=np.float32)
        got = ffi.new("size_t*")
        _check(lib.sigkit_wav_read(self._reader, ffi.from_buffer("float[]", out), frames, got),
               "read")
        return _shape(out[: got[0] * channels], self.info.complex, channels)

    def close(self) -> None:
        if self._reader is not None:
            ffi.release(self._reader)
            self._reader = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class RawReader(WavReader):
    """Raw samples without a header, of a type named by the caller ("cu8", "cs8", "cs16",
    "cf32": I/Q pairs; "u8", "s16", "s24", "s32", "f32", "f64": real), at `rate` Hz: from a
    file (path) or a stream (an open descriptor). Read as a WavReader; ``info.encoding`` is the
    type's name."""

    def __init__(self, source, type: str, rate: float, complex: Optional[bool] = None):
        format_ = ffi.new("sigkit_raw_format*")
        _check(lib.sigkit_raw_format_init(format_, _sample_type(type), float(rate), 0))
        info = ffi.new("sigkit_wav_info*")
        info.size = ffi.sizeof("sigkit_wav_info")
        handle = ffi.new("sigkit_wav_reader**")
        if isinstance(source, int):
            status = lib.sigkit_raw_open_fd(source, format_, info, handle)
        else:
            status = lib.sigkit_raw_open(_path(source), format_, info, handle)
        _check(status, f"cannot read {_source_name(source)}")
        self._adopt(handle[0], info, source, complex)


def read_raw(path, type: str, rate: float) -> Tuple[np.ndarray, WavInfo]:
    """Reads a whole file of raw samples: (samples, info), as ``read`` does for WAV files."""
    with RawReader(path, type, rate) as reader:
        parts = []
        while True:
            block = reader.read(65536)
            if len(block) == 0:
                break
            parts.append(block)
        empty = _shape(np.empty(0, np.float32), reader.info.complex, reader.info.channels)
        return (np.concatenate(parts) if parts else empty), reader.info


def _shape(flat: np.ndarray, complex_: bool, channels: int) -> np.ndarray:
    if complex_:
        return flat.view(np.complex64)
    if channels == 1:
        return flat
    return flat.reshape(-1, channels)


def read(path, complex: Optional[bool] = None) -> Tuple[np.ndarray, WavInfo]:
    """Reads a whole WAV file: (samples, info). Samples at full scale 1.0: complex64 for an I/Q
    recording (two channels, unless ``complex=False``), float32 otherwise ((frames, channels) for
    more than one channel)."""
    with WavReader(path, complex) as reader:
        samples = reader.read(reader.info.frames)
        return samples, reader.info


def blocks(path, frames: int = 65536, complex: Optional[bool] = None) -> Iterator[np.ndarray]:
    """The file's samples in blocks of `frames` frames (the last may be shorter)."""
    with WavReader(path, complex) as reader:
        while True:
            block = reader.read(frames)
            if len(block) == 0:
                return
            yield block


def _as_frames(samples) -> Tuple[np.ndarray, bool, int]:
    """The samples as contiguous float32 (copied only when they are not already), whether
    they are complex, and the floats per frame."""
    array = np.asarray(samples)
    if np.iscomplexobj(array):
        if array.ndim != 1:
            raise ValueError("complex samples must be a 1-D array")
        return np.ascontiguousarray(array, dtype=np.complex64).view(np.float32), True, 2
    if array.ndim == 1:
        return np.ascontiguousarray(array, dtype=np.float32), False, 1
    if array.ndim == 2:
        return np.ascontiguousarray(array, dtype=np.float32).reshape(-1), False, array.shape[1]
    raise ValueError("samples must be 1-D, or 2-D as (frames, channels)")


class WavWriter:
    """A WAV file being written: ``write(block)`` appends, ``close()`` publishes it under its
    name (until then the samples sit in a hidden temporary file beside it), ``abandon()`` keeps
    them as NAME.partial.wav and leaves the name as it was. As a context manager it closes, or
    abandons when an exception leaves the block."""

    def __init__(self, path, rate: float, channels: int, encoding: str = "s16",
                 no_replace: bool = False):
        if encoding not in ENCODINGS:
            raise ValueError(f"encoding must be one of {sorted(ENCODINGS)}")
        shape = ffi.new("sigkit_wav_format*")
        lib.sigkit_wav_format_init(shape, ENCODINGS[encoding], float(rate), int(channels))
        shape.flags = 1 if no_replace else 0
        handle = ffi.new("sigkit_wav_writer**")
        # An open descriptor gets a stream: each write handed on at once, a header that declares
        # no length; close leaves the descriptor open.
        if isinstance(path, int):
            if no_replace:
                raise ValueError("no_replace applies to paths only")
            status = lib.sigkit_wav_create_fd(path, shape, handle)
        else:
            status = lib.sigkit_wav_create(_path(path), shape, handle)
        _check(status, f"cannot write {_source_name(path)}")
        self._writer = handle[0]
        self.channels = channels
        self.path = path

    def write(self, samples) -> None:
        """Appends frames (full scale 1.0; integer encodings round and clip)."""
        flat, _, per_frame = _as_frames(samples)
        if per_frame != self.channels:
            raise ValueError(f"samples have {per_frame} channels, the file {self.channels}")
        _check(lib.sigkit_wav_write(self._writer, ffi.from_buffer("float[]", flat),
                                    flat.size // per_frame), f"cannot write '{self.path}'")

    @property
    def clipped(self) -> int:
        """Samples written so far that sit at either end of the integer range."""
        count = ffi.new("uint64_t*")
        _check(lib.sigkit_wav_clipped(self._writer, count))
        return count[0]

    def close(self) -> None:
        if self._writer is not None:
            writer, self._writer = self._writer, None
            _check(lib.sigkit_wav_close(writer), f"cannot complete '{self.path}'")

    def abandon(self) -> None:
        if self._writer is not None:
            writer, self._writer = self._writer, None
            _check(lib.sigkit_wav_abandon(writer))

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if kind is None:
            self.close()
        else:
            self.abandon()

    def __del__(self):
        if getattr(self, "_writer", None) is not None:
            self.abandon()


class RawWriter(WavWriter):
    """Raw samples of a type ("cu8" ... "f32", as RawReader) written to a path (published when
    closed, as WAV files are) or to an open descriptor (each write handed on at once). Integer
    types round and clip as the WAV encodings do. channels: for real types, samples per frame
    (complex types always hold I/Q pairs)."""

    def __init__(self, path, type: str, channels: Optional[int] = None,
                 no_replace: bool = False):
        code = _sample_type(type)
        complex_type = ffi.new("int*")
        lib.sigkit_sample_type_layout(code, ffi.NULL, complex_type)
        if channels is None:
            channels = 2 if complex_type[0] else 1
        format_ = ffi.new("sigkit_raw_format*")
        _check(lib.sigkit_raw_format_init(format_, code, 1.0,
                                          0 if complex_type[0] else int(channels)))
        format_.flags = 1 if no_replace else 0
        handle = ffi.new("sigkit_wav_writer**")
        if isinstance(path, int):
            if no_replace:
                raise ValueError("no_replace applies to paths only")
            status = lib.sigkit_raw_create_fd(path, format_, handle)
        else:
            status = lib.sigkit_raw_create(_path(path), format_, handle)
        _check(status, f"cannot write {_source_name(path)}")
        self._writer = handle[0]
        self.channels = 2 if complex_type[0] else int(channels)
        self.path = path


def write(path, samples, rate: float, encoding: str = "s16", no_replace: bool = False) -> int:
    """Writes a whole WAV file from samples at full scale 1.0 (complex64: an I/Q recording of two
    channels). encoding: "u8", "s16", "s24", "s32", "f32" or "f64". no_replace: raise SigkitError
    where the path exists, also when another writer publishes it first (nothing of this write is
    then kept). Result: the samples clipped."""
    flat, _, per_frame = _as_frames(samples)
    with WavWriter(path, rate, per_frame, encoding, no_replace) as writer:
        writer.write(flat.reshape(-1, per_frame) if per_frame > 1 else flat)
        return writer.clipped


# ---------------------------------------------------------------------------------------------
# Processing
# ---------------------------------------------------------------------------------------------

_KINDS = {
    "iq2r": 1, "resample": 2, "convert": 3, "invert": 4, "am-classic": 5, "fm-classic": 6,
    "rate": 7, "channel": 8, "am": 9, "fm": 10, "wfm": 11, "usb": 12, "lsb": 13, "cw": 14,
}
_FIELDS = ("frequency", "band", "output_rate", "gain", "agc", "deemphasis_us", "deviation",
           "cw_pitch", "audio_low", "audio_high")


class Processor:
    """A processing object of one kind, for a stream taken block by block.

    kind: "iq2r", "resample", "convert", "invert", "am-classic", "fm-classic", "rate",
    "channel", "am", "fm", "wfm", "usb", "lsb" or "cw"; rate: input rate in Hz; complex_input: True for I/Q pairs
    (complex64 blocks), False for real samples (float32); channels: floats per real frame.
    Keyword fields as in sigkit_config: frequency, band, output_rate (Hz), gain (factor),
    quality ("low", "medium", "high", "best"), and the receivers' agc, deemphasis_us,
    deviation, cw_pitch, audio_low, audio_high.
    """

    def __init__(self, kind: str, rate: float, complex_input: bool = True, channels: int = 1,
                 quality: str = "high", **fields):
        if kind not in _KINDS:
            raise ValueError(f"unknown kind '{kind}'")
        if quality not in QUALITIES:
            raise ValueError(f"quality must be one of {list(QUALITIES)}")
        config = ffi.new("sigkit_config*")
        _check(lib.sigkit_config_init(config, _KINDS[kind]))
        config.input_rate = float(rate)
        config.complex_input = 1 if complex_input else 0
        config.channels = int(channels)
        config.quality = QUALITIES[quality]
        for name, value in fields.items():
            if name not in _FIELDS:
                raise TypeError(f"unknown field '{name}'")
            setattr(config, name, value)
        handle = ffi.new("sigkit_processor**")
        _check(lib.sigkit_create(config, handle), f"cannot make '{kind}'")
        self._p = ffi.gc(handle[0], lib.sigkit_destroy)
        self.kind = kind
        self.complex_input = bool(complex_input)
        self.channels = int(channels)
        out_complex = ffi.new("int*")
        out_channels = ffi.new("int*")
        out_rate = ffi.new("double*")
        _check(lib.sigkit_output_layout(self._p, out_complex, out_channels, out_rate))
        self.output_complex = bool(out_complex[0])
        self.output_channels = out_channels[0]
        self.output_rate = out_rate[0]
        self._most = ffi.new("size_t*")
        self._made = ffi.new("size_t*")

    @property
    def latency(self) -> float:
        """Delay of the output in output frames (may be fractional, or negative where start-up
        output is dropped): input time t appears at output frame t * output_rate + latency."""
        value = ffi.new("double*")
        _check(lib.sigkit_latency(self._p, value))
        return value[0]

    def _out_floats(self) -> int:
        return 2 if self.output_complex else self.output_channels

    def max_output(self, frames: int) -> int:
        """The most output frames that process() of `frames` frames makes (0: flush())."""
        _check(lib.sigkit_max_output(self._p, frames, self._most))
        return self._most[0]

    def _run(self, call, frames: int, out) -> np.ndarray:
        most = self.max_output(frames)
        per_frame = self._out_floats()
        if out is None:
            flat = np.empty(most * per_frame, dtype=np.float32)
        else:
            flat = out.view(np.float32).reshape(-1) if isinstance(out, np.ndarray) else None
            if (flat is None or out.dtype not in (np.float32, np.complex64)
                    or not out.flags.c_contiguous or not out.flags.writeable):
                raise ValueError("out must be a writable contiguous float32 or complex64 array")
            if flat.size < most * per_frame:
                raise ValueError(f"out holds fewer than the {most} frames this call can make")
        call(ffi.from_buffer("float[]", flat, require_writable=True), flat.size // per_frame)
        return _shape(flat[: self._made[0] * per_frame], self.output_complex, self.output_channels)

    def process(self, block, out: Optional[np.ndarray] = None) -> np.ndarray:
        """Processes a block (complex64 for I/Q input, float32 for real) and returns the output
        it completes (complex64 or float32). With `out` (room for max_output(len(block))
        frames) the output is written there and a view of it returned: no allocation."""
        flat, is_complex, per_frame = _as_frames(block)
        if is_complex != self.complex_input or (not is_complex and per_frame != self.channels):
            raise ValueError("block does not match the input (complex64 for I/Q input, float32 "
                             "with the configured channels for real input)")
        frames = flat.size // per_frame
        source = ffi.from_buffer("float[]", flat)

        def call(target, capacity):
            _check(lib.sigkit_process(self._p, source, frames, target, capacity, self._made),
                   "process")

        return self._run(call, frames, out)

    def flush(self, out: Optional[np.ndarray] = None) -> np.ndarray:
        """Ends the stream and returns what the filters still hold; then only ``reset()``."""

        def call(target, capacity):
            _check(lib.sigkit_flush(self._p, target, capacity, self._made), "flush")

        return self._run(call, 0, out)

    def reset(self) -> None:
        """Starts a new stream, as if just made."""
        _check(lib.sigkit_reset(self._p), "reset")

    def __call__(self, samples) -> np.ndarray:
        """The whole array at once: process, then flush (into one output array), then reset
        for the next array."""
        frames = len(samples)
        most = self.max_output(frames) + self.max_output(0)
        dtype = np.complex64 if self.output_complex else np.float32
        shape = (most,) if self.output_complex or self.output_channels == 1 else \
            (most, self.output_channels)
        out = np.empty(shape, dtype=dtype)
        head = self.process(samples, out)
        tail = self.flush(out[len(head):])
        self.reset()
        return out[: len(head) + len(tail)]


def _input_kind(samples) -> bool:
    return np.iscomplexobj(np.asarray(samples))


class IQ2R(Processor):
    """Real to I/Q at half the rate (real input), or I/Q to real at twice the rate (complex
    input). rate: input rate in Hz."""

    def __init__(self, rate, complex_input=False, quality="high"):
        super().__init__("iq2r", rate, complex_input, quality=quality)


class Resample(Processor):
    """Shifts `frequency` (Hz) to 0 Hz, low-pass filters and changes the rate to `output_rate`
    (Hz); I/Q output. gain: factor on the output."""

    def __init__(self, rate, output_rate, frequency=0.0, gain=1.0, complex_input=True,
                 quality="high"):
        super().__init__("resample", rate, complex_input, quality=quality, frequency=frequency,
                         output_rate=output_rate, gain=gain)


class Convert(Processor):
    """Shifts `frequency` (Hz) to 0 Hz and keeps `band` Hz around it (0: the whole band), at
    the same rate; I/Q output."""

    def __init__(self, rate, frequency=0.0, band=0.0, gain=1.0, complex_input=True,
                 quality="high"):
        super().__init__("convert", rate, complex_input, quality=quality, frequency=frequency,
                         band=band, gain=gain)


class Invert(Processor):
    """Spectral inversion; I/Q output at the same rate."""

    def __init__(self, rate, complex_input=True):
        super().__init__("invert", rate, complex_input)


class AMClassic(Processor):
    """The original AM demodulator: the carrier at `frequency` (Hz) moved to 0 Hz, envelope over
    its running mean less 1, times `gain`, at `output_rate` (Hz); real output."""

    def __init__(self, rate, frequency, output_rate, gain=1.0, complex_input=True,
                 quality="high"):
        super().__init__("am-classic", rate, complex_input, quality=quality,
                         frequency=frequency, output_rate=output_rate, gain=gain)


class FMClassic(Processor):
    """The original FM demodulator: minus the sine of the phase step per input sample, times
    `gain`, at `output_rate` (Hz); real output."""

    def __init__(self, rate, frequency, output_rate, gain=1.0, complex_input=True,
                 quality="high"):
        super().__init__("fm-classic", rate, complex_input, quality=quality,
                         frequency=frequency, output_rate=output_rate, gain=gain)


class Rate(Processor):
    """Rate change from `rate` to `output_rate` (Hz; 0: unchanged), no shift, aligned in time:
    output frame k stands for input time k / output_rate, and a whole stream of N frames gives
    round(N * output_rate / rate) frames. Real input (float32, `channels` per frame) stays real,
    I/Q (complex64) stays I/Q. quality: "low", "medium", "high" or "best" (stop bands 80, 100,
    120, 140 dB down). gain: factor on the output."""

    def __init__(self, rate, output_rate=0.0, gain=1.0, complex_input=False, channels=1,
                 quality="high"):
        super().__init__("rate", rate, complex_input, channels, quality=quality,
                         output_rate=output_rate, gain=gain)


class Channel(Processor):
    """The channel of `band` Hz centred on `frequency` (Hz from the centre) moved to 0 Hz, kept
    by designed filters and decimated to `output_rate` (Hz; 0: the lowest convenient rate that
    holds it); complex64 out, aligned in time. Real input needs the band clear of 0 Hz and of
    rate/2."""

    def __init__(self, rate, frequency, band, output_rate=0.0, gain=1.0, complex_input=True,
                 quality="high"):
        super().__init__("channel", rate, complex_input, quality=quality, frequency=frequency,
                         band=band, output_rate=output_rate, gain=gain)


class _Receiver(Processor):
    _kind = ""

    def __init__(self, rate, frequency, output_rate=48000.0, band=0.0, gain=1.0, **fields):
        super().__init__(self._kind, rate, True, frequency=frequency, output_rate=output_rate,
                         band=band, gain=gain, **fields)


class AM(_Receiver):
    """AM receiver: I/Q (complex64) at `rate` Hz with the carrier at `frequency` (Hz from the
    centre) in, float32 audio at `output_rate` Hz out, aligned in time. band: the channel in Hz
    (0: 10 kHz). 100 % modulation gives -1 dBFS; agc (default True): the carrier's level divided
    out (5 ms look-ahead attack, 20 dB/s decay, at most 60 dB); gain: factor on the audio."""

    _kind = "am"

    def __init__(self, rate, frequency, output_rate=48000.0, band=0.0, gain=1.0, agc=True):
        super().__init__(rate, frequency, output_rate, band, gain, agc=1 if agc else 0)


class FM(_Receiver):
    """Narrow-band FM receiver: channel `band` Hz (0: 12.5 kHz), audio to 3 kHz; `deviation`
    Hz (0: 5 kHz) gives -1 dBFS; deemphasis_us: de-emphasis in microseconds (0: none). Other
    arguments as for AM."""

    _kind = "fm"

    def __init__(self, rate, frequency, output_rate=48000.0, band=0.0, gain=1.0, deviation=0.0,
                 deemphasis_us=0.0):
        super().__init__(rate, frequency, output_rate, band, gain, deviation=deviation,
                         deemphasis_us=deemphasis_us)


class WFM(_Receiver):
    """Broadcast FM receiver, mono: channel `band` Hz (0: 200 kHz), audio to 15 kHz, 75 kHz
    deviation gives -1 dBFS, de-emphasis `deemphasis_us` microseconds (50; 75 in the Americas;
    0 none). Other arguments as for AM."""

    _kind = "wfm"

    def __init__(self, rate, frequency, output_rate=48000.0, band=0.0, gain=1.0,
                 deemphasis_us=50.0):
        super().__init__(rate, frequency, output_rate, band, gain, deemphasis_us=deemphasis_us)


class USB(_Receiver):
    """Upper side band receiver: the audio band audio_low .. audio_high Hz (0: 300 .. 2700)
    above the carrier at `frequency`; `band`, when not 0, sets its width from audio_low. With
    the gain control of AM. Other arguments as for AM."""

    _kind = "usb"

    def __init__(self, rate, frequency, output_rate=48000.0, band=0.0, gain=1.0, agc=True,
                 audio_low=0.0, audio_high=0.0):
        super().__init__(rate, frequency, output_rate, band, gain, agc=1 if agc else 0,
                         audio_low=audio_low, audio_high=audio_high)


class LSB(USB):
    """Lower side band receiver: as USB, below the carrier."""

    _kind = "lsb"


class CW(_Receiver):
    """CW receiver: `band` Hz (0: 500) around the carrier at `frequency`, heard as a tone of
    `cw_pitch` Hz (0: 700). With the gain control of AM. Other arguments as for AM."""

    _kind = "cw"

    def __init__(self, rate, frequency, output_rate=48000.0, band=0.0, gain=1.0, agc=True,
                 cw_pitch=0.0):
        super().__init__(rate, frequency, output_rate, band, gain, agc=1 if agc else 0,
                         cw_pitch=cw_pitch)


def iq2r(samples, rate, quality="high") -> np.ndarray:
    """Whole array: real (float32) to I/Q at rate/2, or I/Q (complex64) to real at 2*rate."""
    return IQ2R(rate, _input_kind(samples), quality)(samples)


def resample(samples, rate, output_rate, frequency=0.0, gain=1.0, quality="high") -> np.ndarray:
    """Whole array: `frequency` (Hz) to 0 Hz, low-pass, to `output_rate` (Hz); complex64 out."""
    return Resample(rate, output_rate, frequency, gain, _input_kind(samples), quality)(samples)


def convert(samples, rate, frequency=0.0, band=0.0, gain=1.0, quality="high") -> np.ndarray:
    """Whole array: `frequency` (Hz) to 0 Hz, keep `band` Hz; complex64 out at the same rate."""
    return Convert(rate, frequency, band, gain, _input_kind(samples), quality)(samples)


def invert(samples, rate) -> np.ndarray:
    """Whole array: spectral inversion; complex64 out."""
    return Invert(rate, _input_kind(samples))(samples)


def am_classic(samples, rate, frequency, output_rate, gain=1.0, quality="high") -> np.ndarray:
    """Whole array: the original AM demodulator (see AMClassic); float32 out at output_rate."""
    return AMClassic(rate, frequency, output_rate, gain, _input_kind(samples), quality)(samples)


def fm_classic(samples, rate, frequency, output_rate, gain=1.0, quality="high") -> np.ndarray:
    """Whole array: the original FM demodulator (see FMClassic); float32 out at output_rate."""
    return FMClassic(rate, frequency, output_rate, gain, _input_kind(samples), quality)(samples)



def rate(samples, rate, output_rate, gain=1.0, quality="high") -> np.ndarray:
    """Whole array: the rate changed to `output_rate` (Hz), aligned; complex64 stays complex64,
    float32 (one dimension, or frames x channels) stays float32."""
    x = np.asarray(samples)
    complex_input = np.iscomplexobj(x)
    channels = 1 if complex_input or x.ndim == 1 else x.shape[1]
    return Rate(rate, output_rate, gain, complex_input, channels, quality)(samples)


def channel(samples, rate, frequency, band, output_rate=0.0, gain=1.0, quality="high"):
    """Whole array: the channel of `band` Hz at `frequency` Hz, at `output_rate` (0: the lowest
    convenient rate; see Channel(...).output_rate); complex64 out."""
    return Channel(rate, frequency, band, output_rate, gain, _input_kind(samples),
                   quality)(samples)


def am(samples, rate, frequency, output_rate=48000.0, **options) -> np.ndarray:
    """Whole array: the AM station at `frequency` Hz as float32 audio (see AM)."""
    return AM(rate, frequency, output_rate, **options)(samples)


def fm(samples, rate, frequency, output_rate=48000.0, **options) -> np.ndarray:
    """Whole array: the narrow-band FM station at `frequency` Hz as float32 audio (see FM)."""
    return FM(rate, frequency, output_rate, **options)(samples)


def wfm(samples, rate, frequency, output_rate=48000.0, **options) -> np.ndarray:
    """Whole array: the broadcast FM station at `frequency` Hz as float32 audio (see WFM)."""
    return WFM(rate, frequency, output_rate, **options)(samples)


def usb(samples, rate, frequency, output_rate=48000.0, **options) -> np.ndarray:
    """Whole array: the upper side band of the carrier at `frequency` Hz (see USB)."""
    return USB(rate, frequency, output_rate, **options)(samples)


def lsb(samples, rate, frequency, output_rate=48000.0, **options) -> np.ndarray:
    """Whole array: the lower side band of the carrier at `frequency` Hz (see LSB)."""
    return LSB(rate, frequency, output_rate, **options)(samples)


def cw(samples, rate, frequency, output_rate=48000.0, **options) -> np.ndarray:
    """Whole array: the CW signal at `frequency` Hz as a beat tone (see CW)."""
    return CW(rate, frequency, output_rate, **options)(samples)


# ---------------------------------------------------------------------------------------------
# Spectra and stations
# ---------------------------------------------------------------------------------------------


class Spectrum:
    """A recording's spectra, computed in one pass over its file (see :func:`spectrum`).

    rate (Hz), complex (I/Q), low_frequency and high_frequency (Hz offsets: the band of the
    waterfall's columns), bin_width (Hz), offset_seconds and duration_seconds (the part
    analysed), centre_frequency (Hz) and start_time (seconds since 1970 UTC): None where
    unknown. ``waterfall``: (rows, columns) float32 dBFS, the first row first in time;
    ``frequencies`` and ``average``: the averaged spectrum per FFT bin (Hz offsets, dBFS).
    """

    def __init__(self, path, width=1200, height=800, fft_size=0, start=0.0, length=0.0,
                 span=None, centre_frequency=None, start_time=None, max_stations=20):
        request = ffi.new("sigkit_spectrum_request*")
        lib.sigkit_spectrum_request_init(request)
        request.width = int(width)
        request.height = int(height)
        request.fft_size = int(fft_size)
        request.start_seconds = float(start)
        request.length_seconds = float(length)
        if span is not None:
            request.span_centre, request.span_width = float(span[0]), float(span[1])
        if centre_frequency is not None:
            request.metadata |= 1
            request.centre_frequency = float(centre_frequency)
        if start_time is not None:
            request.metadata |= 2
            request.start_time = float(start_time)
        request.max_stations = int(max_stations)
        handle = ffi.new("sigkit_spectrum**")
        _check(lib.sigkit_spectrum_open(_path(path), request, handle),
               f"cannot analyse '{path}'")
        self._spectrum = ffi.gc(handle[0], lib.sigkit_spectrum_destroy)
        info = ffi.new("sigkit_spectrum_info*")
        info.size = ffi.sizeof("sigkit_spectrum_info")
        _check(lib.sigkit_spectrum_get_info(self._spectrum, info))
        self.rate = info.rate
        self.complex = bool(info.complex_samples)
        self.low_frequency = info.low_frequency
        self.high_frequency = info.high_frequency
        self.bin_width = info.bin_width
        self.offset_seconds = info.offset_seconds
        self.duration_seconds = info.duration_seconds
        self.centre_frequency = info.centre_frequency if info.metadata & 1 else None
        self.start_time = info.start_time if info.metadata & 2 else None
        self.waterfall = np.empty((info.rows, info.columns), dtype=np.float32)
        if self.waterfall.size:
            _check(lib.sigkit_spectrum_waterfall(
                self._spectrum, ffi.cast("float*", self.waterfall.ctypes.data),
                self.waterfall.size))
        self.frequencies = np.empty(info.bins, dtype=np.float64)
        self.average = np.empty(info.bins, dtype=np.float32)
        _check(lib.sigkit_spectrum_average(
            self._spectrum, ffi.cast("double*", self.frequencies.ctypes.data),
            ffi.cast("float*", self.average.ctypes.data), info.bins))

    def picture(self, db_range=None) -> np.ndarray:
        """The picture as a (height, width, 3) uint8 RGB array; db_range (low, high) in dBFS,
        automatic when None."""
        width = ffi.new("int32_t*")
        height = ffi.new("int32_t*")
        low, high = (math.nan, math.nan) if db_range is None else map(float, db_range)
        _check(lib.sigkit_spectrum_picture(self._spectrum, low, high, ffi.NULL, 0, width,
                                           height))
        rgb = np.empty((height[0], width[0], 3), dtype=np.uint8)
        _check(lib.sigkit_spectrum_picture(self._spectrum, low, high,
                                           ffi.cast("uint8_t*", rgb.ctypes.data), rgb.size,
                                           width, height))
        return rgb

    def _stations(self, as_json: bool) -> str:
        length = ffi.new("size_t*")
        _check(lib.sigkit_spectrum_stations(self._spectrum, int(as_json), ffi.NULL, 0, length))
        text = ffi.new("char[]", length[0] + 1)
        _check(lib.sigkit_spectrum_stations(self._spectrum, int(as_json), text, length[0] + 1,
                                            length))
        return ffi.string(text, length[0]).decode("utf-8", "replace")

    def stations(self) -> list:
        """The stations found, strongest first: dicts of frequency_hz (None without a known
        centre), offset_hz, level_dbfs, peak_dbfs, above_floor_db, bandwidth_hz, low_hz,
        high_hz and kind ("carrier", "CW", "AM", "FM" or "")."""
        return _json.loads(self._stations(True))["stations"]

    def stations_text(self) -> str:
        """The station list as sigrun --stations prints it."""
        return self._stations(False)

    def show(self, db_range=None):
        """Draws the picture with matplotlib, where it is installed."""
        import matplotlib.pyplot as plt

        plt.imshow(self.picture(db_range))
        plt.axis("off")
        plt.show()


def spectrum(path, **options) -> Spectrum:
    """A recording's spectra; options: width, height (the picture, pixels), fft_size (0:
    automatic), start and length (seconds; length 0: to the end), span (centre, width) in Hz
    offsets, centre_frequency and start_time where the file tells none, max_stations."""
    return Spectrum(path, **options)
