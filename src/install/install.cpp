#include "install/install.h"

#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdsrc.h"
#include "install/game_install.h"
#include "icon/icon.h"
#include "util/paths.h"
#include "util/version.h"

// The install stops: the system's reason, when a platform call that failed noted one, then the line.
static int fail(const char *what) {
    setup_error("%s", what);
    return 0;
}

static HRSRC find_game_exe(void) { return FindResourceA(NULL, "GAMEEXE", MAKEINTRESOURCEA(10)); }

int prebuilt_available(void) { return find_game_exe() != NULL; }

// The link file in a special folder; the empty text when the folder's path cannot be had whole.
static void link_in(int csidl, char link[PATH_TEXT]) {
    char folder[PATH_TEXT] = {};
    if (SHGetFolderPathA(NULL, csidl, NULL, 0, folder) != S_OK || !ansi_text_whole(folder, MAX_PATH) ||
        !path_join(link, PATH_TEXT, folder, "Drovenhelm.lnk"))
        link[0] = 0;
}

void shortcut_paths(char startmenu[PATH_TEXT], char desktop[PATH_TEXT]) {
    link_in(CSIDL_PROGRAMS, startmenu);
    link_in(CSIDL_DESKTOPDIRECTORY, desktop);
}

void make_link(const char *link, const char *target, const char *workdir) {
    IShellLinkA *sl = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&sl)))
        return;
    sl->SetPath(target);
    sl->SetWorkingDirectory(workdir);
    sl->SetDescription("Drovenhelm");
    sl->SetIconLocation(target, 0);
    IPersistFile *pf = NULL;
    if (SUCCEEDED(sl->QueryInterface(IID_IPersistFile, (void **)&pf))) {
        WCHAR wide[PATH_TEXT];
        if (MultiByteToWideChar(CP_ACP, 0, link, -1, wide, PATH_TEXT)) pf->Save(wide, TRUE);
        pf->Release();
    }
    sl->Release();
}

static void set_sz(HKEY k, const char *name, const char *value) {
    RegSetValueExA(k, name, 0, REG_SZ, (const BYTE *)value, (DWORD)strlen(value) + 1);
}

static void set_dword(HKEY k, const char *name, DWORD value) {
    RegSetValueExA(k, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
}

static void register_install(const char *dir, uint64_t install_bytes) {
    HKEY k;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, UNINSTALL_KEY, 0, NULL, 0, KEY_WRITE, NULL, &k, NULL) != ERROR_SUCCESS)
        return;
    char text[LONG_TEXT];
    set_sz(k, "DisplayName", "Drovenhelm (Vessik)");
    set_sz(k, "UninstallString", fmt_cut(text, sizeof text, "\"%s\\uninstall.exe\" /uninstall", dir));
    set_sz(k, "DisplayIcon", fmt_cut(text, sizeof text, "%s\\drovenhelm.exe,0", dir));
    set_sz(k, "InstallLocation", dir);
    set_sz(k, "Publisher", "Vessik port (fan project)");
    set_sz(k, "DisplayVersion", DROVENHELM_VERSION);
    set_dword(k, "EstimatedSize", (DWORD)((install_bytes + ESTIMATE_EXTRA) >> 10));
    set_dword(k, "NoModify", 1);
    set_dword(k, "NoRepair", 1);
    RegCloseKey(k);
}

// The game executable as this setup carries it, written whole or not at all: a cut program would
// look installed and not start.
static int write_game_exe(const char *exe) {
    HRSRC r = find_game_exe();
    HGLOBAL g = r ? LoadResource(NULL, r) : NULL;
    const void *data = g ? LockResource(g) : NULL;
    if (!data) return fail("this setup does not contain the game executable");
    if (write_file(exe, data, SizeofResource(NULL, r))) return 1;
    setup_error("cannot write %s", exe);
    return 0;
}

