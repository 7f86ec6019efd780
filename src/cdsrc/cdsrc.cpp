#include "cdsrc.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "../util/folder_walk.h"
#include "../util/handles.h"
#include "copier_win.h"
#include "cue_win.h"
#include "iso9660_win.h"
#include "nrg.h"

cd_source *cd_new(void) {
    cd_source *s = (cd_source *)calloc(1, sizeof *s);
    if (s) s->image = INVALID_HANDLE_VALUE;
    return s;
}

void cd_close(cd_source *s) {
    if (!s) return;
    if (s->image != INVALID_HANDLE_VALUE) CloseHandle(s->image);
    free(s);
}

static int open_image(cd_source *s, const char *path) {
    s->image = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (s->image == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(s->image, &size)) return 0;
    s->image_size = (uint64_t)size.QuadPart;
    return 1;
}

// Where the 2048 bytes of user data may begin in a sector, in the order they are tried. A plain
// image is tried at the rows marked plain; an image whose track table gives the sector size (Nero,
// CloneCD, Alcohol) at every row of that size, or at offset 0 for a size the table does not list.
static const struct {
    uint32_t sector_size, data_offset;
    int plain;
} layouts[] = {
    {ISO_SECTOR, 0, 1},   // user data only
    {RAW_SECTOR, 0, 0},   // a raw Nero track that stores its user data first
    {RAW_SECTOR, 16, 1},  // sync, header, then user data (Mode 1)
    {RAW_SECTOR, 24, 1},  // sync, header, subheader, then user data (Mode 2 Form 1)
    {MDS_SUB_SECTOR, 16, 0},  // the same with 96 bytes of subchannel after each sector (Alcohol)
    {MDS_SUB_SECTOR, 24, 0},
};

// 1 when a volume descriptor was found; table_sector_size is 0 for a plain image.
static int probe_layouts(cd_source *s, uint32_t table_sector_size) {
    int listed = 0;
    for (const auto &l : layouts) {
        if (table_sector_size ? l.sector_size != table_sector_size : !l.plain) continue;
        listed = 1;
        if (probe(s, l.sector_size, l.data_offset)) return 1;
    }
    return !listed && probe(s, table_sector_size, 0);
}

// The Nero footer and chunk area of the opened image, read into the track table. 0 when it is
// not a Nero image or the area cannot be read in full: bytes never read are not walked.
static int read_nero_tracks(cd_source *s) {
    uint8_t footer[NRG_FOOTER];
    uint64_t offset;
    uint32_t len;
    if (s->image_size < NRG_FOOTER || !read_at(s->image, s->image_size - NRG_FOOTER, footer, NRG_FOOTER) ||
        !nrg_chunk_area(footer, s->image_size, &offset, &len))
        return 0;
    // Up to NRG_AREA_MAX bytes: an allocation that can fail, and says so.
    std::unique_ptr<uint8_t, void (*)(void *)> area((uint8_t *)malloc(len ? len : 1), free);
    if (!area || !read_at(s->image, offset, area.get(), len)) return 0;
    s->track_count = nrg_read_chunks(area.get(), len, s->tracks);
    return 1;
}

