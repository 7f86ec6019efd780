#include "install/game_install.h"

#include <string.h>

#include "util/folder_walk.h"
#include "util/paths.h"

static const char *const files[] = {"SKIPIT.EXE", "BDROV1DK.AVI", NULL};

int game_is_cd(cd_source *s) {
    if (!s) return 0;
    for (int i = 0; files[i]; i++)
        if (!cd_exists(s, files[i])) return 0;
    return 1;
}

const char *game_icon_lbm(void) { return "TITLE.FLI"; }

// The folders an install makes in the game folder, before it writes anything else there.
static const char *const game_folders[] = {"cd", "hd", "cdaudio"};

static walk_answer find_other(void *found, const folder_entry *e) {
    int ours = 0;
    if (e->find->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        for (const char *f : game_folders) ours = ours || ascii_same(e->find->cFileName, f);
    if (ours) return WALK_NEXT;
    *(int *)found = 1;
    return WALK_STOP;
}

// What cannot be listed cannot be told to be ours.
static walk_answer unlisted_other(void *found, const char *, const char *, DWORD) {
    *(int *)found = 1;
    return WALK_STOP;
}

int game_folder_is_ours(const char *game_dir) {
    char cd_dat[PATH_TEXT];
    if (path_join(cd_dat, sizeof cd_dat, game_dir, "hd\\CD.DAT") && path_exists(cd_dat)) return 1;
    int other = 0;
    folder_visitor v = {find_other, find_other, NULL, unlisted_other, &other};
    folder_walk(game_dir, &v);
    return !other;
}

static int is_video(const char *name) {
    const char *ext = strrchr(name, '.');
    return ext && ascii_same(ext, ".avi");
}

static walk_answer copy_to_hd(void *hd_dir, const folder_entry *e) {
    const char *name = e->find->cFileName;
    if (is_video(name)) return WALK_NEXT;  // the game plays its videos from game\cd
    char to[PATH_TEXT];
    if (!path_join(to, sizeof to, (const char *)hd_dir, name) || !copy_file(e->path, to, NULL)) {
        setup_error("cannot write %s\\%s", (const char *)hd_dir, name);
        return WALK_STOP;
    }
    return WALK_NEXT;
}

static walk_answer copied_cd_unlisted(void *, const char *path, const char *, DWORD err) {
    // A listing that broke off after some files would leave the rest of game\hd missing.
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        setup_log("ERROR: the copied CD is empty");
    else {
        note_reason(err);
        setup_error("cannot read %s", path);
    }
    return WALK_STOP;
}

int game_install_files(const char *cd_dir, const char *hd_dir) {
    // The root's files only: folders are passed over.
    folder_visitor v = {copy_to_hd, NULL, NULL, copied_cd_unlisted, (void *)hd_dir};
    if (!folder_walk(cd_dir, &v)) return 0;
    // The game looks for its CD through this file; the copy in game\cd stands in for drive D:.
    char cd_dat[PATH_TEXT];
    if (path_join(cd_dat, sizeof cd_dat, hd_dir, "CD.DAT") && write_file(cd_dat, "D:\\\r\n", 5)) return 1;
    setup_error("cannot write %s\\CD.DAT", hd_dir);
    return 0;
}
