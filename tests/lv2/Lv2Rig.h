// The LV2 test host on liblilv: loads the built bundle, and renders signals
// through the plug-ins as a real-time host would (random block lengths, a
// hostile floating-point state on the thread before every run(), heap calls
// counted inside run()), beside the 32-bit module's render of the same input
// and settings, which the renders are compared with bit for bit.
#pragma once

#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "FloatBits.h"
#include "FpuControl.h"
#include "OutputUnits.h"

// ------------------------------------------------------------ the plug-ins

inline constexpr char kCvUri[] = "https://tonevolt.invalid/lv2/tonevolt-cv";
inline constexpr char kAudioUri[] = "https://tonevolt.invalid/lv2/tonevolt-audio";
inline constexpr const char* kPluginUris[] = {kCvUri, kAudioUri};
inline constexpr char kTrackerCvUri[] = "https://tonevolt.invalid/lv2/tonevolt-tracker-cv";
inline constexpr char kTrackerAudioUri[] = "https://tonevolt.invalid/lv2/tonevolt-tracker-audio";
inline constexpr const char* kTrackerUris[] = {kTrackerCvUri, kTrackerAudioUri};
inline constexpr const char* kAllPluginUris[] = {kCvUri, kAudioUri, kTrackerCvUri,
                                                 kTrackerAudioUri};

// Port indices, as the bundle numbers them (the description test checks them).
inline constexpr uint32_t kInput = 0, kPitch = 1, kCutoff = 2, kOctave = 3, kScale = 4;
inline constexpr uint32_t kOrder = 5, kLowest = 6, kGate = 7, kThreshold = 8, kHold = 9;
inline constexpr uint32_t kLatency = 10, kPosition = 11, kTrackerPorts = 12;

inline const float kNaN = std::numeric_limits<float>::quiet_NaN();
inline const float kInf = std::numeric_limits<float>::infinity();
inline const float kSignalingNaN = FromBits(0x7fa00000u);

// One lilv world holding the built bundle alone (no installed copy). It is
// not thread-safe: only the test's own thread reads it.
LilvWorld* World();
const LilvPlugin* FindPlugin(const char* uri);

// ------------------------------------------------- control state of a host

// What a host thread may have in force when it calls run(): flush-to-zero,
// denormals-are-zero, other rounding modes, another x87 precision and
// rounding, exception flags already raised, even exceptions unmasked.
inline constexpr uint32_t kFtz = 0x8000, kDaz = 0x0040, kRoundUp = 0x4000, kRoundDown = 0x2000;
inline constexpr uint32_t kRoundTowardZero = 0x6000, kInvalidMask = 0x0080;
inline constexpr uint32_t kZeroDivideMask = 0x0200;
inline constexpr FpuControlWords kHostStates[] = {
    {0x0A7F, 0x1F80 | kFtz | kDaz | kRoundUp},               // round up, 53-bit x87
    {0x0A7F, 0x1F80 | kFtz | kDaz | kRoundUp | 0x0021},      // ... with flags raised
    {0x067F, 0x1F80 | kDaz | kRoundDown},                    // round down, DAZ alone
    {0x0E7F, 0x1F80 | kFtz | kRoundTowardZero},              // truncating, FTZ alone
    {0x037E, (0x1F80 & ~(kInvalidMask | kZeroDivideMask))},  // invalid, divide traps on
    kDefaultFpuControlWords,                                 // a process's default
};

// ------------------------------------------------------------- settings

// Settings in the ports' units: cutoff Hz, octave -3..+3, scale 0 (1 V/kHz)
// or 1 (1 V/oct), order 1 or 2 poles; for the tracker plug-ins also the
// lowest note (Hz, 0 off), the gate's threshold (dBFS) and hold (0 or 1).
struct Settings {
  float cutoff;
  float octave;
  float scale;
  float order;
  float lowest = 41.2f;
  float threshold = -50.0f;
  float hold = 1.0f;
};

// Settings that take effect at a sample.
struct Change {
  uint32_t at;
  Settings ports;    // what the host writes into the control ports
  Settings applied;  // what the module is given at that sample
};

std::string Describe(const Settings& s);

// ---------------------------------------------------------------- signals

// A test signal at a rate: an exponential sweep with noise and every kind of
// special sample, a long silence in which the filters decay through the
// denormal range, a tone with denormal and sign-of-zero crossings, and
// silence again. Its samples are fixed data for both renders.
std::vector<float> TestSignal(double rate, uint32_t seed);

// A stretch of a sawtooth (aliasing as it comes) at an RMS level in dBFS
// (a full-scale sine is -3.01), or silence for hz 0.
struct Segment {
  double seconds;
  double hz;
  double level_db;
};

std::vector<float> Saws(double rate, const std::vector<Segment>& segments);

// The first sample of each segment, and the end.
std::vector<size_t> SegmentStarts(double rate, const std::vector<Segment>& segments);

// ------------------------------------------------------ the module's render

bool HaveReference();

#define SKIP_WITHOUT_REFERENCE()                                                  \
  if (!HaveReference())                                                           \
  GTEST_SKIP() << "no 32-bit reference (" TONEVOLT_REFERENCE ", " TONEVOLT_MODULE \
                  "): build the linux-x86 preset first (scripts/test.sh does)"

