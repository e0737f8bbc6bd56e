#include "options/Number.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tonevolt {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from `at`; answers how many.
size_t Digits(const std::string& text, size_t* at) {
  size_t begin = *at;
  while (*at < text.size() && IsDigit(text[*at])) ++*at;
  return *at - begin;
}

// [+-] digits [. digits] [e [+-] digits], with a digit on one side of the point.
bool IsPlainDecimal(const std::string& text) {
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  size_t whole = Digits(text, &at), fraction = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    fraction = Digits(text, &at);
  }
  if (whole + fraction == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (Digits(text, &at) == 0) return false;
  }
  return at == text.size();
}

bool EndsWithUnit(const std::string& text, const char* unit) {
  size_t n = std::strlen(unit);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) !=
        std::tolower(static_cast<unsigned char>(unit[i])))
      return false;
  return true;
}

}  // namespace

bool ParseNumber(const std::string& text, std::initializer_list<const char*> units, double* value,
                 bool* unit_given) {
  std::string number = text;
  bool cut = false;
  for (const char* unit : units) {
    if (EndsWithUnit(number, unit)) {
      number.resize(number.size() - std::strlen(unit));
      cut = true;
      break;
    }
  }
  if (!IsPlainDecimal(number)) return false;
  // from_chars takes no '+'; past the check it reads exactly this syntax.
  const char* begin = number.data() + (number[0] == '+' ? 1 : 0);
  const char* end = number.data() + number.size();
  double parsed = 0;
  auto result = std::from_chars(begin, end, parsed);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed)) return false;
  *value = parsed;
  if (unit_given != nullptr) *unit_given = cut;
  return true;
}

}  // namespace tonevolt
