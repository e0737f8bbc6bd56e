#!/usr/bin/python3
"""Runs each pitch reader on the melodies of DIR and scores its readings
frame by frame against the MIDI truth; writes DIR/accuracy.md.

Usage: score.py DIR TONEVOLT [SYSTEM,SYSTEM,...]
"""
import os
import resource
import shlex
import subprocess
import sys
import tempfile

import numpy as np

from wavfile import read_wav

GRID_S = 0.01
SKIP_ONSET_S = 0.06
SKIP_OFFSET_S = 0.03
SETTLED_S = 0.2
MODULE_RATE = 44100.0

# The rows: a name and a command. {tonevolt} is the tool, {in} the melody,
# {hop} 10 ms in samples, {advised} the words after advise's "suggested: ".
# A command with {out} writes the module's output there (render's OUT);
# any other prints "time hz" lines, as aubiopitch does.
SYSTEMS = [
    ("render", "{tonevolt} render {in} {out}"),
    ("render advised", "{tonevolt} render {in} {out} {advised}"),
    ("aubiopitch", "aubiopitch -i {in} -H {hop}"),
    ("aubiopitch yin", "aubiopitch -i {in} -H {hop} -p yin"),
    ("aubiopitch yin 4096", "aubiopitch -i {in} -H {hop} -p yin -B 4096"),
    ("render follow", "{tonevolt} render {in} {out} --order 2 --cutoff 10 --scale oct --prefilter follow"),
    ("render live", "{tonevolt} render {in} {out} --order 2 --cutoff 10 --scale oct --prefilter live"),
    # The tracker plug-in at the file's rate, its controls at their defaults
    # but for scale and order; its bundle on LV2_PATH (scripts/accuracy.sh).
    ("lv2 tracker", "lv2apply -i {in} -o {out} -c scale 1 -c order 2 "
                    "https://tonevolt.invalid/lv2/tonevolt-tracker-audio"),
]
CPU_REFERENCE = "aubiopitch"

# aubiopitch prints each reading at the start of the hop it has just read;
# its window is the last -B samples (2048 unless given) up to the end of
# that hop. "centre" puts the reading at the window's centre, its best
# alignment for an offline tracker; "end" where a causal reader could have it.
AUBIO_ALIGN = os.environ.get("ACCURACY_AUBIO_ALIGN", "centre")


def cpu_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run(args, **kwargs):
    """(stdout, CPU seconds): one child, waited for, so its time is counted."""
    before = cpu_of_children()
    result = subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True, **kwargs)
    return result.stdout, cpu_of_children() - before


def option_value(args, name, default):
    """The last value of --name given as '--name V' or '--name=V'."""
    value = default
    for i, word in enumerate(args):
        if word == name and i + 1 < len(args):
            value = args[i + 1]
        elif word.startswith(name + "="):
            value = word[len(name) + 1:]
    return value


def native_rate(args):
    value = None
    for word in args:
        if word == "--native-rate":
            value = "yes"
        elif word.startswith("--native-rate="):
            value = word.split("=", 1)[1]
    return value in ("yes", "true", "on", "1")


def plugin_control(args, symbol, default):
    """An lv2apply "-c SYMBOL VALUE" control."""
    for i, word in enumerate(args[:-2]):
        if word == "-c" and args[i + 1] == symbol:
            return args[i + 2]
    return default


def render_readings(out_path, args, frames):
    """Render's (or the tracker plug-in's) output as Hz on the grid: the
    module's value averaged over each frame's 10 ms (centred on the frame's
    time), then converted as the tool converts it (1.0 = 10 V; 1 V/kHz, or
    1 V/oct with 440 Hz at 5 V; octave shift undone; scaled back from 44100 Hz
    under --native-rate; the tracker reads the note at any rate itself)."""
    values, rate = read_wav(out_path)
    if args[0] == "lv2apply":
        values = values[:, 0]  # pitch; the gate beside it
        scale = "oct" if plugin_control(args, "scale", "0") == "1" else "khz"
        args = ["--scale", scale, "--octave", plugin_control(args, "octave", "0")]
    half = int(round(GRID_S / 2 * rate))
    cumulative = np.concatenate(([0.0], np.cumsum(values)))
    centres = np.round(np.arange(frames) * GRID_S * rate).astype(int)
    lo = np.clip(centres - half, 0, len(values))
    hi = np.clip(centres + half, 0, len(values))
    mean = np.where(hi > lo, (cumulative[hi] - cumulative[lo]) / np.maximum(hi - lo, 1), 0.0)
    volts = 10.0 * mean
    if option_value(args, "--scale", "khz").lower() == "oct":
        hz = 440.0 * 2.0 ** (volts - 5.0)
    else:
        hz = np.maximum(volts * 1000.0, 0.0)
    hz /= 2.0 ** float(option_value(args, "--octave", "0"))
    if native_rate(args):
        hz *= rate / MODULE_RATE
    # Below the table's first step (1 Hz) is the module's no-pitch reading.
    return np.where(hz >= 1.0, hz, 0.0)


