# clang for the machine itself: the fuzzer, whose libFuzzer runtime only clang has.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
