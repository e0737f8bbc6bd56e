// One 1 V/oct table per floating-point control state, shared by every open
// in the process: each open must find exactly the table it would have built
// itself under the state in force, whatever was opened before it and on
// whichever thread. Through the signal path's own library (as the LV2
// adapter uses it) the tables are compared whole; through the module's main
// they are read back through 1 V/oct output over a sweep of every entry.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "FloatBits.h"
#include "ModuleFixture.h"
#include "PitchTable.h"
#include "PlainLoop.h"
#include "TonevoltCore.h"
#include "TonevoltRig.h"

namespace {

using plain_loop::Words;
using plain_loop::WordsScope;

// Every combination of the control bits a table can depend on: MXCSR
// rounding, flush-to-zero and denormals-are-zero; x87 rounding and precision
// (24, 53 and 64 bits). Exceptions stay masked.
Words StateOf(uint32_t mxcsr_rounding, bool ftz, bool daz, uint32_t x87_rounding,
              uint16_t x87_precision) {
  Words words;
  words.mxcsr = 0x1F80u | mxcsr_rounding << 13 | (ftz ? 0x8000u : 0u) | (daz ? 0x0040u : 0u);
  words.x87 = static_cast<uint16_t>(0x007Fu | x87_rounding << 10 | x87_precision << 8);
  return words;
}

constexpr uint16_t kPrecision24 = 0, kPrecision53 = 2, kPrecision64 = 3;

// The states the tests of the first build on several threads keep for
// themselves (24-bit x87 precision, x87 not rounding to nearest), so that no
// other test here has built their tables before them.
bool KeptForRaces(const Words& w) { return (w.x87 & 0x0300u) == 0 && (w.x87 & 0x0C00u) != 0; }

std::vector<Words> AllStates() {
  std::vector<Words> states;
  for (uint32_t rc = 0; rc < 4; ++rc)
    for (int flags = 0; flags < 4; ++flags)
      for (uint32_t x87_rc = 0; x87_rc < 4; ++x87_rc)
        for (uint16_t precision : {kPrecision24, kPrecision53, kPrecision64})
          states.push_back(StateOf(rc, flags & 1, flags & 2, x87_rc, precision));
  return states;
}

// The bits of a state as the processor keeps them (an emulator may drop
// some), the ones a table is keyed on.
uint32_t KeptBits(const Words& words) {
  WordsScope scope(words);
  const Words kept = plain_loop::ReadWords();
  return (kept.mxcsr & 0xE040u) | static_cast<uint32_t>(kept.x87 & 0x0F00u) << 16;
}

std::vector<float> OldTable() {
  std::vector<float> table(kPitchTableSize);
  BuildPitchTable(table.data());
  return table;
}

bool SameTable(const float* shared, const std::vector<float>& old) {
  return std::memcmp(shared, old.data(), sizeof(float) * kPitchTableSize) == 0;
}

const float* OpenedTable() {
  TonevoltCore core;
  core.Open(44100.0f);
  core.BuildPitchTable();
  return core.PitchTable();
}

// ---------------------------------------------------- signal path alone

// Opened under each state (revisited in reverse), a core gets the table the
// old per-instance build gives under that state, the same one every time,
// and a table of its own for every state the processor tells apart.
TEST(SharedPitchTableTest, EachControlStateGetsTheTableItsOwnBuildGives) {
  std::vector<Words> states;
  for (const Words& w : AllStates())
    if (!KeptForRaces(w)) states.push_back(w);
  std::vector<const float*> first(states.size());
  std::set<const float*> tables;
  std::set<uint32_t> kept_states;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t n = 0; n < states.size(); ++n) {
      const size_t i = pass == 0 ? n : states.size() - 1 - n;
      SCOPED_TRACE(testing::Message() << "pass " << pass << ", x87 0x" << std::hex << states[i].x87
                                      << ", mxcsr 0x" << states[i].mxcsr);
      WordsScope state(states[i]);
      const float* shared = OpenedTable();
      ASSERT_NE(shared, nullptr);
      EXPECT_TRUE(SameTable(shared, OldTable()));
      if (pass == 0) {
        first[i] = shared;
        tables.insert(shared);
        kept_states.insert(KeptBits(states[i]));
      } else {
        EXPECT_EQ(shared, first[i]);
      }
    }
  }
  EXPECT_EQ(tables.size(), kept_states.size());
  // The rounding modes give tables that differ, so the comparisons above
  // would see one state's table handed to another.
  if (plain_loop::RoundingModesShow()) {
    std::vector<float> nearest, up;
    {
      WordsScope state(StateOf(0, false, false, 0, kPrecision64));
      nearest = OldTable();
    }
    {
      WordsScope state(StateOf(2, false, false, 0, kPrecision64));
      up = OldTable();
    }
    EXPECT_NE(nearest, up);
  }
}

