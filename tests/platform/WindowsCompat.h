// The few POSIX calls the tests make, for a Windows build of the tests
// (forced into every test source there, tests/CMakeLists.txt): environment
// variables, temporary folders, and POSIX locale objects, which Windows does
// not have: newlocale finds none, so the tests that run under a named POSIX
// locale skip, as they do on a machine without the locale.
#pragma once

#if defined(_WIN32) && defined(__cplusplus)

#define _CRT_RAND_S  // rand_s, before stdlib.h declares what it declares
#include <direct.h>
#include <stdlib.h>
#include <string.h>

#include <cerrno>
#include <clocale>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (overwrite == 0 && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

// An empty value removes a variable from a Windows environment.
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }

// The last six characters of `pattern` (XXXXXX) made unique; the folder is
// created, as POSIX mkdtemp does.
inline char* mkdtemp(char* pattern) {
  const size_t length = strlen(pattern);
  if (length < 6) return nullptr;
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    unsigned int value = 0;
    if (rand_s(&value) != 0) return nullptr;
    for (int i = 0; i < 6; ++i) {
      pattern[length - 6 + i] = kLetters[value % 36];
      value /= 36;
    }
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

using locale_t = void*;
#ifndef LC_ALL_MASK
#define LC_CTYPE_MASK 1
#define LC_NUMERIC_MASK 2
#define LC_ALL_MASK 0x7F
#endif
inline locale_t newlocale(int, const char*, locale_t) { return nullptr; }
inline void freelocale(locale_t) {}
inline locale_t uselocale(locale_t) { return nullptr; }

#endif