icon_result install_game_icon(const char *cd_dir, const char *exe) {
    const char *name = game_icon_lbm();
    char path[PATH_TEXT];
    if (!name || !name[0] || !path_join(path, sizeof path, cd_dir, name)) return ICON_WRITTEN;
    // The picture is read whole; a title picture is a few hundred KiB, so a huge file is passed
    // over like a missing one instead of being brought into memory.
    uint64_t size = 0;
    if (!file_size(path, &size) || is_dir(path) || size > (uint64_t)ICON_PICTURE_MAX) return ICON_WRITTEN;
    uint8_t *bytes = (uint8_t *)read_file(path, &size);
    if (!bytes) return ICON_WRITTEN;
    icon_result r = inject_icon_lbm(exe, bytes, size);
    free(bytes);
    return r;
}

// A copy cut short by a full disk would be registered as the uninstaller and not start: it goes.
static void copy_uninstaller(const char *dir) {
    char self[PATH_TEXT], target[PATH_TEXT];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self || !path_join(target, sizeof target, dir, "uninstall.exe")) return;
    // Started from the installed uninstall.exe itself, there is nothing to copy.
    if (!ascii_same(self, target)) copy_file_whole(self, target);
}

static void make_shortcuts(const setup_opts *o, const char *exe) {
    char startmenu[PATH_TEXT], desktop[PATH_TEXT];
    shortcut_paths(startmenu, desktop);
    CoInitialize(NULL);
    if (o->startmenu && startmenu[0]) make_link(startmenu, exe, o->dir);
    if (o->desktop && desktop[0]) make_link(desktop, exe, o->dir);
    CoUninitialize();
}

// The install folder is where the install writes for as long as it runs (util/paths.h).
struct write_root {
    ~write_root() { write_root_set(NULL); }
};

int do_install(const setup_opts *o, progress_fn callback, void *user) {
    note_reason(0);  // a reason noted before belongs to another run
    setup_log("Install to %s", o->dir);
    if (!prebuilt_available()) return fail("this setup does not contain the game executable");
    // An empty folder would put "\game\hd" into the root of the current drive.
    if (!o->dir[0]) return fail("cannot create the install folder");
    char game[PATH_TEXT], hd[PATH_TEXT], cd[PATH_TEXT], exe[PATH_TEXT];
    if (!path_join(game, sizeof game, o->dir, "game") || !path_join(hd, sizeof hd, game, "hd") ||
        !path_join(cd, sizeof cd, game, "cd") || !path_join(exe, sizeof exe, o->dir, "drovenhelm.exe"))
        return fail("the install folder's path is too long");
    cd_guard src(cd_open(o->cd));
    if (!src.s) return fail("the CD is not a readable disc, image or folder");
    if (!game_is_cd(src.s)) return fail("this is not the Drovenhelm CD");
    uint64_t data_bytes = cd_total_bytes(src.s), audio_bytes = game_audio_bytes(src.s);
    if (!install_target_ok(src.s, o->dir, game, data_bytes, audio_bytes)) return 0;
    uint64_t install_bytes = data_bytes + audio_bytes;
    progress p = {0, install_bytes + PROGRESS_HD_FILES + PROGRESS_FINISH, callback, user};

    write_root root;
    if (!make_dirs(o->dir) || !write_root_set(o->dir) || !make_dirs(hd))
        return fail("cannot create the install folder");
    setup_log("Copying %s ...", cd_describe(src.s));
    if (!cd_copy_all(src.s, cd, &p)) return fail("copying the CD failed");
    if (!game_install_audio(src.s, game, &p)) return 0;
    src.close();  // the rest comes from the copy

    setup_log("Setting up the game files ...");
    if (!game_install_files(cd, hd)) return 0;
    progress_add(&p, PROGRESS_HD_FILES);

    if (!write_game_exe(exe)) return 0;
    // A resource update that failed may have left the program cut short (a full disk): it is
    // written again as carried, without the icon, and only that failing fails the install. From
    // there on nothing can.
    if (install_game_icon(cd, exe) == ICON_UPDATE_FAILED && !write_game_exe(exe)) return 0;
    copy_uninstaller(o->dir);
    register_install(o->dir, install_bytes);
    make_shortcuts(o, exe);
    progress_add(&p, PROGRESS_FINISH);
    setup_log("Done.");
    return 1;
}
