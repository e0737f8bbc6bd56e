#!/usr/bin/python3
"""Writes the accuracy benchmark's melodies: for each, NAME.mid, NAME.wav
(rendered by fluidsynth, mono), NAME.notes.csv (onset_s,offset_s,midi_note)
and NAME.truth.csv (time_s,hz on a 10 ms grid, 0 where no note sounds).

Usage: melodies.py OUT_DIR
Deterministic: every melody has its own fixed seed.
"""
import os
import random
import subprocess
import sys
import tempfile

import numpy as np

from wavfile import read_wav, write_wav

SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
TICKS_PER_QUARTER = 480
MICROSECONDS_PER_QUARTER = 480000  # 1 tick = 1 ms
BEND_RANGE_CENTS = 200.0
GRID_S = 0.01
TAIL_S = 0.6  # room after the last note for its release

# name, GM program (0-based), lowest and highest MIDI note, sample rate,
# SNR in dB of added white noise (None: clean), vibrato depth in cents.
MELODIES = [
    ("acoustic_bass", 32, 28, 55, 44100, None, 0),   # E1-G3
    ("finger_bass", 33, 28, 55, 48000, None, 0),     # E1-G3
    ("tuba", 58, 26, 65, 44100, None, 0),            # D1-F4
    ("cello", 42, 36, 69, 48000, 20, 0),             # C2-A4, noisy
    ("bassoon", 70, 34, 72, 44100, None, 0),         # Bb1-C5
    ("clarinet", 71, 50, 84, 44100, 20, 0),          # D3-C6, noisy
    ("alto_sax", 65, 49, 80, 44100, None, 0),        # Db3-Ab5
    ("trumpet", 56, 54, 86, 48000, None, 0),         # F#3-D6
    ("oboe", 68, 58, 91, 44100, None, 0),            # Bb3-G6
    ("flute", 73, 60, 96, 44100, None, 0),           # C4-C7
    ("violin_vibrato", 40, 55, 93, 48000, None, 20),  # G3-A6, +-20 c
    ("nylon_guitar", 24, 40, 83, 44100, 20, 0),      # E2-B5, noisy
    ("choir_aahs", 52, 48, 79, 44100, None, 0),      # C3-G5
    ("piano", 0, 33, 96, 48000, None, 0),            # A1-C7
]