// Four threads open at once, two under each of two states whose tables no
// open has built yet; each pair gets one table between them, complete by the
// time either open returns.
TEST(SharedPitchTableTest, OpensRacingOnFourThreadsShareOneTablePerState) {
  for (uint32_t round = 0; round < 8; ++round) {
    const Words states[2] = {
        StateOf(round % 4, false, false, 1 + round % 3, kPrecision24),
        StateOf(round % 4, round & 1, true, 1 + (round + 1) % 3, kPrecision24)};
    SCOPED_TRACE(testing::Message() << "round " << round);
    const float* opened[4] = {};
    std::vector<float> seen[4];  // each table as its open found it
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        plain_loop::LoadWords(states[t % 2]);  // this thread's own words
        ready.fetch_add(1);
        while (ready.load() < 4) std::this_thread::yield();
        opened[t] = OpenedTable();
        if (opened[t] != nullptr) seen[t].assign(opened[t], opened[t] + kPitchTableSize);
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
      ASSERT_NE(opened[t], nullptr);
      EXPECT_EQ(opened[t], opened[t % 2]);
      WordsScope state(states[t % 2]);
      EXPECT_TRUE(seen[t] == OldTable()) << "thread " << t;
    }
    if (KeptBits(states[0]) != KeptBits(states[1])) {
      EXPECT_NE(opened[0], opened[1]);
    }
  }
}

// ------------------------------------------------------ through main

constexpr int32_t kSweepLength = 176400;  // 4 s

// A sine gliding from 20 Hz to 12.5 kHz, so that the 1 V/oct lookup walks
// every entry of the table, reading each at many fractions.
const std::vector<float>& Sweep() {
  static const std::vector<float> sweep = [] {
    std::vector<float> s(kSweepLength);
    double phase = 0.0;
    for (int32_t i = 0; i < kSweepLength; ++i) {
      const double hz = 20.0 + (12500.0 - 20.0) * i / kSweepLength;
      phase += 2.0 * 3.14159265358979323846 * hz / 44100.0;
      s[i] = static_cast<float>(0.5 * std::sin(phase));
    }
    return s;
  }();
  return sweep;
}

// An instance opened and processing in 1 V/oct at 300 Hz (its ripple reads
// neighbouring entries too), 1024 samples a block.
class SweepRun {
 public:
  // Opens under the thread's control words.
  explicit SweepRun(WBMainProc main) : m_in(Sweep()), m_out(m_in.size()) {
    m_created = m_instance.Create(main);
    if (!m_created) return;
    m_instance.Host().record_calls = false;
    m_instance.SetSampleRate(44100.0f);
    m_instance.Open();
    m_instance.AddPinEvent(0, kFreqScale, STATUS_STATIC, 1);
    m_instance.AddPinFloatEvent(0, kCutoff, STATUS_STATIC, 300.0f);
    m_instance.ConnectBuffer(kInput, m_in.data());
    m_instance.ConnectBuffer(kPitch, m_out.data());
  }
  bool Created() const { return m_created; }

