// iconv's interface on Windows, where the C library has none: the
// conversions between UTF-8 and a code page that Text.cpp needs, made by
// MultiByteToWideChar and WideCharToMultiByte (data/TextWin32.cpp). Names are
// what iconv takes ("UTF-8", "CP1252", "ISO-8859-1", "SHIFT_JIS", ...); one
// side of every conversion must be UTF-8. Failures report errno as iconv
// does: E2BIG (no room left), EILSEQ (a sequence the set cannot take or
// give), EINVAL (a sequence cut short by the end of the input). Private to
// the library: only the Windows build puts this folder on its include path.
#pragma once

#include <cstddef>

typedef void* iconv_t;

iconv_t iconv_open(const char* to, const char* from);
std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft);
int iconv_close(iconv_t cd);
