#include "PitchTable.h"

#include <cmath>

namespace {

// Computed once, when the library loads.
const double g_ln2 = std::log(2.0);
const double g_ln440 = std::log(440.0);

}  // namespace

void BuildPitchTable(float* table) {
  table[0] = -0.9f;
  for (int32_t i = 1; i < kPitchTableSize; ++i) {
    table[i] =
        static_cast<float>(((std::log(static_cast<double>(i)) - g_ln440) / g_ln2 + 5.0f) * 0.1);
  }
}
