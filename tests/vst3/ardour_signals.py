#!/usr/bin/python3
"""The Ardour test's signals and checks, by subcommand:

  input RATE DIR             DIR/input.f32 and DIR/input.wav: a melody played
                             by fluidsynth, then a sine sweep; prints the length
  replace SESSION_WAV F32    writes the signal into the session's file, which
                             must hold as many samples already
  plan FORMAT LV2_PATH_DIR DIR
                             DIR/plan.txt: for each case a track, the plug-in
                             (vst3 or lv2) and its settings, for the Lua scripts
  references RATE REFERENCE MODULE LV2_PATH_DIR DIR
                             DIR/NAME.ref.wav for each case: the plain plug-in's
                             from the 32-bit module, the tracker's from the LV2
                             tracker through lv2apply
  forget SESSION.ardour     strips the session of Ardour's own copies of its
                             VST3 plug-ins' parameters: what is left is each
                             plug-in's saved state
  check DIR AUDIO_DIR SUFFIX each case's bounce AUDIO_DIR/NAME+SUFFIX(%L, %R).wav
                             equals its reference, sample for sample

Float32 throughout. Ardour runs its plug-ins and writes its files with
denormals flushed to zero; the references do not. The signal holds no
subnormal sample, and its one rest is too short for any filter to decay into
that range; check counts a reference's subnormal sample equal to a bounced 0
(and says how many there were).
"""
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
from xml.etree import ElementTree

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "accuracy"))
from melodies import SOUNDFONT, midi_bytes  # noqa: E402
from wavfile import read_wav  # noqa: E402

# A clarinet line, A3 to E5, with one short rest, where the tracker's gate
# closes: (onset s, offset s, MIDI note).
CLARINET = 71
MELODY = [(0.05, 0.35, 57), (0.35, 0.6, 60), (0.6, 0.85, 64), (0.85, 1.2, 69),
          (1.4, 1.65, 67), (1.65, 1.9, 72), (1.9, 2.15, 76), (2.15, 2.6, 62)]
SWEEP_HZ = (55.0, 1760.0)
SWEEP_S = 1.5
SWEEP_LEVEL = 0.5
FLT_MIN = np.finfo(np.float32).tiny


def make_input(rate, out_dir):
    notes = [list(n) for n in MELODY]
    mid = os.path.join(out_dir, "melody.mid")
    with open(mid, "wb") as f:
        f.write(midi_bytes(CLARINET, notes, 0, random.Random(7)))
    melody = play(mid, rate)[: int(MELODY[-1][1] * rate)]
    melody *= 0.7 / np.max(np.abs(melody))
    t = np.arange(int(SWEEP_S * rate)) / rate
    low, high = SWEEP_HZ
    k = np.log(high / low) / SWEEP_S
    sweep = SWEEP_LEVEL * np.sin(2 * np.pi * low * (np.exp(k * t) - 1) / k)
    signal = np.concatenate([melody, sweep]).astype(np.float32)
    signal[np.abs(signal) < FLT_MIN] = 0  # Ardour would read them as 0
    signal.tofile(os.path.join(out_dir, "input.f32"))
    write_float_wav(os.path.join(out_dir, "input.wav"), signal, rate)
    print(len(signal))


def play(mid, rate):
    """fluidsynth's render of MID, mono, without reverb or chorus: the notes
    end, and the rest is quiet."""
    with tempfile.TemporaryDirectory() as tmp:
        stereo = os.path.join(tmp, "stereo.wav")
        subprocess.run(["fluidsynth", "-ni", "-R", "0", "-C", "0", "-O", "float", "-T", "wav",
                        "-F", stereo, "-r", str(rate), SOUNDFONT, mid],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        samples = read_float_wav(stereo)
    return samples.astype(np.float64).mean(axis=1)


def write_float_wav(path, samples, rate):
    body = np.asarray(samples, "<f4").tobytes()
    header = b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 3, 1, rate, rate * 4, 4, 32)
    header += b"data" + struct.pack("<I", len(body))
    with open(path, "wb") as f:
        f.write(header + body)


