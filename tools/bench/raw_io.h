// The plain Win32 calls the benchmark's own programs read and write with: no checks of names, no
// log, nothing but the platform's cost.
#pragma once
#include <windows.h>

static inline HANDLE open_read(const char *path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
}

static inline int seek_to(HANDLE h, unsigned long long at) {
    LARGE_INTEGER li;
    li.QuadPart = (LONGLONG)at;
    return SetFilePointerEx(h, li, NULL, FILE_BEGIN);
}

// Exactly n bytes, or 0.
static inline int read_all(HANDLE h, void *buf, DWORD n) {
    DWORD got = 0;
    return ReadFile(h, buf, n, &got, NULL) && got == n;
}
