# Third-party code built with the project where the system's packages cannot
# serve the target: Windows (MinGW) and 32-bit Linux have no SQLite or
# GoogleTest packages of their own on a Debian build machine. Each switch
# leaves the rest of the build unchanged: the targets and variables it
# provides are the ones the ordinary build finds (PkgConfig::SQLITE3,
# GTest::gtest ...).
option(TESSEL_BUNDLED_SQLITE "Compile SQLite from the amalgamation that third_party/sqlite/fetch.sh fetches" OFF)
set(TESSEL_GTEST_SOURCE_DIR "" CACHE PATH
    "Build GoogleTest from these sources (Debian: /usr/src/googletest) instead of using an installed one")

if(TESSEL_BUNDLED_SQLITE)
  enable_language(C)
endif()
if(WIN32)
  enable_language(RC)  # the test programs' manifests
endif()

if(TESSEL_BUNDLED_SQLITE)
  set(_sqlite_dir ${PROJECT_SOURCE_DIR}/third_party/sqlite/src)
  if(NOT EXISTS ${_sqlite_dir}/sqlite3.c)
    message(FATAL_ERROR "TESSEL_BUNDLED_SQLITE: no ${_sqlite_dir}/sqlite3.c; run third_party/sqlite/fetch.sh")
  endif()
  # Linked into the library, never part of its face: hidden on ELF, and not
  # exported from the DLL (SQLITE_API stays empty).
  add_library(tessel_sqlite3 STATIC ${_sqlite_dir}/sqlite3.c)
  target_include_directories(tessel_sqlite3 SYSTEM PUBLIC ${_sqlite_dir})
  set_target_properties(tessel_sqlite3 PROPERTIES C_VISIBILITY_PRESET hidden POSITION_INDEPENDENT_CODE ON)
  target_compile_definitions(tessel_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
  if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_link_libraries(tessel_sqlite3 PUBLIC Threads::Threads ${CMAKE_DL_LIBS} m)
  endif()
  add_library(PkgConfig::SQLITE3 ALIAS tessel_sqlite3)
endif()

if(TESSEL_GTEST_SOURCE_DIR AND TESSEL_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TESSEL_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(_gtest gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${_gtest})
      add_library(GTest::${_gtest} ALIAS ${_gtest})
    endif()
  endforeach()
endif()

# The build machine's header-only CLI11 serves a Windows build too, but its
# package puts all of /usr/include on the include path, whose C library
# headers would shadow MinGW's: a package of our own points at CLI11 alone.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  find_file(TESSEL_CLI11_HEADER CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(TESSEL_CLI11_HEADER)
    get_filename_component(_cli11_dir ${TESSEL_CLI11_HEADER} DIRECTORY)
    set(_cli11_pkg ${PROJECT_BINARY_DIR}/cli11)
    file(MAKE_DIRECTORY ${_cli11_pkg}/include)
    file(CREATE_LINK ${_cli11_dir} ${_cli11_pkg}/include/CLI SYMBOLIC)
    file(WRITE ${_cli11_pkg}/CLI11Config.cmake
         "if(NOT TARGET CLI11::CLI11)\n"
         "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
         "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_cli11_pkg}/include)\n"
         "endif()\n")
    set(CLI11_DIR ${_cli11_pkg} CACHE PATH "CLI11's package (the build machine's headers alone)" FORCE)
  endif()
endif()
