#include "setup/window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "cdsrc/forms.h"
#include "install/install.h"
#include "util/paths.h"
#include "setup/options.h"
#include "util/state.h"
#include "util/util.h"

enum {
    ID_IMAGE = 101,
    ID_FOLDER = 102,
    ID_BROWSE = 103,
    ID_INSTALL = 104,
    ID_CLOSE = 105,
    SETUP_ICON = 1,  // the setup's icon group (res/setup.rc)
    PROGRESS_FULL = 1000,
    BASE_DPI = 96,  // the table's sizes are pixels at this density
    CLIENT_W = 630,
    CLIENT_H = 420,
    LIST_MARGIN = 4,  // room beside a list line's text, at BASE_DPI
    MAIN_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
};

// The manifest declares the process DPI-aware, so the system does not scale the window: every size
// is scaled here, since the message font grows with the screen's density.
static_assert(sizeof(NONCLIENTMETRICSA) == 344, "the full record, padded border width included");
static_assert(sizeof(OPENFILENAMEA) == 152, "the record with its Windows 2000 fields");

static const char class_name[] = "DrovenhelmSetup";
static const char box_title[] = "Drovenhelm setup";
static const char ready_text[] = "Ready. About 500 MB of free space is needed.";

// Touched on the window thread only, except where said.
static HFONT font;  // set before any worker exists, never deleted
static HWND e_cd, e_dir, c_start, c_desk, prog, st, lst, b_install, b_close;
static int busy;     // a worker runs: from Install until its end message is handled
static int done_ok;  // an install succeeded: Install reads Play
static int last = -1;  // the worker's alone: the progress value it posted last
static int dpi = BASE_DPI;  // the screen's density, read once before the window is built
static int widest;          // the list's horizontal extent: its widest line so far
static HWND focus_back;     // the control that gets the focus when the window is activated
static HWND focus_install;  // the control that had the focus when the running install started
static int asking;          // "Stop the installation?" is open
static const char *log_file;  // the log's path, or null without one

struct control {
    const char *cls;
    const char *text;
    DWORD style;
    int x, y, w, h, id;
    HWND *keep;
    int locked;  // 1: disabled while an install runs, which has read it already
};

// Tab walks the fields, buttons and boxes in this order: the order of creation.
static const control controls[] = {
    {"STATIC",
     "Install Drovenhelm as a native Windows game.\nYou need your Drovenhelm CD (the disc, an ISO / BIN+CUE "
     "image, or a copied folder).",
     0, 16, 14, 600, 36, 0, NULL, 0},
    {"STATIC", "CD:", 0, 16, 66, 90, 20, 0, NULL, 0},
    {"EDIT", opts.cd, ES_AUTOHSCROLL | WS_TABSTOP, 110, 62, 360, 24, 0, &e_cd, 1},
    {"BUTTON", "Image...", WS_TABSTOP, 478, 62, 66, 24, ID_IMAGE, NULL, 1},
    {"BUTTON", "Folder...", WS_TABSTOP, 548, 62, 66, 24, ID_FOLDER, NULL, 1},
    {"STATIC", "Install to:", 0, 16, 98, 90, 20, 0, NULL, 0},
    {"EDIT", opts.dir, ES_AUTOHSCROLL | WS_TABSTOP, 110, 94, 360, 24, 0, &e_dir, 1},
    {"BUTTON", "Browse...", WS_TABSTOP, 478, 94, 136, 24, ID_BROWSE, NULL, 1},
    {"BUTTON", "Start menu shortcut", BS_AUTOCHECKBOX | WS_TABSTOP, 16, 134, 200, 22, 0, &c_start, 1},
    {"BUTTON", "Desktop shortcut", BS_AUTOCHECKBOX | WS_TABSTOP, 230, 134, 200, 22, 0, &c_desk, 1},
    {"msctls_progress32", "", 0, 16, 168, 598, 18, 0, &prog, 0},
    {"STATIC", ready_text, 0, 16, 192, 598, 20, 0, &st, 0},
    {"LISTBOX", "", WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, 16, 216, 598, 110, 0, &lst, 0},
    {"BUTTON", "Install", BS_DEFPUSHBUTTON | WS_TABSTOP, 418, 336, 96, 30, ID_INSTALL, &b_install, 0},
    {"BUTTON", "Cancel", WS_TABSTOP, 518, 336, 96, 30, ID_CLOSE, &b_close, 0},
};

static HWND made[sizeof controls / sizeof *controls];  // the controls of the table, in its order

// A size of the table at the screen's density, rounded as MulDiv rounds.
static int px(int v) { return MulDiv(v, dpi, BASE_DPI); }

