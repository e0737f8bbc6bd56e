// Runs one long mixed scenario through a Tonevolt library and prints every
// output sample's bits and every host call. The Linux and Win32 builds of
// this program must print the same text, and so must two runs of one build.
//
// Usage: tonevolt_cross [library path]
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FloatBits.h"
#include "WBHost.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int32_t kInput = 0, kCutoff = 1, kOctave = 2, kPitch = 3, kFreqScale = 4, kOrder = 5;

// Input made with +, -, * only, so that both targets compute it alike
// (library sine functions may differ in the last bit).
class Signal {
 public:
  float Next() {
    // Sweep: the phase, in turns, advances by a rising frequency.
    m_frequency += 0.002;
    if (m_frequency > 9000.0) m_frequency = 30.0;
    m_phase += m_frequency / 44100.0;
    m_phase -= static_cast<double>(static_cast<int64_t>(m_phase));
    double x = m_phase < 0.5 ? m_phase * 4.0 - 1.0 : 3.0 - m_phase * 4.0;  // triangle, -1..1
    double sine = x * (1.5 - 0.5 * x * x);  // rounded triangle, zeros where the sine's are
    m_seed = m_seed * 1664525u + 1013904223u;
    double noise = (static_cast<int32_t>(m_seed >> 8) - 8388608) / 8388608.0;
    return static_cast<float>(sine * 0.8 + noise * 0.05);
  }

 private:
  double m_frequency = 30.0;
  double m_phase = 0.0;
  uint32_t m_seed = 12345u;
};

