#include "analysis/Resampler.h"

#include <soxr.h>

#include <algorithm>

namespace tonevolt {
namespace {

constexpr int kHighestRate = 10000000;
constexpr size_t kBufferSamples = 16384;

}  // namespace

struct Resampler::Soxr {
  soxr_t handle;
};

std::unique_ptr<Resampler> Resampler::Create(int in_rate, int out_rate, std::string* error) {
  if (in_rate <= 0 || out_rate <= 0 || in_rate > kHighestRate || out_rate > kHighestRate) {
    *error = "cannot resample from " + std::to_string(in_rate) + " Hz to " +
             std::to_string(out_rate) + " Hz: rates must be 1 to " + std::to_string(kHighestRate) +
             " Hz";
    return nullptr;
  }
  std::unique_ptr<Resampler> resampler(new Resampler(in_rate, out_rate));
  if (in_rate == out_rate) return resampler;

  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
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

// Never past the length the input so far stands for.
void Resampler::Append(const float* samples, size_t count, std::vector<float>* out) {
  uint64_t limit = OutputLength(m_in_count, m_in_rate, m_out_rate);
  size_t take = static_cast<size_t>(std::min<uint64_t>(count, limit - m_out_count));
  out->insert(out->end(), samples, samples + take);
  m_out_count += take;
}

void Resampler::Process(const float* in, size_t count, std::vector<float>* out) {
  if (m_flushed || count == 0) return;
  if (!m_soxr) {
    m_in_count += count;
    Append(in, count, out);
    return;
  }
  size_t used = 0;
  while (used < count) {
    size_t in_done = 0, out_done = 0;
    soxr_error_t error = soxr_process(m_soxr->handle, in + used, count - used, &in_done,
                                      m_buffer.data(), m_buffer.size(), &out_done);
    used += in_done;
    m_in_count += in_done;
    Append(m_buffer.data(), out_done, out);
    // soxr takes less input only while its output is waiting; no progress
    // at all is a failed stream, which Flush pads to length.
    if (error || (in_done == 0 && out_done == 0)) {
      m_in_count += count - used;
      break;
    }
  }
}

void Resampler::Flush(std::vector<float>* out) {
  if (m_flushed) return;
  m_flushed = true;
  if (m_soxr) {
    for (;;) {
      size_t out_done = 0;
      soxr_error_t error = soxr_process(m_soxr->handle, nullptr, 0, nullptr, m_buffer.data(),
                                        m_buffer.size(), &out_done);
      Append(m_buffer.data(), out_done, out);
      if (error || out_done == 0) break;
    }
  }
  uint64_t missing = OutputLength(m_in_count, m_in_rate, m_out_rate) - m_out_count;
  out->insert(out->end(), static_cast<size_t>(missing), 0.0f);
  m_out_count += missing;
}

}  // namespace tonevolt
