// Loaded into the running setup by window_driver through a message hook, then pinned there.
// It replaces three entries of the setup's import table:
// - PostMessageA: every private message is written to the file named by DROVENHELM_TEST_RECORD
//   ("log <text>", "progress <n>", "done <result> writes=<n>"), and the worker's log lines and end
//   message can be held back and let through one at a time (see window_driver's hold and follow);
// - WriteFile: calls from threads other than the window's are counted, to show how many blocks the
//   install wrote next to how many progress messages it posted;
// - CreateThread: the first DROVENHELM_TEST_FAIL_THREADS calls fail with ERROR_NOT_ENOUGH_MEMORY.
// It also measures text for window_driver's "widths" and reads the caption's icon for its "icon": a
// control's font and the window's icon belong to this process.
// The setup itself carries nothing for tests.
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static DWORD ui_thread;
static HANDLE free_run;  // manual-reset event: while set, the worker's messages pass at once
static HANDLE steps;     // semaphore: one held message passes per count
static FILE *record;
static CRITICAL_SECTION record_lock;
static LONG thread_failures;
static LONG worker_writes;

typedef BOOL(WINAPI *post_fn)(HWND, UINT, WPARAM, LPARAM);
typedef BOOL(WINAPI *write_fn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef HANDLE(WINAPI *thread_fn)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
static post_fn real_post;
static write_fn real_write;
static thread_fn real_thread;

static void note(const char *format, ...) {
    if (!record) return;
    EnterCriticalSection(&record_lock);
    va_list ap;
    va_start(ap, format);
    vfprintf(record, format, ap);
    va_end(ap);
    fputc('\n', record);
    fflush(record);  // the setup may end with ExitProcess at any moment
    LeaveCriticalSection(&record_lock);
}

static BOOL WINAPI hooked_post(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (GetCurrentThreadId() != ui_thread && (msg == WM_APP + 1 || msg == WM_APP + 3)) {
        HANDLE either[2] = {free_run, steps};
        WaitForMultipleObjects(2, either, FALSE, INFINITE);
    }
    if (msg == WM_APP + 1) note("log %s", lp ? (const char *)lp : "(null)");
    if (msg == WM_APP + 2) note("progress %llu", (unsigned long long)wp);
    if (msg == WM_APP + 3) note("done %llu writes=%ld", (unsigned long long)wp, InterlockedExchange(&worker_writes, 0));
    return real_post(w, msg, wp, lp);
}

static BOOL WINAPI hooked_write(HANDLE h, LPCVOID data, DWORD n, LPDWORD done, LPOVERLAPPED ov) {
    if (GetCurrentThreadId() != ui_thread) InterlockedIncrement(&worker_writes);
    return real_write(h, data, n, done, ov);
}

static HANDLE WINAPI hooked_thread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID arg,
                                   DWORD flags, LPDWORD id) {
    if (InterlockedDecrement(&thread_failures) >= 0) {
        note("CreateThread refused");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    return real_thread(sa, stack, start, arg, flags, id);
}

// Replaces the executable's import of name; returns what it pointed to, or null when not imported.
static void *patch_import(const char *name, void *fn) {
    BYTE *base = (BYTE *)GetModuleHandleA(NULL);
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return NULL;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; d++) {
        if (!d->OriginalFirstThunk) continue;  // without the name table the bound slots cannot be named
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            IMAGE_IMPORT_BY_NAME *by = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
            if (strcmp((const char *)by->Name, name) != 0) continue;
            DWORD old;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old)) return NULL;
            void *prev = (void *)slots->u1.Function;
            slots->u1.Function = (ULONG_PTR)fn;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return prev;
        }
    }
    return NULL;
}

static void attach(void) {
    // The system may unload a hook's module when the hook goes; the patched imports point in here.
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       (LPCSTR)&attach, &self);
    ui_thread = GetCurrentThreadId();
    InitializeCriticalSection(&record_lock);
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("DROVENHELM_TEST_RECORD", value, sizeof value);
    if (n > 0 && n < sizeof value) record = fopen(value, "w");
    n = GetEnvironmentVariableA("DROVENHELM_TEST_FAIL_THREADS", value, sizeof value);
    if (n > 0 && n < sizeof value) thread_failures = atol(value);
    free_run = CreateEventA(NULL, TRUE, TRUE, "drovenhelm_test_free");
    steps = CreateSemaphoreA(NULL, 0, 1 << 30, "drovenhelm_test_steps");
    real_post = (post_fn)patch_import("PostMessageA", (void *)hooked_post);
    real_write = (write_fn)patch_import("WriteFile", (void *)hooked_write);
    real_thread = (thread_fn)patch_import("CreateThread", (void *)hooked_thread);
    int ok = record && free_run && steps && real_post && real_write && real_thread;
    note("attached %s", ok ? "ok" : "FAILED");
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "drovenhelm_test_attached");
    if (ready && ok) SetEvent(ready);
    if (ready) CloseHandle(ready);
}

