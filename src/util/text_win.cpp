#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "util/text.h"
#include "util/util.h"  // PATH_TEXT

// The ANSI code page of the system locale, which names written by programs of the 8-bit code
// pages were in; 0 when it cannot be had. Asked once: it changes only with a restart.
static UINT system_ansi_code_page(void) {
    static UINT cp;
    if (!cp) {
        char number[8];
        if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number) > 0)
            cp = (UINT)strtoul(number, NULL, 10);
    }
    return cp;
}

int text_from_ansi(const char *in, size_t n, char *out, size_t size) {
    if (GetACP() != CP_UTF8) {
        if (n >= size) return 0;
        memcpy(out, in, n);
        out[n] = 0;
        return 1;
    }
    // Each byte gives one UTF-16 unit at most; a name from a disc or a sheet fits a path.
    WCHAR wide[PATH_TEXT];
    UINT cp = system_ansi_code_page();
    if (n == 0 || n >= PATH_TEXT || size < 2 || cp == 0 || cp == CP_UTF8) return 0;
    int w = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, in, (int)n, wide, PATH_TEXT);
    int k = w > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, w, out, (int)(size - 1), NULL, NULL) : 0;
    if (k <= 0) return 0;
    out[k] = 0;
    return 1;
}
