// What the uninstaller removes. Every removal follows the rule of util/checked.h: nothing is deleted
// by its name, only through the handle that showed it lies where the name says.
#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "install/game_install.h"
#include "install/install.h"
#include "install/uninstall.h"
#include "util/folder_walk.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/checked.h"

// The install folder's own files, in the order they are deleted.
static const char *const files[] = {"drovenhelm.exe", "uninstall.exe", "drovenhelm_pc.ini", "drovenhelm.log",
                                    "setup.log"};

enum {
    LOCKED_TRIES = 50,  // LOCKED_TRIES * LOCKED_WAIT_MS: how long stage 1 may take to end
    LOCKED_WAIT_MS = 100,
    MAX_HELD = PATH_TEXT / 2,  // folders nested in a path of PATH_TEXT bytes: at least "\x" each
};

// The game folder's walk: every entry must really lie below root at its own name. A folder being
// walked stays open from its check until its entries are gone, then goes through that handle: a
// folder swapped for a link meanwhile hands out entries that fail their own checks.
struct tree_walk {
    char root[PATH_TEXT];
    HANDLE held[MAX_HELD];
    int depth = 0;
    ~tree_walk() {
        while (depth > 0) CloseHandle(held[--depth]);
    }
};

static walk_answer remove_file(void *user, const folder_entry *e) {
    const tree_walk *t = (const tree_walk *)user;
    char want[PATH_TEXT];
    if (path_join(want, sizeof want, t->root, e->rel)) remove_checked(e->path, want);
    return WALK_NEXT;
}

// A folder link (junction or symbolic link) goes as a link, never entered.
static walk_answer enter_folder(void *user, const folder_entry *e) {
    tree_walk *t = (tree_walk *)user;
    char want[PATH_TEXT];
    if (t->depth == MAX_HELD || !path_join(want, sizeof want, t->root, e->rel)) return WALK_NEXT;
    HANDLE h = open_checked(e->path, want, FILE_READ_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) return WALK_NEXT;
    if (is_link(h) || (e->find->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (is_link(h)) remove_held(h);
        CloseHandle(h);
        return WALK_NEXT;
    }
    t->held[t->depth++] = h;
    return WALK_ENTER;
}

static walk_answer leave_folder(void *user, const folder_entry *) {
    tree_walk *t = (tree_walk *)user;
    HANDLE h = t->held[--t->depth];
    remove_held(h);  // refused while anything is left in it
    CloseHandle(h);
    return WALK_NEXT;
}

int delete_tree(const char *folder) {
    tree_walk t;
    if (!path_expected(folder, t.root)) return 0;
    handle_guard h(open_checked(folder, t.root, FILE_READ_ATTRIBUTES));
    if (!h.ok()) return 0;
    if (is_link(h.h)) return remove_held(h.h);
    folder_visitor v = {remove_file, enter_folder, leave_folder, NULL, &t};
    folder_walk(folder, &v);
    return remove_held(h.h);
}

int is_installation(const char *folder) {
    char path[PATH_TEXT];
    if (path_join(path, sizeof path, folder, "game\\hd\\CD.DAT") && path_exists(path)) return 1;
    if (!path_join(path, sizeof path, folder, "drovenhelm.exe") || !path_exists(path)) return 0;
    return path_join(path, sizeof path, folder, "game") && (!path_exists(path) || game_folder_is_ours(path));
}

int game_running(const char *folder) {
    char exe[PATH_TEXT];
    if (!path_join(exe, sizeof exe, folder, "drovenhelm.exe")) return 0;
    // Windows lets no one write to the file of a running program; under Wine too.
    handle_guard h(CreateFileA(exe, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL));
    return !h.ok() && GetLastError() == ERROR_SHARING_VIOLATION;
}

// Whether anything is at path: 0 only when the platform says nothing is.
static int may_exist(const char *path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return 1;
    DWORD e = GetLastError();
    return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND;
}

// Whether the entry or a shortcut is this installation's. What cannot be read cannot be told to be
// another's: it is left alone, and counts as what remains of ours if it stays.
enum owner { OTHERS, OURS, UNSURE };

// Whether the folder at path is the install folder (real path folder_real), or one inside it when
// inside is set. A folder that is not there is not this installation's, which is; any other failure
// leaves it open.
static owner owner_of_folder(const char *path, const char *folder_real, int inside) {
    char real[PATH_TEXT];
    if (real_path(path, real))
        return path_same(real, folder_real) || (inside && path_inside(real, folder_real)) ? OURS : OTHERS;
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? OTHERS : UNSURE;
}

// Another installation's shortcut has the same name: only one that starts a program inside this
// install folder (real path folder_real) is ours. COM must be initialised on the calling thread.
static owner owner_of_shortcut(const char *link, const char *folder_real) {
    if (!link[0]) return UNSURE;  // the special folder could not be looked up
    if (!may_exist(link)) return OTHERS;
    com_guard<IShellLinkA> sl;
    com_guard<IPersistFile> pf;
    WCHAR wide[PATH_TEXT];
    // Room for every path of PATH_TEXT bytes past what ansi_text_whole cannot tell from a cut one.
    char target[PATH_TEXT + 4] = {}, target_dir[PATH_TEXT];
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&sl.p)) ||
        FAILED(sl->QueryInterface(IID_IPersistFile, (void **)&pf.p)) ||
        !MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, link, -1, wide, PATH_TEXT) ||
        FAILED(pf->Load(wide, STGM_READ)) || sl->GetPath(target, sizeof target, NULL, 0) != S_OK ||
        !ansi_text_whole(target, sizeof target) || !path_parent(target_dir, sizeof target_dir, target))
        return UNSURE;
    return owner_of_folder(target_dir, folder_real, 1);
}

