// Drives the running setup window from another process, the way a user would, and reports what it
// shows. One command per run; the result is 0 on success, 1 on a failed wait or check, 2 on misuse.
//   run TEMPDIR EXE ARGS...   starts EXE with TEMP and TMP set to TEMPDIR; returns its exit code
//   wait-window MS            until the setup window is visible
//   dump                      the window and its controls as JSON (children in creation order)
//   set I TEXT                sets the text of child I
//   click I                   posts BM_CLICK to child I
//   close                     posts WM_CLOSE to the window
//   wait-text I TEXT MS       until child I reads TEXT
//   wait-gone MS              until the window no longer exists
//   box MS                    waits for a message box or dialog owned by the window; JSON
//   answer ID                 posts BM_CLICK to the button ID of that box
//   box-gone MS               until no such box is shown
//   closebox                  screen position of the window's close box, "x y"
//   focus                     the index of the child that has the keyboard focus, -1 for none
//   widths I                  JSON: the width in pixels of each line of child I's text (each item of a
//                             list box), measured with the font the child draws with (by window_hook)
//   icon                      "W H PIXELS": the icon in the window's caption, its pixels in hex (bytes
//                             blue, green, red, alpha, top row first), read by window_hook
//   kill                      ends the setup's process (cleanup after a failed check)
//   attach                    loads window_hook.dll into the setup (see there)
//   hold | release            holds the worker's log lines and end message, or lets them run
//   follow MS                 lets held messages through one at a time, checking the list and the
//                             status line after each; ends when the install has ended
#include <windows.h>
#include <commctrl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static HWND main_window(void) {
    HWND w = FindWindowA("DrovenhelmSetup", NULL);
    return w && IsWindowVisible(w) ? w : NULL;
}

static std::vector<HWND> children(HWND parent) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
    return out;
}

static LRESULT send(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result)) return -1;
    return (LRESULT)result;
}

static std::string text_of(HWND w) {
    char buf[4096] = "";
    send(w, WM_GETTEXT, sizeof buf, (LPARAM)buf);
    return buf;
}

