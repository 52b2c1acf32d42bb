// Export macro for the library's public face.
//
// The library is built with hidden symbols by default; every class or
// function that a caller may use is marked TESSELWRAPPER_API. On Windows the
// same macro becomes dllexport while building and dllimport while consuming.
// TESSELWRAPPER_LOCAL keeps a nested internal type of such a class hidden.
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

// The internals of an exported class (a nested implementation type), which
// would otherwise share its visibility: kept out of the face. A DLL exports
// only what is marked, so on Windows there is nothing to do.
#if defined(_WIN32)
#define TESSELWRAPPER_LOCAL
#else
#define TESSELWRAPPER_LOCAL __attribute__((visibility("hidden")))
#endif
