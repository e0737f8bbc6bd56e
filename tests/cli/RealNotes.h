// Real instrument notes for the tool's tests: one note of a General MIDI
// program rendered by fluidsynth from the GM soundfont, made once per build
// tree (in TONEVOLT_TEST_NOTES) and shared by the tests that use it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace real_notes {

constexpr char kSoundFont[] = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

// Why real notes cannot be made here, or empty when they can.
inline std::string Missing() {
  if (access(kSoundFont, R_OK) != 0)
    return std::string(kSoundFont) + " is not installed (fluid-soundfont-gm)";
  if (std::system("command -v fluidsynth >/dev/null 2>&1") != 0)
    return "fluidsynth is not installed";
  return "";
}

// A type 0 MIDI file: the program, then the note held for `seconds` at 120
// beats a minute (960 ticks a second).
inline std::string MidiFile(int program, int note, double seconds) {
  auto length = [](uint32_t ticks) {
    std::string bytes(1, static_cast<char>(ticks & 0x7f));
    for (ticks >>= 7; ticks > 0; ticks >>= 7)
      bytes.insert(bytes.begin(), static_cast<char>(0x80 | (ticks & 0x7f)));
    return bytes;
  };
  std::string track;
  track += length(0) + std::string{'\xc0', static_cast<char>(program)};
  track += length(0) + std::string{'\x90', static_cast<char>(note), 100};
  track += length(static_cast<uint32_t>(seconds * 960)) +
           std::string{'\x80', static_cast<char>(note), 0};
  track += length(0) + std::string{'\xff', '\x2f', '\0'};
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  std::string header = "MThd" + be32(6) + std::string{0, 0, 0, 1, 1, static_cast<char>(0xe0)};
  return header + "MTrk" + be32(static_cast<uint32_t>(track.size())) + track;
}

// The path of the note's WAV file (16-bit stereo), rendering it if it is not
// there yet; empty if fluidsynth failed.
inline std::string Note(int program, int note, int rate, double seconds = 1.5) {
  const std::string folder = TONEVOLT_TEST_NOTES;
  mkdir(folder.c_str(), 0777);
  char name[96];
  std::snprintf(name, sizeof name, "/p%d-n%d-%d-%.2f", program, note, rate, seconds);
  std::string wav = folder + name + ".wav";
  if (access(wav.c_str(), R_OK) == 0) return wav;
  // Made under a name of this process's own and renamed: tests run in parallel.
  std::string temp = folder + name + "." + std::to_string(getpid());
  std::ofstream(temp + ".mid", std::ios::binary) << MidiFile(program, note, seconds);
  std::string command = "fluidsynth -ni -g 0.6 -r " + std::to_string(rate) + " -F '" + temp +
                        ".wav' " + kSoundFont + " '" + temp + ".mid' >/dev/null 2>&1";
  bool made =
      std::system(command.c_str()) == 0 && rename((temp + ".wav").c_str(), wav.c_str()) == 0;
  std::remove((temp + ".mid").c_str());
  return made ? wav : "";
}

}  // namespace real_notes
