# Linux i386 with clang: the fuzzer, whose libFuzzer runtime only clang has.
include(${CMAKE_CURRENT_LIST_DIR}/linux-x86.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