def make_notes(rng, low, high):
    """(onset_s, offset_s, note) list: 9-11 s, steps and leaps up to 15
    semitones, some legato, some rests; reaches both ends of the range."""
    length = rng.uniform(9.0, 11.0)
    notes, t, note = [], rng.uniform(0.2, 0.5), rng.randint(low, high)
    while True:
        duration = round(rng.uniform(0.2, 0.7), 3)
        if t + duration > length:
            break
        notes.append([round(t, 3), round(t + duration, 3), note])
        t += duration
        roll = rng.random()
        if roll < 0.3:
            pass  # legato: the next note starts as this one ends
        elif roll < 0.85:
            t += rng.uniform(0.03, 0.15)
        else:
            t += rng.uniform(0.3, 0.7)  # a rest
        leap = rng.choice([1, 2, 2, 3, 4, 5, 7, 9, 12, 15]) * rng.choice([-1, 1])
        note += leap
        if note < low or note > high:
            note -= 2 * leap
        note = min(max(note, low), high)
    # The range's two ends, each on a note of its own.
    lowest = min(range(len(notes)), key=lambda i: notes[i][2])
    highest = max(range(len(notes)), key=lambda i: notes[i][2])
    if lowest == highest:
        highest = (lowest + len(notes) // 2) % len(notes)
    notes[lowest][2], notes[highest][2] = low, high
    return notes


def bend_cents(t, depth):
    return depth * np.sin(2 * np.pi * 5.5 * t)


def var_len(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def midi_bytes(program, notes, depth, rng):
    """A format-0 file: tempo, program, bend range, notes, vibrato bends."""
    events = []  # (tick, order, bytes): offs before ons at the same tick
    events.append((0, 0, b"\xff\x51\x03" + MICROSECONDS_PER_QUARTER.to_bytes(3, "big")))
    events.append((0, 1, bytes([0xC0, program])))
    semitones = int(BEND_RANGE_CENTS / 100)
    for cc, value in ((101, 0), (100, 0), (6, semitones), (38, 0), (101, 127), (100, 127)):
        events.append((0, 1, bytes([0xB0, cc, value])))
    end_tick = int(round((notes[-1][1] + TAIL_S) * 1000))
    if depth:
        for tick in range(0, end_tick, 10):
            bend = int(round(8192 + bend_cents(tick / 1000, depth) / BEND_RANGE_CENTS * 8192))
            events.append((tick, 2, bytes([0xE0, bend & 0x7F, bend >> 7])))
    for onset, offset, note in notes:
        velocity = rng.randint(80, 110)
        events.append((int(round(onset * 1000)), 3, bytes([0x90, note, velocity])))
        events.append((int(round(offset * 1000)), 1, bytes([0x80, note, 0])))
    events.sort(key=lambda e: (e[0], e[1]))
    track, last = bytearray(), 0
    for tick, _, data in events:
        track += var_len(tick - last) + data
        last = tick
    track += var_len(end_tick - last) + b"\xff\x2f\x00"
    header = b"MThd" + (6).to_bytes(4, "big") + (0).to_bytes(2, "big") + (1).to_bytes(2, "big")
    header += TICKS_PER_QUARTER.to_bytes(2, "big")
    return header + b"MTrk" + len(track).to_bytes(4, "big") + bytes(track)


def truth_grid(notes, depth, frames):
    """Hz on the 10 ms grid: the sounding note with its bend, 0 between notes.
    Where one note ends as the next starts, the next one counts."""
    times = np.arange(frames) * GRID_S
    hz = np.zeros(frames)
    for onset, offset, note in notes:
        inside = (times >= onset - 1e-9) & (times < offset - 1e-9)
        cents = (note - 69) * 100 + bend_cents(times[inside], depth)
        hz[inside] = 440.0 * 2 ** (cents / 1200)
    return times, hz


def render(mid_path, rate):
    with tempfile.TemporaryDirectory() as tmp:
        stereo = os.path.join(tmp, "stereo.wav")
        subprocess.run(["fluidsynth", "-ni", "-O", "float", "-T", "wav", "-F", stereo,
                        "-r", str(rate), SOUNDFONT, mid_path],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        samples, file_rate = read_wav(stereo)
    assert file_rate == rate
    return samples.mean(axis=1) if samples.ndim == 2 else samples


def make_melody(out_dir, index, name, program, low, high, rate, snr_db, depth):
    rng = random.Random(1000 + index)
    notes = make_notes(rng, low, high)
    base = os.path.join(out_dir, name)
    with open(base + ".mid", "wb") as f:
        f.write(midi_bytes(program, notes, depth, rng))
    audio = render(base + ".mid", rate)
    audio = audio[: int(round((notes[-1][1] + TAIL_S) * rate))]
    sounding = np.zeros(len(audio), bool)
    for onset, offset, _ in notes:
        sounding[int(onset * rate):int(offset * rate)] = True
    if snr_db is not None:
        signal_rms = np.sqrt(np.mean(audio[sounding] ** 2))
        noise = np.random.default_rng(2000 + index).standard_normal(len(audio))
        audio = audio + noise * signal_rms * 10 ** (-snr_db / 20)
    audio = audio * (0.7 / np.max(np.abs(audio)))
    write_wav(base + ".wav", audio, rate)
    with open(base + ".notes.csv", "w") as f:
        f.write("onset_s,offset_s,midi_note\n")
        for onset, offset, note in notes:
            f.write(f"{onset:.3f},{offset:.3f},{note}\n")
    times, hz = truth_grid(notes, depth, int(len(audio) / rate / GRID_S) + 1)
    with open(base + ".truth.csv", "w") as f:
        f.write("time_s,hz\n")
        for t, h in zip(times, hz):
            f.write(f"{t:.2f},{h:.4f}\n")
    return len(notes)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "build/accuracy"
    os.makedirs(out_dir, exist_ok=True)
    for index, melody in enumerate(MELODIES):
        count = make_melody(out_dir, index, *melody)
        name, _, low, high, rate, snr, depth = melody
        extra = (f", noise {snr} dB SNR" if snr else "") + (f", vibrato +-{depth} c" if depth else "")
        print(f"melodies: {name}: {count} notes, MIDI {low}-{high}, {rate} Hz{extra}")


if __name__ == "__main__":
    main()
