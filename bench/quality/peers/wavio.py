"""Float WAV files for the quality table's peer scripts, with numpy alone.

read(path) -> (rate, frames): frames is float32 of shape (N, channels), from 32-bit float or
16-bit integer samples (plain or extensible format). write(path, rate, frames) writes 32-bit
float samples. Headers are taken apart field by field, little-endian.
"""
import struct

import numpy as np


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 12 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a WAV file: " + path)
    at = 12
    fmt = None
    while at + 8 <= len(data):
        tag = data[at:at + 4]
        size = struct.unpack_from("<I", data, at + 4)[0]
        body = at + 8
        if tag == b"fmt ":
            code, channels, rate = struct.unpack_from("<HHI", data, body)
            bits = struct.unpack_from("<H", data, body + 14)[0]
            if code == 0xFFFE:
                code = struct.unpack_from("<H", data, body + 24)[0]
            fmt = (code, channels, rate, bits)
        elif tag == b"data":
            if fmt is None:
                break
            code, channels, rate, bits = fmt
            raw = data[body:body + min(size, len(data) - body)]
            if code == 3 and bits == 32:
                x = np.frombuffer(raw[:len(raw) // 4 * 4], dtype="<f4")
            elif code == 1 and bits == 16:
                x = np.frombuffer(raw[:len(raw) // 2 * 2], dtype="<i2") / 32768.0
            else:
                raise ValueError("unsupported WAV format in " + path)
            x = x[:len(x) // channels * channels].astype(np.float32)
            return rate, x.reshape(-1, channels)
        at = body + size + (size & 1)
    raise ValueError("no data in " + path)


def write(path, rate, frames):
    frames = np.asarray(frames, dtype="<f4")
    if frames.ndim == 1:
        frames = frames.reshape(-1, 1)
    channels = frames.shape[1]
    payload = frames.tobytes()
    header = b"RIFF" + struct.pack("<I", 36 + len(payload)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 3, channels, int(round(rate)),
                                    int(round(rate)) * 4 * channels, 4 * channels, 32)
    header += b"data" + struct.pack("<I", len(payload))
    with open(path, "wb") as f:
        f.write(header)
        f.write(payload)


def as_complex(frames):
    """Two channels as I/Q."""
    return frames[:, 0].astype(np.float64) + 1j * frames[:, 1].astype(np.float64)


def from_complex(x):
    return np.stack([x.real, x.imag], axis=1).astype(np.float32)
