#include "cdsrc/iso9660.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "util/bytes.h"
#include "util/paths.h"
#include "util/text.h"

// An identifier of up to 255 bytes converted from an 8-bit code page: three bytes each at most.
enum { ISO_ID_TEXT = 3 * 255 + 1 };

// The identifier up to its ";version", in the process's code page (text_from_disc: one written in
// an 8-bit code page is converted), cut to ISO_NAME_MAX bytes between characters, less one final
// '.'. One that cannot be converted gives the empty name, which no walk takes.
static void record_name(const uint8_t *id, uint32_t idlen, char *name) {
    uint32_t n = 0;
    while (n < idlen && id[n] != ';') n++;
    char text[ISO_ID_TEXT];
    size_t len = text_from_disc((const char *)id, n, text, sizeof text) ? strlen(text) : 0;
    len = text_whole(text, len < (size_t)ISO_NAME_MAX ? len : (size_t)ISO_NAME_MAX);
    if (len > 0 && text[len - 1] == '.') len--;
    memcpy(name, text, len);
    name[len] = 0;
}

iso_entry *iso_parse_dir(const uint8_t *data, uint32_t len, int *count) {
    int room = 64, n = 0;
    iso_entry *list = (iso_entry *)malloc(room * sizeof *list);
    *count = 0;
    if (!list) return NULL;
    uint32_t pos = 0;
    while (pos < len) {
        uint32_t reclen = data[pos];
        if (reclen == 0) {
            pos = (pos / ISO_SECTOR + 1) * ISO_SECTOR;
            continue;
        }
        // Damage ends the directory: a record too short for its fixed part, one that runs past the
        // directory's data, or an identifier that runs past its record.
        if (reclen < ISO_RECORD_MIN || reclen > len - pos) break;
        const uint8_t *r = data + pos;
        uint32_t idlen = r[32];
        if (33 + idlen > reclen) break;
        pos += reclen;
        if (idlen == 1 && (r[33] == 0 || r[33] == 1)) continue;  // the directory itself and its parent
        if (n == room) {
            iso_entry *bigger = (iso_entry *)realloc(list, 2 * room * sizeof *list);
            if (!bigger) break;
            list = bigger;
            room *= 2;
        }
        iso_entry *e = &list[n++];
        memset(e, 0, sizeof *e);
        record_name(r + 33, idlen, e->name);
        e->lba = le32(r + 2);
        e->size = le32(r + 10);
        e->directory = (r[25] & ISO_FLAG_DIRECTORY) ? 1 : 0;
        e->continued = (r[25] & ISO_FLAG_MULTI_EXTENT) ? 1 : 0;
    }
    *count = n;
    return list;
}

int iso_read_pvd(const uint8_t *pvd, uint32_t *root_lba, uint32_t *root_size) {
    if (pvd[0] != 1 || memcmp(pvd + 1, "CD001", 5) != 0) return 0;
    *root_lba = le32(pvd + 158);
    *root_size = le32(pvd + 166);
    return 1;
}

// A directory's data must be of sane size and lie inside the image, or it is not read at all:
// a damaged length would otherwise allocate up to 4 GiB.
static int extent_in_volume(const iso_volume *v, uint32_t lba, uint32_t len) {
    if (len > ISO_DIR_MAX) return 0;
    return (uint64_t)lba + iso_sectors(len) <= v->sectors;
}

static iso_entry *read_dir(const iso_volume *v, uint32_t lba, uint32_t len, int *count) {
    *count = 0;
    if (!extent_in_volume(v, lba, len)) return NULL;
    uint32_t secs = iso_sectors(len);
    uint8_t *data = (uint8_t *)malloc((size_t)secs * ISO_SECTOR + 1);
    if (!data) return NULL;
    iso_entry *list = v->read(v->ctx, lba, secs, data) ? iso_parse_dir(data, len, count) : NULL;
    free(data);
    return list;
}

iso_entry *iso_vol_dir(const iso_volume *v, uint32_t lba, uint32_t len, int *count, int *readable) {
    iso_entry *list = read_dir(v, lba, len, count);
    *readable = list != NULL;
    return list ? list : (iso_entry *)calloc(1, sizeof(iso_entry));
}

