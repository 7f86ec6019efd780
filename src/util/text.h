// Text in the process's code page. The manifest asks for UTF-8 (Windows 10 1903 and later, and
// Wine, honour it): every ANSI function then takes and returns UTF-8, a character is one to four
// bytes, and text is cut only between characters. Windows that ignores the manifest keeps its
// system code page; the helpers here read that text as UTF-8 too, which at worst cuts a text that
// is cut anyway a few bytes early. No Windows header: the format parsers use it natively too.
#pragma once
#include <stddef.h>

// Path and text buffer sizes, shared by the windows-free parsers and the rest of the setup.
enum { PATH_TEXT = 520, LONG_TEXT = 780, CMDLINE_TEXT = 1300 };

// Names on a disc or in a sheet, and paths, are compared as the file system compares them: ASCII
// letters without regard to case. Only ASCII is folded, byte by byte: no C runtime or locale call,
// which could fold the bytes of a UTF-8 character one by one.
static inline int ascii_fold(int c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }
static inline int ascii_same(const char *a, const char *b) {
    for (;; a++, b++) {
        int x = ascii_fold((unsigned char)*a), y = ascii_fold((unsigned char)*b);
        if (x != y) return 0;
        if (!x) return 1;
    }
}
// The same for the first n bytes of a and b, or up to their end when both end sooner.
static inline int ascii_same_n(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; i++) {
        int x = ascii_fold((unsigned char)a[i]), y = ascii_fold((unsigned char)b[i]);
        if (x != y) return 0;
        if (!x) return 1;
    }
    return 1;
}

// How many of the first n bytes of text hold whole characters: n, less a character that is cut
// short at the end.
size_t text_whole(const char *text, size_t n);
// 1 when text[0..n) is UTF-8: no stray or missing continuation bytes, overlong forms, surrogates
// or values past U+10FFFF.
int utf8_valid(const char *text, size_t n);

// A name from a disc or a sheet (in[0..n), up to a NUL byte) as the process's ANSI functions take
// it, NUL-terminated in out (size bytes). UTF-8 and ASCII go as they are; any other name was
// written in an 8-bit code page ("ñ" as the one byte 0xF1 in code page 1252) and goes through
// text_from_ansi. 0 when the name cannot be converted or does not fit: it is never cut.
int text_from_disc(const char *in, size_t n, char *out, size_t size);

// The platform's half (text_win.cpp): in[0..n), which is not UTF-8, in the process's code page.
// Under the UTF-8 code page it is taken to be in the system locale's ANSI code page and converted
// from there; under any other code page it is copied as it is, as the system takes it. 0 when it
// cannot be converted or does not fit in size bytes with its terminator.
int text_from_ansi(const char *in, size_t n, char *out, size_t size);
