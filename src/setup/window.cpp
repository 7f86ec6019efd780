#include "setup/window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

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

struct control {
    const char *cls;
    const char *text;
    DWORD style;
    int x, y, w, h, id;
    HWND *keep;
};

// Tab walks the fields, buttons and boxes in this order: the order of creation.
static const control controls[] = {
    {"STATIC",
     "Install Drovenhelm as a native Windows game.\nYou need your Drovenhelm CD (the disc, an ISO / BIN+CUE "
     "image, or a copied folder).",
     0, 16, 14, 600, 36, 0, NULL},
    {"STATIC", "CD:", 0, 16, 66, 90, 20, 0, NULL},
    {"EDIT", opts.cd, ES_AUTOHSCROLL | WS_TABSTOP, 110, 62, 360, 24, 0, &e_cd},
    {"BUTTON", "Image...", WS_TABSTOP, 478, 62, 66, 24, ID_IMAGE, NULL},
    {"BUTTON", "Folder...", WS_TABSTOP, 548, 62, 66, 24, ID_FOLDER, NULL},
    {"STATIC", "Install to:", 0, 16, 98, 90, 20, 0, NULL},
    {"EDIT", opts.dir, ES_AUTOHSCROLL | WS_TABSTOP, 110, 94, 360, 24, 0, &e_dir},
    {"BUTTON", "Browse...", WS_TABSTOP, 478, 94, 136, 24, ID_BROWSE, NULL},
    {"BUTTON", "Start menu shortcut", BS_AUTOCHECKBOX | WS_TABSTOP, 16, 134, 200, 22, 0, &c_start},
    {"BUTTON", "Desktop shortcut", BS_AUTOCHECKBOX | WS_TABSTOP, 230, 134, 200, 22, 0, &c_desk},
    {"msctls_progress32", "", 0, 16, 168, 598, 18, 0, &prog},
    {"STATIC", ready_text, 0, 16, 192, 598, 20, 0, &st},
    {"LISTBOX", "", WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, 16, 216, 598, 110, 0, &lst},
    {"BUTTON", "Install", BS_DEFPUSHBUTTON | WS_TABSTOP, 418, 336, 96, 30, ID_INSTALL, &b_install},
    {"BUTTON", "Cancel", WS_TABSTOP, 518, 336, 96, 30, ID_CLOSE, &b_close},
};

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

static void pick_image(void) {
    char file[PATH_TEXT] = {};
    // GetWindowTextA cuts a longer text: the dialog then starts without one.
    if (GetWindowTextLengthA(e_cd) < (int)sizeof file) GetWindowTextA(e_cd, file, sizeof file);
    // A folder is no file name: the dialog would refuse it or open inside it with a bad name.
    if (is_dir(file)) file[0] = 0;
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = "CD images (*.iso;*.cue;*.bin)\0*.iso;*.cue;*.bin\0All files\0*.*\0";
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
    EnableWindow(b_install, TRUE);
    SetWindowTextA(st, ready_text);
    setup_log("ERROR: cannot start the install (error %lu)", err);
}

static void on_close(void) {
    if (!busy) {
        DestroyWindow(hwnd);
        return;
    }
    if (MessageBoxA(hwnd, "Stop the installation?", box_title, MB_ICONQUESTION | MB_YESNO) != IDYES) return;
    // The question's own message loop may have handled the end of the install meanwhile.
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

static void on_done(int ok) {
    busy = 0;
    if (ok) {
        done_ok = 1;
        SendMessageA(prog, PBM_SETPOS, PROGRESS_FULL, 0);
        SetWindowTextA(st, "Drovenhelm is installed.");
        SetWindowTextA(b_install, "Play");
    } else {
        SetWindowTextA(st, "The installation did not finish - see the messages above.");
    }
    EnableWindow(b_install, TRUE);
    SetWindowTextA(b_close, "Close");
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

static LRESULT CALLBACK wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND: on_command(LOWORD(wp)); return 0;
    case WM_CLOSE: on_close(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_SETUP_LOG: {
        char *line = (char *)lp;  // made by setup_log; ownership came with the message
        if (!line) return 0;
        LRESULT i = SendMessageA(lst, LB_ADDSTRING, 0, (LPARAM)line);
        widen_list(line);
        SendMessageA(lst, LB_SETCURSEL, (WPARAM)i, 0);
        SetWindowTextA(st, line);
        free(line);
        return 0;
    }
    case WM_SETUP_PROGRESS: SendMessageA(prog, PBM_SETPOS, wp, 0); return 0;
    case WM_SETUP_DONE: on_done(wp != 0); return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

void window_run(HINSTANCE inst, int show) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    // For the folder picker; the thread stays initialised for the rest of the run.
    CoInitialize(NULL);
    NONCLIENTMETRICSA ncm = {};
    ncm.cbSize = sizeof ncm;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
    font = CreateFontIndirectA(&ncm.lfMessageFont);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = wndproc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconA(inst, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(NULL, MAKEINTRESOURCEA(32512));
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = class_name;
    RegisterClassA(&wc);

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
        setup_log("ERROR: cannot create the setup window (error %lu)", GetLastError());
        return;
    }
    for (const control &c : controls) {
        HWND h = mk(c.cls, c.text, c.style, c.x, c.y, c.w, c.h, c.id);
        if (c.keep) *c.keep = h;
    }
    // Ticked whatever the command line said: the boxes, not /nodesktop, decide a window install.
    SendMessageA(c_start, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(c_desk, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(prog, PBM_SETRANGE32, 0, PROGRESS_FULL);
    ShowWindow(hwnd, show);

    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        if (IsDialogMessageA(hwnd, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}
