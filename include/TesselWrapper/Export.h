// Export macro for the library's public face.
//
// The library is built with hidden symbols by default; every class or
// function that a caller may use is marked TESSELWRAPPER_API. On Windows the
// same macro becomes dllexport while building and dllimport while consuming.
#pragma once

#if defined(_WIN32)
#if defined(TESSELWRAPPER_BUILDING)
#define TESSELWRAPPER_API __declspec(dllexport)
#else
#define TESSELWRAPPER_API __declspec(dllimport)
#endif
#else
#define TESSELWRAPPER_API __attribute__((visibility("default")))
#endif
