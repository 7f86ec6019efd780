#include "cdsrc.h"

#include <stdlib.h>
#include <string.h>

#include "../util/handles.h"
#include "iso9660.h"
#include "readers.h"

static int open_image(cd_source *s, const char *path) {
    s->image = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (s->image == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(s->image, &size)) return 0;
    s->image_size = (uint64_t)size.QuadPart;
    return 1;
}

int cd_open_image_file(cd_source *s, const char *path) { return open_image(s, path); }

cd_source *cd_open(const char *path) {
    cd_source *s = (cd_source *)calloc(1, sizeof *s);
    if (!s) return NULL;
    s->image = INVALID_HANDLE_VALUE;
    char work[PATH_TEXT];
    fmt_cut(work, sizeof work, "%s", path);
    size_t n = strlen(work);
    while (n > 3 && (work[n - 1] == '\\' || work[n - 1] == '/')) work[--n] = 0;
    if (n == 2 && work[1] == ':') strcat(work, "\\");  // "D:" means the drive's root folder

    if (is_dir(work)) {
        fmt_cut(s->root, sizeof s->root, "%s", work);
        fmt_cut(s->description, sizeof s->description, "folder %s", work);
        return s;
    }
    const char *ext = strrchr(work, '.');
    if (ext && _stricmp(ext, ".nrg") == 0) return nrg_open(s, work);
    if (ext && _stricmp(ext, ".cue") == 0) cue_read_sheet(s, work);

    static const struct { uint32_t sector_size, data_offset; } layouts[] = {
        {ISO_SECTOR, 0},   // user data only
        {RAW_SECTOR, 16},  // sync, header, then user data (Mode 1)
        {RAW_SECTOR, 24},  // sync, header, subheader, then user data (Mode 2 Form 1)
    };
    if (open_image(s, work)) {
        for (const auto &l : layouts) {
            if (probe(s, l.sector_size, l.data_offset)) {
                s->is_image = 1;
                fmt_cut(s->root, sizeof s->root, "%s", work);
                fmt_cut(s->description, sizeof s->description, "image %s", work);
                return s;
            }
        }
    }
    cd_close(s);
    return NULL;
}

void cd_close(cd_source *s) {
    if (!s) return;
    if (s->image != INVALID_HANDLE_VALUE) CloseHandle(s->image);
    free(s);
}

const char *cd_describe(cd_source *s) { return s->description; }

int cd_exists(cd_source *s, const char *path) {
    if (s->is_image) {
        iso_entry e;
        return iso_find(s, path, &e);
    }
    char full[PATH_TEXT];
    fmt_cut(full, sizeof full, "%s\\%s", s->root, path);
    return path_exists(full);
}

void *cd_read(cd_source *s, const char *path, uint64_t *size) {
    if (!s->is_image) {
        char full[PATH_TEXT];
        fmt_cut(full, sizeof full, "%s\\%s", s->root, path);
        return read_file(full, size);
    }
    iso_entry e;
    if (!*path || !iso_find(s, path, &e) || e.directory) return NULL;
    uint32_t secs = iso_sectors(e.size);
    // An extent that cannot lie inside the image is refused before its buffer is allocated.
    if (s->base_offset + ((uint64_t)e.lba + secs) * s->sector_size > s->image_size) return NULL;
    uint8_t *buf = (uint8_t *)malloc((size_t)secs * ISO_SECTOR + 1);
    if (!buf) return NULL;
    if (!read_sectors(s, e.lba, secs, buf)) {
        free(buf);
        return NULL;
    }
    *size = e.size;
    return buf;
}

void cd_skip_folder(cd_source *s, const char *folder) {
    char full[PATH_TEXT];
    DWORD n = GetFullPathNameA(folder, sizeof full, full, NULL);
    if (n == 0 || n >= sizeof full) return;
    while (n > 3 && full[n - 1] == '\\') full[--n] = 0;
    fmt_cut(s->skip, sizeof s->skip, "%s", full);
}

// The folder that receives the copy is never entered: the copy would copy itself. The folders that
// hold it are CD content like any other.
static int is_skipped(const cd_source *s, const char *folder) {
    if (!s->skip[0]) return 0;
    char full[PATH_TEXT];
    DWORD n = GetFullPathNameA(folder, sizeof full, full, NULL);
    if (n == 0 || n >= sizeof full) return 0;
    while (n > 3 && full[n - 1] == '\\') full[--n] = 0;
    return _stricmp(s->skip, full) == 0;
}

enum walk_step { WALK_SKIP, WALK_FILE, WALK_DIR };

