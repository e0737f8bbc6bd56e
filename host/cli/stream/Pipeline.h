// The render pipeline: blocks of the input channel pass through a chain of
// stages, each feeding the next (resampler, pre-filter, reliability check,
// module, resampler back), and every sink sees the input beside the chain's
// output, sample for sample. A stage may hold samples back (a resampler's
// delay, the module's whole host blocks), so the pipeline keeps the input
// until the output that belongs to it arrives: memory stays the chain's
// latency, whatever the stream's length.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace tonevolt {

class BlockStage {
 public:
  virtual ~BlockStage() = default;
  // Takes the next block; *out gets what is ready of the output (any
  // length). False with a reason on failure.
  virtual bool Process(const std::vector<float>& in, std::vector<float>* out,
                       std::string* error) = 0;
  // After the last block: *out gets the rest of the output.
  virtual bool Flush(std::vector<float>* out, std::string* error) {
    (void)error;
    out->clear();
    return true;
  }
};

class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // The next block: the input as read and the chain's output, equally long.
  virtual bool Consume(const std::vector<float>& input, const std::vector<float>& output,
                       std::string* error) = 0;
  // After the last block.
  virtual bool Finish(std::string* error) {
    (void)error;
    return true;
  }
};

class Pipeline {
 public:
  // Neither is owned; both outlive the pipeline.
  void AddStage(BlockStage* stage) { m_stages.push_back(stage); }
  void AddSink(BlockSink* sink) { m_sinks.push_back(sink); }

  bool Push(const std::vector<float>& input, std::string* error) {
    m_input.insert(m_input.end(), input.begin(), input.end());
    return RunFrom(0, input, error) && Deliver(error);
  }

  // Flushes the stages in order, each flush through the stages after it;
  // the output ends exactly as long as the input (a resampler's rounding
  // can leave it one sample off: the last value is repeated, or dropped).
  bool Finish(std::string* error) {
    for (size_t s = 0; s < m_stages.size(); ++s) {
      std::vector<float> rest;
      if (!m_stages[s]->Flush(&rest, error) || !RunFrom(s + 1, rest, error)) return false;
    }
    if (m_output.size() > m_input.size()) m_output.resize(m_input.size());
    if (m_output.size() < m_input.size())
      m_output.resize(m_input.size(), m_output.empty() ? 0.0f : m_output.back());
    if (!Deliver(error)) return false;
    for (BlockSink* sink : m_sinks)
      if (!sink->Finish(error)) return false;
    return true;
  }

 private:
  // Runs a block through the stages from `first` on into m_output.
  bool RunFrom(size_t first, const std::vector<float>& block, std::string* error) {
    const std::vector<float>* in = &block;
    for (size_t s = first; s < m_stages.size(); ++s) {
      std::vector<float>& out = m_buffers[s % 2];
      if (!m_stages[s]->Process(*in, &out, error)) return false;
      in = &out;
    }
    m_output.insert(m_output.end(), in->begin(), in->end());
    return true;
  }

  // Hands the sinks every input sample whose output has arrived.
  bool Deliver(std::string* error) {
    size_t ready = std::min(m_input.size(), m_output.size());
    if (ready == 0) return true;
    m_ready_in.assign(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(ready));
    m_ready_out.assign(m_output.begin(), m_output.begin() + static_cast<std::ptrdiff_t>(ready));
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(ready));
    m_output.erase(m_output.begin(), m_output.begin() + static_cast<std::ptrdiff_t>(ready));
    for (BlockSink* sink : m_sinks)
      if (!sink->Consume(m_ready_in, m_ready_out, error)) return false;
    return true;
  }

  std::vector<BlockStage*> m_stages;
  std::vector<BlockSink*> m_sinks;
  std::vector<float> m_buffers[2];  // stages alternate between them
  std::vector<float> m_input;       // read, its output not yet through
  std::vector<float> m_output;      // through, its input not yet delivered
  std::vector<float> m_ready_in, m_ready_out;
};

}  // namespace tonevolt
