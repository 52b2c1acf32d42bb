// nl_langinfo(CODESET) on Windows: the process's ANSI code page (GetACP),
// named as iconv_open takes it ("CP1252"), or "UTF-8" for code page 65001.
// The code page is what a Windows program's narrow text is in, whatever the
// C library's setlocale says. Implemented in data/TextWin32.cpp; private to
// the library.
#pragma once

typedef int nl_item;
#define CODESET 14

const char* nl_langinfo(nl_item item);
