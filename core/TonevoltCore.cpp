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
      RunSamples<true, true>(input, output, count);
    else
      RunSamples<true, false>(input, output, count);
  } else {
    if (volt_per_octave)
      RunSamples<false, true>(input, output, count);
    else
      RunSamples<false, false>(input, output, count);
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

// Silence: from a zero-like prev sample, a zero-like sample gives no pulse
// and leaves prev zero-like. If such a sample also leaves every stage's
// state with the bits it had (the decay has come to rest: under
// round-to-nearest at a denormal, under truncation at zero), the next one
// computes exactly the same, and so does every zero-like sample after it:
// the output holds that sample's value until the input turns non-zero. The
// check runs only at the start of each stretch of kCheckEvery samples and
// costs a sound signal one test of prev.
template <bool kTwoPoles, bool kVoltPerOctave>
void TonevoltCore::RunSamples(const float* input, float* output, int32_t count) {
  constexpr int32_t kCheckEvery = 64;
  const float a0 = m_a0, a1 = m_a1, b1 = m_b1;
  const float octave_factor = OctaveFactor(m_octave);
  const float* table = m_pitch_table;
  float prev = m_prev_sample;
  float x1 = m_stage1_x1, y1 = m_stage1_y1;
  float x2 = m_stage2_x1, y2 = m_stage2_y1;  // untouched with one pole
  float value = m_value;

  auto step = [&](float x) {
    const float pulse = ZeroCrossingPulse(prev, x);
    prev = x;
    float v = OnePole(a0, a1, b1, pulse, x1, y1);
    if (kTwoPoles) v = OnePole(a0, a1, b1, v, x2, y2);
    v = v * kGain;
    v = v * octave_factor;
    if (kVoltPerOctave) v = PitchLookup(table, kPitchTableSize, v);
    return v;
  };

  int32_t i = 0;
  while (i < count) {
    if (ZeroLike(prev) && ZeroLike(input[i])) {
      const float old_x1 = x1, old_y1 = y1, old_x2 = x2, old_y2 = y2;
      value = step(input[i]);
      output[i++] = value;
      const bool at_rest = SameBits(x1, old_x1) && SameBits(y1, old_y1) &&
                           (!kTwoPoles || (SameBits(x2, old_x2) && SameBits(y2, old_y2)));
      if (at_rest) {
        const int32_t end = i + LeadingZeroLike(input + i, count - i);
        if (end > i) {
          prev = input[end - 1];  // before the fill, which may overwrite it in place
          Fill(output + i, end - i, value);
          i = end;
        }
        continue;
      }
    }
    const int32_t end = std::min(count, i + kCheckEvery);
    for (; i < end; ++i) {
      value = step(input[i]);
      output[i] = value;
    }
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
