// The setup's entry point: the command line picks uninstall stage 1 or 2, a silent install, or the
// window; an install run first opens the log and looks for the game CD.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>

#include "cdsrc/cdsrc.h"
#include "cdsrc/forms.h"
#include "install/game_install.h"
#include "install/install.h"
#include "install/uninstall.h"
#include "setup/options.h"
#include "setup/window.h"
#include "util/folder_walk.h"
#include "util/checked.h"
#include "util/paths.h"
#include "util/state.h"
#include "util/util.h"

static const char log_name[] = "drovenhelm_setup.log";

// The log file is left out when the temporary folder cannot be had whole (a cut path would put the
// log under another name, or in another folder), and when a link stands at its name: it is written
// only into a real file there. Its path is kept in path, which stays empty without one.
static void open_log(char path[PATH_TEXT]) {
    char temp[PATH_TEXT], name[PATH_TEXT];
    path[0] = 0;
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp || !path_join(name, sizeof name, temp, log_name)) return;
    HANDLE h = create_checked(name, 0);
    if (h == INVALID_HANDLE_VALUE) return;
    int fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_TEXT);
    if (fd < 0) {
        CloseHandle(h);
        return;
    }
    logf = _fdopen(fd, "w");
    if (!logf) {
        _close(fd);
        return;
    }
    strcpy(path, name);
}

// Tries one candidate for the default CD; on success its path becomes the CD path.
static void try_default_cd(const char *path) {
    cd_source *s = cd_open(path);
    if (!s) return;
    if (game_is_cd(s) && strlen(path) < sizeof opts.cd) strcpy(opts.cd, path);
    cd_close(s);
}

// An image of a searched form beside the setup (a folder of that name too, as cd_open takes folders).
static walk_answer try_image_beside(void *, const folder_entry *e) {
    if (!(cd_form_flags(e->find->cFileName) & FORM_SEARCHED)) return WALK_NEXT;
    try_default_cd(e->path);
    return opts.cd[0] ? WALK_STOP : WALK_NEXT;
}

static void find_default_cd(void) {
    DWORD drives = GetLogicalDrives();
    for (int d = 2; d < 26 && !opts.cd[0]; d++) {
        char root[4] = {(char)('A' + d), ':', '\\', 0};
        if ((drives & (1u << d)) && GetDriveTypeA(root) == DRIVE_CDROM) try_default_cd(root);
    }
    if (opts.cd[0]) return;  // a drive always wins over an image
    char self[PATH_TEXT], folder[PATH_TEXT];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self || !path_parent(folder, sizeof folder, self)) return;
    folder_visitor v = {try_image_beside, try_image_beside, NULL, NULL, NULL};
    folder_walk(folder, &v);
}

int WINAPI WinMain(HINSTANCE inst, HINSTANCE, LPSTR, int show) {
    int argc;
    char **argv = ansi_arguments(&argc);
    // Without its arguments the run cannot know what it was asked to do: it does nothing.
    if (!argv) return 1;
    const char *folder = NULL;
    switch (read_run_mode(argc, argv, &folder)) {
    case RUN_UNINSTALL1: return uninstall_stage1();
    case RUN_UNINSTALL2: return uninstall_stage2(folder);
    case RUN_INSTALL: break;
    }

    char log_path[PATH_TEXT];
    open_log(log_path);
    setup_log("setup started");
    find_default_cd();
    set_default_options();
    setup_log("defaults: cd '%s' dir '%s'", opts.cd, opts.dir);
    apply_options(argc, argv);

    int code = 0;
    if (silent)
        code = do_install(&opts, NULL, NULL) ? 0 : 1;
    else
        window_run(inst, show, log_path[0] ? log_path : NULL);
    if (logf) fclose(logf);
    logf = NULL;
    return code;
}
