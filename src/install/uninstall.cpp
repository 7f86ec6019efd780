#include "uninstall.h"

#include <windows.h>
#include <string.h>

#include "install.h"

static const char *const files[] = {"drovenhelm.exe", "uninstall.exe", "drovenhelm_pc.ini", "drovenhelm.log",
                                    "setup.log"};
static const char temp_copy[] = "drovenhelm_uninstall.exe";

int uninstall_stage1(void) {
    char self[PATH_TEXT], folder[PATH_TEXT];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self) return 0;
    fmt_cut(folder, sizeof folder, "%s", self);
    char *cut = strrchr(folder, '\\');
    if (cut) *cut = 0;
    if (!quiet && MessageBoxA(NULL, "Remove Drovenhelm (Vessik) and its saved games?", "Drovenhelm uninstall",
                              MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;
    char temp[MAX_PATH], copy[PATH_TEXT];
    n = GetTempPathA(sizeof temp, temp);
    // Whatever stands at a wrong or cut path must not be started.
    if (n == 0 || n >= sizeof temp || n + sizeof temp_copy > sizeof copy) return 0;
    fmt_cut(copy, sizeof copy, "%s%s", temp, temp_copy);
    if (!CopyFileA(self, copy, FALSE)) return 0;
    char cmd[CMDLINE_TEXT];
    fmt_cut(cmd, sizeof cmd, "\"%s\" /uninstall2 \"%s\"%s", copy, folder, quiet ? " /quiet" : "");
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    return 0;
}

int uninstall_stage2(const char *folder) {
    // Windows cannot remove a folder that is some process's current folder, ours included.
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n > 0 && n < sizeof temp) SetCurrentDirectoryA(temp);
    Sleep(800);  // stage 1 ends right after starting us, and its file is one we delete
    do_uninstall(folder);
    if (!quiet) MessageBoxA(NULL, "Drovenhelm has been removed.", "Drovenhelm uninstall", MB_ICONINFORMATION);
    char self[PATH_TEXT];
    n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n > 0 && n < sizeof self) MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}

// Only a folder that holds our installation loses its game folder and files: stage 1 treats the folder
// it runs from as the install folder, which could be anyone's Downloads folder.
static int holds_installation(const char *folder) {
    char path[LONG_TEXT];
    fmt_cut(path, sizeof path, "%s\\game\\hd\\CD.DAT", folder);
    if (path_exists(path)) return 1;
    fmt_cut(path, sizeof path, "%s\\drovenhelm.exe", folder);
    return path_exists(path);
}

// Stage 1 may still be ending when stage 2 starts: its own file stays locked for a moment.
static void delete_with_retries(const char *path) {
    for (int i = 0; i < 50; i++) {
        if (DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
        Sleep(100);
    }
}

int do_uninstall(const char *folder) {
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    if (startmenu[0]) DeleteFileA(startmenu);
    if (desktop[0]) DeleteFileA(desktop);
    RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);

    char full[PATH_TEXT];
    DWORD n = folder[0] ? GetFullPathNameA(folder, sizeof full, full, NULL) : 0;
    if (n == 0 || n >= sizeof full || !holds_installation(full)) return 1;
    while (n > 3 && full[n - 1] == '\\') full[--n] = 0;
    char path[LONG_TEXT];
    fmt_cut(path, sizeof path, "%s\\game", full);
    delete_tree(path);
    for (const char *f : files) {
        fmt_cut(path, sizeof path, "%s\\%s", full, f);
        if (strcmp(f, "uninstall.exe") == 0)
            delete_with_retries(path);
        else
            DeleteFileA(path);
    }
    RemoveDirectoryA(full);
    return 1;
}

int delete_tree(const char *folder) {
    // A link in place of the folder goes as a link: what it points to is not ours.
    DWORD a = GetFileAttributesA(folder);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) return RemoveDirectoryA(folder);
    char pattern[PATH_TEXT];
    fmt_cut(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA f;
    HANDLE h = FindFirstFileA(pattern, &f);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(f.cFileName, ".") == 0 || strcmp(f.cFileName, "..") == 0) continue;
            char path[PATH_TEXT];
            fmt_cut(path, sizeof path, "%s\\%s", folder, f.cFileName);
            DWORD attr = f.dwFileAttributes;
            if ((attr & FILE_ATTRIBUTE_REPARSE_POINT) && (attr & FILE_ATTRIBUTE_DIRECTORY)) {
                RemoveDirectoryA(path);  // never entered
            } else if (attr & FILE_ATTRIBUTE_DIRECTORY) {
                delete_tree(path);
            } else {
                // A file symbolic link is deleted as itself, like any file.
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path);
            }
        } while (FindNextFileA(h, &f));
        FindClose(h);
    }
    return RemoveDirectoryA(folder);
}
