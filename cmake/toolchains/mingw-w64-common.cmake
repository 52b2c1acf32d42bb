# What the two MinGW-w64 toolchains share; `_tessel_mingw` is the target
# triple (x86_64-w64-mingw32, i686-w64-mingw32).
set(CMAKE_C_COMPILER ${_tessel_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tessel_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_tessel_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_tessel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Header-only packages of the build machine (CLI11) serve any target.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# A ';' inside the emulator (as WINEPATH needs) would split CMake's list: the
# script sets Wine up and takes the program as its first argument.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
# Test programs list their tests when ctest runs, not while building: each
# start under the emulator costs a second or more.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
