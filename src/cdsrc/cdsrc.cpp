// The disc source: dispatch to the folder, drive or image half, and the folder half itself.
#include "cdsrc/cdsrc.h"

#include <stdlib.h>
#include <string.h>

#include "cdsrc/audio_stream.h"
#include "cdsrc/chd_cd.h"
#include "cdsrc/drive.h"
#include "cdsrc/image.h"
#include "util/folder_walk.h"
#include "util/paths.h"

cd_source *cd_new(void) {
    cd_source *s = (cd_source *)calloc(1, sizeof *s);
    if (s) s->image = s->drive = INVALID_HANDLE_VALUE;
    return s;
}

void cd_close(cd_source *s) {
    if (!s) return;
    if (s->image != INVALID_HANDLE_VALUE) CloseHandle(s->image);
    audio_close(s->audio);
    chd_cd_close(s->chd);
    if (s->drive != INVALID_HANDLE_VALUE) CloseHandle(s->drive);
    free(s);
}

cd_source *cd_open(const char *path) {
    cd_source *s = cd_new();
    if (!s) return NULL;
    char work[PATH_TEXT];
    size_t n = strlen(path);
    if (n >= sizeof work) {  // a cut path names another file
        cd_close(s);
        return NULL;
    }
    memcpy(work, path, n + 1);
    while (n > 3 && (work[n - 1] == '\\' || work[n - 1] == '/')) work[--n] = 0;
    if (n == 2 && path_is_drive_root(work)) strcpy(work + 2, "\\");  // "D:" means the drive's root folder

    if (is_dir(work)) {
        strcpy(s->root, work);
        if (drive_open(s, work))
            fmt_cut(s->description, sizeof s->description, "CD-ROM drive %s (%d tracks)", work, s->track_count);
        else
            fmt_cut(s->description, sizeof s->description, "folder %s", work);
        return s;
    }
    if (image_open(s, work)) {
        s->is_image = 1;
        return s;
    }
    cd_close(s);
    return NULL;
}

const char *cd_describe(cd_source *s) { return s->description; }

const char *cd_folder(cd_source *s) { return s->is_image ? NULL : s->root; }

uint64_t cd_image_bytes(cd_source *s) { return s->is_image ? s->image_size : 0; }

int cd_exists(cd_source *s, const char *path) {
    if (s->is_image) {
        iso_entry e;
        return iso_find(s, path, &e);
    }
    char full[PATH_TEXT];
    return path_join(full, sizeof full, s->root, path) && path_exists(full);
}

void *cd_read(cd_source *s, const char *path, uint64_t *size) {
    if (!s->is_image) {
        char full[PATH_TEXT];
        return path_join(full, sizeof full, s->root, path) ? read_file(full, size) : NULL;
    }
    return iso_read(s, path, size);
}

void cd_skip_folder(cd_source *s, const char *folder) {
    if (!full_path(folder, s->skip)) s->skip[0] = 0;
}

// The folder that receives the copy is never entered: the copy would copy itself. The folders that
// hold it are CD content like any other.
static int is_skipped(const cd_source *s, const char *folder) {
    char full[PATH_TEXT];
    return s->skip[0] && full_path(folder, full) && path_same(s->skip, full);
}

