#include "install/uninstall.h"

#include <windows.h>
#include <string.h>

#include "util/handles.h"
#include "util/paths.h"
#include "util/state.h"

static const char temp_copy[] = "drovenhelm_uninstall.exe";
static const char box_title[] = "Drovenhelm uninstall";
// Per user ("Local"): a mutex name cannot hold a path, and every installation of the user shares
// the temporary copy, the registry entry and the shortcut names.
static const char lock_name[] = "Local\\Drovenhelm_uninstall";

enum {
    STAGE2_PAUSE_MS = 800,  // stage 1 ends right after it has started stage 2
    STAGE2_LOCK_MS = 10000,  // how long stage 2 waits for stage 1 to let go of the lock
    COPY_TRIES = 50,  // COPY_TRIES * COPY_WAIT_MS: how long another uninstaller's copy may take to end
    COPY_WAIT_MS = 100,
};

// The one uninstall of the user's that runs. An owner that ended without letting go (abandoned)
// has let go all the same.
struct uninstall_lock {
    HANDLE h = NULL;
    int held = 0;
    int take(DWORD wait_ms) {
        h = CreateMutexA(NULL, FALSE, lock_name);
        if (!h) return 0;
        DWORD w = WaitForSingleObject(h, wait_ms);
        held = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
        return held;
    }
    void release() {
        if (held) ReleaseMutex(h);
        held = 0;
    }
    ~uninstall_lock() {
        release();
        if (h) CloseHandle(h);
    }
};

// The copy of another uninstaller that is still running cannot be replaced until it ends. It is
// written only into a real file at its name: never through a link planted there.
static int place_copy(const char *self, const char *copy) {
    for (int i = 0; i < COPY_TRIES; i++) {
        if (copy_file_whole(self, copy)) return 1;
        Sleep(COPY_WAIT_MS);
    }
    return 0;
}

// The temporary folder's "drovenhelm_uninstall.exe"; 0 when its path cannot be had whole.
static int temp_copy_path(char copy[PATH_TEXT]) {
    char temp[PATH_TEXT];
    DWORD n = GetTempPathA(sizeof temp, temp);
    return n > 0 && n < sizeof temp && path_join(copy, PATH_TEXT, temp, temp_copy);
}

static void tell(const char *text, UINT icon) {
    if (!quiet) MessageBoxA(NULL, text, box_title, MB_OK | icon);
}

int uninstall_stage1(void) {
    char self[PATH_TEXT], folder[PATH_TEXT];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self || !path_parent(folder, sizeof folder, self)) return 0;
    // A drive root keeps its backslash ("C:" alone is drive C's current folder), doubled on the
    // command line so that it does not escape the closing quote.
    const char *root_tail = path_is_drive_root(folder) ? "\\" : "";
    uninstall_lock lock;
    if (!lock.take(0)) {
        tell("Drovenhelm is already being removed.", MB_ICONINFORMATION);
        return 1;
    }
    if (!quiet && MessageBoxA(NULL, "Remove Drovenhelm (Vessik) and its saved games?", box_title,
                              MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;
    // Stage 2 is started only from a copy made whole: a cut path or a failed copy would start
    // whatever else stands there.
    char copy[PATH_TEXT];
    if (!temp_copy_path(copy) || !place_copy(self, copy)) {
        tell("The uninstaller could not start. Close other uninstall windows and try again.", MB_ICONWARNING);
        return 1;
    }
    char cmd[CMDLINE_TEXT];
    fmt_cut(cmd, sizeof cmd, "\"%s\" /uninstall2 \"%s%s\"%s", copy, folder, root_tail, quiet ? " /quiet" : "");
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

// Nothing may go while the game runs: it would keep its program and lose the rest. The user closes
// it and retries, or cancels; without boxes there is no one to ask.
static int wait_for_game(const char *folder) {
    while (game_running(folder)) {
        if (quiet || MessageBoxA(NULL, "Drovenhelm is running. Close the game, then press Retry.", box_title,
                                 MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return 0;
    }
    return 1;
}

// Stage 2 proper, holding the lock: 0 or 1 as the exit code.
static int remove_installation(const char *full) {
    char text[LONG_TEXT];
    // An empty folder text must not turn into "game" in the current folder.
    int found = full[0] && is_installation(full);
    if (found && !wait_for_game(full)) return 1;
    uninstall_result r = found ? do_uninstall(full) : UNINSTALL_NOT_FOUND;
    if (r == UNINSTALL_NOT_FOUND) {
        tell(fmt_cut(text, sizeof text, "No Drovenhelm installation was found in %s.", full), MB_ICONWARNING);
        return 1;
    }
    if (r == UNINSTALL_REMAINS)
        tell(fmt_cut(text, sizeof text, "Drovenhelm could not be removed completely. Some of its files remain in %s.",
                     full),
             MB_ICONWARNING);
    else
        tell("Drovenhelm has been removed.", MB_ICONINFORMATION);
    return 0;
}

int uninstall_stage2(const char *folder) {
    // A relative folder is taken from where we were started, before we leave it.
    char full[PATH_TEXT];
    if (!full_path(folder, full)) full[0] = 0;
    // Windows cannot remove a folder that is a process's current folder, and stage 1 hands on its own,
    // which may be the install folder.
    char temp[PATH_TEXT];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n > 0 && n < sizeof temp) SetCurrentDirectoryA(temp);
    uninstall_lock lock;
    if (!lock.take(STAGE2_LOCK_MS)) return 1;
    Sleep(STAGE2_PAUSE_MS);
    int code = remove_installation(full);
    // Only the temporary copy that stage 1 made goes at the next restart: "/uninstall2" started by hand
    // from any other file (the setup itself, say) must not have that file deleted.
    char self[PATH_TEXT], copy[PATH_TEXT];
    n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n > 0 && n < sizeof self && temp_copy_path(copy) && ascii_same(self, copy))
        MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return code;
}
