#!/usr/bin/python3
"""Writes the inputs of scripts/compare-runs.sh that are made here: test tones
with numpy, and a piano chord and a clarinet line rendered by fluidsynth with
the accuracy benchmark's MIDI writer and renderer.

Usage: inputs.py OUT_DIR
Deterministic: no noise, no randomness but fixed seeds.
"""
import os
import random
import struct
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "accuracy"))
from melodies import midi_bytes, render  # noqa: E402
from wavfile import write_wav  # noqa: E402


def hz(note):
    return 440.0 * 2 ** ((note - 69) / 12)


def write_float_wav(path, samples, rate):
    """32-bit float, mono or (frames, channels); the 16-bit writer has no
    float and no second channel."""
    samples = np.asarray(samples, "<f4")
    channels = 1 if samples.ndim == 1 else samples.shape[1]
    body = samples.tobytes()
    header = b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 3, channels, rate, rate * 4 * channels,
                                    4 * channels, 32)
    header += b"data" + struct.pack("<I", len(body))
    with open(path, "wb") as f:
        f.write(header + body)


def tone(freqs, rate):
    """A sine through the given frequency at each sample, its phase unbroken."""
    return 0.5 * np.sin(2 * np.pi * np.cumsum(freqs) / rate)


def steps(notes, seconds, rate):
    """Frequencies of notes held for seconds each."""
    return np.repeat([hz(n) for n in notes], int(round(seconds * rate)))


def fluid(out_dir, name, program, notes, rate):
    """Notes (onset s, offset s, MIDI note) as one instrument, mono."""
    mid = os.path.join(out_dir, name + ".mid")
    with open(mid, "wb") as f:
        f.write(midi_bytes(program, notes, 0, random.Random(7)))
    audio = render(mid, rate)
    os.remove(mid)
    return audio * (0.7 / np.max(np.abs(audio)))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for rate in (44100, 48000, 22050):
        write_wav(f"{out}/a4_{rate}.wav", tone(np.full(2 * rate, 440.0), rate), rate)
    write_float_wav(f"{out}/a4_96000_float.wav", tone(np.full(2 * 96000, 440.0), 96000), 96000)
    rate = 44100
    write_wav(f"{out}/c3_c5_alternating.wav", tone(steps([48, 72] * 4, 0.4, rate), rate), rate)
    t = np.arange(3 * rate) / rate
    write_float_wav(f"{out}/a4_vibrato_float.wav",
                    tone(440.0 * 2 ** (50 / 1200 * np.sin(2 * np.pi * 5.5 * t)), rate), rate)
    # Harmonics 2 to 6 of 110 Hz: a pitch of 110 Hz with no energy there.
    t = np.arange(2 * rate) / rate
    partials = sum(np.sin(2 * np.pi * 110 * k * t) / k for k in range(2, 7))
    write_wav(f"{out}/missing_fundamental.wav", 0.5 * partials / np.max(np.abs(partials)), rate)
    # A2 to A4 over 3 s, the same number of cents every sample.
    write_float_wav(f"{out}/glide_a2_a4_float.wav",
                    tone(110.0 * 4 ** (np.arange(3 * rate) / (3 * rate)), rate), rate)
    write_wav(f"{out}/silence.wav", np.zeros(2 * rate), rate)
    # Channel 0 silent, the tune in channel 1 alone.
    melody = tone(steps([57, 60, 64, 69, 64, 60], 0.4, rate), rate)
    write_float_wav(f"{out}/stereo_channel1_float.wav",
                    np.stack([np.zeros(len(melody)), melody], axis=1), rate)
    write_wav(f"{out}/piano_chord_c4_e4_g4.wav",
              fluid(out, "piano_chord", 0, [[0.1, 2.1, 60], [0.1, 2.1, 64], [0.1, 2.1, 67]], 44100),
              44100)
    line = [[round(0.1 + 0.5 * i, 3), round(0.6 + 0.5 * i, 3), n]
            for i, n in enumerate([48, 72, 48, 72, 52, 76])]
    write_float_wav(f"{out}/clarinet_c3_c5_e3_e5_float.wav",
                    fluid(out, "clarinet_line", 71, line, 48000), 48000)


if __name__ == "__main__":
    main()
