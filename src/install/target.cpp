// Whether the install may write into its folder, decided before it writes anything: the folder's
// game folder is an install's, the CD folder and the install folder do not copy into each other,
// what the CD claims is believable, and it fits on the drive.
#include <windows.h>

#include "install/game_install.h"
#include "install/install.h"
#include "util/paths.h"

enum {
    CLAIM_FACTOR = 4,  // a CD image's files hold at most this many times its own bytes
    MB = 1048576,
};

static int fail(const char *format, const char *a) {
    char reason[LONG_TEXT];
    setup_log("ERROR: %s", fmt_cut(reason, sizeof reason, format, a));
    return 0;
}

// Where a folder really is when it is there, else its full path.
static int where_is(const char *path, char out[PATH_TEXT]) { return real_path(path, out) || full_path(path, out); }

// The install must neither copy the CD into a folder it reads from, nor read the CD from the game
// folder it writes. An install folder inside the CD folder is passed over by the copy (the game
// folder when they are one); a CD folder inside the game folder is refused.
static int keep_apart(cd_source *s, const char *dir, const char *game) {
    const char *folder = cd_folder(s);
    char cd[PATH_TEXT], install[PATH_TEXT], ours[PATH_TEXT];
    if (!folder || !where_is(folder, cd) || !where_is(dir, install) || !path_join(ours, sizeof ours, install, "game"))
        return 1;
    if (path_same(cd, ours) || path_inside(cd, ours))
        return fail("the CD folder %s lies in the install folder's game folder. Choose another install folder.",
                    folder);
    if (path_same(install, cd))
        cd_skip_folder(s, game);
    else if (path_inside(install, cd))
        cd_skip_folder(s, dir);
    return 1;
}

static uint64_t size_at(const char *path) {
    uint64_t n = 0;
    return file_size(path, &n) && !is_dir(path) ? n : 0;
}

struct replaced_sum {
    const char *cd_dir;
    uint64_t bytes;
};

static void no_folder(void *, const char *) {}

static void add_replaced(void *user, const char *rel, uint64_t) {
    replaced_sum *r = (replaced_sum *)user;
    char path[PATH_TEXT];
    if (path_join(path, sizeof path, r->cd_dir, rel)) r->bytes += size_at(path);
}

// Bytes of the files that the copy and the audio would write over: they are freed as they go.
static uint64_t replaced_bytes(cd_source *s, const char *game) {
    char cd[PATH_TEXT], wav[PATH_TEXT], name[40];
    if (!path_join(cd, sizeof cd, game, "cd")) return 0;
    replaced_sum r = {cd, 0};
    if (is_dir(cd)) {
        cd_lister l = {no_folder, add_replaced, &r};
        cd_list(s, &l);
    }
    track_info t[MAX_TRACKS];
    int n = cd_tracks(s, t, MAX_TRACKS);
    for (int i = 0; i < n; i++) {
        fmt_cut(name, sizeof name, "cdaudio\\track%02d.wav", t[i].number);
        if (t[i].audio && path_join(wav, sizeof wav, game, name)) r.bytes += size_at(wav);
    }
    return r.bytes;
}

// The drive's free bytes for us, asked of the nearest folder of dir that is there; 0 when unknown.
static int free_bytes(const char *dir, uint64_t *free) {
    char folder[PATH_TEXT], up[PATH_TEXT];
    if (!full_path(dir, folder)) return 0;
    while (!is_dir(folder)) {
        if (!path_parent(up, sizeof up, folder)) return 0;
        strcpy(folder, up);
    }
    ULARGE_INTEGER avail;
    if (!GetDiskFreeSpaceExA(folder, &avail, NULL, NULL)) return 0;
    *free = avail.QuadPart;
    return 1;
}

int install_target_ok(cd_source *s, const char *dir, const char *game, uint64_t data_bytes, uint64_t audio_bytes) {
    if (is_dir(game) && !game_folder_is_ours(game))
        return fail("%s already holds a folder named game that is not Drovenhelm's. Choose another install folder.",
                    dir);
    if (!keep_apart(s, dir, game)) return 0;
    // Records that share one extent make a small image claim gigabytes.
    uint64_t image = cd_image_bytes(s);
    if (image && data_bytes / CLAIM_FACTOR > image) {
        setup_log("ERROR: %s", "the CD image claims more data than it holds");
        return 0;
    }
    uint64_t need = data_bytes + audio_bytes, replaced = replaced_bytes(s, game), free = 0;
    need = need > replaced ? need - replaced : 0;
    if (free_bytes(dir, &free) && need > free) {
        char reason[LONG_TEXT];
        setup_log("ERROR: %s", fmt_cut(reason, sizeof reason, "not enough free space on %s: the game needs %u MB, %u MB are free.",
                                       dir, (unsigned)((need + MB - 1) / MB), (unsigned)(free / MB)));
        return 0;
    }
    return 1;
}
