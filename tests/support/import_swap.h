// Replaces, in this test program's own import table, the address of one function imported from
// one DLL, so that a test can make a platform or C runtime call fail where the code under test
// makes it. The swap lasts for the life of the object.
#pragma once
#include <windows.h>

struct import_swap {
    void **slot;
    void *original;
    // dll: the import's DLL name, any letter case ("msvcrt.dll"); name: the function's name.
    // ok() is false when this program does not import that function.
    import_swap(const char *dll, const char *name, void *replacement);
    ~import_swap();
    import_swap(const import_swap &) = delete;
    void operator=(const import_swap &) = delete;
    bool ok() const { return slot != nullptr; }
};

// A replacement for WriteFile that fails every write as a full disk does.
BOOL WINAPI write_fails_disk_full(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
