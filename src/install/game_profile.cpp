#include "game_install.h"

#include <string.h>

#include "util/handles.h"

static const char *const files[] = {"SKIPIT.EXE", "BDROV1DK.AVI", NULL};

int game_is_cd(cd_source *s) {
    if (!s) return 0;
    for (int i = 0; files[i]; i++)
        if (!cd_exists(s, files[i])) return 0;
    return 1;
}

const char *game_icon_lbm(void) { return "TITLE.FLI"; }

static int is_video(const char *name) {
    const char *ext = strrchr(name, '.');
    return ext && _stricmp(ext, ".avi") == 0;
}

int game_install_files(const char *cd_dir, const char *hd_dir) {
    char pattern[PATH_TEXT];
    fmt_cut(pattern, sizeof pattern, "%s\\*", cd_dir);
    WIN32_FIND_DATAA f;
    {
        find_guard find(FindFirstFileA(pattern, &f));
        if (!find.ok()) {
            setup_log("ERROR: the copied CD is empty");
            return 0;
        }
        do {
            if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            if (is_video(f.cFileName)) continue;  // the game plays its videos from game\cd
            char from[LONG_TEXT], to[LONG_TEXT];
            fmt_cut(from, sizeof from, "%s\\%s", cd_dir, f.cFileName);
            fmt_cut(to, sizeof to, "%s\\%s", hd_dir, f.cFileName);
            if (!copy_file(from, to, NULL)) {
                setup_log("ERROR: cannot write %s", to);
                return 0;
            }
            SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL);
        } while (FindNextFileA(find.h, &f));
    }
    // The game looks for its CD through this file; the copy in game\cd stands in for drive D:.
    char cd_dat[PATH_TEXT];
    fmt_cut(cd_dat, sizeof cd_dat, "%s\\CD.DAT", hd_dir);
    return write_file(cd_dat, "D:\\\r\n", 5);
}