static std::string json(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

static std::string class_of(HWND w) {
    char cls[256] = "";
    GetClassNameA(w, cls, sizeof cls);
    return cls;
}

static std::vector<std::string> list_items(HWND w) {
    std::vector<std::string> out;
    LRESULT n = send(w, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; i++) {
        // Across processes only the wide form of LB_GETTEXT comes back whole.
        WCHAR wide[2048] = L"";
        char buf[4096] = "";
        DWORD_PTR len = 0;
        if (SendMessageTimeoutW(w, LB_GETTEXTLEN, (WPARAM)i, 0, SMTO_ABORTIFHUNG, 5000, &len) && len < 2048) {
            DWORD_PTR got;
            SendMessageTimeoutW(w, LB_GETTEXT, (WPARAM)i, (LPARAM)wide, SMTO_ABORTIFHUNG, 5000, &got);
            WideCharToMultiByte(CP_ACP, 0, wide, -1, buf, sizeof buf, NULL, NULL);
        }
        out.push_back(buf);
    }
    return out;
}

static int dump(HWND w) {
    RECT wr, cr;
    GetWindowRect(w, &wr);
    GetClientRect(w, &cr);
    POINT origin = {0, 0};
    ClientToScreen(w, &origin);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    printf("{\"title\": %s, \"class\": %s, \"style\": %lu, \"exstyle\": %lu, \"client\": [%ld, %ld],\n",
           json(text_of(w)).c_str(), json(class_of(w)).c_str(), (unsigned long)GetWindowLongA(w, GWL_STYLE),
           (unsigned long)GetWindowLongA(w, GWL_EXSTYLE), cr.right, cr.bottom);
    printf(" \"rect\": [%ld, %ld, %ld, %ld], \"origin\": [%ld, %ld], \"pid\": %lu, \"controls\": [\n", wr.left, wr.top,
           wr.right, wr.bottom, origin.x, origin.y, (unsigned long)pid);
    std::vector<HWND> kids = children(w);
    for (size_t i = 0; i < kids.size(); i++) {
        HWND c = kids[i];
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(NULL, w, (POINT *)&r, 2);
        std::string cls = class_of(c);
        printf("  {\"class\": %s, \"text\": %s, \"style\": %lu, \"exstyle\": %lu, \"x\": %ld, \"y\": %ld, \"w\": %ld, "
               "\"h\": %ld, \"id\": %ld, \"enabled\": %d, \"visible\": %d",
               json(cls).c_str(), json(text_of(c)).c_str(), (unsigned long)GetWindowLongA(c, GWL_STYLE),
               (unsigned long)GetWindowLongA(c, GWL_EXSTYLE), r.left, r.top, r.right - r.left, r.bottom - r.top,
               (long)GetDlgCtrlID(c), IsWindowEnabled(c) ? 1 : 0, IsWindowVisible(c) ? 1 : 0);
        if (_stricmp(cls.c_str(), "Button") == 0) printf(", \"check\": %lld", (long long)send(c, BM_GETCHECK, 0, 0));
        if (_stricmp(cls.c_str(), PROGRESS_CLASSA) == 0)
            printf(", \"pos\": %lld, \"low\": %lld, \"high\": %lld", (long long)send(c, PBM_GETPOS, 0, 0),
                   (long long)send(c, PBM_GETRANGE, TRUE, 0), (long long)send(c, PBM_GETRANGE, FALSE, 0));
        if (_stricmp(cls.c_str(), "ListBox") == 0) {
            printf(", \"cursel\": %lld, \"hextent\": %lld, \"items\": [", (long long)send(c, LB_GETCURSEL, 0, 0),
                   (long long)send(c, LB_GETHORIZONTALEXTENT, 0, 0));
            std::vector<std::string> items = list_items(c);
            for (size_t k = 0; k < items.size(); k++) printf("%s%s", k ? ", " : "", json(items[k]).c_str());
            printf("]");
        }
        printf("}%s\n", i + 1 < kids.size() ? "," : "");
    }
    printf("]}\n");
    return 0;
}

// Waits for cond, polling; 1 when it came true within ms.
template <class F> static int wait_for(int ms, F cond) {
    for (int t = 0;; t += 20) {
        if (cond()) return 1;
        if (t >= ms) return 0;
        Sleep(20);
    }
}

static HWND child(HWND w, const char *index) {
    std::vector<HWND> kids = children(w);
    size_t i = (size_t)atoi(index);
    return i < kids.size() ? kids[i] : NULL;
}

struct box_search {
    HWND owner, found;
};

static BOOL CALLBACK find_box(HWND w, LPARAM lp) {
    box_search *s = (box_search *)lp;
    if (IsWindowVisible(w) && GetWindow(w, GW_OWNER) == s->owner && class_of(w) == "#32770") {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

static HWND owned_box(HWND w) {
    box_search s = {w, NULL};
    EnumWindows(find_box, (LPARAM)&s);
    return s.found;
}

static int box(HWND w, int ms) {
    HWND b = NULL;
    if (!wait_for(ms, [&] { return (b = owned_box(w)) != NULL; })) {
        printf("no box\n");
        return 1;
    }
    HWND text = GetDlgItem(b, 0xFFFF);  // the message text of a message box
    RECT r;
    GetWindowRect(b, &r);
    printf("{\"title\": %s, \"text\": %s, \"rect\": [%ld, %ld, %ld, %ld], \"controls\": [", json(text_of(b)).c_str(),
           json(text ? text_of(text) : "").c_str(), r.left, r.top, r.right, r.bottom);
    std::vector<HWND> kids = children(b);
    for (size_t i = 0; i < kids.size(); i++)
        printf("%s{\"class\": %s, \"id\": %ld, \"text\": %s, \"visible\": %d}", i ? ", " : "",
               json(class_of(kids[i])).c_str(), (long)GetDlgCtrlID(kids[i]), json(text_of(kids[i])).c_str(),
               IsWindowVisible(kids[i]) ? 1 : 0);
    printf("]}\n");
    return 0;
}

static BOOL CALLBACK list_box(HWND w, LPARAM lp) {
    if (!IsWindowVisible(w) || class_of(w) != "#32770") return TRUE;
    HWND text = GetDlgItem(w, 0xFFFF);
    int *n = (int *)lp;
    printf("%s{\"title\": %s, \"text\": %s}", (*n)++ ? ", " : "", json(text_of(w)).c_str(),
           json(text ? text_of(text) : "").c_str());
    return TRUE;
}

static int boxes(void) {
    int n = 0;
    printf("[");
    EnumWindows(list_box, (LPARAM)&n);
    printf("]\n");
    return 0;
}

static int closebox(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    for (int y = r.top; y < r.top + 40; y++)
        for (int x = r.right - 1; x > r.right - 80; x--)
            if (send(w, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                printf("%d %d\n", x - 6, y + 6);  // well inside the box from its top right corner
                return 0;
            }
    printf("no close box\n");
    return 1;
}

static int focus(HWND w) {
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(w, NULL), &gti)) return 1;
    std::vector<HWND> kids = children(w);
    for (size_t i = 0; i < kids.size(); i++)
        if (kids[i] == gti.hwndFocus) {
            printf("%d\n", (int)i);
            return 0;
        }
    printf("-1\n");
    return 0;
}

// window_hook.dll, next to the driver.
static std::string hook_dll(void) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    char *cut = n && n < sizeof path ? strrchr(path, '\\') : NULL;
    if (!cut) return "window_hook.dll";
    strcpy(cut + 1, "window_hook.dll");
    return path;
}

static int attach(HWND w) {
    std::string dll = hook_dll();
    HMODULE mod = LoadLibraryA(dll.c_str());
    HOOKPROC proc = mod ? (HOOKPROC)(void *)GetProcAddress(mod, "window_hook_proc") : NULL;
    if (!proc) {
        printf("cannot load %s\n", dll.c_str());
        return 1;
    }
    HANDLE ready = CreateEventA(NULL, TRUE, FALSE, "drovenhelm_test_attached");
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, proc, mod, GetWindowThreadProcessId(w, NULL));
    if (!hook) {
        printf("SetWindowsHookEx failed: %lu\n", GetLastError());
        return 1;
    }
    PostMessageA(w, WM_NULL, 0, 0);  // the hook runs, and loads the module, when the setup takes a message
    DWORD r = WaitForSingleObject(ready, 10000);
    UnhookWindowsHookEx(hook);
    printf(r == WAIT_OBJECT_0 ? "attached\n" : "not attached\n");
    return r == WAIT_OBJECT_0 ? 0 : 1;
}

