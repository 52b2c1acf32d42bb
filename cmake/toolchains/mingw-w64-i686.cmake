# Windows x86 (32-bit) with MinGW-w64 on a Debian build machine: built and
# inspected only (Wine here runs 64-bit programs only).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_tessel_mingw i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
