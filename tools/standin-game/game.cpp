// Stand-in for the Drovenhelm game executable that the setup carries: a window that says what it is
// and where it runs. When DROVENHELM_GAME_REPORT names a file, it writes its working folder and its
// command line there, one per line, and exits at once (how tests see that Play started it).
#include <windows.h>
#include <stdio.h>

static char text[1024];

static LRESULT CALLBACK wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        RECT r;
        GetClientRect(w, &r);
        InflateRect(&r, -16, -16);
        SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextA(dc, text, -1, &r, DT_LEFT | DT_WORDBREAK);
        EndPaint(w, &ps);
        return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int show) {
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);
    char report[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("DROVENHELM_GAME_REPORT", report, sizeof report);
    if (n > 0 && n < sizeof report) {
        FILE *f = fopen(report, "w");
        if (f) {
            fprintf(f, "%s\n%s\n", cwd, GetCommandLineA());
            fclose(f);
        }
        return 0;
    }
    snprintf(text, sizeof text,
             "This is the Drovenhelm game executable (a stand-in of the setup's developers).\n\n"
             "It runs in:\n%s", cwd);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = wndproc;
    wc.hInstance = inst;
    // The icon group the setup writes into the executable; none before that (the default icon).
    wc.hIcon = LoadIconA(inst, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "DrovenhelmGame";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, "DrovenhelmGame", "Drovenhelm", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             480, 200, NULL, NULL, inst, NULL);
    ShowWindow(w, show);
    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}
