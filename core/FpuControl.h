// The processor's floating-point control state: the x87 control word and,
// because arithmetic runs on SSE, the MXCSR that rounds it. Both are
// captured, masked and switched together.
#pragma once

#include <cstdint>

struct FpuControlWords {
  uint16_t x87;    // exception masks 0-5, precision 8-9, rounding 10-11
  uint32_t mxcsr;  // exception masks 7-12, rounding 13-14
};

// x87: all six exception masks; MXCSR: the same six masks.
constexpr uint16_t kX87ExceptionMasks = 0x003F;
constexpr uint32_t kMxcsrExceptionMasks = 0x1F80;
// The same masks plus rounding toward zero.
constexpr uint16_t kX87TruncatingBits = 0x0C3F;
constexpr uint32_t kMxcsrTruncatingBits = 0x7F80;

inline FpuControlWords ReadFpuControlWords() {
  FpuControlWords words;
  __asm__ __volatile__("fnstcw %0" : "=m"(words.x87) : : "memory");
  __asm__ __volatile__("stmxcsr %0" : "=m"(words.mxcsr) : : "memory");
  return words;
}

inline void LoadFpuControlWords(const FpuControlWords& words) {
  // The memory clobbers keep the compiler from moving loads and stores of
  // samples across the switch.
  __asm__ __volatile__("fldcw %0" : : "m"(words.x87) : "memory");
  __asm__ __volatile__("ldmxcsr %0" : : "m"(words.mxcsr) : "memory");
}

inline void MaskFpuExceptions() {
  FpuControlWords words = ReadFpuControlWords();
  words.x87 |= kX87ExceptionMasks;
  words.mxcsr |= kMxcsrExceptionMasks;
  LoadFpuControlWords(words);
}
