// Sample-rate conversion of a mono float stream (libsoxr, high quality).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tonevolt {

class Resampler {
 public:
  // Null and a one-line error when libsoxr cannot convert between the rates.
  static std::unique_ptr<Resampler> Create(int in_rate, int out_rate, std::string* error);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Appends to out what is ready of the next block's output. The output is
  // aligned with the input: resampler delay removed, sample k of the input
  // at k * out_rate / in_rate of the output. Equal rates copy bit for bit.
  void Process(const float* in, size_t count, std::vector<float>* out);
  // Ends the stream and appends the rest: in all, exactly
  // OutputLength(total input) samples. Process does nothing after it.
  void Flush(std::vector<float>* out);

  // round(in_count * out_rate / in_rate), halves rounded up.
  static uint64_t OutputLength(uint64_t in_count, int in_rate, int out_rate);

  int InRate() const { return m_in_rate; }
  int OutRate() const { return m_out_rate; }

 private:
  struct Soxr;
  Resampler(int in_rate, int out_rate) : m_in_rate(in_rate), m_out_rate(out_rate) {}
  void Append(const float* samples, size_t count, std::vector<float>* out);

  int m_in_rate;
  int m_out_rate;
  Soxr* m_soxr = nullptr;  // null for equal rates
  std::vector<float> m_buffer;
  uint64_t m_in_count = 0;
  uint64_t m_out_count = 0;
  bool m_flushed = false;
};

}  // namespace tonevolt
