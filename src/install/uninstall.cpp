#include "uninstall.h"

#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "install.h"
#include "util/folder_walk.h"
#include "util/handles.h"

// The install folder's own files, in the order they are deleted.
static const char *const files[] = {"drovenhelm.exe", "uninstall.exe", "drovenhelm_pc.ini", "drovenhelm.log",
                                    "setup.log"};
static const char temp_copy[] = "drovenhelm_uninstall.exe";
static const char box_title[] = "Drovenhelm uninstall";

enum {
    STAGE2_PAUSE_MS = 800,  // stage 1 ends right after it has started stage 2
    LOCKED_TRIES = 50,      // LOCKED_TRIES * LOCKED_WAIT_MS: how long stage 1 may take to end
    LOCKED_WAIT_MS = 100,
    COPY_TRIES = 50,  // COPY_TRIES * COPY_WAIT_MS: how long another uninstaller's copy may take to end
    COPY_WAIT_MS = 100,
};

// "folder\name"; 0 when it does not fit, since a cut path names some other file. A folder that ends
// in a backslash (a drive root such as "C:\") gets no second one.
static int join_path(char *out, size_t size, const char *folder, const char *name) {
    size_t n = strlen(folder);
    int k = snprintf(out, size, "%s%s%s", folder, n && folder[n - 1] == '\\' ? "" : "\\", name);
    return k >= 0 && (size_t)k < size;
}

// The folder as an absolute path; 0 for an empty text or one that cannot be made absolute whole.
static int full_path(const char *folder, char out[PATH_TEXT]) {
    if (!folder[0]) return 0;
    DWORD n = GetFullPathNameA(folder, PATH_TEXT, out, NULL);
    return n > 0 && n < PATH_TEXT;
}

// The copy of another uninstaller that is still running (its final box open) cannot be replaced
// until it ends.
static int place_copy(const char *self, const char *copy) {
    for (int i = 0; i < COPY_TRIES; i++) {
        if (CopyFileA(self, copy, FALSE)) return 1;
        Sleep(COPY_WAIT_MS);
    }
    return 0;
}

// The temporary folder's "drovenhelm_uninstall.exe"; 0 when its path cannot be had whole.
static int temp_copy_path(char copy[PATH_TEXT]) {
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    return n > 0 && n < sizeof temp && join_path(copy, PATH_TEXT, temp, temp_copy);
}

int uninstall_stage1(void) {
    char self[PATH_TEXT], folder[PATH_TEXT];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self) return 0;
    memcpy(folder, self, n + 1);
    // "C:" alone names drive C's current folder, not its root: a root keeps its backslash, doubled on
    // the command line so that it does not escape the closing quote.
    const char *root_tail = "";
    char *cut = strrchr(folder, '\\');
    if (cut && cut > folder && cut[-1] == ':') {
        cut[1] = 0;
        root_tail = "\\";
    } else if (cut) {
        *cut = 0;
    }
    if (!quiet && MessageBoxA(NULL, "Remove Drovenhelm (Vessik) and its saved games?", box_title,
                              MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;
    // Stage 2 is started only from a copy made whole: a cut path or a failed copy would start
    // whatever else stands there.
    char copy[PATH_TEXT];
    if (!temp_copy_path(copy) || !place_copy(self, copy)) {
        if (!quiet)
            MessageBoxA(NULL, "The uninstaller could not start. Close other uninstall windows and try again.",
                        box_title, MB_OK | MB_ICONWARNING);
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

// What the removal leaves of ours: a shortcut, the registry entry, the game folder or one of the
// named files (a file held open or denied). The user's own files may keep the install folder; that
// is no failure.
static int installation_remains(const char *folder) {
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    if ((startmenu[0] && path_exists(startmenu)) || (desktop[0] && path_exists(desktop))) return 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return 1;
    }
    char path[PATH_TEXT];
    if (join_path(path, sizeof path, folder, "game") && path_exists(path)) return 1;
    for (const char *f : files)
        if (join_path(path, sizeof path, folder, f) && path_exists(path)) return 1;
    return 0;
}

int uninstall_stage2(const char *folder) {
    // A relative folder is taken from where we were started, before we leave it.
    char full[PATH_TEXT];
    if (!full_path(folder, full)) full[0] = 0;
    // Windows cannot remove a folder that is a process's current folder, and stage 1 hands on its own,
    // which may be the install folder.
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n > 0 && n < sizeof temp) SetCurrentDirectoryA(temp);
    Sleep(STAGE2_PAUSE_MS);
    int code = 0;
    if (!do_uninstall(full)) {
        code = 1;
        if (!quiet) {
            char text[LONG_TEXT];
            fmt_cut(text, sizeof text, "No Drovenhelm installation was found in %s.", full);
            MessageBoxA(NULL, text, box_title, MB_OK | MB_ICONWARNING);
        }
    } else if (!quiet) {
        char text[LONG_TEXT];
        if (installation_remains(full))
            fmt_cut(text, sizeof text, "Drovenhelm could not be removed completely. Some of its files remain in %s.",
                    full);
        else
            fmt_cut(text, sizeof text, "%s", "Drovenhelm has been removed.");
        MessageBoxA(NULL, text, box_title, MB_ICONINFORMATION);
    }
    // Only the temporary copy that stage 1 made goes at the next restart: "/uninstall2" started by hand
    // from any other file (the setup itself, say) must not have that file deleted.
    char self[PATH_TEXT], copy[PATH_TEXT];
    n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n > 0 && n < sizeof self && temp_copy_path(copy) && _stricmp(self, copy) == 0)
        MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return code;
}

