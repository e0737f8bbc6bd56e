// Instances share nothing but the logarithm constants and the control words
// of the latest open, so eight of them processing on four threads must give
// the same output bits as the same eight run one after another.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "FloatBits.h"
#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

constexpr int32_t kBlock = 256;
constexpr int kBlocks = 48;

// Different enough that a state or mode leaking from one instance into
// another shows: both scales, both orders, several rates and octaves.
struct Setup {
  float rate;
  float cutoff;
  int32_t octave;
  int32_t freq_scale;
  int32_t order;
  double tone_hz;  // input frequency; it glides up by half over the run
};
constexpr Setup kSetups[8] = {
    {44100.0f, 40.0f, 3, 0, 0, 1000.0}, {44100.0f, 40.0f, 3, 1, 0, 440.0},
    {48000.0f, 120.0f, 5, 1, 1, 220.0}, {96000.0f, 15.0f, 0, 0, 1, 3000.0},
    {22050.0f, 300.0f, 6, 1, 0, 55.0},  {44100.0f, 5000.0f, 2, 0, 0, 7000.0},
    {8000.0f, 10.0f, 4, 1, 1, 900.0},   {192000.0f, 2500.0f, 1, 0, 1, 12000.0},
};

RigSetup QuietAt(float rate) {
  RigSetup setup;
  setup.rate = rate;
  setup.record_calls = false;  // the call log is not shared safely anyway
  return setup;
}

// One instance driven block by block; keeps every output sample's bits.
class Run {
 public:
  Run(WBMainProc main, const Setup& setup) : m_setup(setup), m_rig(main, QuietAt(setup.rate)) {
    m_rig.SetAll(0, setup.cutoff, setup.order, setup.freq_scale, setup.octave);
    // A cutoff change and a streaming input inside later blocks.
    m_rig.SetCutoff(kBlock * 10 + 17, setup.cutoff * 2.0f);
    m_rig.Set(kBlock * 20 + 3, kInput, 0, STATUS_STREAMING);
  }

  bool Done() const { return !m_rig.Created() || m_block == kBlocks; }

  void Step() {
    const double total = static_cast<double>(kBlock) * kBlocks;
    std::vector<float> in(kBlock);
    for (int32_t i = 0; i < kBlock; ++i) {
      double n = static_cast<double>(m_block) * kBlock + i;
      double hz = m_setup.tone_hz * (1.0 + 0.5 * n / total);
      in[i] = static_cast<float>(0.8 * std::sin(2.0 * 3.141592653589793 * hz * n / m_setup.rate));
    }
    for (float y : m_rig.Run(in)) m_bits.push_back(Bits(y));
    ++m_block;
  }

  const std::vector<uint32_t>& OutputBits() const { return m_bits; }

 private:
  Setup m_setup;
  TonevoltRig m_rig;
  std::vector<uint32_t> m_bits;
  int m_block = 0;
};

// Runs each instance to its end, one after another, on a thread of its own
// (so that the thread starts with the same control words as the workers).
std::vector<std::vector<uint32_t>> RunOneAfterAnother(WBMainProc main) {
  std::vector<std::vector<uint32_t>> outputs;
  std::thread worker([&] {
    for (const Setup& setup : kSetups) {
      Run run(main, setup);
      while (!run.Done()) run.Step();
      outputs.push_back(run.OutputBits());
    }
  });
  worker.join();
  return outputs;
}

// Four threads, each creating, opening and processing two instances with
// their blocks interleaved, so that 1 V/oct and 1 V/kHz calls alternate on
// one thread and opens on one thread meet processing on the others.
std::vector<std::vector<uint32_t>> RunOnFourThreads(WBMainProc main) {
  std::vector<std::vector<uint32_t>> outputs(8);
  std::atomic<int> ready{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < 4) std::this_thread::yield();  // start together
      Run first(main, kSetups[t]);
      Run second(main, kSetups[t + 4]);
      while (!first.Done() || !second.Done()) {
        if (!first.Done()) first.Step();
        if (!second.Done()) second.Step();
      }
      outputs[t] = first.OutputBits();
      outputs[t + 4] = second.OutputBits();
    });
  }
  for (std::thread& worker : workers) worker.join();
  return outputs;
}

TEST_F(TonevoltTest, EightInstancesOnFourThreadsMatchOneAfterAnother) {
  ASSERT_NE(m_main, nullptr);
  const std::vector<std::vector<uint32_t>> expected = RunOneAfterAnother(m_main);
  ASSERT_EQ(expected.size(), 8u);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i].size(), static_cast<size_t>(kBlock) * kBlocks);
    // Each instance tracks its tone: its last output is far from the first.
    EXPECT_NE(expected[i].front(), expected[i].back()) << "instance " << i;
  }
  // A few rounds: a race shows only now and then.
  for (int round = 0; round < 3; ++round) {
    const std::vector<std::vector<uint32_t>> outputs = RunOnFourThreads(m_main);
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_TRUE(outputs[i] == expected[i]) << "round " << round << ", instance " << i;
  }
}

}  // namespace
