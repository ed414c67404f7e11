# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, so std::thread and
# std::mutex work). The dependency prefixes (Qt, libcurl, libarchive, libsodium and GoogleTest
# built for Windows by scripts/windows-deps.sh) come from ZLT_WIN_PREFIX in the environment, a
# list separated by ';', so that CMake's own test projects see them too. Tests run under Wine
# through the emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(DEFINED ENV{ZLT_WIN_PREFIX})
  list(APPEND CMAKE_FIND_ROOT_PATH "$ENV{ZLT_WIN_PREFIX}")
  list(APPEND CMAKE_PREFIX_PATH "$ENV{ZLT_WIN_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)
