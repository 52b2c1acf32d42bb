# Windows x86_64 with MinGW-w64 on a Debian build machine. The -posix
# compilers: the -win32 ones have no std::thread or std::mutex in GCC 12.
# Tests run under Wine (scripts/wine-run.sh), which also finds the MinGW
# runtime DLLs for them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_tessel_mingw x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
