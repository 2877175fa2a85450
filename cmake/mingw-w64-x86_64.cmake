# Cross-building the Windows program from Linux with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-posix; its POSIX thread model gives std::thread):
#   cmake -B build-win --toolchain cmake/mingw-w64-x86_64.cmake -DVEKSIEVE_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
# The tests run under wine: ctest runs them through it, and GoogleTest's
# test lists are read when ctest runs, so that building needs no wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library's own printf gets "%lld" and long double wrong; MinGW's
# standard-conforming one is used instead.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
# There the format attribute's "printf" means the C library's printf, which
# knows no "%zu"; the Linux build checks the formats against the standard.
add_compile_options(-Wno-format)
# One .exe that needs no DLLs beside it: the C++ runtime and winpthreads
# linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
