// Owners of Win32 handles, registry keys and COM interfaces: released on every path, never copied.
#pragma once
#include <windows.h>

struct handle_guard {
    HANDLE h;
    explicit handle_guard(HANDLE v) : h(v) {}
    ~handle_guard() { close(); }
    handle_guard(const handle_guard &) = delete;
    void operator=(const handle_guard &) = delete;
    bool ok() const { return h && h != INVALID_HANDLE_VALUE; }
    // Closes now. Closing a written file can fail (a network drive that cannot flush what it kept):
    // false then, and the writer treats it as a failed write.
    bool close() {
        bool closed = !ok() || CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return closed;
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

struct key_guard {
    HKEY k = NULL;
    key_guard() = default;
    ~key_guard() { if (k) RegCloseKey(k); }
    key_guard(const key_guard &) = delete;
    void operator=(const key_guard &) = delete;
};

template <class T> struct com_guard {
    T *p = nullptr;
    com_guard() = default;
    ~com_guard() { if (p) p->Release(); }
    com_guard(const com_guard &) = delete;
    void operator=(const com_guard &) = delete;
    T *operator->() const { return p; }
};
