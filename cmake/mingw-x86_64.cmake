# Windows x86-64 (PE32+) with mingw-w64: the CLAP and VST3 plug-ins and
# their test hosts, which run under wine64.
set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
# M_PI and its kin, which glibc gives by default.
set(CMAKE_C_FLAGS_INIT -D_USE_MATH_DEFINES)
set(CMAKE_CXX_FLAGS_INIT -D_USE_MATH_DEFINES)