def aubio_readings(text, args, rate, frames):
    """aubiopitch's "time hz" lines as Hz on the grid: the reading whose
    aligned time is nearest each frame's."""
    hop = int(option_value(args, "-H", "256"))
    window = int(option_value(args, "-B", "2048"))
    lines = [line.split() for line in text.splitlines() if line.strip()]
    times = np.array([float(t) for t, _ in lines])
    hz = np.array([float(h) for _, h in lines])
    shift = hop - window / 2 if AUBIO_ALIGN == "centre" else hop
    step = times[1] - times[0]
    first = times[0] + shift / rate
    index = np.round((np.arange(frames) * GRID_S - first) / step).astype(int)
    inside = (index >= 0) & (index < len(hz))
    readings = np.zeros(frames)
    readings[inside] = hz[index[inside]]
    return readings


def load_truth(base):
    truth = np.loadtxt(base + ".truth.csv", delimiter=",", skiprows=1, ndmin=2)
    notes = np.loadtxt(base + ".notes.csv", delimiter=",", skiprows=1, ndmin=2)
    times, hz = truth[:, 0], truth[:, 1]
    scored = np.zeros(len(times), bool)
    settled = np.zeros(len(times), bool)
    for onset, offset, _ in notes:
        inside = (times >= onset + SKIP_ONSET_S - 1e-9) & (times <= offset - SKIP_OFFSET_S + 1e-9)
        scored |= inside
        settled |= inside & (times >= onset + SETTLED_S - 1e-9)
    return hz, scored, settled


def advised_words(tonevolt, wav):
    text, cpu = run([tonevolt, "advise", wav])
    lines = [line for line in text.splitlines() if line.startswith("suggested: ")]
    return (lines[-1][len("suggested: "):].split() if lines else []), cpu


class Tally:
    def __init__(self):
        self.errors, self.settled, self.cpu = [], [], 0.0

    def add(self, readings, truth, scored, settled):
        with np.errstate(divide="ignore", invalid="ignore"):
            cents = np.where(readings > 0, 1200.0 * np.log2(readings / np.where(truth > 0, truth, 1)),
                             np.inf)
        self.errors.append(cents[scored])
        self.settled.append(cents[settled])
        return within(cents[settled], 50)

    def row(self):
        errors, settled = np.concatenate(self.errors), np.concatenate(self.settled)
        finite = np.where(np.isfinite(errors), errors, 0.0)
        octaves = np.round(finite / 1200.0)
        octave_errors = (octaves != 0) & (np.abs(finite - 1200 * octaves) <= 50)
        return (within(errors, 50), within(errors, 10), 100.0 * np.mean(octave_errors),
                np.median(np.abs(errors)), within(settled, 50))


def within(cents, limit):
    return 100.0 * np.mean(np.abs(cents) <= limit) if len(cents) else float("nan")


