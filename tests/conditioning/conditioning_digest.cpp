// Prints a 64-bit FNV-1a digest, one a line, of what the conditioning library
// computes where its results reach the module: the PortableMath functions,
// note frequencies, the FFT, the pre-filters' coefficients and output, and
// the melody tracker, the following filter and the live tracker on a line.
// Built for i386 and x86-64, the two must print the same lines.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "conditioning/Fft.h"
#include "conditioning/FollowFilter.h"
#include "conditioning/Frequency.h"
#include "conditioning/LiveTracker.h"
#include "conditioning/MelodyTracker.h"
#include "conditioning/PortableMath.h"
#include "conditioning/Prefilter.h"

namespace {

using namespace tonevolt;

class Digest {
 public:
  void Add(const void* data, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) m_hash = (m_hash ^ bytes[i]) * 0x100000001b3;
  }
  void Add(double value) { Add(&value, sizeof value); }
  void Print(const std::string& label) const {
    std::printf("%s %016" PRIx64 "\n", label.c_str(), m_hash);
  }

 private:
  uint64_t m_hash = 0xcbf29ce484222325;
};

// A sweep from 30 Hz to 5 kHz with its 2nd and 3rd harmonics, 2 s long.
std::vector<float> Sweep(double rate) {
  const size_t count = static_cast<size_t>(2 * rate);
  std::vector<float> samples(count);
  double phase = 0;
  for (size_t i = 0; i < count; ++i) {
    const double hz = 30 * PortableExp2(7.4 * static_cast<double>(i) / static_cast<double>(count));
    phase += 2 * M_PI * hz / rate;
    samples[i] = static_cast<float>(0.5 * PortableSin(phase) + 0.25 * PortableSin(2 * phase) +
                                    0.125 * PortableSin(3 * phase));
  }
  return samples;
}

void PrintMath() {
  struct Function {
    const char* name;
    double (*f)(double);
    bool positive;  // logs: arguments from 1e-300 up
  };
  const Function kFunctions[] = {
      {"sin", PortableSin, false},   {"cos", PortableCos, false}, {"tan", PortableTan, false},
      {"exp2", PortableExp2, false}, {"exp", PortableExp, false}, {"pow10", PortablePow10, false},
      {"log2", PortableLog2, true},  {"log", PortableLog, true},  {"log10", PortableLog10, true},
  };
  for (const Function& function : kFunctions) {
    Digest digest;
    if (function.positive) {
      for (double x = 1e-300; x < 1e300; x *= 1.0123) digest.Add(function.f(x));
    } else {
      for (int i = -200000; i <= 200000; ++i) digest.Add(function.f(i * 0.001234567));
      for (double x = 1e-20; x < 1e8; x *= 1.00123) digest.Add(function.f(x));
    }
    digest.Print(std::string("math:") + function.name);
  }
}

void PrintNotesAndFft() {
  Digest notes;
  for (int tenth = 0; tenth <= 1270; ++tenth) notes.Add(MidiNoteHz(tenth / 10.0));
  notes.Print("midi-note-hz");

  std::vector<float> sweep = Sweep(48000);
  Fft fft(4096);
  std::vector<double> re(sweep.begin(), sweep.begin() + 4096), im(4096, 0.0);
  Digest transform;
  fft.Transform(re.data(), im.data(), false);
  for (size_t i = 0; i < re.size(); ++i) transform.Add(re[i]), transform.Add(im[i]);
  fft.Transform(re.data(), im.data(), true);
  for (size_t i = 0; i < re.size(); ++i) transform.Add(re[i]), transform.Add(im[i]);
  transform.Print("fft-4096");
}

