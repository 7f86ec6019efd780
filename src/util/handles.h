// Owners of Win32 handles: closed on every path, never copied.
#pragma once
#include <windows.h>

struct handle_guard {
    HANDLE h;
    explicit handle_guard(HANDLE v) : h(v) {}
    ~handle_guard() { close(); }
    handle_guard(const handle_guard &) = delete;
    void operator=(const handle_guard &) = delete;
    bool ok() const { return h && h != INVALID_HANDLE_VALUE; }
    void close() {
        if (ok()) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
};

struct find_guard {
    HANDLE h;
    explicit find_guard(HANDLE v) : h(v) {}
    ~find_guard() { if (h != INVALID_HANDLE_VALUE) FindClose(h); }
    find_guard(const find_guard &) = delete;
    void operator=(const find_guard &) = delete;
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};
