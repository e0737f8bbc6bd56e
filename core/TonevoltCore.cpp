#include "TonevoltCore.h"

#include <algorithm>
#include <cstring>

#include "SignalSteps.h"

void TonevoltCore::Open(float sample_rate) {
  m_twice_rate = sample_rate * 2.0f;
  ComputeCoefficients(kOpenCutoff);
}

void TonevoltCore::BuildPitchTable() { m_pitch_table = SharedPitchTable(); }

// Bilinear transform, without prewarping, of w / (s + w):
// a0 = a1 = w / (w + 2 fs), b1 = (2 fs - w) / (w + 2 fs).
void TonevoltCore::ComputeCoefficients(float cutoff) {
  float w = kTwoPi * cutoff;
  float k = static_cast<float>(1.0f / (static_cast<double>(w) + m_twice_rate));
  float a = static_cast<float>(static_cast<double>(w) * k);
  m_a0 = a;
  m_a1 = a;
  m_b1 = static_cast<float>((static_cast<double>(m_twice_rate) - w) * k);
}

void TonevoltCore::Process(const float* input, float* output, int32_t count) {
  // A NaN cutoff compares neither less nor greater, so it never recomputes.
  if (m_cutoff < m_applied_cutoff || m_cutoff > m_applied_cutoff) {
    m_applied_cutoff = m_cutoff;
    ComputeCoefficients(m_cutoff);
  }
  if (count <= 0) return;

  const bool volt_per_octave = VoltPerOctave();
  if (m_filter_order == kOrderTwoPoles) {
    if (volt_per_octave)
      RunPiece<true, true>(input, output, count);
    else
      RunPiece<true, false>(input, output, count);
  } else {
    if (volt_per_octave)
      RunPiece<false, true>(input, output, count);
    else
      RunPiece<false, false>(input, output, count);
  }
}

namespace {

bool SameBits(float a, float b) {
  uint32_t a_bits, b_bits;
  std::memcpy(&a_bits, &a, sizeof a_bits);
  std::memcpy(&b_bits, &b, sizeof b_bits);
  return a_bits == b_bits;
}

}  // namespace

// Zero-like runs at either end of a piece go through RunZeroLike, which can
// hold the output; the sound between them through the plain loop, which
// checks nothing. A sounding piece pays two vector compares for this.
template <bool kTwoPoles, bool kVoltPerOctave>
void TonevoltCore::RunPiece(const float* input, float* output, int32_t count) {
  const int32_t head = LeadingZeroLike(input, count);
  const int32_t sound_end = count - TrailingZeroLike(input + head, count - head);
  RunZeroLike<kTwoPoles, kVoltPerOctave>(input, output, head);
  RunSamples<kTwoPoles, kVoltPerOctave>(input + head, output + head, sound_end - head);
  RunZeroLike<kTwoPoles, kVoltPerOctave>(input + sound_end, output + sound_end, count - sound_end);
}

// Silence: from a zero-like prev sample, a zero-like sample gives no pulse
// and leaves prev zero-like. If such a sample also leaves every stage's
// state with the bits it had (the decay has come to rest: under
// round-to-nearest at a denormal, under truncation at zero), the next one
// computes exactly the same, and so does every zero-like sample after it:
// the output holds that sample's value to the end of the run. The check
// runs on the first sample of every kCheckEvery.
template <bool kTwoPoles, bool kVoltPerOctave>
void TonevoltCore::RunZeroLike(const float* input, float* output, int32_t count) {
  constexpr int32_t kCheckEvery = 64;
  int32_t i = 0;
  while (i < count) {
    const bool from_zero = ZeroLike(m_prev_sample);
    const float x1 = m_stage1_x1, y1 = m_stage1_y1, x2 = m_stage2_x1, y2 = m_stage2_y1;
    RunSamples<kTwoPoles, kVoltPerOctave>(input + i, output + i, 1);
    ++i;
    const bool at_rest = from_zero && SameBits(m_stage1_x1, x1) && SameBits(m_stage1_y1, y1) &&
                         (!kTwoPoles || (SameBits(m_stage2_x1, x2) && SameBits(m_stage2_y1, y2)));
    if (at_rest) {
      if (i < count) {
        m_prev_sample = input[count - 1];  // before the fill, which may overwrite it in place
        Fill(output + i, count - i, m_value);
      }
      return;
    }
    const int32_t plain = std::min(count - i, kCheckEvery - 1);
    RunSamples<kTwoPoles, kVoltPerOctave>(input + i, output + i, plain);
    i += plain;
  }
}

// In 1 V/oct a factor of 1.0 is left out, which frees a register in the
// loop. It could change only a denormal, into a zero of the same sign under
// denormals-are-zero; under that state the lookup's scaling reads the
// denormal as that zero all the same.
template <bool kTwoPoles, bool kVoltPerOctave>
void TonevoltCore::RunSamples(const float* input, float* output, int32_t count) {
  if (kVoltPerOctave && OctaveFactor(m_octave) == 1.0f)
    PlainLoop<kTwoPoles, kVoltPerOctave, false>(input, output, count);
  else
    PlainLoop<kTwoPoles, kVoltPerOctave, true>(input, output, count);
}

// State in locals for the whole stretch, written back once.
template <bool kTwoPoles, bool kVoltPerOctave, bool kOctaveFactor>
void TonevoltCore::PlainLoop(const float* input, float* output, int32_t count) {
  const float a0 = m_a0, a1 = m_a1, b1 = m_b1;
  const float octave_factor = OctaveFactor(m_octave);
  const float* table = m_pitch_table;
  float prev = m_prev_sample;
  float x1 = m_stage1_x1, y1 = m_stage1_y1;
  float x2 = m_stage2_x1, y2 = m_stage2_y1;  // untouched with one pole
  float value = m_value;

  for (int32_t i = 0; i < count; ++i) {
    const float x = input[i];
    const float pulse = ZeroCrossingPulse(prev, x);
    prev = x;
    value = OnePole(a0, a1, b1, pulse, x1, y1);
    if (kTwoPoles) value = OnePole(a0, a1, b1, value, x2, y2);
    value = value * kGain;
    if (kOctaveFactor) value = value * octave_factor;
    if (kVoltPerOctave) value = PitchLookup(table, kPitchTableSize, value);
    output[i] = value;
  }

  m_prev_sample = prev;
  m_stage1_x1 = x1;
  m_stage1_y1 = y1;
  if (kTwoPoles) {
    m_stage2_x1 = x2;
    m_stage2_y1 = y2;
  }
  m_value = value;
}