def main():
    data_dir, tonevolt = sys.argv[1], sys.argv[2]
    chosen = [s for s in SYSTEMS if len(sys.argv) < 4 or s[0] in sys.argv[3].split(",")]
    if len(sys.argv) >= 4 and len(chosen) != len(sys.argv[3].split(",")):
        names = ", ".join(f"'{name}'" for name, _ in SYSTEMS)
        sys.exit(f"accuracy: unknown system in '{sys.argv[3]}' (systems: {names})")
    names = sorted(f[:-4] for f in os.listdir(data_dir)
                   if f.endswith(".wav") and os.path.exists(os.path.join(data_dir, f[:-4] + ".truth.csv")))
    tallies = {name: Tally() for name, _ in chosen}
    per_file = {}
    advise_cpu = 0.0
    readings_dir = os.path.join(data_dir, "readings")
    os.makedirs(readings_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for melody in names:
            base = os.path.join(data_dir, melody)
            wav = base + ".wav"
            truth, scored, settled = load_truth(base)
            rate = read_wav(wav)[1]
            advised = None
            per_file[melody] = {}
            grid = [np.arange(len(truth)) * GRID_S, truth]
            for name, template in chosen:
                if "{advised}" in template and advised is None:
                    advised, cpu = advised_words(tonevolt, wav)
                    advise_cpu += cpu
                    per_file[melody]["advised"] = " ".join(advised)
                out = os.path.join(tmp, "out.wav")
                args = []
                for word in shlex.split(template):
                    if word == "{advised}":
                        args += advised
                    else:
                        args.append(word.format(tonevolt=tonevolt, out=out, hop=rate // 100,
                                                **{"in": wav}))
                text, cpu = run(args)
                tallies[name].cpu += cpu
                if "{out}" in template:
                    readings = render_readings(out, args, len(truth))
                else:
                    readings = aubio_readings(text, args, rate, len(truth))
                per_file[melody][name] = tallies[name].add(readings, truth, scored, settled)
                grid.append(readings)
            header = "time_s,truth_hz," + ",".join(name.replace(" ", "_").replace(",", "")
                                                   for name, _ in chosen)
            np.savetxt(os.path.join(readings_dir, melody + ".csv"), np.column_stack(grid),
                       delimiter=",", fmt="%.4f", header=header, comments="")
            print(f"accuracy: {melody}: " + ", ".join(
                f"{name} {per_file[melody][name]:.1f}" for name, _ in chosen), file=sys.stderr)

    report = table(chosen, tallies, per_file, names, advise_cpu)
    print(report)
    with open(os.path.join(data_dir, "accuracy.md"), "w") as f:
        f.write(report)


def table(chosen, tallies, per_file, names, advise_cpu):
    reference = tallies.get(CPU_REFERENCE)
    lines = ["| System | within 50 c | within 10 c | octave errors | median error | "
             "within 50 c ≥ 200 ms | CPU s | CPU vs aubiopitch |",
             "|---|---|---|---|---|---|---|---|"]
    for name, _ in chosen:
        tally = tallies[name]
        w50, w10, octave, median, settled = tally.row()
        ratio = f"{tally.cpu / reference.cpu:.2f}" if reference and reference.cpu > 0 else "-"
        median_text = f"{median:.1f} c" if np.isfinite(median) else "no reading"
        lines.append(f"| {name} | {w50:.1f} % | {w10:.1f} % | {octave:.1f} % | {median_text} | "
                     f"{settled:.1f} % | {tally.cpu:.2f} | {ratio} |")
    frames = sum(len(e) for e in next(iter(tallies.values())).errors)
    settled_frames = sum(len(e) for e in next(iter(tallies.values())).settled)
    lines.append("")
    lines.append(f"{len(names)} files, {frames} frames scored ({settled_frames} of them "
                 f"≥ 200 ms after the onset); aubiopitch readings aligned at the window's {AUBIO_ALIGN}.")
    if any("advised" in row for row in per_file.values()):
        ratio = f", {advise_cpu / reference.cpu:.2f} × aubiopitch" if reference and reference.cpu > 0 else ""
        lines.append(f"`tonevolt advise` on every file: {advise_cpu:.2f} s CPU{ratio}.")
    lines += ["", "Within 50 c, frames ≥ 200 ms after the onset, per file:", ""]
    lines.append("| File | " + " | ".join(name for name, _ in chosen) + " |")
    lines.append("|---|" + "---|" * len(chosen))
    for melody in names:
        lines.append(f"| {melody} | " + " | ".join(f"{per_file[melody][name]:.1f}"
                                                    for name, _ in chosen) + " |")
    if any("advised" in row for row in per_file.values()):
        lines += ["", "Advise's settings per file:", ""]
        lines += [f"- {melody}: `{per_file[melody]['advised']}`" for melody in names]
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
