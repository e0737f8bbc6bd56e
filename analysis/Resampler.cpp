#include "analysis/Resampler.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace tonevolt {
namespace {

constexpr int kHighestRate = 10000000;
constexpr size_t kBufferSamples = 16384;

// The top of the passband, as a fraction of the lower rate's Nyquist
// frequency. libsoxr's high quality goes to 0.91, a slope steep enough to
// ring at the band's edge for milliseconds after a step, into a note's first
// slow crossings, which the module counts. At 0.8 the ring is under a
// thousandth of the step 1 ms on (48 kHz to 44.1 kHz): 17.6 kHz of a 48 kHz
// file is kept, 3.2 kHz of an 8 kHz one.
constexpr double kPassbandEnd = 0.8;

// Where a response is taken to start: the -120 dBFS below which the render
// passes resampled audio on as silence, so nothing it lets through comes
// ahead of its cause. Ahead of its rise, libsoxr's minimum-phase response
// leaves at most some 5e-7 of a full-scale input, and its last bits there
// differ between builds (i386 and x86-64): a floor in that noise would let a
// rounding choose the delay, and two builds of the tool would disagree.
constexpr float kRiseFloor = 1e-6f;
// Impulses at this many successive input samples, each at another fraction
// of an output sample.
constexpr int kRisePhases = 16;

// How many output samples ahead of an impulse's own place (its index *
// out_rate / in_rate) libsoxr's response to it reaches kRiseFloor, the most
// over kRisePhases impulses; 0 when it never starts early. The rise takes some
// 7 samples at the lower of the rates. Leaves the handle cleared.
size_t MeasureRise(soxr_t handle, int in_rate, int out_rate, std::vector<float>* buffer) {
  const size_t silence = 32 * static_cast<size_t>((in_rate + out_rate - 1) / out_rate);
  const double ratio = static_cast<double>(out_rate) / in_rate;
  double rise = 0;
  for (int phase = 0; phase < kRisePhases; ++phase) {
    std::vector<float> impulse(silence + phase + 1, 0.0f);
    impulse.back() = 1.0f;
    const double place = static_cast<double>(impulse.size() - 1) * ratio;
    soxr_clear(handle);
    size_t used = 0, index = 0;
    for (;;) {
      // All of the impulse, then the end of the stream (no input).
      const bool input_left = used < impulse.size();
      size_t in_done = 0, out_done = 0;
      soxr_error_t error =
          soxr_process(handle, input_left ? impulse.data() + used : nullptr, impulse.size() - used,
                       &in_done, buffer->data(), buffer->size(), &out_done);
      used += in_done;
      const float* first = std::find_if(buffer->data(), buffer->data() + out_done,
                                        [](float x) { return std::fabs(x) >= kRiseFloor; });
      if (first != buffer->data() + out_done) {
        rise = std::max(rise, place - static_cast<double>(index + (first - buffer->data())));
        break;
      }
      index += out_done;
      if (error || (out_done == 0 && (!input_left || in_done == 0))) break;
    }
  }
  soxr_clear(handle);
  return static_cast<size_t>(std::ceil(rise));
}

}  // namespace

struct Resampler::Soxr {
  soxr_t handle;
};

std::unique_ptr<Resampler> Resampler::Create(int in_rate, int out_rate, Signal signal,
                                             std::string* error) {
  if (in_rate <= 0 || out_rate <= 0 || in_rate > kHighestRate || out_rate > kHighestRate) {
    *error = "cannot resample from " + std::to_string(in_rate) + " Hz to " +
             std::to_string(out_rate) + " Hz: rates must be 1 to " + std::to_string(kHighestRate) +
             " Hz";
    return nullptr;
  }
  std::unique_ptr<Resampler> resampler(new Resampler(in_rate, out_rate, signal));
  if (in_rate == out_rate || signal == Signal::kControlVoltage) return resampler;

  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ | SOXR_MINIMUM_PHASE, 0);
  quality.passband_end = kPassbandEnd;
  soxr_error_t soxr_error = nullptr;
  soxr_t handle = soxr_create(in_rate, out_rate, 1, &soxr_error, &io, &quality, nullptr);
  if (!handle || soxr_error) {
    if (handle) soxr_delete(handle);
    *error = "cannot resample from " + std::to_string(in_rate) + " Hz to " +
             std::to_string(out_rate) + " Hz: " + soxr_strerror(soxr_error);
    return nullptr;
  }
  resampler->m_soxr = new Soxr{handle};
  resampler->m_buffer.resize(kBufferSamples);
  resampler->m_delay = MeasureRise(handle, in_rate, out_rate, &resampler->m_buffer);
  resampler->m_held.assign(resampler->m_delay, 0.0f);
  return resampler;
}

