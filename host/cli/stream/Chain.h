// The stages and sinks render chains together (Pipeline.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "files/Files.h"
#include "module/Run.h"
#include "stream/Pipeline.h"
#include "stream/Stages.h"
#include "stream/Summaries.h"

namespace tonevolt {

// The module, driven through its record in whole host blocks, as a host
// gives them, whatever lengths arrive (a resampler's are uneven); the last
// block, shorter, at the end.
class ModuleStage : public BlockStage {
 public:
  bool Start(WBMainProc main, const RunRequest& request, std::string* error) {
    m_block = static_cast<size_t>(request.block_size);
    return m_runner.Start(main, request, error);
  }
  bool Process(const std::vector<float>& in, std::vector<float>* out, std::string*) override {
    m_pending.insert(m_pending.end(), in.begin(), in.end());
    Run(m_pending.size() / m_block * m_block, out);
    return true;
  }
  bool Flush(std::vector<float>* out, std::string*) override {
    Run(m_pending.size(), out);
    return true;
  }

 private:
  void Run(size_t count, std::vector<float>* out) {
    out->resize(count);
    m_runner.Process(m_pending.data(), out->data(), count);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(count));
  }

  ModuleRunner m_runner;
  size_t m_block = 1;
  std::vector<float> m_pending;  // less than a block
};

// What a chain is built for: the file's rate and the module's, the
// pre-filter, the check (none for null) and the module's run at the file's
// samples.
struct ChainRequest {
  int file_rate = 0;
  double module_rate = kReferenceRate;
  PrefilterChoice prefilter;
  // --gate: quieter input has no pitch, and the following filter gives the
  // module silence there rather than its band's ringing.
  double gate_db = ReliabilityOptions().gate_db;
  const CheckRequest* check = nullptr;
  RunRequest run;
};

// The chain from the file's samples to the output at its rate: at the
// module's rate (resampled there and back unless the file has it); the
// pre-filter and the check see what the module sees. Every command that
// runs the module over a file builds it here.
class Chain {
 public:
  bool Build(WBMainProc main, const ChainRequest& request, std::string* error);
  // Its stages, in order, into pipeline. `watch` (may be null) sees what the
  // module is given, `readout` (may be null) what it gives, at its rate.
  void AddTo(Pipeline* pipeline, BlockStage* watch = nullptr, BlockStage* readout = nullptr);

  const PrefilterStage* Prefilter() const { return m_prefilter.get(); }  // null for none
  // "off", or the pre-filter's description.
  const std::string& PrefilterText() const { return m_prefilter_text; }

 private:
  std::unique_ptr<ResampleStage> m_to_module, m_from_module;
  std::unique_ptr<PrefilterStage> m_prefilter;
  std::unique_ptr<CheckStage> m_check;
  ModuleStage m_module;
  std::string m_prefilter_text = "off";
};

// The output as 32-bit float mono audio.
class AudioSink : public BlockSink {
 public:
  bool Open(const StagedFile& staged, int sample_rate, std::string* error) {
    return m_writer.Open(staged, sample_rate, error);
  }
  bool Consume(const std::vector<float>&, const std::vector<float>& output,
               std::string* error) override {
    return m_writer.Write(output.data(), output.size(), error);
  }
  bool Finish(std::string* error) override { return m_writer.Close(error); }

 private:
  AudioWriter m_writer;
};

// One CSV row every `step` samples (a fraction allowed: row k is at sample
// round(k * step)): time, input, output volts, implied Hz. The output is read
// as the module's at module_rate.
class CsvSink : public BlockSink {
 public:
  CsvSink(double step, SettingsTimelineList timeline, double sample_rate, double module_rate)
      : m_step(step),
        m_settings(std::move(timeline)),
        m_rate(sample_rate),
        m_module_rate(module_rate) {}
  ~CsvSink() override;
  bool Open(const StagedFile& staged, std::string* error);
  bool Consume(const std::vector<float>& input, const std::vector<float>& output,
               std::string* error) override;
  bool Finish(std::string* error) override;

 private:
  double m_step;
  SettingsCursor m_settings;  // at the next row
  double m_rate;
  double m_module_rate;
  std::string m_name;
  std::FILE* m_file = nullptr;
  uint64_t m_position = 0;  // samples consumed
  uint64_t m_row = 0;       // rows written
  uint64_t m_next = 0;      // sample of the next row
};

// The envelopes of input and output, for the plot.
class EnvelopeSink : public BlockSink {
 public:
  bool Consume(const std::vector<float>& input, const std::vector<float>& output,
               std::string*) override {
    m_input.Add(input.data(), input.size());
    m_output.Add(output.data(), output.size());
    return true;
  }
  const Envelope& Input() const { return m_input; }
  const Envelope& Output() const { return m_output; }

 private:
  Envelope m_input{kEnvelopeColumns}, m_output{kEnvelopeColumns};
};

// What the summary reports, accumulated as the stream passes.
class StatsSink : public BlockSink {
 public:
  bool Consume(const std::vector<float>& input, const std::vector<float>& output,
               std::string*) override;
  uint64_t Samples() const { return m_means.Samples(); }
  uint64_t NonFinite() const { return m_non_finite; }
  const MinMax& OutputRange() const { return m_range; }
  const SliceMeans& Means() const { return m_means; }

 private:
  uint64_t m_non_finite = 0;
  MinMax m_range;
  SliceMeans m_means;
};

// A bar on stderr, redrawn in place; only for a terminal and a known length.
class ProgressSink : public BlockSink {
 public:
  ProgressSink(bool shown, uint64_t total) : m_shown(shown && total > 0), m_total(total) {}
  ~ProgressSink() override;
  bool Consume(const std::vector<float>& input, const std::vector<float>&, std::string*) override;

 private:
  bool m_shown;
  uint64_t m_total, m_done = 0, m_next_draw = 0;
  bool m_drawn = false;
};

}  // namespace tonevolt
