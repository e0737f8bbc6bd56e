// Sample-rate conversion of a mono float stream, lined up sample for sample,
// with nothing in the output ahead of its cause in the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tonevolt {

class Resampler {
 public:
  enum class Signal {
    // libsoxr, high quality, minimum phase: no ringing ahead of a step, as a
    // linear-phase filter has (a zero-crossing counter counts that pre-echo
    // out of silence). libsoxr lines the response up by its peak; the
    // output is delayed by the few samples it rises in before that peak.
    kAudio,
    // A control voltage, not band-limited: each output sample is the mean of
    // the input, held from sample to sample, over the time the output sample
    // spans. Weights >= 0 cannot overshoot the input's values, and a change
    // shows first in the output sample whose span it falls in.
    kControlVoltage,
  };

  // Null and a one-line error when the rates cannot be converted between.
  static std::unique_ptr<Resampler> Create(int in_rate, int out_rate, Signal signal,
                                           std::string* error);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Appends to out what is ready of the next block's output. The output is
  // lined up with the input: sample k of the input at k * out_rate / in_rate
  // of the output, plus Delay(). Equal rates copy bit for bit.
  void Process(const float* in, size_t count, std::vector<float>* out);
  // Ends the stream and appends the rest: in all, exactly
  // OutputLength(total input) samples, a control voltage held at its last
  // value to the end. Process does nothing after it.
  void Flush(std::vector<float>* out);

  // round(in_count * out_rate / in_rate), halves rounded up.
  static uint64_t OutputLength(uint64_t in_count, int in_rate, int out_rate);

  // Output samples by which audio lags to keep its filter's rise behind the
  // input; 0 for a control voltage and for equal rates.
  size_t Delay() const { return m_delay; }
  int InRate() const { return m_in_rate; }
  int OutRate() const { return m_out_rate; }

 private:
  struct Soxr;
  Resampler(int in_rate, int out_rate, Signal signal)
      : m_in_rate(in_rate), m_out_rate(out_rate), m_signal(signal) {}
  void Convert(const float* in, size_t count);
  void Average(const float* in, size_t count);
  void Release(std::vector<float>* out);

  int m_in_rate;
  int m_out_rate;
  Signal m_signal;
  Soxr* m_soxr = nullptr;  // audio at unequal rates only
  size_t m_delay = 0;
  std::vector<float> m_buffer;  // libsoxr's output of one call
  // Converted, not yet given out: Release never runs ahead of the length the
  // input so far stands for.
  std::vector<float> m_held;
  uint64_t m_in_count = 0;
  uint64_t m_out_count = 0;
  bool m_flushed = false;

  // The control voltage's mean, in units of 1 / (in_rate * out_rate) s: an
  // input sample spans out_rate of them, an output sample in_rate.
  int64_t m_covered = 0;  // of the output sample being summed
  double m_sum = 0;       // input * span so far
  float m_last = 0;       // the input's last value, held at the end
};

}  // namespace tonevolt