Resampler::~Resampler() {
  if (m_soxr) {
    soxr_delete(m_soxr->handle);
    delete m_soxr;
  }
}

uint64_t Resampler::OutputLength(uint64_t in_count, int in_rate, int out_rate) {
  // Exact in 64 bits for some 3 hours at 10 MHz.
  return (in_count * static_cast<uint64_t>(out_rate) + static_cast<uint64_t>(in_rate) / 2) /
         static_cast<uint64_t>(in_rate);
}

void Resampler::Process(const float* in, size_t count, std::vector<float>* out) {
  if (m_flushed || count == 0) return;
  m_in_count += count;
  if (m_in_rate == m_out_rate) {
    m_held.insert(m_held.end(), in, in + count);
  } else if (m_soxr) {
    Convert(in, count);
  } else {
    Average(in, count);
  }
  Release(out);
}

void Resampler::Convert(const float* in, size_t count) {
  size_t used = 0;
  while (used < count) {
    size_t in_done = 0, out_done = 0;
    soxr_error_t error = soxr_process(m_soxr->handle, in + used, count - used, &in_done,
                                      m_buffer.data(), m_buffer.size(), &out_done);
    used += in_done;
    m_held.insert(m_held.end(), m_buffer.begin(), m_buffer.begin() + out_done);
    // soxr takes less input only while its output is waiting; no progress
    // at all is a failed stream, which Flush pads to length.
    if (error || (in_done == 0 && out_done == 0)) break;
  }
}

// Output sample j spans [j, j + 1) / out_rate s: the mean of the input
// samples there, each held for its own 1 / in_rate s and weighted by how much
// of the span it holds. Whole numbers of m_covered's units: exact weights.
void Resampler::Average(const float* in, size_t count) {
  const int64_t output_span = m_in_rate, input_span = m_out_rate;
  for (size_t i = 0; i < count; ++i) {
    int64_t left = input_span;
    while (m_covered + left >= output_span) {
      const int64_t part = output_span - m_covered;
      m_sum += static_cast<double>(in[i]) * static_cast<double>(part);
      m_held.push_back(static_cast<float>(m_sum / static_cast<double>(output_span)));
      m_sum = 0;
      m_covered = 0;
      left -= part;
    }
    m_sum += static_cast<double>(in[i]) * static_cast<double>(left);
    m_covered += left;
  }
  m_last = in[count - 1];
}

// Gives out what is held, never past the length the input so far stands for.
void Resampler::Release(std::vector<float>* out) {
  const uint64_t limit = OutputLength(m_in_count, m_in_rate, m_out_rate);
  const size_t take = static_cast<size_t>(std::min<uint64_t>(m_held.size(), limit - m_out_count));
  out->insert(out->end(), m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(take));
  m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(take));
  m_out_count += take;
}

void Resampler::Flush(std::vector<float>* out) {
  if (m_flushed) return;
  m_flushed = true;
  const uint64_t length = OutputLength(m_in_count, m_in_rate, m_out_rate);
  if (m_soxr) {
    for (;;) {
      size_t out_done = 0;
      soxr_error_t error = soxr_process(m_soxr->handle, nullptr, 0, nullptr, m_buffer.data(),
                                        m_buffer.size(), &out_done);
      m_held.insert(m_held.end(), m_buffer.begin(), m_buffer.begin() + out_done);
      if (error || out_done == 0) break;
    }
  } else if (m_signal == Signal::kControlVoltage && m_in_rate != m_out_rate) {
    // The last value held to the end: it completes the span begun, and any
    // sample the rounding of the length adds.
    while (m_out_count + m_held.size() < length) {
      m_sum += static_cast<double>(m_last) * static_cast<double>(m_in_rate - m_covered);
      m_held.push_back(static_cast<float>(m_sum / static_cast<double>(m_in_rate)));
      m_sum = 0;
      m_covered = 0;
    }
  }
  Release(out);
  m_held.clear();
  // Only a failed audio stream falls short.
  const uint64_t missing = length - m_out_count;
  out->insert(out->end(), static_cast<size_t>(missing), 0.0f);
  m_out_count += missing;
}

}  // namespace tonevolt