void PrintPrefilters() {
  struct Design {
    PrefilterChoice::Kind kind;
    const char* name;
    std::vector<double> hz;
  };
  const Design kDesigns[] = {
      {PrefilterChoice::Kind::kNote, "note", {27.5, 110, 440, 1234.5, 3520}},
      {PrefilterChoice::Kind::kRange, "range", {20, 41.2, 110, 440, 2000}},
      {PrefilterChoice::Kind::kBand, "band", {16.35, 82.41, 440, 1760}},
  };
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    const std::vector<float> sweep = Sweep(rate);
    for (const Design& design : kDesigns) {
      for (double hz : design.hz) {
        std::string error;
        auto filter = Prefilter::Create({design.kind, hz}, rate, &error);
        char label[64];
        std::snprintf(label, sizeof label, "%s:%g@%g", design.name, hz, rate);
        if (!filter) {
          std::printf("%s %s\n", label, error.c_str());
          continue;
        }
        Digest coefficients;
        for (double c : filter->Coefficients()) coefficients.Add(c);
        coefficients.Print(std::string(label) + " coefficients");
        std::vector<float> out(sweep.size());
        // In uneven blocks, as a host feeds it.
        for (size_t done = 0, block = 1; done < sweep.size();
             done += block, block = block * 3 % 1021) {
          block = std::min(block, sweep.size() - done);
          filter->Process(sweep.data() + done, out.data() + done, block);
        }
        Digest output;
        output.Add(out.data(), out.size() * sizeof(float));
        output.Print(std::string(label) + " output");
      }
    }
  }
}

// Notes of five partials, with rests: E1 to C7, loud and quiet.
std::vector<float> Line(double rate) {
  const double kNotes[] = {28, 0, 45, 57, 0, 69, 81, 93, 0, 96, 40, 64};
  const size_t note_length = static_cast<size_t>(0.3 * rate);
  std::vector<float> samples;
  double phase = 0;
  for (size_t n = 0; n < sizeof kNotes / sizeof kNotes[0]; ++n) {
    const double hz = kNotes[n] > 0 ? MidiNoteHz(kNotes[n]) : 0;
    const double level = n % 3 == 2 ? 0.005 : 0.3;
    for (size_t i = 0; i < note_length; ++i) {
      phase += 2 * M_PI * hz / rate;
      double x = 0;
      for (int k = 1; k <= 5; ++k) x += PortableSin(k * phase) / k;
      samples.push_back(static_cast<float>(hz > 0 ? level * x : 0.0));
    }
  }
  return samples;
}

void PrintTrackers() {
  for (double rate : {44100.0, 48000.0}) {
    const std::vector<float> line = Line(rate);
    char label[64];

    MelodyTracker tracker(rate);
    Digest frames;
    for (size_t done = 0, block = 1; done < line.size(); done += block, block = block * 3 % 1021) {
      block = std::min(block, line.size() - done);
      tracker.Process(line.data() + done, block);
      for (size_t i = 0; i < tracker.Ready(); ++i) {
        frames.Add(tracker.Frame(i).hz);
        frames.Add(tracker.Frame(i).clarity);
        frames.Add(tracker.Frame(i).level_db);
      }
      tracker.Pop(tracker.Ready());
    }
    std::snprintf(label, sizeof label, "melody-tracker@%g", rate);
    frames.Print(label);

    FollowFilter follow(rate, 41.2);
    std::vector<float> out(line.size());
    const size_t step = static_cast<size_t>(0.05 * rate);
    for (size_t done = 0, k = 0; done < line.size(); done += step, ++k) {
      follow.Steer(MidiNoteHz(30 + static_cast<double>(k * 7 % 60)));
      follow.Process(line.data() + done, out.data() + done, std::min(step, line.size() - done));
    }
    Digest followed;
    followed.Add(out.data(), out.size() * sizeof(float));
    std::snprintf(label, sizeof label, "follow-filter@%g", rate);
    followed.Print(label);

    LiveTracker live(rate, LiveOptions());
    std::vector<float> gate(line.size());
    for (size_t done = 0, block = 1; done < line.size(); done += block, block = block * 5 % 1021) {
      block = std::min(block, line.size() - done);
      live.Process(line.data() + done, out.data() + done, gate.data() + done, block);
    }
    Digest lived;
    lived.Add(out.data(), out.size() * sizeof(float));
    lived.Add(gate.data(), gate.size() * sizeof(float));
    std::snprintf(label, sizeof label, "live-tracker@%g", rate);
    lived.Print(label);
  }
}

}  // namespace

int main() {
  PrintMath();
  PrintNotesAndFft();
  PrintPrefilters();
  PrintTrackers();
  return 0;
}