// The folder rules of a folder source: links are never entered (the walk sees to that too, but
// they are not listed or created either), nor folders below MAX_DEPTH or the skip folder.
static int enters(const cd_source *s, const folder_entry *e) {
    if (e->find->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return 0;
    return e->depth < MAX_DEPTH && !is_skipped(s, e->path);
}

static uint64_t size_of(const folder_entry *e) {
    return (uint64_t)e->find->nFileSizeHigh << 32 | e->find->nFileSizeLow;
}

struct folder_job {
    const cd_source *s;
    uint64_t total;
    const char *dest;
    progress *p;
    const cd_lister *l;
    int incomplete;  // a folder could not be listed
};

static walk_answer enter_folder(void *user, const folder_entry *e) {
    return enters(((folder_job *)user)->s, e) ? WALK_ENTER : WALK_NEXT;
}

static walk_answer add_size(void *user, const folder_entry *e) {
    ((folder_job *)user)->total += size_of(e);
    return WALK_NEXT;
}

static walk_answer copy_into(void *user, const folder_entry *e) {
    const folder_job *j = (const folder_job *)user;
    char to[PATH_TEXT];
    if (path_join(to, sizeof to, j->dest, e->rel)) return copy_file(e->path, to, j->p) ? WALK_NEXT : WALK_STOP;
    setup_log("cannot write %s\\%s", j->dest, e->rel);  // its path would not fit
    return WALK_STOP;
}

static walk_answer make_folder(void *user, const folder_entry *e) {
    const folder_job *j = (const folder_job *)user;
    if (!enters(j->s, e)) return WALK_NEXT;
    char to[PATH_TEXT];
    if (path_join(to, sizeof to, j->dest, e->rel)) make_dirs(to);  // else its files say they cannot be written
    return WALK_ENTER;
}

static walk_answer copy_unlisted(void *, const char *path, const char *, DWORD err) {
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return WALK_NEXT;
    // A folder that exists but cannot be listed would otherwise pass for an empty one.
    setup_log("cannot read %s", path);
    return WALK_STOP;
}

static walk_answer list_file(void *user, const folder_entry *e) {
    const cd_lister *l = ((folder_job *)user)->l;
    l->file(l->user, e->rel, size_of(e));
    return WALK_NEXT;
}

static walk_answer list_folder(void *user, const folder_entry *e) {
    const folder_job *j = (const folder_job *)user;
    if (!enters(j->s, e)) return WALK_NEXT;
    j->l->dir(j->l->user, e->rel);
    return WALK_ENTER;
}

uint64_t cd_total_bytes(cd_source *s) {
    if (s->is_image) return iso_total(s);
    folder_job j = {s, 0, NULL, NULL, NULL, 0};
    folder_visitor v = {add_size, enter_folder, NULL, NULL, &j};
    folder_walk(s->root, &v);
    return j.total;
}

int cd_copy_all(cd_source *s, const char *dest, progress *p) {
    if (s->is_image) return iso_copy(s, dest, p);
    if (!s->skip[0]) cd_skip_folder(s, dest);
    folder_job j = {s, 0, dest, p, NULL, 0};
    folder_visitor v = {copy_into, make_folder, NULL, copy_unlisted, &j};
    make_dirs(dest);
    return folder_walk(s->root, &v);
}

// A folder that cannot be listed is named, and the listing goes on without it.
static walk_answer list_unlisted(void *user, const char *path, const char *, DWORD) {
    setup_log("cannot read %s", path);
    ((folder_job *)user)->incomplete = 1;
    return WALK_NEXT;
}

int cd_list(cd_source *s, const cd_lister *l) {
    if (s->is_image) return iso_list(s, l);
    folder_job j = {s, 0, NULL, NULL, l, 0};
    folder_visitor v = {list_file, list_folder, NULL, list_unlisted, &j};
    folder_walk(s->root, &v);
    return !j.incomplete;
}

int cd_tracks(cd_source *s, track_info *out, int capacity) {
    int n = 0;
    for (; n < s->track_count && n < capacity; n++) {
        const cd_track *t = &s->tracks[n];
        out[n].number = t->number;
        out[n].audio = t->audio;
        out[n].start_lba = t->start_lba;
        out[n].sectors = t->sectors;
    }
    return n;
}

int cd_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf) {
    if (track < 0 || track >= s->track_count) return 0;
    if (s->drive != INVALID_HANDLE_VALUE) return drive_read_raw(s, track, first, count, buf);
    return image_read_raw(s, track, first, count, buf);
}

int cd_track_ready(cd_source *s, int track) {
    if (track < 0 || track >= s->track_count) return 0;
    return s->drive != INVALID_HANDLE_VALUE || image_track_ready(s, track);
}
