// The 1 V/oct table: one entry per whole Hz.
#pragma once

#include <cstdint>

constexpr int32_t kPitchTableSize = 12000;  // entries for 0 to 11999 Hz

// entry 0 = -0.9; entry i = 0.1 * (log2(i / 440) + 5), each rounded to float
// under the rounding mode in force: 440 Hz reads 5 V, one volt per octave.
void BuildPitchTable(float* table);

// The table BuildPitchTable fills under the floating-point control state in
// force, shared by every caller in the process: built by the first call
// under that state, then never changed, and kept until the library unloads.
// Safe to call from several threads at once; a call that finds its table
// built takes no lock and allocates nothing.
const float* SharedPitchTable();