// What a folder walk does with one listing entry.
static walk_step folder_entry(const cd_source *s, const WIN32_FIND_DATAA *f, const char *path, int depth) {
    if (strcmp(f->cFileName, ".") == 0 || strcmp(f->cFileName, "..") == 0) return WALK_SKIP;
    if (!(f->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return WALK_FILE;
    // Junctions and symbolic links may point anywhere, back up the tree included.
    if (f->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return WALK_SKIP;
    if (depth >= MAX_DEPTH || is_skipped(s, path)) return WALK_SKIP;
    return WALK_DIR;
}

static uint64_t dir_total(const cd_source *s, const char *folder, int depth) {
    char pattern[PATH_TEXT];
    fmt_cut(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA f;
    find_guard find(FindFirstFileA(pattern, &f));
    if (!find.ok()) return 0;
    uint64_t sum = 0;
    do {
        char path[PATH_TEXT];
        fmt_cut(path, sizeof path, "%s\\%s", folder, f.cFileName);
        switch (folder_entry(s, &f, path, depth)) {
        case WALK_FILE: sum += (uint64_t)f.nFileSizeHigh << 32 | f.nFileSizeLow; break;
        case WALK_DIR: sum += dir_total(s, path, depth + 1); break;
        case WALK_SKIP: break;
        }
    } while (FindNextFileA(find.h, &f));
    return sum;
}

static int dir_copy(const cd_source *s, const char *src, const char *dst, progress *p, int depth) {
    char pattern[PATH_TEXT];
    fmt_cut(pattern, sizeof pattern, "%s\\*", src);
    WIN32_FIND_DATAA f;
    find_guard find(FindFirstFileA(pattern, &f));
    DWORD err = GetLastError();
    make_dirs(dst);
    if (!find.ok()) {
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return 1;
        // A folder that exists but cannot be listed would otherwise pass for an empty one.
        setup_log("cannot read %s", src);
        return 0;
    }
    do {
        char from[PATH_TEXT], to[PATH_TEXT];
        fmt_cut(from, sizeof from, "%s\\%s", src, f.cFileName);
        fmt_cut(to, sizeof to, "%s\\%s", dst, f.cFileName);
        int ok = 1;
        switch (folder_entry(s, &f, from, depth)) {
        case WALK_FILE:
            ok = copy_file(from, to, p);
            SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL);  // CD files arrive read-only
            break;
        case WALK_DIR: ok = dir_copy(s, from, to, p, depth + 1); break;
        case WALK_SKIP: break;
        }
        if (!ok) return 0;
    } while (FindNextFileA(find.h, &f));
    return 1;
}

static void dir_list(const cd_source *s, const char *folder, const char *rel, int depth, const cd_lister *l) {
    char pattern[PATH_TEXT];
    fmt_cut(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA f;
    find_guard find(FindFirstFileA(pattern, &f));
    if (!find.ok()) return;
    do {
        char path[PATH_TEXT], relpath[PATH_TEXT];
        fmt_cut(path, sizeof path, "%s\\%s", folder, f.cFileName);
        fmt_cut(relpath, sizeof relpath, "%s%s%s", rel, *rel ? "\\" : "", f.cFileName);
        switch (folder_entry(s, &f, path, depth)) {
        case WALK_FILE: l->file(l->user, relpath, (uint64_t)f.nFileSizeHigh << 32 | f.nFileSizeLow); break;
        case WALK_DIR:
            l->dir(l->user, relpath);
            dir_list(s, path, relpath, depth + 1, l);
            break;
        case WALK_SKIP: break;
        }
    } while (FindNextFileA(find.h, &f));
}

uint64_t cd_total_bytes(cd_source *s) {
    if (s->is_image) return iso_total(s, s->root_lba, s->root_size, 0);
    return dir_total(s, s->root, 0);
}

int cd_copy_all(cd_source *s, const char *dest, progress *p) {
    if (s->is_image) return iso_copy(s, s->root_lba, s->root_size, dest, p, 0);
    if (!s->skip[0]) cd_skip_folder(s, dest);
    return dir_copy(s, s->root, dest, p, 0);
}

void cd_list(cd_source *s, const cd_lister *l) {
    if (s->is_image)
        iso_list(s, l);
    else
        dir_list(s, s->root, "", 0, l);
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
    if (track < 0 || track >= s->track_count || count < 0) return 0;
    const cd_track *t = &s->tracks[track];
    if (t->sector_size != RAW_SECTOR) return 0;
    handle_guard h(CreateFileA(t->file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    if (!h.ok()) return 0;
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)(t->file_offset + (uint64_t)first * RAW_SECTOR);
    if (!SetFilePointerEx(h.h, at, NULL, FILE_BEGIN)) return 0;
    DWORD want = (DWORD)count * RAW_SECTOR, got = 0;
    return ReadFile(h.h, buf, want, &got, NULL) && got == want;
}

int cd_track_file_ok(cd_source *s, int track) {
    if (track < 0 || track >= s->track_count) return 0;
    handle_guard h(CreateFileA(s->tracks[track].file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    return h.ok();
}