// The width of each line of the child's text (each item of a list box) with the font it draws with,
// as text "w1 w2 ..." in the named mapping, then the named event.
static void measure(HWND c) {
    char cls[32] = "", text[4096] = "", out[4096] = "";
    GetClassNameA(c, cls, sizeof cls);
    int list = _stricmp(cls, "ListBox") == 0;
    int n = list ? (int)SendMessageA(c, LB_GETCOUNT, 0, 0) : 1;
    HDC dc = GetDC(c);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageA(c, WM_GETFONT, 0, 0));
    size_t used = 0;
    for (int i = 0; i < n; i++) {
        if (list) {
            if (SendMessageA(c, LB_GETTEXTLEN, i, 0) >= (LRESULT)sizeof text) continue;
            SendMessageA(c, LB_GETTEXT, i, (LPARAM)text);
        } else {
            GetWindowTextA(c, text, sizeof text);
        }
        for (char *line = text; line;) {
            char *nl = strchr(line, '\n');
            SIZE size = {};
            GetTextExtentPoint32A(dc, line, nl ? (int)(nl - line) : (int)strlen(line), &size);
            used += snprintf(out + used, sizeof out - used, "%ld ", size.cx);
            if (used >= sizeof out) used = sizeof out - 1;
            line = nl ? nl + 1 : NULL;
        }
    }
    SelectObject(dc, old);
    ReleaseDC(c, dc);
    HANDLE map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "drovenhelm_test_widths");
    char *view = map ? (char *)MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof out) : NULL;
    if (view) {
        memcpy(view, out, sizeof out);
        UnmapViewOfFile(view);
    }
    if (map) CloseHandle(map);
    HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, "drovenhelm_test_measured");
    if (done) {
        SetEvent(done);
        CloseHandle(done);
    }
}

// The icon the caption shows (the window's own small one, else its class's small one, else the
// class's large one: the order the caption takes them in), as its width, its
// height and its pixels (32-bit, top row first, bytes blue, green, red, alpha) in the named mapping,
// then the named event. A window without one gives 0 x 0.
static void read_icon(HWND w) {
    enum { ICON_BYTES = 8 + 64 * 64 * 4 };
    HANDLE map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "drovenhelm_test_icon");
    uint8_t *view = map ? (uint8_t *)MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, ICON_BYTES) : NULL;
    HICON icon = (HICON)SendMessageA(w, WM_GETICON, ICON_SMALL, 0);
    if (!icon) icon = (HICON)GetClassLongPtrA(w, GCLP_HICONSM);
    if (!icon) icon = (HICON)GetClassLongPtrA(w, GCLP_HICON);
    ICONINFO info = {};
    BITMAP bm = {};
    if (view && icon && GetIconInfo(icon, &info) && info.hbmColor && GetObjectA(info.hbmColor, sizeof bm, &bm) &&
        bm.bmWidth <= 64 && bm.bmHeight <= 64) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = bm.bmWidth;
        bi.bmiHeader.biHeight = -bm.bmHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        HDC dc = GetDC(NULL);
        if (GetDIBits(dc, info.hbmColor, 0, bm.bmHeight, view + 8, &bi, DIB_RGB_COLORS) == bm.bmHeight) {
            memcpy(view, &bm.bmWidth, 4);
            memcpy(view + 4, &bm.bmHeight, 4);
        }
        ReleaseDC(NULL, dc);
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (view) UnmapViewOfFile(view);
    if (map) CloseHandle(map);
    HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, "drovenhelm_test_measured");
    if (done) {
        SetEvent(done);
        CloseHandle(done);
    }
}

extern "C" __declspec(dllexport) LRESULT CALLBACK window_hook_proc(int code, WPARAM wp, LPARAM lp) {
    static LONG started;
    if (InterlockedExchange(&started, 1) == 0) attach();
    const MSG *m = (const MSG *)lp;
    if (code == HC_ACTION && wp == PM_REMOVE && m->message == RegisterWindowMessageA("drovenhelm_test_widths"))
        measure((HWND)m->lParam);
    if (code == HC_ACTION && wp == PM_REMOVE && m->message == RegisterWindowMessageA("drovenhelm_test_icon"))
        read_icon(m->hwnd);
    return CallNextHookEx(NULL, code, wp, lp);
}
