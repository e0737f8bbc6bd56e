// The 32-bit module's render of a raw float32 file, driven through main and
// its record as a host drives it: the reference the LV2 plug-ins' output is
// compared with, bit for bit.
//
// Usage: tonevolt_lv2_reference MODULE.so RATE BLOCK SETTINGS IN.f32 OUT.f32
//
// SETTINGS holds one line per change: "AT CUTOFF OCTAVE SCALE ORDER", where
// AT is a sample index, CUTOFF is in Hz (any strtof syntax, hex floats exact),
// OCTAVE -3..+3, SCALE 0 (1 V/kHz) or 1 (1 V/oct), ORDER 1 or 2 poles. Each
// line becomes static pin events at sample AT; the input streams from 0.
// The input is processed in host blocks of BLOCK samples.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Float32Files.h"
#include "TonevoltPins.h"
#include "WBHost.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonevolt_lv2_reference: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) return Fail("usage: MODULE.so RATE BLOCK SETTINGS IN.f32 OUT.f32");
  const std::string module_path = argv[1], settings_path = argv[4];
  const std::string in_path = argv[5], out_path = argv[6];
  const float rate = std::strtof(argv[2], nullptr);
  const int32_t block = std::atoi(argv[3]);
  if (block < 1) return Fail("BLOCK must be at least 1");

  wbhost::ModuleLibrary library;
  std::string error;
  if (!library.Load(module_path, &error)) return Fail(error);
  wbhost::Instance instance;
  if (!instance.Create(library.Main())) return Fail("main answered null");
  instance.Host().record_calls = false;
  instance.Host().pin_count = kModulePinCount;
  instance.SetSampleRate(rate);
  instance.SetBlockSize(block);
  instance.Open();

  std::ifstream settings(settings_path);
  if (!settings) return Fail("cannot read " + settings_path);
  instance.AddPinEvent(0, PIN_INPUT, STATUS_STREAMING, 0);
  std::string line;
  while (std::getline(settings, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    uint32_t at;
    std::string cutoff;
    int32_t octave, scale, order;
    if (!(fields >> at >> cutoff >> octave >> scale >> order)) return Fail("bad line: " + line);
    instance.AddPinFloatEvent(at, PIN_FILTER_CUTOFF, STATUS_STATIC,
                              std::strtof(cutoff.c_str(), nullptr));
    instance.AddPinEvent(at, PIN_OCTAVE, STATUS_STATIC, octave - kOctaveMin);
    instance.AddPinEvent(at, PIN_FREQ_SCALE, STATUS_STATIC, scale);
    instance.AddPinEvent(at, PIN_FILTER_ORDER, STATUS_STATIC, order - 1);
  }

  std::vector<float> input;
  if (!ReadFloats(in_path, &input))
    return Fail("cannot read whole float32 samples from " + in_path);
  std::vector<float> output(input.size());
  instance.ConnectBuffer(PIN_INPUT, input.data());
  instance.ConnectBuffer(PIN_PITCH, output.data());
  const int32_t total = static_cast<int32_t>(input.size());
  for (int32_t offset = 0; offset < total; offset += block) {
    instance.Process(offset, std::min(block, total - offset));
  }

  std::FILE* out = std::fopen(out_path.c_str(), "wb");
  if (out == nullptr) return Fail("cannot write " + out_path);
  const bool written =
      std::fwrite(output.data(), sizeof(float), output.size(), out) == output.size();
  if (std::fclose(out) != 0 || !written) return Fail("cannot write " + out_path);
  return 0;
}