def replace(session_wav, f32):
    old, rate = read_wav(session_wav)
    new = np.fromfile(f32, "<f4")
    if old.ndim != 1 or len(old) != len(new):
        sys.exit(f"{session_wav}: {old.shape} samples, want {len(new)} mono")
    write_float_wav(session_wav, new, rate)


# Each case: a track of that name, the plug-in (plain or tracker) and the
# settings changed from its defaults, by the name hosts show, plain values.
# The plain plug-in at its defaults and as the module's usual pitch-to-CV
# (1 V/oct, 20 Hz, 2 poles, an octave up); the tracker with a gate that
# closes in the rest and no hold, and with a lowest note of its own (which
# it takes when next activated). Each setting changes the output here, and
# each value is one that a VST3 host's 32-bit normalized value carries
# exactly (123.4 Hz, say, would arrive as 123.400009).
CASES = [
    ("plain_defaults", False, {}),
    ("plain_set", False, {"Filter Cutoff": 20, "Octave": 1, "Freq Scale": 1, "Filter Order": 2}),
    ("tracker_set", True, {"Gate Threshold": -30, "Hold": 0, "Freq Scale": 1,
                           "Filter Cutoff": 20, "Filter Order": 1}),
    ("tracker_lowest", True, {"Lowest Note": 110, "Freq Scale": 1}),
]
LV2_URIS = {False: "https://tonevolt.invalid/lv2/tonevolt-audio",
            True: "https://tonevolt.invalid/lv2/tonevolt-tracker-audio"}
# The reference driver's block: the module's output does not depend on it.
REFERENCE_BLOCK = 1024


def vst3_names():
    """tracker -> the VST3 plug-in's name, from plugin/Identity.h."""
    with open(os.path.join(HERE, "..", "..", "plugin", "Identity.h")) as f:
        found = re.findall(r'\{(false|true),\s*"([^"]+)"', f.read())
    return {kind == "true": name for kind, name in found}


def lv2_ports(lv2_path_dir, uri):
    """Host-visible name -> dict(symbol, minimum, maximum, default, stepped) of
    URI's control inputs, as lv2info reads the LV2 bundle's description:
    the same table the VST3 plug-ins' parameters come from. The plug-in's
    own name is under None."""
    text = subprocess.run(["lv2info", uri], check=True, capture_output=True, text=True,
                          env=dict(os.environ, LV2_PATH=lv2_path_dir)).stdout
    ports = {None: re.search(r"^\tName:\s+(.+)$", text, re.M).group(1)}
    for port in re.split(r"\n\tPort \d+:\n", text)[1:]:
        if "#InputPort" not in port or "#ControlPort" not in port:
            continue
        def field(key):
            return re.search(r"^\t\t" + key + r":\s+(.+)$", port, re.M).group(1)
        ports[field("Name")] = {
            "symbol": field("Symbol"), "minimum": float(field("Minimum")),
            "maximum": float(field("Maximum")), "default": float(field("Default")),
            "stepped": any(f"lv2core#{kind}" in port for kind in ("integer", "enumeration", "toggled"))}
    return ports


def plan(fmt, lv2_path_dir, out_dir):
    """A list's setting is given as its entry, #INDEX from the first: a host
    may number the entries from 0 or from the list's least value."""
    names = vst3_names()
    with open(os.path.join(out_dir, "plan.txt"), "w") as f:
        for name, tracker, settings in CASES:
            ports = lv2_ports(lv2_path_dir, LV2_URIS[tracker])
            fields = [name, names[tracker] if fmt == "vst3" else ports[None]]
            for label, plain in settings.items():
                port = ports[label]
                value = f"#{plain - port['minimum']:g}" if port["stepped"] else f"{plain!r}"
                fields.append(f"{label}={value}")
            f.write("\t".join(fields) + "\n")


def case_settings(lv2_path_dir, tracker, settings):
    """symbol -> plain value of every control: the case's, else the default."""
    ports = lv2_ports(lv2_path_dir, LV2_URIS[tracker])
    return {port["symbol"]: settings.get(label, port["default"])
            for label, port in ports.items() if label is not None}


