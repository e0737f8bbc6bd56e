#include "module/Readings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "OutputUnits.h"

namespace tonevolt {

namespace {

const char* const kNoteNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};

}  // namespace

double ImpliedHz(double value, const Settings& settings, double sample_rate) {
  double read_hz;
  if (settings.scale == Scale::kVoltPerOctave) {
    read_hz = ReadHzOfOctaveValue(value);
  } else {
    if (!(value > 0)) return 0;
    read_hz = ReadHzOfKhzValue(value);
  }
  return InputHzOfReadHz(read_hz, settings.octave, sample_rate);
}

double NominalValue(double hz, const Settings& settings, double sample_rate) {
  double read_hz = ReadHzOfInputHz(hz, settings.octave, sample_rate);
  if (settings.scale == Scale::kVoltPerOctave) return OctaveValueOfReadHz(read_hz);
  return KhzValueOfReadHz(read_hz);
}

double Cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

std::string NoteName(double hz, double* cents) {
  if (!(hz >= 8.0 && hz < 1e6)) {
    if (cents != nullptr) *cents = 0;
    return "-";
  }
  double exact = 69.0 + 12.0 * std::log2(hz / 440.0);
  int midi = static_cast<int>(std::lround(exact));
  if (cents != nullptr) *cents = (exact - midi) * 100.0;
  return std::string(kNoteNames[midi % 12]) + std::to_string(midi / 12 - 1);
}

std::string MissingFundamentalText(double heard_hz, int lowest_partial) {
  static const char* const kOrdinals[] = {"", "1st", "2nd", "3rd", "4th"};
  static const char* const kIntervals[] = {"", "", "an octave", "an octave and a fifth",
                                           "two octaves"};
  const int h = lowest_partial < 2 ? 2 : lowest_partial > 4 ? 4 : lowest_partial;
  const std::string heard = NoteName(heard_hz), partial = NoteName(h * heard_hz);
  return heard + "'s fundamental is missing: the module reads at best its " + kOrdinals[h] +
         " harmonic, " + partial + " (--prefilter note:" + partial + "), a CV " + kIntervals[h] +
         " above the note heard";
}

Settled AnalyseNote(const float* values, size_t count, const Settings& settings) {
  Settled result;
  if (count < 4) return result;
  const size_t begin = count / 2;
  // The ripple rises at each pulse and falls between: the starts of rises
  // mark whole ripple periods.
  size_t first = 0, last = 0;
  for (size_t i = begin + 1; i + 1 < count; ++i) {
    bool rise_start = values[i + 1] > values[i] && !(values[i] > values[i - 1]);
    if (!rise_start) continue;
    if (first == 0) first = i;
    last = i;
  }
  size_t from = begin, to = count;
  if (first != 0 && last - first >= (count - begin) / 4) from = first, to = last;
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += values[i];
  result.mean = sum / static_cast<double>(to - from);

  auto [lo, hi] = std::minmax_element(values + begin, values + count);
  result.ripple = static_cast<double>(*hi) - *lo;
  // 1 % in frequency, as a value step at the mean.
  double margin = settings.scale == Scale::kVoltPerOctave ? std::log2(1.01) / kVoltsPerUnit
                                                          : 0.01 * std::fabs(result.mean);
  double band_lo = *lo - margin, band_hi = *hi + margin;
  size_t settle = 0;
  for (size_t i = 0; i < begin; ++i)
    if (!(values[i] >= band_lo && values[i] <= band_hi)) settle = i + 1;
  result.settle_samples = settle;
  return result;
}

std::string SignedCents(double cents, const char* unit) {
  if (!std::isfinite(cents)) return "-";
  long rounded = std::lround(cents);
  return (rounded >= 0 ? "+" : "") + std::to_string(rounded) + unit;
}

}  // namespace tonevolt