// Fonts and icons do not cross processes: window_hook answers inside the setup, on the window's
// thread, into a named mapping of the given size. The answer's view (left mapped: the driver ends
// after one command), or null after printing cannot / not_answered.
static const void *ask_hook(HWND w, const char *request, LPARAM arg, const char *mapping, DWORD bytes,
                            const char *cannot, const char *not_answered) {
    HMODULE mod = LoadLibraryA(hook_dll().c_str());
    HOOKPROC proc = mod ? (HOOKPROC)(void *)GetProcAddress(mod, "window_hook_proc") : NULL;
    HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, bytes, mapping);
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, "drovenhelm_test_measured");
    HHOOK hook = proc ? SetWindowsHookExA(WH_GETMESSAGE, proc, mod, GetWindowThreadProcessId(w, NULL)) : NULL;
    if (!map || !done || !hook) {
        printf("%s\n", cannot);
        return NULL;
    }
    PostMessageA(w, RegisterWindowMessageA(request), 0, arg);
    DWORD r = WaitForSingleObject(done, 10000);
    UnhookWindowsHookEx(hook);
    const void *view = MapViewOfFile(map, FILE_MAP_READ, 0, 0, bytes);
    if (r != WAIT_OBJECT_0 || !view) {
        printf("%s\n", not_answered);
        return NULL;
    }
    return view;
}

static int widths(HWND w, HWND c) {
    enum { WIDTHS_TEXT = 4096 };
    const char *view = (const char *)ask_hook(w, "drovenhelm_test_widths", (LPARAM)c, "drovenhelm_test_widths",
                                              WIDTHS_TEXT, "cannot measure", "not measured");
    if (!view) return 1;
    std::string text(view, strnlen(view, WIDTHS_TEXT));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    for (char &ch : text)
        if (ch == ' ') ch = ',';
    printf("[%s]\n", text.c_str());
    return 0;
}

static int icon(HWND w) {
    enum { ICON_BYTES = 8 + 64 * 64 * 4 };
    const uint8_t *view = (const uint8_t *)ask_hook(w, "drovenhelm_test_icon", 0, "drovenhelm_test_icon", ICON_BYTES,
                                                    "cannot read the icon", "not read");
    if (!view) return 1;
    int32_t width, height;
    memcpy(&width, view, 4);
    memcpy(&height, view + 4, 4);
    printf("%d %d ", (int)width, (int)height);
    for (int i = 0; i < width * height * 4; i++) printf("%02x", view[8 + i]);
    printf("\n");
    return 0;
}

static int set_free(int run) {
    HANDLE e = OpenEventA(EVENT_MODIFY_STATE, FALSE, "drovenhelm_test_free");
    if (!e) {
        printf("not attached\n");
        return 1;
    }
    if (run) SetEvent(e);
    else ResetEvent(e);
    CloseHandle(e);
    return 0;
}