def references(rate, reference, module, lv2_path_dir, out_dir):
    signal = os.path.join(out_dir, "input.f32")
    for name, tracker, settings in CASES:
        values = case_settings(lv2_path_dir, tracker, settings)
        out = os.path.join(out_dir, name + ".ref.wav")
        if tracker:
            controls = [arg for symbol, value in values.items() for arg in ("-c", symbol, repr(value))]
            subprocess.run(["lv2apply", "-i", os.path.join(out_dir, "input.wav"), "-o", out,
                            *controls, LV2_URIS[tracker]], check=True,
                           env=dict(os.environ, LV2_PATH=lv2_path_dir))
            continue
        with tempfile.TemporaryDirectory() as tmp:
            settings_txt, pitch = os.path.join(tmp, "settings.txt"), os.path.join(tmp, "pitch.f32")
            with open(settings_txt, "w") as f:
                f.write(f"0 {values['cutoff']!r} {values['octave']:g} {values['scale']:g} "
                        f"{values['order']:g}\n")
            subprocess.run([reference, module, str(rate), str(REFERENCE_BLOCK), settings_txt,
                            signal, pitch], check=True)
            write_float_wav(out, np.fromfile(pitch, "<f4"), rate)


def forget(session_file):
    """Ardour keeps a VST3 plug-in's parameters as Port values and as
    Controllables, which it sets after giving the plug-in its state."""
    tree = ElementTree.parse(session_file)
    for processor in tree.iter("Processor"):
        if processor.get("type") != "vst3":
            continue
        for parent, tag in ((processor.find("vst3"), "Port"), (processor, "Controllable")):
            for child in parent.findall(tag):
                parent.remove(child)
    tree.write(session_file, xml_declaration=True, encoding="UTF-8")


def read_float_wav(path):
    """(frames, channels) float32."""
    samples, _ = read_wav(path)
    samples = samples.astype(np.float32)
    return samples.reshape(len(samples), -1)


def bounced(audio_dir, name):
    """The bounce's files, one per output in order: NAME.wav, or NAME%L.wav
    and NAME%R.wav."""
    mono = os.path.join(audio_dir, name + ".wav")
    if os.path.exists(mono):
        return [mono]
    return [os.path.join(audio_dir, f"{name}%{side}.wav") for side in "LR"]


def differences(got, want):
    """'' when equal, else what differs. A reference's subnormal counts as 0."""
    flushed = np.where(np.abs(want) < FLT_MIN, np.float32(0), want)
    if len(got) != len(want):
        return f"{len(got)} samples, want {len(want)}"
    differ = np.flatnonzero(got.view(np.uint32) != flushed.view(np.uint32))
    if len(differ) == 0:
        return ""
    first = differ[0]
    return (f"{len(differ)} samples differ, first at {first} (got {got[first]!r}, want "
            f"{want[first]!r}), max abs diff {np.max(np.abs(got.astype(np.float64) - want)):.3g}")


def check(out_dir, audio_dir, suffix):
    failed = False
    for name, _, _ in CASES:
        want = read_float_wav(os.path.join(out_dir, name + ".ref.wav"))
        paths = bounced(audio_dir, name + suffix)
        if len(paths) != want.shape[1] or not all(os.path.exists(p) for p in paths):
            print(f"{name}{suffix}: FAIL: want {want.shape[1]} outputs, found "
                  f"{[os.path.basename(p) for p in paths if os.path.exists(p)]}")
            failed = True
            continue
        for channel, path in enumerate(paths):
            got, expected = read_float_wav(path)[:, 0], want[:, channel]
            subnormal = np.count_nonzero((expected != 0) & (np.abs(expected) < FLT_MIN))
            problem = differences(got, expected)
            status = "FAIL: " + problem if problem else "equal"
            print(f"{name}{suffix} output {channel}: {len(got)} samples, {status}"
                  f" ({subnormal} subnormal in the reference)")
            failed |= bool(problem)
    return not failed


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "input":
        make_input(int(args[0]), args[1])
    elif command == "replace":
        replace(*args)
    elif command == "plan":
        plan(*args)
    elif command == "references":
        references(int(args[0]), *args[1:])
    elif command == "forget":
        forget(*args)
    elif command == "check":
        sys.exit(0 if check(*args) else 1)
    else:
        sys.exit(f"unknown command {command}")
