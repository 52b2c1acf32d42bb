# 32-bit Linux (i686) on an x86_64 build machine with gcc-multilib and
# g++-multilib. This machine cannot run 32-bit programs itself, so tests run
# under qemu-user (Debian: qemu-user), which needs no privileges.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Only 32-bit libraries may be found: none of the 64-bit ones in the
# architecture folder of the build machine.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
# Test programs list their tests when ctest runs, not while building: each
# start under the emulator costs a second or more.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