inline bool HaveTool() { return std::ifstream(TONEVOLT_PROGRAM).good(); }

#define SKIP_WITHOUT_TOOL()                           \
  if (!HaveTool())                                    \
  GTEST_SKIP() << "no native tool (" TONEVOLT_PROGRAM \
                  "): build the linux-x64 preset "    \
                  "first (scripts/test.sh does)"

// A file of the running test's own in the test's work directory.
std::string WorkPath(const std::string& suffix);

// The 32-bit module's output for input with these changes, the first at 0,
// in host blocks of 512 samples.
std::vector<float> ModuleRender(double rate, const std::vector<Change>& changes,
                                const std::vector<float>& input);

// ---------------------------------------------------------- the LV2 render

struct RunChecks {
  int64_t runs = 0;
  int64_t allocations = 0;    // heap calls made inside run()
  int64_t state_changes = 0;  // run() calls that left the thread's state changed
  std::string first_state_change;
};

// One instance of a plug-in, driven as a host drives it. It offers the
// plug-in urid:map unless told not to.
class Lv2Instance {
 public:
  Lv2Instance(const LilvPlugin* plugin, double rate, bool map_urids = true);
  ~Lv2Instance();
  Lv2Instance(const Lv2Instance&) = delete;
  Lv2Instance& operator=(const Lv2Instance&) = delete;

  // Hosts instantiate and activate from any thread, in any control state.
  void Activate();
  void Deactivate();

  void Set(const Settings& s);

  bool Tracker() const { return m_tracker; }
  // What the latency port read after the last run().
  float Latency() const { return m_latency; }

  // A time:Position (frame, speed) at sample `at` of the next run(), as a
  // host sends its transport's; a tracker's position port is otherwise an
  // empty sequence.
  void SetPosition(int64_t frame, float speed, uint32_t at = 0);

  // One run() on these buffers under a host state, checked as a real-time
  // host needs: nothing allocated, the thread's state as it was. A tracker
  // writes its gate to gate, or to a buffer of its own when null.
  void Run(const float* input, float* output, uint32_t count, const FpuControlWords& host,
           RunChecks* checks, float* gate = nullptr);

 private:
  // The position port's sequence: empty, or the positions set since the
  // last run().
  void WriteSequence();

  LilvInstance* m_instance = nullptr;
  bool m_tracker;
  struct Position {
    int64_t frame;
    float speed;
    uint32_t at;
  };
  std::vector<Position> m_positions;
  std::vector<uint64_t> m_sequence;  // 8-byte aligned, as atoms are
  float m_controls[7] = {40.0f, 0.0f, 0.0f, 1.0f, 41.2f, -50.0f, 1.0f};
  float m_latency = kNaN;
  std::vector<float> m_spare_gate;
};

// Renders input through an activated instance: each change applies at the
// first sample of the run() that starts at it; blocks are random between
// changes; the host state before each run() cycles through kHostStates.
// In place, input and output share one buffer. A tracker's gate goes to
// *gate when given. With a timeline, the input's first sample is at
// *timeline on a playing transport: each run() carries its position.
std::vector<float> Lv2Render(Lv2Instance& instance, const std::vector<Change>& changes,
                             const std::vector<float>& input, uint32_t seed, bool in_place,
                             RunChecks* checks, std::vector<float>* gate = nullptr,
                             const int64_t* timeline = nullptr);

// --------------------------------------------------------------- checks

// The first sample where two renders differ, or -1; counts differing samples.
int64_t FirstDifference(const std::vector<float>& a, const std::vector<float>& b, int64_t* count);

void ExpectSameBits(const std::vector<float>& module, const std::vector<float>& lv2,
                    const std::string& what);

void ExpectRealTimeCitizen(const RunChecks& checks, const std::string& what);

// Renders through a pair of plug-ins (the plain pair unless told), each
// with its own block pattern (the audio one in place), and compares each
// with the module's render. The renders compared are summed up when the
// test program ends.
void CompareWithModule(double rate, const std::vector<Change>& changes,
                       const std::vector<float>& input, uint32_t seed,
                       const char* const (&uris)[2] = kPluginUris);

// ------------------------------------------------------------ the tracker

// Where the gate is open: [open, close) pairs. Any value but 0 and 1 fails.
std::vector<std::pair<size_t, size_t>> OpenStretches(const std::vector<float>& gate);

inline constexpr double kNoPitchValue = kNoPitchVolts / kVoltsPerUnit;
inline constexpr double kFiftyCents = 50.0 / 1200.0 / kVoltsPerUnit;

// Renders through a tracker plug-in activated with these settings.
struct TrackerRender {
  std::vector<float> pitch, gate;
};
TrackerRender RenderTracker(const char* uri, double rate, const std::vector<Change>& changes,
                            const std::vector<float>& input, uint32_t seed, RunChecks* checks,
                            const int64_t* timeline = nullptr, bool map_urids = true);

// ------------------------------------------------------ the tool's files

// A mono 32-bit float WAV at rate, as the tool reads it.
void WriteFloatWav(const std::string& path, const std::vector<float>& samples, uint32_t rate);

// The samples of a mono float WAV's data chunk, whatever chunks come before.
std::vector<float> ReadFloatWavData(const std::string& path);