// The registry entry is the last installation's: it is ours only when it records this folder.
static owner owner_of_entry(const char *folder_real) {
    key_guard k;
    LSTATUS e = RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &k.k);
    if (e == ERROR_FILE_NOT_FOUND) return OTHERS;
    char location[PATH_TEXT];
    DWORD type = 0, size = sizeof location - 1;
    if (e != ERROR_SUCCESS ||
        RegQueryValueExA(k.k, "InstallLocation", NULL, &type, (BYTE *)location, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return UNSURE;
    location[size] = 0;  // a value may be stored without its terminator
    return owner_of_folder(location, folder_real, 0);
}

static int entry_may_exist(void) {
    key_guard k;
    return RegOpenKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, KEY_READ, &k.k) != ERROR_FILE_NOT_FOUND;
}

// The registration of this installation: whose the entry and the two shortcuts are.
struct registration {
    char links[2][PATH_TEXT];  // the Start-menu and the desktop shortcut
    owner link_owner[2];
    owner entry_owner;
};

static void find_registration(const char *folder_real, registration *r) {
    shortcut_paths(r->links[0], r->links[1]);
    CoInitialize(NULL);
    for (int i = 0; i < 2; i++) r->link_owner[i] = owner_of_shortcut(r->links[i], folder_real);
    CoUninitialize();
    r->entry_owner = owner_of_entry(folder_real);
}

// Stage 1 may not have ended yet, and Windows keeps a running program's file from being deleted.
static void remove_while_locked(const char *path, const char *want) {
    for (int i = 0; i < LOCKED_TRIES; i++) {
        if (remove_checked(path, want)) return;
        DWORD e = GetLastError();
        if (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) return;
        Sleep(LOCKED_WAIT_MS);
    }
}

// Folders that an installation may have been put straight into but that are never removed with it,
// even when it leaves them empty: a drive root and the shell's own folders.
static int is_kept_folder(const char *real) {
    char volume[PATH_TEXT];
    if (!GetVolumePathNameA(real, volume, sizeof volume)) return 1;  // it cannot be told apart from them
    if (path_same(real, volume)) return 1;
    static const int shell_folders[] = {
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS,
        CSIDL_MYMUSIC,          CSIDL_MYPICTURES,              CSIDL_MYVIDEO,  CSIDL_PROFILE,
        CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,           CSIDL_PROGRAMS, CSIDL_STARTMENU,
        CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86,        CSIDL_WINDOWS,  CSIDL_SYSTEM,
    };
    for (int csidl : shell_folders) {
        char known[PATH_TEXT] = {}, known_real[PATH_TEXT];
        if (SHGetFolderPathA(NULL, csidl, NULL, 0, known) != S_OK) continue;
        if (!ansi_text_whole(known, MAX_PATH)) return 1;  // it cannot be told apart from real
        if (real_path(known, known_real) && path_same(real, known_real)) return 1;
    }
    return 0;
}

// What the removal left of ours: the game folder, one of the named files, or this installation's
// entry or shortcuts. The user's own files may keep the install folder; that is no failure.
static int ours_remain(const char *full, const registration *r) {
    if (r->entry_owner != OTHERS && entry_may_exist()) return 1;
    for (int i = 0; i < 2; i++)
        if (r->link_owner[i] != OTHERS && (!r->links[i][0] || may_exist(r->links[i]))) return 1;
    char path[PATH_TEXT];
    if (path_join(path, sizeof path, full, "game") && may_exist(path)) return 1;
    for (const char *f : files)
        if (path_join(path, sizeof path, full, f) && may_exist(path)) return 1;
    return 0;
}

uninstall_result do_uninstall(const char *folder) {
    // An uninstaller copied into any other folder, or started there, must not remove anything.
    char full[PATH_TEXT], real[PATH_TEXT];
    if (!full_path(folder, full) || !is_installation(full) || !real_path(full, real)) return UNINSTALL_NOT_FOUND;
    registration r;
    find_registration(real, &r);
    for (int i = 0; i < 2; i++) {
        char want[PATH_TEXT];
        if (r.link_owner[i] == OURS && path_expected(r.links[i], want)) remove_checked(r.links[i], want);
    }
    if (r.entry_owner == OURS) RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);

    char path[PATH_TEXT], want[PATH_TEXT];
    if (path_join(path, sizeof path, full, "game")) delete_tree(path);
    for (const char *f : files) {
        if (!path_join(path, sizeof path, full, f) || !path_join(want, sizeof want, real, f)) continue;
        if (strcmp(f, "uninstall.exe") == 0)
            remove_while_locked(path, want);
        else
            remove_checked(path, want);
    }
    if (!is_kept_folder(real)) remove_checked(full, real);
    return ours_remain(full, &r) ? UNINSTALL_REMAINS : UNINSTALL_REMOVED;
}
