// A float's bit pattern and back: expected values are exact bits.
#pragma once

#include <cstdint>
#include <cstring>

inline uint32_t Bits(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

inline float FromBits(uint32_t bits) {
  float x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}
