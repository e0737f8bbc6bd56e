"""WAV files as numpy arrays: 16-bit PCM and 32-bit float, which is all the
accuracy benchmark meets (Python's wave module refuses float)."""
import struct

import numpy as np


def read_wav(path):
    """(samples, rate): float64, shape (frames,) or (frames, channels)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a WAV file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if chunk == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
            if fmt[0] == 0xFFFE:  # extensible: the real tag opens the subformat
                fmt = (struct.unpack("<H", body[24:26])[0],) + fmt[1:]
        elif chunk == b"data":
            samples = body
        pos += 8 + size + (size & 1)
    tag, channels, rate, _, _, bits = fmt
    if tag == 3 and bits == 32:
        values = np.frombuffer(samples, "<f4").astype(np.float64)
    elif tag == 1 and bits == 16:
        values = np.frombuffer(samples, "<i2") / 32768.0
    else:
        raise ValueError(f"{path}: format {tag}, {bits} bits not read here")
    values = values[: len(values) // channels * channels]
    return (values.reshape(-1, channels) if channels > 1 else values), rate


def write_wav(path, samples, rate):
    """Mono 16-bit PCM, clipped to full scale."""
    pcm = np.clip(np.round(np.asarray(samples) * 32767), -32768, 32767).astype("<i2")
    body = pcm.tobytes()
    header = b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16)
    header += b"data" + struct.pack("<I", len(body))
    with open(path, "wb") as f:
        f.write(header + body)