int iso_vol_find(const iso_volume *v, const char *path, iso_entry *out) {
    if (!*path) return 1;  // the root directory; out is not written
    uint32_t lba = v->root_lba, len = v->root_size;
    const char *p = path;
    while (*p) {
        char part[ISO_NAME_MAX + 1];
        size_t n = 0;
        while (*p && *p != '\\' && *p != '/' && n < ISO_NAME_MAX) part[n++] = *p++;
        part[n] = 0;
        while (*p == '\\' || *p == '/') p++;
        int count;
        iso_entry *list = read_dir(v, lba, len, &count);
        int found = -1;
        for (int i = 0; i < count && found < 0; i++)
            if (ascii_same(list[i].name, part)) found = i;
        if (found >= 0) *out = list[found];
        free(list);
        if (found < 0) return 0;
        if (*p) {
            if (!out->directory) return 0;
            lba = out->lba;
            len = out->size;
        }
    }
    return 1;
}

// The directory extents one walk has entered, as sector ranges [first, end) that never overlap.
typedef std::map<uint32_t, uint64_t> entered_ranges;

// 1 when a directory at lba of len bytes may be entered, which marks its extent entered; 0 when it
// shares a sector with an extent entered before (an extent of length 0 counts as its first sector).
static int enter(entered_ranges *r, uint32_t lba, uint32_t len) {
    uint32_t secs = iso_sectors(len);
    uint64_t end = (uint64_t)lba + (secs ? secs : 1);
    auto next = r->lower_bound(lba);  // the first range that starts at lba or later
    if (next != r->end() && next->first < end) return 0;
    if (next != r->begin() && std::prev(next)->second > lba) return 0;
    r->emplace_hint(next, lba, end);
    return 1;
}

// 1 when entry i + 1 of a listing is the next part of the multi-extent file at i: a file record of
// the same name. A folder of that name is a folder of its own, which the walk enters too.
static int next_part(const iso_entry *list, int count, int i) {
    return list[i].continued && i + 1 < count && !list[i + 1].directory && strcmp(list[i + 1].name, list[i].name) == 0;
}

// A name as the file system tells names apart: ASCII letters in upper case, and without the
// trailing dots and blanks that Windows drops ("A." and "a " open the file "A").
static std::string name_key(const char *name) {
    std::string k(name);
    while (!k.empty() && (k.back() == '.' || k.back() == ' ')) k.pop_back();
    for (char &c : k)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return k;
}

struct walk_state {
    const iso_volume *v;
    const iso_visitor *vis;
    entered_ranges entered;
    std::set<std::string> files;  // keys of the file paths handed out
};

// Every walk reads each sector of directory data once at most: directories that point back at an
// ancestor, entries sharing one extent, or extents that overlap (each starting a sector further
// into the same data) would otherwise make a walk endless, or read a small image's directories
// over and over (a 4 MiB image: 4 GiB of reads, growing with the square of its size).
static int walk_dir(walk_state *w, uint32_t lba, uint32_t len, const char *name, const char *rel,
                    const std::string &key, int depth) {
    const iso_visitor *vis = w->vis;
    int count, readable;
    iso_entry *list = iso_vol_dir(w->v, lba, len, &count, &readable);
    std::unique_ptr<iso_entry, void (*)(void *)> owner(list, free);  // freed when the walk unwinds too
    int go = readable || !vis->unreadable || vis->unreadable(vis->user, name);
    for (int i = 0; i < count && go; i++) {
        const iso_entry *e = &list[i];
        int first = i;
        if (!e->directory)
            while (next_part(list, count, i)) i++;
        if (!name_is_safe(e->name)) continue;
        char path[PATH_TEXT];
        if (!path_join(path, sizeof path, rel, e->name)) continue;  // a cut path names another file
        std::string sub = key + "\\" + name_key(e->name);
        if (!e->directory) {
            // Two records that name one file on disk would write it twice: the first one stands.
            if (w->files.insert(sub).second && vis->file) go = vis->file(vis->user, path, e, i - first + 1);
        } else if (depth < MAX_DEPTH && enter(&w->entered, e->lba, e->size)) {
            go = (!vis->folder || vis->folder(vis->user, path)) &&
                 walk_dir(w, e->lba, e->size, e->name, path, sub, depth + 1);
        }
    }
    return go;
}

int iso_walk(const iso_volume *v, uint32_t lba, uint32_t len, int depth, const iso_visitor *vis) {
    // The walk's bookkeeping (the extents entered, the file names handed out) grows with the volume;
    // when memory runs out, the walk ends as a failed one instead of ending the program.
    try {
        walk_state w;
        w.v = v;
        w.vis = vis;
        enter(&w.entered, lba, len);
        return walk_dir(&w, lba, len, "the root directory", "", "", depth);
    } catch (const std::bad_alloc &) {
        setup_log("ERROR: %s", "not enough memory to read the CD's folders");
        return 0;
    }
}