static HWND mk(const char *cls, const char *text, DWORD style, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExA(strcmp(cls, "EDIT") == 0 ? WS_EX_CLIENTEDGE : 0, cls, text,
                             style | WS_CHILD | WS_VISIBLE, px(x), px(y), px(w), px(h), hwnd, (HMENU)(INT_PTR)id,
                             GetModuleHandleA(NULL), NULL);
    SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    return c;
}

static void browse_folder(HWND edit, const char *title) {
    char name[MAX_PATH];
    BROWSEINFOA bi = {};
    bi.hwndOwner = hwnd;
    bi.pszDisplayName = name;
    bi.lpszTitle = title;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST items = SHBrowseForFolderA(&bi);
    if (!items) return;
    char path[PATH_TEXT] = {};
    if (SHGetPathFromIDListA(items, path)) {
        if (ansi_text_whole(path, MAX_PATH))
            SetWindowTextA(edit, path);
        else
            MessageBoxA(hwnd, "The path of this folder is too long.", box_title, MB_ICONWARNING);
    }
    CoTaskMemFree(items);
}

enum { FILTER_TEXT = 2 * LONG_TEXT + 32 };  // both copies of the patterns and the fixed words

// The picker's filter: "CD images (*.iso;...)" with its patterns, then every file; each text ends
// with a null, and an empty one ends the list.
static const char *image_filter(char (&buf)[FILTER_TEXT]) {
    char patterns[LONG_TEXT];
    cd_form_patterns(patterns, sizeof patterns, FORM_PICKED);
    snprintf(buf, sizeof buf, "CD images (%s)|%s|All files|*.*|", patterns, patterns);
    for (char *c = buf; *c; c++)
        if (*c == '|') *c = 0;
    return buf;
}

static void pick_image(void) {
    char file[PATH_TEXT] = {};
    // GetWindowTextA cuts a longer text: the dialog then starts without one.
    if (GetWindowTextLengthA(e_cd) < (int)sizeof file) GetWindowTextA(e_cd, file, sizeof file);
    // A folder is no file name: the dialog would refuse it or open inside it with a bad name.
    if (is_dir(file)) file[0] = 0;
    char filter[FILTER_TEXT];
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = image_filter(filter);
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = "Drovenhelm CD";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    // The dialog moves the current folder to where it browsed (OFN_NOCHANGEDIR does not stop that
    // for an open dialog); a relative folder in the fields must keep meaning the setup's own.
    char cwd[PATH_TEXT];
    DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
    BOOL picked = GetOpenFileNameA(&ofn);
    if (n > 0 && n < sizeof cwd) SetCurrentDirectoryA(cwd);
    if (picked) SetWindowTextA(e_cd, file);
}

// Called on the worker thread after every progress addition; posts only when the thousandth changes.
static void on_progress(uint64_t done, uint64_t expected, void *) {
    int value = 0;
    if (expected) {
        // 128 bits: done * 1000 must not wrap for any size a source can report.
        unsigned __int128 v = (unsigned __int128)done * PROGRESS_FULL / expected;
        value = v > PROGRESS_FULL ? PROGRESS_FULL : (int)v;
    }
    if (value == last) return;
    if (!hwnd || silent) return;
    last = value;
    PostMessageA(hwnd, WM_SETUP_PROGRESS, (WPARAM)value, 0);
}

static DWORD WINAPI worker(LPVOID) {
    int ok = do_install(&opts, on_progress, NULL);
    // The last act of the worker: opts may be written again once this has arrived.
    PostMessageA(hwnd, WM_SETUP_DONE, (WPARAM)ok, 0);
    return 0;
}

static void play(void) {
    // The folder of the finished install, even if the field was edited since.
    char exe[PATH_TEXT];
    if (path_join(exe, sizeof exe, opts.dir, "drovenhelm.exe")) ShellExecuteA(NULL, "open", exe, NULL, opts.dir, SW_SHOWNORMAL);
    DestroyWindow(hwnd);
}

// The fields, the pickers and the boxes, which a running install no longer reads.
static void lock_fields(int locked) {
    for (size_t i = 0; i < sizeof controls / sizeof *controls; i++)
        if (controls[i].locked) EnableWindow(made[i], !locked);
}

// The focus goes to c now when the window is active, else when it is activated again.
static void focus_on(HWND c) {
    focus_back = c;
    if (GetActiveWindow() == hwnd) SetFocus(c);
}