// Stage 1 treats the folder it runs from as the install folder, which may be anyone's Downloads
// folder: only a folder with our files in it loses its game folder and the named files.
static int holds_installation(const char *folder) {
    char path[PATH_TEXT];
    if (join_path(path, sizeof path, folder, "game\\hd\\CD.DAT") && path_exists(path)) return 1;
    return join_path(path, sizeof path, folder, "drovenhelm.exe") && path_exists(path);
}

// Stage 1 may not have ended yet, and Windows keeps a running program's file from being deleted.
static void delete_while_locked(const char *path) {
    for (int i = 0; i < LOCKED_TRIES; i++) {
        if (DeleteFileA(path)) return;
        DWORD e = GetLastError();
        if (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) return;
        Sleep(LOCKED_WAIT_MS);
    }
}

// Folders that an installation may have been put straight into but that are never removed with it,
// even when it leaves them empty: a drive root and the shell's own folders.
static int is_kept_folder(const char *folder) {
    char real[PATH_TEXT], volume[PATH_TEXT];
    if (!real_path(folder, real)) return 1;  // it cannot be told apart from them
    if (!GetVolumePathNameA(real, volume, sizeof volume)) return 1;
    size_t n = strlen(volume);
    if (n && volume[n - 1] == '\\') volume[n - 1] = 0;
    if (_stricmp(real, volume) == 0) return 1;
    static const int shell_folders[] = {
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS,
        CSIDL_MYMUSIC,          CSIDL_MYPICTURES,              CSIDL_MYVIDEO,  CSIDL_PROFILE,
        CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,           CSIDL_PROGRAMS, CSIDL_STARTMENU,
        CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86,        CSIDL_WINDOWS,  CSIDL_SYSTEM,
    };
    for (int csidl : shell_folders) {
        char known[MAX_PATH], known_real[PATH_TEXT];
        if (SHGetFolderPathA(NULL, csidl, NULL, 0, known) == S_OK && real_path(known, known_real) &&
            _stricmp(real, known_real) == 0)
            return 1;
    }
    return 0;
}

