// Always-on checks of the host's obligations. A failure reports through the
// platform's own assertion facility (glibc's or the Windows CRT's) under the
// fixed file name and line that hosts and their logs know, whatever the real
// source position is. NDEBUG does not switch these off.
#pragma once

#include <assert.h>

#if defined(_WIN32)
#define WB_ASSERT_FAIL(text, line) _assert(text, "wb_sdk/WBModule_base", line)
#else
// glibc declares its reporter only when NDEBUG is unset; these checks never are.
extern "C" void __assert_fail(const char* assertion, const char* file, unsigned int line,
                              const char* function) noexcept __attribute__((__noreturn__));
#define WB_ASSERT_FAIL(text, line) \
  __assert_fail(text, "wb_sdk/WBModule_base", line, __PRETTY_FUNCTION__)
#endif

#define WB_ASSERT(condition, text, line) \
  do {                                   \
    if (!(condition)) {                  \
      WB_ASSERT_FAIL(text, line);        \
    }                                    \
  } while (0)
