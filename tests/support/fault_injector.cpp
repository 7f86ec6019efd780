#include "fault_injector.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>

#include <map>

#include "import_swap.h"

static fault_injector the_injector;

// The injector's own bookkeeping allocates; while it does, the allocator passes straight through.
static bool busy;
static std::map<HANDLE, std::string> *handle_paths;

namespace {
// The real functions, as the swaps found them.
decltype(&CreateFileA) real_CreateFileA;
decltype(&ReadFile) real_ReadFile;
decltype(&WriteFile) real_WriteFile;
decltype(&SetFilePointerEx) real_SetFilePointerEx;
decltype(&GetFileSizeEx) real_GetFileSizeEx;
decltype(&CloseHandle) real_CloseHandle;
decltype(&CreateDirectoryA) real_CreateDirectoryA;
decltype(&FindFirstFileA) real_FindFirstFileA;
decltype(&FindNextFileA) real_FindNextFileA;
decltype(&GetFileAttributesA) real_GetFileAttributesA;
decltype(&GetFinalPathNameByHandleA) real_GetFinalPathNameByHandleA;
decltype(&SetFileAttributesA) real_SetFileAttributesA;
decltype(&SetFileInformationByHandle) real_SetFileInformationByHandle;
decltype(&GetFileInformationByHandleEx) real_GetFileInformationByHandleEx;
decltype(&ReOpenFile) real_ReOpenFile;
decltype(&CreateMutexA) real_CreateMutexA;
decltype(&WaitForSingleObject) real_WaitForSingleObject;
decltype(&RegOpenKeyExA) real_RegOpenKeyExA;
decltype(&RegQueryValueExA) real_RegQueryValueExA;
decltype(&CopyFileA) real_CopyFileA;
decltype(&DeleteFileA) real_DeleteFileA;
decltype(&RemoveDirectoryA) real_RemoveDirectoryA;
decltype(&MoveFileExA) real_MoveFileExA;
decltype(&RegCreateKeyExA) real_RegCreateKeyExA;
decltype(&RegSetValueExA) real_RegSetValueExA;
decltype(&RegDeleteKeyA) real_RegDeleteKeyA;
decltype(&BeginUpdateResourceA) real_BeginUpdateResourceA;
decltype(&UpdateResourceA) real_UpdateResourceA;
decltype(&EndUpdateResourceA) real_EndUpdateResourceA;
decltype(&CoCreateInstance) real_CoCreateInstance;
decltype(&SHGetFolderPathA) real_SHGetFolderPathA;
void *(*real_malloc)(size_t);
void *(*real_calloc)(size_t, size_t);
void *(*real_realloc)(void *, size_t);
}  // namespace

// Counts one call; true when it is the one to fail, with the platform's error code set. The path is
// a prefix and a name, or the path a handle was opened with (handle not null).
static bool hit(const char *name, const char *prefix, const char *path, HANDLE handle, bool writes, DWORD error) {
    fault_injector &f = the_injector;
    if (!f.armed || busy) return false;
    busy = true;
    std::string p = prefix;
    if (handle) {
        auto it = handle_paths->find(handle);
        if (it != handle_paths->end()) p += it->second;
    } else if (path) {
        p += path;
    }
    f.calls++;
    f.log.push_back({name, p, writes});
    bool fail = f.calls == f.fail_at;
    if (fail) f.failed = name;
    busy = false;
    if (fail) SetLastError(error);
    return fail;
}
static bool hit(const char *name, const char *path, bool writes, DWORD error) {
    return hit(name, "", path, NULL, writes, error);
}
static bool hit(const char *name, HANDLE h, bool writes, DWORD error) { return hit(name, "", NULL, h, writes, error); }
static void remember(HANDLE h, const char *prefix, const char *path) {
    bool was = busy;
    busy = true;
    (*handle_paths)[h] = std::string(prefix) + (path ? path : "");
    busy = was;
}