// The field's whole text as a path option. GetWindowTextA cuts a text longer than its buffer, and
// a cut path names another folder: the text is read whole and set_path_option refuses it when it
// does not fit (a UTF-8 path of fewer characters than the field holds may take more bytes).
static void read_path_field(HWND edit, char field[PATH_TEXT]) {
    // The length may be more than the text takes, never less.
    std::vector<char> text((size_t)GetWindowTextLengthA(edit) + 1);
    GetWindowTextA(edit, text.data(), (int)text.size());
    set_path_option(field, text.data());
}

static void start_install(void) {
    read_path_field(e_cd, opts.cd);
    read_path_field(e_dir, opts.dir);
    opts.startmenu = SendMessageA(c_start, BM_GETCHECK, 0, 0) == BST_CHECKED;
    opts.desktop = SendMessageA(c_desk, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (!opts.cd[0] || !opts.dir[0]) {
        MessageBoxA(hwnd, "Please choose the CD and the install folder.", box_title, MB_ICONWARNING);
        return;
    }
    busy = 1;
    // The focus leaves what goes grey (a field where Enter was pressed, Install itself) for Cancel
    // first: a disabled control with the focus would take the keys. It comes back at the end.
    HWND f = GetFocus();
    focus_install = f && IsChild(hwnd, f) ? f : b_install;
    focus_on(b_close);
    lock_fields(1);
    EnableWindow(b_install, FALSE);
    SetWindowTextA(b_close, "Cancel");
    SetWindowTextA(st, "Installing...");
    HANDLE t = CreateThread(NULL, 0, worker, NULL, 0, NULL);
    if (t) {
        CloseHandle(t);
        return;
    }
    // No worker: back to Ready, with the reason in the list and the status line like any log line.
    // No worker runs, so this thread may write the log.
    DWORD err = GetLastError();
    busy = 0;
    lock_fields(0);
    EnableWindow(b_install, TRUE);
    focus_on(focus_install);
    SetWindowTextA(st, ready_text);
    note_reason(err);
    setup_error("cannot start the install (error %lu)", err);
}

static void on_close(void) {
    if (!busy) {
        DestroyWindow(hwnd);
        return;
    }
    asking = 1;
    int answer = MessageBoxA(hwnd, "Stop the installation?", box_title, MB_ICONQUESTION | MB_YESNO);
    asking = 0;
    if (answer != IDYES) return;
    // Yes was taken before the question's own message loop handled the end of the install, which
    // would have closed it with No: the install still runs.
    if (busy) ExitProcess(1);
    DestroyWindow(hwnd);
}

static void on_command(int id) {
    switch (id) {
    case ID_IMAGE: pick_image(); break;
    case ID_FOLDER: browse_folder(e_cd, "Drovenhelm CD (drive or folder)"); break;
    case ID_BROWSE: browse_folder(e_dir, "Install folder"); break;
    // The dialog-message filter sends IDOK for Enter and IDCANCEL for Esc.
    case IDOK:
    case ID_INSTALL:
        // Enter reaches here while the button is disabled: it must not start a second worker.
        if (busy) break;
        if (done_ok) play();
        else start_install();
        break;
    case IDCANCEL:
    case ID_CLOSE: on_close(); break;
    }
}

// A long line (a deep path in an error) must be readable whole: the list scrolls sideways as far as
// its widest line. It is measured as the list draws it, in UTF-16: GDI's ANSI functions read the
// bytes in the font's code page (Wine 8 takes 1252 for the message font), not in the process's.
static void widen_list(const char *line) {
    std::vector<WCHAR> wide(strlen(line) + 1);
    int n = MultiByteToWideChar(CP_ACP, 0, line, -1, wide.data(), (int)wide.size());
    HDC dc = n > 0 ? GetDC(lst) : NULL;
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size;
    if (GetTextExtentPoint32W(dc, wide.data(), n - 1, &size) && size.cx + px(LIST_MARGIN) > widest) {
        widest = size.cx + px(LIST_MARGIN);
        SendMessageA(lst, LB_SETHORIZONTALEXTENT, (WPARAM)widest, 0);
    }
    SelectObject(dc, old);
    ReleaseDC(lst, dc);
}

// A new last line of the list, selected so that it shows.
static void list_line(const char *line) {
    LRESULT i = SendMessageA(lst, LB_ADDSTRING, 0, (LPARAM)line);
    widen_list(line);
    SendMessageA(lst, LB_SETCURSEL, (WPARAM)i, 0);
}

// The question is the only box the window owns while an install runs: the pickers are disabled
// and the other message box is shown instead of starting one.
static BOOL CALLBACK end_question(HWND w, LPARAM) {
    char cls[8];
    if (GetWindow(w, GW_OWNER) != hwnd || !GetClassNameA(w, cls, sizeof cls) || strcmp(cls, "#32770") != 0)
        return TRUE;
    EndDialog(w, IDNO);
    return FALSE;
}

static void on_done(int ok) {
    busy = 0;
    // An install that ended answers "Stop the installation?" by itself: nothing is left to stop.
    if (asking) EnumThreadWindows(GetCurrentThreadId(), end_question, 0);
    if (ok) {
        done_ok = 1;
        SendMessageA(prog, PBM_SETPOS, PROGRESS_FULL, 0);
        SetWindowTextA(st, "Drovenhelm is installed.");
        SetWindowTextA(b_install, "Play");
    } else {
        SetWindowTextA(st, "The installation did not finish - see the messages above.");
        // Every line is in the log too, which ends with the ERROR line: this one is the window's.
        char text[LONG_TEXT];
        if (log_file) list_line(fmt_cut(text, sizeof text, "The full log is in %s.", log_file));
    }
    lock_fields(0);
    EnableWindow(b_install, TRUE);
    SetWindowTextA(b_close, "Close");
    focus_on(focus_install);
}

static LRESULT CALLBACK wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND: on_command(LOWORD(wp)); return 0;
    case WM_CLOSE: on_close(); return 0;
    case WM_ACTIVATE:
        // Activated, a window gives the focus to itself: after a picker or a message box no control
        // would have it, and Tab would start over at the CD field. As a dialog does, the focus goes
        // back to the control that had it.
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND f = GetFocus();
            if (f && IsChild(w, f)) focus_back = f;
        } else if (focus_back && !HIWORD(wp)) {
            SetFocus(focus_back);
            return 0;
        }
        break;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_SETUP_LOG: {
        char *line = (char *)lp;  // made by setup_log; ownership came with the message
        if (!line) return 0;
        list_line(line);
        SetWindowTextA(st, line);
        free(line);
        return 0;
    }
    case WM_SETUP_PROGRESS: SendMessageA(prog, PBM_SETPOS, wp, 0); return 0;
    case WM_SETUP_DONE: on_done(wp != 0); return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

