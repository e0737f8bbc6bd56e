// An events file: timed changes of the module's settings, each value in the
// options' syntax (Values.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/Settings.h"

namespace tonevolt {

// A setting pin's value parsed from option syntax into its pin encoding.
bool ParsePinValue(int32_t pin, const std::string& text, int32_t* value, std::string* error);

// Parses an events file: one change a line, "TIME PIN-NAME VALUE". TIME is a
// whole number of samples or seconds with an "s" suffix. pin_names[i] is the
// module's name of pin i. Blank lines and lines starting with '#' are skipped.
bool ParseEvents(const std::string& text, const std::vector<std::string>& pin_names,
                 double sample_rate, std::vector<Change>* changes, std::string* error);

}  // namespace tonevolt