int do_uninstall(const char *folder) {
    // An uninstaller copied into any other folder, or started there, must not take the shortcuts and
    // the registry entry of the real installation elsewhere with it.
    char full[PATH_TEXT];
    if (!full_path(folder, full) || !holds_installation(full)) return 0;
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    if (startmenu[0]) DeleteFileA(startmenu);
    if (desktop[0]) DeleteFileA(desktop);
    RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);

    char path[PATH_TEXT];
    if (join_path(path, sizeof path, full, "game")) delete_tree(path);
    for (const char *f : files) {
        if (!join_path(path, sizeof path, full, f)) continue;
        if (strcmp(f, "uninstall.exe") == 0)
            delete_while_locked(path);
        else
            DeleteFileA(path);
    }
    if (!is_kept_folder(full)) RemoveDirectoryA(full);
    return 1;
}

// Whether the reparse point at path reports its tag: only such a link can be removed as a link.
// Wine shows a Unix symbolic link to a folder as a reparse point without one, and removing that
// deletes the folder it points to when it is empty.
static int is_tagged_link(const char *path) {
    handle_guard h(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL));
    FILE_ATTRIBUTE_TAG_INFO tag;
    return h.ok() && GetFileInformationByHandleEx(h.h, FileAttributeTagInfo, &tag, sizeof tag) && tag.ReparseTag;
}

// The game folder's real path: every entry must really lie below it at its own name.
struct tree_walk {
    char root[PATH_TEXT];
};

// A name planted in the tree may lead out of it: under Wine a Unix symbolic link to a file looks
// like a plain file, and deleting it deletes what it points to. Through an opened handle the
// platform says where the object really lies; anything elsewhere is left alone.
static int lies_in_tree(const tree_walk *t, const folder_entry *e) {
    char real[PATH_TEXT], want[PATH_TEXT];
    return real_path(e->path, real) && join_path(want, sizeof want, t->root, e->rel) && _stricmp(real, want) == 0;
}

// Attributes are cleared only when the delete needs it (read-only), and put back when the file still
// cannot go: a saved game held open by the game keeps them.
static void delete_file(const char *path, DWORD attr) {
    if (DeleteFileA(path)) return;
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path)) return;
    DWORD keep =
        attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA(path, keep ? keep : FILE_ATTRIBUTE_NORMAL);
}

static walk_answer delete_entry_file(void *user, const folder_entry *e) {
    DWORD attr = e->find->dwFileAttributes;
    if (attr & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A file symbolic link goes as a link; clearing attributes would change its target.
        if (is_tagged_link(e->path)) DeleteFileA(e->path);
    } else if (lies_in_tree((const tree_walk *)user, e)) {
        delete_file(e->path, attr);
    }
    return WALK_NEXT;
}

// A folder link (junction or symbolic link) goes as a link, never entered.
static walk_answer delete_entry_folder(void *user, const folder_entry *e) {
    if (e->find->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (is_tagged_link(e->path)) RemoveDirectoryA(e->path);
        return WALK_NEXT;
    }
    return lies_in_tree((const tree_walk *)user, e) ? WALK_ENTER : WALK_NEXT;
}

static walk_answer remove_emptied(void *, const folder_entry *e) {
    RemoveDirectoryA(e->path);
    return WALK_NEXT;
}

int delete_tree(const char *folder) {
    DWORD a = GetFileAttributesA(folder);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT))
        return is_tagged_link(folder) && RemoveDirectoryA(folder);
    // The folder itself must lie where its parent says, at its own name.
    tree_walk t;
    char parent[PATH_TEXT], parent_real[PATH_TEXT], want[PATH_TEXT];
    const char *cut = strrchr(folder, '\\');
    if (!cut || cut == folder || (size_t)(cut - folder) >= sizeof parent) return 0;
    memcpy(parent, folder, cut - folder);
    parent[cut - folder] = 0;
    if (cut[-1] == ':') strcat(parent, "\\");  // "C:" alone is drive C's current folder
    if (!real_path(folder, t.root) || !real_path(parent, parent_real) ||
        !join_path(want, sizeof want, parent_real, cut + 1) || _stricmp(t.root, want) != 0)
        return 0;
    folder_visitor v = {delete_entry_file, delete_entry_folder, remove_emptied, NULL, &t};
    folder_walk(folder, &v);
    return RemoveDirectoryA(folder);
}