void window_run(HINSTANCE inst, int show, const char *log) {
    log_file = log;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    // For the folder picker; the thread stays initialised for the rest of the run.
    CoInitialize(NULL);
    NONCLIENTMETRICSA ncm = {};
    ncm.cbSize = sizeof ncm;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
    font = CreateFontIndirectA(&ncm.lfMessageFont);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = wndproc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconA(inst, MAKEINTRESOURCEA(SETUP_ICON));
    // The caption's icon, taken from the group at the size the system draws it (larger at a higher
    // density) rather than shrunk from the large one.
    wc.hIconSm = (HICON)LoadImageA(inst, MAKEINTRESOURCEA(SETUP_ICON), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                   GetSystemMetrics(SM_CYSMICON), 0);
    wc.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = class_name;
    RegisterClassExA(&wc);

    HDC screen = GetDC(NULL);
    if (screen) {
        dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(NULL, screen);
    }
    if (dpi <= 0) dpi = BASE_DPI;
    RECT r = {0, 0, px(CLIENT_W), px(CLIENT_H)};
    AdjustWindowRect(&r, MAIN_STYLE, FALSE);
    hwnd = CreateWindowExA(0, class_name, "Drovenhelm - Vessik Setup", MAIN_STYLE, CW_USEDEFAULT, CW_USEDEFAULT,
                           r.right - r.left, r.bottom - r.top, NULL, NULL, inst, NULL);
    if (!hwnd) {
        DWORD err = GetLastError();
        note_reason(err);
        setup_error("cannot create the setup window (error %lu)", err);
        return;
    }
    for (size_t i = 0; i < sizeof controls / sizeof *controls; i++) {
        const control &c = controls[i];
        made[i] = mk(c.cls, c.text, c.style, c.x, c.y, c.w, c.h, c.id);
        if (c.keep) *c.keep = made[i];
    }
    // Ticked whatever the command line said: the boxes, not /nodesktop, decide a window install.
    SendMessageA(c_start, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(c_desk, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(prog, PBM_SETRANGE32, 0, PROGRESS_FULL);
    // The CD field has the focus from the start (given when the window is first activated), its text
    // selected as Tab selects it.
    SendMessageA(e_cd, EM_SETSEL, 0, -1);
    focus_on(e_cd);
    ShowWindow(hwnd, show);

    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        if (IsDialogMessageA(hwnd, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}