struct PinChange {
  uint32_t at;
  int32_t pin;
  int32_t status;
  uint32_t value;  // a float pin's value as its bits
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Samples with a value of their own, by position in the whole run.
struct Special {
  uint32_t at;
  float value;
};
const Special kSpecials[] = {
    {100, 0.0f},
    {101, -0.0f},
    {102, 0.0f},
    {103, 1.0f},
    {500, kNaN},
    {501, kNaN},
    {502, -1.0f},
    {777, 1e-40f},
    {778, -1e-40f},
    {779, 1e-23f},
    {780, -1e-23f},
    {2000, -0.0f},
    {2001, 1e-22f},
    {2002, -1e-23f},
    {4000, std::numeric_limits<float>::infinity()},
    {4001, -1.0f},
    {9000, kNaN},
    {9001, 0.0f},
    {12000, -0.0f},
    {12001, FromBits(0x00000001u)},
    {12002, FromBits(0x80000001u)},
};

void Print(const wbhost::HostState& host, size_t* printed) {
  for (; *printed < host.calls.size(); ++*printed) {
    const wbhost::HostCall& c = host.calls[*printed];
    std::printf("call %d %d %d %u %d\n", c.opcode, c.index, c.value, c.pointer, c.opt);
  }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // the same bytes as on Linux: no CR
  std::string path = argc > 1 ? argv[1] : TONEVOLT_LIBRARY_DIR "/Tonevolt.dll";
#else
  std::string path = argc > 1 ? argv[1] : TONEVOLT_LIBRARY_DIR "/Tonevolt.so";
#endif
  wbhost::ModuleLibrary library;
  std::string error;
  if (!library.Load(path, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  wbhost::Instance instance;
  if (!instance.Create(library.Main())) {
    std::fprintf(stderr, "main answered null\n");
    return 1;
  }
  instance.Host().sample_clock = 1000;
  instance.SetBlockSize(700);
  instance.Open();

  const int32_t kBlocks[] = {1,   7,    128, 333, 1000, 64, 2,   999,  512, 700,  3000, 17,
                             256, 1500, 90,  700, 700,  33, 811, 2048, 5,   1200, 640,  1};
  // Clock 1000 is the run's first sample; changes are stamped on that clock.
  const PinChange kChanges[] = {
      {1000, kInput, STATUS_STREAMING, 0},
      {1000, kCutoff, STATUS_STATIC, 0x43480000u},  // 200 Hz
      {1005, kOctave, STATUS_STATIC, 5},
      {1130, kOrder, STATUS_STATIC, 1},
      {1400, kCutoff, STATUS_STREAMING, 0x447a0000u},  // 1000 Hz
      {1401, kFreqScale, STATUS_STATIC, 1},
      {2000, kCutoff, STATUS_STREAMING, 0x7fc00000u},  // NaN: ignored
      {2500, kOctave, STATUS_STATIC, 0},
      {2501, kOrder, STATUS_STATIC, 0},
      {3100, kCutoff, STATUS_STATIC, 0x42200000u},  // 40 Hz
      {3100, kOctave, STATUS_STATIC, 6},
      {3999, kInput, STATUS_STATIC, 0},
      {4000, kFreqScale, STATUS_STATIC, 0},
      {4700, kOrder, STATUS_STATIC, 1},
      {5555, kCutoff, STATUS_STATIC, 0x00000000u},  // 0 Hz: hold
      {6000, kInput, STATUS_ONE_SHOT, 0},
      {6001, kCutoff, STATUS_STATIC, 0x45000000u},  // 2048 Hz
      {6002, kFreqScale, STATUS_STATIC, 1},
      {7777, kOctave, STATUS_STREAMING, 65535},
      {9000, kFreqScale, STATUS_STATIC, 0},
      {9000, kOctave, STATUS_STATIC, 2},
      {11000, kCutoff, STATUS_STATIC, 0x44fa0000u},  // 2000 Hz
      {11001, kFreqScale, STATUS_STATIC, 1},
      {11002, kOrder, STATUS_STATIC, 0},
  };
  // After the re-open: the table and 40 Hz coefficients come back.
  const PinChange kAfterReopen[] = {
      {0, kInput, STATUS_STREAMING, 0},
      {100, kCutoff, STATUS_STATIC, 0x44fa0000u},  // the same 2000 Hz: kept at 40
      {900, kCutoff, STATUS_STATIC, 0x43960000u},  // 300 Hz
      {1500, kFreqScale, STATUS_STATIC, 0},
      {2100, kOctave, STATUS_STATIC, 4},
      {2500, kFreqScale, STATUS_STATIC, 1},
      {2600, kInput, STATUS_STATIC, 0},
  };
  const int32_t kReopenAtOffset = 10000;  // the first block starting here or later

  int32_t total = 0;
  for (int32_t length : kBlocks) total += length;
  std::vector<float> input(total), output(total, FromBits(0x7fbadbadu));
  Signal signal;
  for (int32_t i = 0; i < total; ++i) input[i] = signal.Next();
  for (const Special& s : kSpecials) input[s.at] = s.value;

  instance.ConnectBuffer(kInput, input.data());
  instance.ConnectBuffer(kPitch, output.data());
  for (const PinChange& c : kChanges) {
    instance.AddPinEvent(c.at, c.pin, c.status, static_cast<int32_t>(c.value));
  }

  size_t printed = 0;
  uint32_t clock = 1000;
  int32_t offset = 0;
  bool reopened = false;
  for (int32_t length : kBlocks) {
    if (!reopened && offset >= kReopenAtOffset) {
      instance.Host().sample_clock = clock;
      instance.Open();
      for (const PinChange& c : kAfterReopen) {
        instance.AddPinEvent(clock + c.at, c.pin, c.status, static_cast<int32_t>(c.value));
      }
      std::printf("reopen at %u\n", clock);
      reopened = true;
    }
    instance.Process(offset, length);
    Print(instance.Host(), &printed);
    std::printf("block %d %d\n", offset, length);
    for (int32_t i = offset; i < offset + length; ++i) std::printf("%08x\n", Bits(output[i]));
    offset += length;
    clock += static_cast<uint32_t>(length);
  }
  std::printf("sleep requests %d, queue empty %d\n", instance.Host().sleep_requests,
              instance.QueueEmpty() ? 1 : 0);
  return 0;
}