static HANDLE WINAPI fake_CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                      DWORD disposition, DWORD flags, HANDLE tmpl) {
    bool writes = (access & (GENERIC_WRITE | GENERIC_ALL)) || disposition == CREATE_ALWAYS || disposition == CREATE_NEW;
    if (hit("CreateFileA", path, writes, ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
    HANDLE h = real_CreateFileA(path, access, share, sa, disposition, flags, tmpl);
    if (h != INVALID_HANDLE_VALUE) remember(h, "", path);
    return h;
}
static BOOL WINAPI fake_ReadFile(HANDLE h, LPVOID buf, DWORD n, LPDWORD got, LPOVERLAPPED ov) {
    if (hit("ReadFile", h, false, ERROR_READ_FAULT)) {
        if (got) *got = 0;
        return FALSE;
    }
    return real_ReadFile(h, buf, n, got, ov);
}
static BOOL WINAPI fake_WriteFile(HANDLE h, LPCVOID buf, DWORD n, LPDWORD put, LPOVERLAPPED ov) {
    if (hit("WriteFile", h, true, ERROR_DISK_FULL)) {
        if (put) *put = 0;
        return FALSE;
    }
    return real_WriteFile(h, buf, n, put, ov);
}
static BOOL WINAPI fake_SetFilePointerEx(HANDLE h, LARGE_INTEGER to, PLARGE_INTEGER at, DWORD how) {
    if (hit("SetFilePointerEx", h, false, ERROR_ACCESS_DENIED)) return FALSE;
    return real_SetFilePointerEx(h, to, at, how);
}
static BOOL WINAPI fake_GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) {
    if (hit("GetFileSizeEx", h, false, ERROR_ACCESS_DENIED)) return FALSE;
    return real_GetFileSizeEx(h, size);
}
// A close that fails has still closed the handle (a write-behind error on the last flush).
static BOOL WINAPI fake_CloseHandle(HANDLE h) {
    bool fail = hit("CloseHandle", h, false, ERROR_DISK_FULL);
    BOOL ok = real_CloseHandle(h);
    if (fail) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return ok;
}
static BOOL WINAPI fake_CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES sa) {
    if (hit("CreateDirectoryA", path, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_CreateDirectoryA(path, sa);
}
static HANDLE WINAPI fake_FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA fd) {
    if (hit("FindFirstFileA", pattern, false, ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
    HANDLE h = real_FindFirstFileA(pattern, fd);
    if (h != INVALID_HANDLE_VALUE) remember(h, "", pattern);
    return h;
}
static BOOL WINAPI fake_FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA fd) {
    if (hit("FindNextFileA", h, false, ERROR_READ_FAULT)) return FALSE;
    return real_FindNextFileA(h, fd);
}
static DWORD WINAPI fake_GetFileAttributesA(LPCSTR path) {
    if (hit("GetFileAttributesA", path, false, ERROR_ACCESS_DENIED)) return INVALID_FILE_ATTRIBUTES;
    return real_GetFileAttributesA(path);
}
static DWORD WINAPI fake_GetFinalPathNameByHandleA(HANDLE h, LPSTR out, DWORD size, DWORD flags) {
    if (hit("GetFinalPathNameByHandleA", h, false, ERROR_ACCESS_DENIED)) return 0;
    return real_GetFinalPathNameByHandleA(h, out, size, flags);
}
static BOOL WINAPI fake_SetFileAttributesA(LPCSTR path, DWORD attr) {
    if (hit("SetFileAttributesA", path, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_SetFileAttributesA(path, attr);
}
static BOOL WINAPI fake_SetFileInformationByHandle(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, LPVOID info, DWORD n) {
    if (hit("SetFileInformationByHandle", h, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_SetFileInformationByHandle(h, cls, info, n);
}
static BOOL WINAPI fake_GetFileInformationByHandleEx(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, LPVOID info, DWORD n) {
    if (hit("GetFileInformationByHandleEx", h, false, ERROR_ACCESS_DENIED)) return FALSE;
    return real_GetFileInformationByHandleEx(h, cls, info, n);
}
static HANDLE WINAPI fake_ReOpenFile(HANDLE h, DWORD access, DWORD share, DWORD flags) {
    if (hit("ReOpenFile", h, false, ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
    HANDLE again = real_ReOpenFile(h, access, share, flags);
    if (again != INVALID_HANDLE_VALUE) {
        bool was = busy;
        busy = true;
        auto it = handle_paths->find(h);
        std::string path = it != handle_paths->end() ? it->second : std::string();
        busy = was;
        remember(again, "", path.c_str());
    }
    return again;
}
static HANDLE WINAPI fake_CreateMutexA(LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCSTR name) {
    if (hit("CreateMutexA", "mutex:", name, NULL, false, ERROR_ACCESS_DENIED)) return NULL;
    return real_CreateMutexA(sa, owned, name);
}
static DWORD WINAPI fake_WaitForSingleObject(HANDLE h, DWORD ms) {
    if (hit("WaitForSingleObject", h, false, ERROR_ACCESS_DENIED)) return WAIT_FAILED;
    return real_WaitForSingleObject(h, ms);
}
static LSTATUS WINAPI fake_RegOpenKeyExA(HKEY root, LPCSTR sub, DWORD opt, REGSAM sam, PHKEY key) {
    if (hit("RegOpenKeyExA", "registry:", sub, NULL, false, ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
    LSTATUS s = real_RegOpenKeyExA(root, sub, opt, sam, key);
    if (s == ERROR_SUCCESS) remember((HANDLE)*key, "registry:", sub);
    return s;
}
static LSTATUS WINAPI fake_RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD r, LPDWORD type, LPBYTE data, LPDWORD n) {
    if (hit("RegQueryValueExA", (HANDLE)key, false, ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
    return real_RegQueryValueExA(key, name, r, type, data, n);
}
static BOOL WINAPI fake_CopyFileA(LPCSTR from, LPCSTR to, BOOL fail_if_exists) {
    if (hit("CopyFileA", to, true, ERROR_DISK_FULL)) return FALSE;
    return real_CopyFileA(from, to, fail_if_exists);
}
static BOOL WINAPI fake_DeleteFileA(LPCSTR path) {
    if (hit("DeleteFileA", path, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_DeleteFileA(path);
}
static BOOL WINAPI fake_RemoveDirectoryA(LPCSTR path) {
    if (hit("RemoveDirectoryA", path, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_RemoveDirectoryA(path);
}
static BOOL WINAPI fake_MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (hit("MoveFileExA", from, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_MoveFileExA(from, to, flags);
}
static LSTATUS WINAPI fake_RegCreateKeyExA(HKEY root, LPCSTR sub, DWORD r, LPSTR cls, DWORD opt, REGSAM sam,
                                           const LPSECURITY_ATTRIBUTES sa, PHKEY key, LPDWORD disp) {
    if (hit("RegCreateKeyExA", "registry:", sub, NULL, true, ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
    LSTATUS s = real_RegCreateKeyExA(root, sub, r, cls, opt, sam, sa, key, disp);
    if (s == ERROR_SUCCESS) remember((HANDLE)*key, "registry:", sub);
    return s;
}
static LSTATUS WINAPI fake_RegSetValueExA(HKEY key, LPCSTR name, DWORD r, DWORD type, const BYTE *data, DWORD n) {
    if (hit("RegSetValueExA", (HANDLE)key, true, ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
    return real_RegSetValueExA(key, name, r, type, data, n);
}
static LSTATUS WINAPI fake_RegDeleteKeyA(HKEY root, LPCSTR sub) {
    if (hit("RegDeleteKeyA", "registry:", sub, NULL, true, ERROR_ACCESS_DENIED)) return ERROR_ACCESS_DENIED;
    return real_RegDeleteKeyA(root, sub);
}
static HANDLE WINAPI fake_BeginUpdateResourceA(LPCSTR exe, BOOL del) {
    if (hit("BeginUpdateResourceA", exe, true, ERROR_ACCESS_DENIED)) return NULL;
    HANDLE h = real_BeginUpdateResourceA(exe, del);
    if (h) remember(h, "", exe);
    return h;
}
static BOOL WINAPI fake_UpdateResourceA(HANDLE h, LPCSTR type, LPCSTR name, WORD lang, LPVOID data, DWORD n) {
    if (hit("UpdateResourceA", h, true, ERROR_ACCESS_DENIED)) return FALSE;
    return real_UpdateResourceA(h, type, name, lang, data, n);
}
// Failing the end of an update discards it, as the platform does when it cannot write the file.
static BOOL WINAPI fake_EndUpdateResourceA(HANDLE h, BOOL discard) {
    if (hit("EndUpdateResourceA", h, true, ERROR_DISK_FULL)) {
        real_EndUpdateResourceA(h, TRUE);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return real_EndUpdateResourceA(h, discard);
}
static HRESULT WINAPI fake_CoCreateInstance(REFCLSID cls, LPUNKNOWN outer, DWORD ctx, REFIID iid, LPVOID *out) {
    if (hit("CoCreateInstance", "", false, ERROR_ACCESS_DENIED)) {
        *out = NULL;
        return E_OUTOFMEMORY;
    }
    return real_CoCreateInstance(cls, outer, ctx, iid, out);
}
static HRESULT WINAPI fake_SHGetFolderPathA(HWND w, int csidl, HANDLE token, DWORD flags, LPSTR out) {
    if (hit("SHGetFolderPathA", "", false, ERROR_ACCESS_DENIED)) return E_FAIL;
    return real_SHGetFolderPathA(w, csidl, token, flags, out);
}
static void *fake_malloc(size_t n) {
    if (the_injector.allocator && hit("malloc", "", false, ERROR_NOT_ENOUGH_MEMORY)) return NULL;
    return real_malloc(n);
}
static void *fake_calloc(size_t n, size_t size) {
    if (the_injector.allocator && hit("calloc", "", false, ERROR_NOT_ENOUGH_MEMORY)) return NULL;
    return real_calloc(n, size);
}
static void *fake_realloc(void *p, size_t n) {
    if (the_injector.allocator && hit("realloc", "", false, ERROR_NOT_ENOUGH_MEMORY)) return NULL;
    return real_realloc(p, n);
}

// Swaps one import for good and keeps the real address; a function this program does not import
// is simply never called by the code under test.
template <typename F>
static void swap_import(const char *dll, const char *name, F fake, F *real) {
    static std::vector<import_swap *> kept;
    import_swap *s = new import_swap(dll, name, (void *)fake);
    *real = s->ok() ? (F)s->original : NULL;
    kept.push_back(s);
}

fault_injector &faults(void) {
    static bool swapped;
    if (swapped) return the_injector;
    swapped = true;
    handle_paths = new std::map<HANDLE, std::string>;
    swap_import("kernel32.dll", "CreateFileA", fake_CreateFileA, &real_CreateFileA);
    swap_import("kernel32.dll", "ReadFile", fake_ReadFile, &real_ReadFile);
    swap_import("kernel32.dll", "WriteFile", fake_WriteFile, &real_WriteFile);
    swap_import("kernel32.dll", "SetFilePointerEx", fake_SetFilePointerEx, &real_SetFilePointerEx);
    swap_import("kernel32.dll", "GetFileSizeEx", fake_GetFileSizeEx, &real_GetFileSizeEx);
    swap_import("kernel32.dll", "CloseHandle", fake_CloseHandle, &real_CloseHandle);
    swap_import("kernel32.dll", "CreateDirectoryA", fake_CreateDirectoryA, &real_CreateDirectoryA);
    swap_import("kernel32.dll", "FindFirstFileA", fake_FindFirstFileA, &real_FindFirstFileA);
    swap_import("kernel32.dll", "FindNextFileA", fake_FindNextFileA, &real_FindNextFileA);
    swap_import("kernel32.dll", "GetFileAttributesA", fake_GetFileAttributesA, &real_GetFileAttributesA);
    swap_import("kernel32.dll", "GetFinalPathNameByHandleA", fake_GetFinalPathNameByHandleA,
                &real_GetFinalPathNameByHandleA);
    swap_import("kernel32.dll", "SetFileAttributesA", fake_SetFileAttributesA, &real_SetFileAttributesA);
    swap_import("kernel32.dll", "SetFileInformationByHandle", fake_SetFileInformationByHandle,
                &real_SetFileInformationByHandle);
    swap_import("kernel32.dll", "GetFileInformationByHandleEx", fake_GetFileInformationByHandleEx,
                &real_GetFileInformationByHandleEx);
    swap_import("kernel32.dll", "ReOpenFile", fake_ReOpenFile, &real_ReOpenFile);
    swap_import("kernel32.dll", "CreateMutexA", fake_CreateMutexA, &real_CreateMutexA);
    swap_import("kernel32.dll", "WaitForSingleObject", fake_WaitForSingleObject, &real_WaitForSingleObject);
    swap_import("advapi32.dll", "RegOpenKeyExA", fake_RegOpenKeyExA, &real_RegOpenKeyExA);
    swap_import("advapi32.dll", "RegQueryValueExA", fake_RegQueryValueExA, &real_RegQueryValueExA);
    swap_import("kernel32.dll", "CopyFileA", fake_CopyFileA, &real_CopyFileA);
    swap_import("kernel32.dll", "DeleteFileA", fake_DeleteFileA, &real_DeleteFileA);
    swap_import("kernel32.dll", "RemoveDirectoryA", fake_RemoveDirectoryA, &real_RemoveDirectoryA);
    swap_import("kernel32.dll", "MoveFileExA", fake_MoveFileExA, &real_MoveFileExA);
    swap_import("advapi32.dll", "RegCreateKeyExA", fake_RegCreateKeyExA, &real_RegCreateKeyExA);
    swap_import("advapi32.dll", "RegSetValueExA", fake_RegSetValueExA, &real_RegSetValueExA);
    swap_import("advapi32.dll", "RegDeleteKeyA", fake_RegDeleteKeyA, &real_RegDeleteKeyA);
    swap_import("kernel32.dll", "BeginUpdateResourceA", fake_BeginUpdateResourceA, &real_BeginUpdateResourceA);
    swap_import("kernel32.dll", "UpdateResourceA", fake_UpdateResourceA, &real_UpdateResourceA);
    swap_import("kernel32.dll", "EndUpdateResourceA", fake_EndUpdateResourceA, &real_EndUpdateResourceA);
    swap_import("ole32.dll", "CoCreateInstance", fake_CoCreateInstance, &real_CoCreateInstance);
    swap_import("shell32.dll", "SHGetFolderPathA", fake_SHGetFolderPathA, &real_SHGetFolderPathA);
    swap_import("msvcrt.dll", "malloc", fake_malloc, &real_malloc);
    swap_import("msvcrt.dll", "calloc", fake_calloc, &real_calloc);
    swap_import("msvcrt.dll", "realloc", fake_realloc, &real_realloc);
    return the_injector;
}