// Lets one held message through at a time. After each log line: it is the list's new last line,
// selected, and the status line's text. Ends when the end message has been handled.
static int follow(HWND w, int ms) {
    HANDLE steps = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "drovenhelm_test_steps");
    if (!steps) {
        printf("not attached\n");
        return 1;
    }
    std::vector<HWND> kids = children(w);
    if (kids.size() != 15) return 2;
    HWND st = kids[11], lst = kids[12], install = kids[13];
    int failed = 0;
    LRESULT n = send(lst, LB_GETCOUNT, 0, 0);
    for (int k = 0; k < 100000; k++) {
        ReleaseSemaphore(steps, 1, NULL);
        LRESULT now = n;
        if (!wait_for(ms, [&] { return (now = send(lst, LB_GETCOUNT, 0, 0)) != n || IsWindowEnabled(install); })) {
            printf("FAIL: nothing arrived within %d ms\n", ms);
            return 1;
        }
        if (now == n) {
            printf("ended\n");
            break;
        }
        std::vector<std::string> items = list_items(lst);
        std::string status = text_of(st);
        LRESULT sel = send(lst, LB_GETCURSEL, 0, 0);
        int ok = now == n + 1 && status == items.back() && sel == now - 1;
        printf("%s line %s | status %s | selected %lld of %lld\n", ok ? "ok  " : "FAIL", json(items.back()).c_str(),
               json(status).c_str(), (long long)sel, (long long)now);
        failed |= !ok;
        n = now;
    }
    CloseHandle(steps);
    return failed;
}

static int run(int argc, char **argv) {
    SetEnvironmentVariableA("TEMP", argv[2]);
    SetEnvironmentVariableA("TMP", argv[2]);
    CreateDirectoryA(argv[2], NULL);
    std::string cmd;
    for (int i = 3; i < argc; i++) {
        if (i > 3) cmd += ' ';
        cmd += '"';
        cmd += argv[i];
        cmd += '"';
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        printf("cannot start %s: %lu\n", cmd.c_str(), GetLastError());
        return 255;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return (int)code;
}

int main(int argc, char **argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 2) return 2;
    const char *cmd = argv[1];
    if (strcmp(cmd, "run") == 0) return argc >= 4 ? run(argc, argv) : 2;
    if (strcmp(cmd, "wait-window") == 0 && argc == 3)
        return wait_for(atoi(argv[2]), [] { return main_window() != NULL; }) ? 0 : 1;
    if (strcmp(cmd, "wait-gone") == 0 && argc == 3)
        return wait_for(atoi(argv[2]), [] { return FindWindowA("DrovenhelmSetup", NULL) == NULL; }) ? 0 : 1;
    if (strcmp(cmd, "boxes") == 0) return boxes();
    HWND w = main_window();
    if (!w) {
        printf("no setup window\n");
        return 1;
    }
    if (strcmp(cmd, "dump") == 0) return dump(w);
    if (strcmp(cmd, "set") == 0 && argc == 4) {
        HWND c = child(w, argv[2]);
        return c && send(c, WM_SETTEXT, 0, (LPARAM)argv[3]) == TRUE ? 0 : 1;
    }
    if (strcmp(cmd, "click") == 0 && argc == 3) {
        HWND c = child(w, argv[2]);
        return c && PostMessageA(c, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (strcmp(cmd, "close") == 0) return PostMessageA(w, WM_CLOSE, 0, 0) ? 0 : 1;
    if (strcmp(cmd, "wait-text") == 0 && argc == 5) {
        HWND c = child(w, argv[2]);
        std::string want = argv[3], seen;
        if (c && wait_for(atoi(argv[4]), [&] { return (seen = text_of(c)) == want; })) return 0;
        printf("child %s reads %s\n", argv[2], json(seen).c_str());
        return 1;
    }
    if (strcmp(cmd, "box") == 0 && argc == 3) return box(w, atoi(argv[2]));
    if (strcmp(cmd, "box-gone") == 0 && argc == 3)
        return wait_for(atoi(argv[2]), [&] { return owned_box(w) == NULL; }) ? 0 : 1;
    if (strcmp(cmd, "answer") == 0 && argc == 3) {
        HWND b = owned_box(w);
        HWND button = b ? GetDlgItem(b, atoi(argv[2])) : NULL;
        return button && PostMessageA(button, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (strcmp(cmd, "closebox") == 0) return closebox(w);
    if (strcmp(cmd, "focus") == 0) return focus(w);
    if (strcmp(cmd, "widths") == 0 && argc == 3) {
        HWND c = child(w, argv[2]);
        return c ? widths(w, c) : 1;
    }
    if (strcmp(cmd, "icon") == 0) return icon(w);
    if (strcmp(cmd, "kill") == 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
        int ok = p && TerminateProcess(p, 99);
        if (p) CloseHandle(p);
        return ok ? 0 : 1;
    }
    if (strcmp(cmd, "attach") == 0) return attach(w);
    if (strcmp(cmd, "hold") == 0) return set_free(0);
    if (strcmp(cmd, "release") == 0) return set_free(1);
    if (strcmp(cmd, "follow") == 0 && argc == 3) return follow(w, atoi(argv[2]));
    return 2;
}