static int add_file(void *sum, const char *, const iso_entry *parts, int count) {
    for (int i = 0; i < count; i++) *(uint64_t *)sum += parts[i].size;
    return 1;
}

uint64_t iso_vol_total(const iso_volume *v, uint32_t lba, uint32_t len, int depth) {
    uint64_t sum = 0;
    iso_visitor vis = {NULL, NULL, add_file, &sum};
    iso_walk(v, lba, len, depth, &vis);
    return sum;
}

struct list_job {
    const cd_lister *l;
    int whole;
};

static int list_folder(void *user, const char *rel) {
    const cd_lister *l = ((const list_job *)user)->l;
    l->dir(l->user, rel);
    return 1;
}

static int list_file(void *user, const char *rel, const iso_entry *parts, int count) {
    const cd_lister *l = ((const list_job *)user)->l;
    uint64_t size = 0;
    add_file(&size, rel, parts, count);
    l->file(l->user, rel, size);
    return 1;
}

// A folder that cannot be read is named, and the listing goes on without it.
static int list_unreadable(void *user, const char *name) {
    setup_log("read error in %s", name);
    ((list_job *)user)->whole = 0;
    return 1;
}

int iso_vol_list(const iso_volume *v, const cd_lister *l) {
    list_job j = {l, 1};
    iso_visitor vis = {list_folder, list_unreadable, list_file, &j};
    return iso_walk(v, v->root_lba, v->root_size, 0, &vis) && j.whole;
}

struct copy_job {
    const iso_volume *v;
    const iso_sink *sink;
    const char *dest;
    progress *p;
};

static int dest_path(const copy_job *c, const char *rel, char out[PATH_TEXT]) {
    return path_join(out, PATH_TEXT, c->dest, rel);
}

// A folder whose path does not fit is not made; a file in it is refused with its own message.
static int copy_folder(void *user, const char *rel) {
    const copy_job *c = (const copy_job *)user;
    char path[PATH_TEXT];
    if (dest_path(c, rel, path)) c->sink->make_dir(c->sink->ctx, path);
    return 1;
}

static int copy_unreadable(void *, const char *name) {
    setup_log("read error in %s", name);
    return 0;
}

// Appends one extent's data to the open file at path, ISO_COPY_SECTORS at a time.
static int copy_extent(const copy_job *c, void *out, const char *path, const iso_entry *e) {
    static uint8_t block[ISO_COPY_SECTORS * ISO_SECTOR];
    uint32_t left = e->size, next = e->lba;
    while (left > 0) {
        uint32_t n = iso_sectors(left);
        if (n > ISO_COPY_SECTORS) n = ISO_COPY_SECTORS;
        if (!c->v->read(c->v->ctx, next, n, block)) {
            setup_log("read error in %s", e->name);
            return 0;
        }
        uint32_t want = n * ISO_SECTOR < left ? n * ISO_SECTOR : left;
        if (!c->sink->write(c->sink->ctx, out, block, want)) {
            setup_log("cannot write %s", path);  // a full disk, say: the stage's ERROR line follows
            return 0;
        }
        left -= want;
        next += n;
        if (c->p) progress_add(c->p, want);
    }
    return 1;
}

static int copy_file_parts(void *user, const char *rel, const iso_entry *parts, int count) {
    const copy_job *c = (const copy_job *)user;
    char path[PATH_TEXT];
    if (!dest_path(c, rel, path)) {
        setup_log("cannot write %s\\%s", c->dest, rel);  // its path would not fit
        return 0;
    }
    void *out = c->sink->create(c->sink->ctx, path);
    if (!out) {
        setup_log("cannot write %s", path);
        return 0;
    }
    // The further parts of a multi-extent file go on where the previous part ended.
    int ok = 1;
    for (int i = 0; i < count && ok; i++) ok = copy_extent(c, out, path, &parts[i]);
    if (!c->sink->close(c->sink->ctx, out) && ok) {
        setup_log("cannot write %s", path);
        return 0;
    }
    return ok;
}

int iso_vol_copy(const iso_volume *v, uint32_t lba, uint32_t len, int depth, const char *dest,
                 const iso_sink *sink, progress *p) {
    copy_job c = {v, sink, dest, p};
    sink->make_dir(sink->ctx, dest);
    iso_visitor vis = {copy_folder, copy_unreadable, copy_file_parts, &c};
    return iso_walk(v, lba, len, depth, &vis);
}
