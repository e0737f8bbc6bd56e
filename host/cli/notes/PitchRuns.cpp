#include "notes/PitchRuns.h"

namespace tonevolt {

std::vector<PitchRun> FindPitchRuns(const std::vector<double>& values, double tolerance_cents) {
  std::vector<PitchRun> runs;
  HeldPitch stretch(tolerance_cents);
  PitchRun run;
  for (size_t k = 0; k < values.size(); ++k) {
    if (std::isnan(values[k])) {
      if (!stretch.Empty()) runs.push_back(run);
      stretch.Clear();
      continue;
    }
    if (stretch.Holds(values[k])) {
      run.last = k;
    } else {
      if (!stretch.Empty()) runs.push_back(run);
      stretch.Clear();
      run.first = run.last = k;
    }
    stretch.Add(values[k]);
  }
  if (!stretch.Empty()) runs.push_back(run);
  return runs;
}

}  // namespace tonevolt