static int open_nero(cd_source *s, const char *path) {
    if (!open_image(s, path) || !read_nero_tracks(s) || s->track_count == 0 || s->tracks[0].audio) return 0;
    for (int i = 0; i < s->track_count; i++) fmt_cut(s->tracks[i].file, sizeof s->tracks[i].file, "%s", path);
    s->base_offset = s->tracks[0].file_offset;
    if (!probe_layouts(s, s->tracks[0].sector_size)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", path);
    fmt_cut(s->description, sizeof s->description, "Nero image %s (%d tracks)", path, s->track_count);
    return 1;
}

// A CloneCD or Alcohol image: the descriptor's track table, its data file, and the first track's
// sectors probed for the volume.
static int open_copier(cd_source *s, const char *path, int (*read_descriptor)(const char *, cd_track *, char *),
                       const char *kind) {
    char data[PATH_TEXT];
    s->track_count = read_descriptor(path, s->tracks, data);
    if (s->track_count == 0 || s->tracks[0].audio || !open_image(s, data)) return 0;
    s->base_offset = s->tracks[0].file_offset;
    if (!probe_layouts(s, s->tracks[0].sector_size)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", data);
    fmt_cut(s->description, sizeof s->description, "%s image %s (%d tracks)", kind, path, s->track_count);
    return 1;
}

// A plain image, or the data file of a cue sheet. A sheet that cannot be read, is too large to be
// one, or names no data file is tried as a plain image itself, which fails on text.
static int open_plain(cd_source *s, const char *path) {
    char data[PATH_TEXT] = "";
    const char *ext = strrchr(path, '.');
    if (ext && _stricmp(ext, ".cue") == 0) s->track_count = cue_read_sheet(path, s->tracks, data);
    const char *image = data[0] ? data : path;
    if (!open_image(s, image) || !probe_layouts(s, 0)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", image);
    fmt_cut(s->description, sizeof s->description, "image %s", image);
    return 1;
}

cd_source *cd_open(const char *path) {
    cd_source *s = cd_new();
    if (!s) return NULL;
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
    int opened;
    if (ext && _stricmp(ext, ".nrg") == 0)
        opened = open_nero(s, work);
    else if (ext && _stricmp(ext, ".ccd") == 0)
        opened = open_copier(s, work, ccd_read, "CloneCD");
    else if (ext && _stricmp(ext, ".mds") == 0)
        opened = open_copier(s, work, mds_read, "Alcohol");
    else
        opened = open_plain(s, work);
    if (opened) {
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

// The folder as a full path without trailing backslashes (a drive root keeps its own); 0 when it
// cannot be had whole.
static DWORD full_folder(const char *folder, char full[PATH_TEXT]) {
    DWORD n = GetFullPathNameA(folder, PATH_TEXT, full, NULL);
    if (n == 0 || n >= PATH_TEXT) return 0;
    while (n > 3 && full[n - 1] == '\\') full[--n] = 0;
    return n;
}

void cd_skip_folder(cd_source *s, const char *folder) {
    char full[PATH_TEXT];
    if (full_folder(folder, full)) fmt_cut(s->skip, sizeof s->skip, "%s", full);
}

// The folder that receives the copy is never entered: the copy would copy itself. The folders that
// hold it are CD content like any other.
static int is_skipped(const cd_source *s, const char *folder) {
    if (!s->skip[0]) return 0;
    char full[PATH_TEXT];
    return full_folder(folder, full) && _stricmp(s->skip, full) == 0;
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
    fmt_cut(to, sizeof to, "%s\\%s", j->dest, e->rel);
    if (copy_file(e->path, to, j->p)) return WALK_NEXT;
    SetFileAttributesA(to, FILE_ATTRIBUTE_NORMAL);  // a read-only file left by an earlier copy, say
    return WALK_STOP;
}

static walk_answer make_folder(void *user, const folder_entry *e) {
    const folder_job *j = (const folder_job *)user;
    if (!enters(j->s, e)) return WALK_NEXT;
    char to[PATH_TEXT];
    make_dirs(fmt_cut(to, sizeof to, "%s\\%s", j->dest, e->rel));
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
    if (s->is_image) return iso_total(s, s->root_lba, s->root_size, 0);
    folder_job j = {s, 0, NULL, NULL, NULL, 0};
    folder_visitor v = {add_size, enter_folder, NULL, NULL, &j};
    folder_walk(s->root, &v);
    return j.total;
}

int cd_copy_all(cd_source *s, const char *dest, progress *p) {
    if (s->is_image) return iso_copy(s, s->root_lba, s->root_size, dest, p, 0);
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
    if (track < 0 || track >= s->track_count || count < 0) return 0;
    const cd_track *t = &s->tracks[track];
    if (t->sector_size != RAW_SECTOR && t->sector_size != MDS_SUB_SECTOR) return 0;
    handle_guard h(CreateFileA(t->file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    if (!h.ok()) return 0;
    if (t->sector_size == RAW_SECTOR)
        return read_at(h.h, t->file_offset + (uint64_t)first * RAW_SECTOR, buf, (uint32_t)count * RAW_SECTOR);
    // Sectors followed by their subchannel: the 2352 bytes of each, one read a sector.
    for (int i = 0; i < count; i++)
        if (!read_at(h.h, t->file_offset + (uint64_t)(first + i) * MDS_SUB_SECTOR, (uint8_t *)buf + (size_t)i * RAW_SECTOR,
                     RAW_SECTOR))
            return 0;
    return 1;
}

int cd_track_file_ok(cd_source *s, int track) {
    if (track < 0 || track >= s->track_count) return 0;
    handle_guard h(CreateFileA(s->tracks[track].file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    return h.ok();
}