  std::vector<uint32_t> Run() {
    for (int32_t at = 0; at < kSweepLength; at += 1024)
      m_instance.Process(at, std::min(1024, kSweepLength - at));
    std::vector<uint32_t> bits;
    for (float y : m_out) bits.push_back(Bits(y));
    return bits;
  }

 private:
  wbhost::Instance m_instance;
  std::vector<float> m_in, m_out;
  bool m_created = false;
};

// The plain loop's output for the sweep, its table built under words.
std::vector<uint32_t> ExpectedSweep(const Words& words) {
  WordsScope state(words);
  plain_loop::PlainLoop loop(44100.0f);
  loop.SetScale(1);
  loop.SetCutoff(300.0f);
  std::vector<float> out(kSweepLength);
  loop.Piece(Sweep().data(), out.data(), kSweepLength);
  std::vector<uint32_t> bits;
  for (float y : out) bits.push_back(Bits(y));
  return bits;
}

size_t Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  size_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
  return n;
}

// Opened under each rounding mode in turn, modes revisited, an instance's
// 1 V/oct output is the one of a table built under its own mode.
TEST_F(TonevoltTest, OpensUnderEachRoundingModeReadTheirOwnTable) {
  const Words usual = plain_loop::Masked(plain_loop::ReadWords());
  const uint32_t modes[] = {0, 2, 1, 3, 0, 2};
  std::vector<uint32_t> by_mode[4];
  for (uint32_t mode : modes) {
    SCOPED_TRACE(testing::Message() << "rounding " << mode);
    const Words words = plain_loop::WithRounding(usual, mode);
    if (by_mode[mode].empty()) by_mode[mode] = ExpectedSweep(words);
    WordsScope state(words);
    SweepRun run(m_main);
    ASSERT_TRUE(run.Created());
    const std::vector<uint32_t> out = run.Run();
    EXPECT_EQ(Differences(out, by_mode[mode]), 0u);
  }
  // The sweep tells the modes' tables apart.
  if (plain_loop::RoundingModesShow()) {
    EXPECT_GT(Differences(by_mode[0], by_mode[2]), 10000u);
    EXPECT_GT(Differences(by_mode[0], by_mode[1]), 10000u);
    // Down and toward zero differ on the negative entries only (below 14 Hz).
    EXPECT_GT(Differences(by_mode[1], by_mode[3]), 100u);
  }
}

// Four threads create and open instances at once, two under each of two
// rounding states no open of the library has met yet, then process the
// sweep; each instance's output is the one its own state's table gives. (The
// two states differ only in rounding, which every 1 V/oct call replaces, so
// that whichever open comes last leaves the same words for all.)
TEST_F(TonevoltTest, InstancesOpenedOnFourThreadsAtOnceReadTheirOwnTable) {
  for (uint32_t round = 0; round < 4; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    // Each round two states of its own: MXCSR rounding 2r % 4 and the next,
    // x87 rounding 1 + r / 2.
    const Words states[2] = {StateOf(2 * round % 4, false, false, 1 + round / 2, kPrecision24),
                             StateOf(2 * round % 4 + 1, false, false, 1 + round / 2, kPrecision24)};
    std::vector<uint32_t> outputs[4];
    bool created[4] = {};
    std::atomic<int> ready{0}, opened{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        plain_loop::LoadWords(states[t % 2]);
        ready.fetch_add(1);
        while (ready.load() < 4) std::this_thread::yield();
        SweepRun run(m_main);
        created[t] = run.Created();
        opened.fetch_add(1);
        while (opened.load() < 4) std::this_thread::yield();
        if (created[t]) outputs[t] = run.Run();
      });
    }
    for (std::thread& thread : threads) thread.join();
    const std::vector<uint32_t> expected[2] = {ExpectedSweep(states[0]), ExpectedSweep(states[1])};
    for (int t = 0; t < 4; ++t) {
      ASSERT_TRUE(created[t]);
      EXPECT_EQ(Differences(outputs[t], expected[t % 2]), 0u) << "thread " << t;
    }
  }
}

}  // namespace
