// The render pipeline: blocks of the input channel pass through a chain of
// stages, each feeding the next (today the module alone; a resampler or a
// pre-filter slots in as another stage), and every sink sees each block's
// input beside the chain's output. Memory does not grow with the stream.
#pragma once

#include <string>
#include <vector>

namespace tonevolt {

class BlockStage {
 public:
  virtual ~BlockStage() = default;
  // Transforms one block; false with a reason on failure.
  virtual bool Process(const std::vector<float>& in, std::vector<float>* out,
                       std::string* error) = 0;
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
    const std::vector<float>* in = &input;
    for (size_t s = 0; s < m_stages.size(); ++s) {
      std::vector<float>& out = m_buffers[s % 2];
      if (!m_stages[s]->Process(*in, &out, error)) return false;
      in = &out;
    }
    for (BlockSink* sink : m_sinks)
      if (!sink->Consume(input, *in, error)) return false;
    return true;
  }

  bool Finish(std::string* error) {
    for (BlockSink* sink : m_sinks)
      if (!sink->Finish(error)) return false;
    return true;
  }

 private:
  std::vector<BlockStage*> m_stages;
  std::vector<BlockSink*> m_sinks;
  std::vector<float> m_buffers[2];  // stages alternate between them
};

}  // namespace tonevolt
