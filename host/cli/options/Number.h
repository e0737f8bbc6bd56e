// Numbers as a user types them in options and events files: one syntax for
// every value, so that what one option takes every other takes too.
#pragma once

#include <initializer_list>
#include <string>

namespace tonevolt {

// Reads a plain decimal number: an optional sign, digits with at most one
// point, an optional exponent ("40", "-60", "+1", ".5", "2.5e3"), then
// optionally one of `units` in any case ("40Hz", "-60dBFS", "0.5s"). Hex,
// inf, nan, spaces and anything else strtod would take are refused, so that
// a slip never becomes a value. *unit_given says whether a unit was there.
bool ParseNumber(const std::string& text, std::initializer_list<const char*> units, double* value,
                 bool* unit_given = nullptr);

}  // namespace tonevolt
