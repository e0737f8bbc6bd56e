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

// A process's default state, the one the signal path's bits are made in:
// every exception masked, round to nearest, x87 extended precision, no
// flush-to-zero, no denormals-are-zero.
constexpr FpuControlWords kDefaultFpuControlWords{0x037F, 0x1F80};

// Which rounding for which call. An open (coefficients, the 1 V/oct table)
// and a 1 V/kHz call round as the given words do; a 1 V/oct call, its
// coefficient update included, rounds toward zero with the given words'
// other bits. The words given are those of the open: the module keeps the
// latest open's and loads them back after a 1 V/oct call; the LV2 adapter
// opens and runs in kDefaultFpuControlWords and gives the host back its own.
constexpr FpuControlWords TruncatingWords(FpuControlWords words) {
  words.x87 |= kX87TruncatingBits;
  words.mxcsr |= kMxcsrTruncatingBits;
  return words;
}
constexpr FpuControlWords CallWords(const FpuControlWords& open_words, bool volt_per_octave) {
  return volt_per_octave ? TruncatingWords(open_words) : open_words;
}

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

// The default state while in scope, the thread's own given back after,
// exactly, flags included: what a plug-in does around each call from a
// host, whose thread may flush denormals, round otherwise or trap.
class DefaultFpuScope {
 public:
  DefaultFpuScope() : m_thread(ReadFpuControlWords()) {
    LoadFpuControlWords(kDefaultFpuControlWords);
  }
  ~DefaultFpuScope() { LoadFpuControlWords(m_thread); }
  DefaultFpuScope(const DefaultFpuScope&) = delete;
  DefaultFpuScope& operator=(const DefaultFpuScope&) = delete;

 private:
  const FpuControlWords m_thread;
};
