#include "iso9660.h"

#include <stdlib.h>
#include <string.h>

#include <unordered_set>

#include "../util/bytes.h"
#include "../util/handles.h"

int probe(cd_source *s, uint32_t sector_size, uint32_t data_offset) {
    s->sector_size = sector_size;
    s->data_offset = data_offset;
    uint8_t pvd[ISO_SECTOR];
    if (!read_sectors(s, 16, 1, pvd)) return 0;
    // Primary volume descriptor: type 1, "CD001", root directory record at 156 (extent 158, length 166).
    if (pvd[0] != 1 || memcmp(pvd + 1, "CD001", 5) != 0) return 0;
    s->root_lba = le32(pvd + 158);
    s->root_size = le32(pvd + 166);
    return 1;
}

int read_sectors(cd_source *s, uint32_t first, uint32_t count, void *buf) {
    uint8_t *out = (uint8_t *)buf;
    for (uint32_t i = 0; i < count; i++) {
        LARGE_INTEGER at;
        at.QuadPart = (LONGLONG)(s->base_offset + (uint64_t)(uint32_t)(first + i) * s->sector_size +
                                 s->data_offset);
        DWORD got = 0;
        if (!SetFilePointerEx(s->image, at, NULL, FILE_BEGIN)) return 0;
        if (!ReadFile(s->image, out + (size_t)i * ISO_SECTOR, ISO_SECTOR, &got, NULL) || got != ISO_SECTOR)
            return 0;
    }
    return 1;
}

// A directory's data must be of sane size and lie inside the image, or it is not read at all:
// a damaged length would otherwise allocate up to 4 GiB.
static int extent_in_image(cd_source *s, uint32_t lba, uint32_t len) {
    if (len > ISO_DIR_MAX) return 0;
    uint64_t end = s->base_offset + ((uint64_t)lba + iso_sectors(len)) * s->sector_size;
    return end <= s->image_size;
}

// Lists a directory; *readable tells an unreadable directory from an empty one.
static iso_entry *dir_listing(cd_source *s, uint32_t lba, uint32_t len, int *count, int *readable) {
    *count = 0;
    *readable = 0;
    if (!extent_in_image(s, lba, len)) return NULL;
    uint32_t secs = iso_sectors(len);
    uint8_t *data = (uint8_t *)malloc((size_t)secs * ISO_SECTOR + 1);
    if (!data) return NULL;
    if (!read_sectors(s, lba, secs, data)) {
        free(data);
        return NULL;
    }
    iso_entry *list = iso_parse_dir(data, len, count);
    free(data);
    *readable = list != NULL;
    return list;
}

iso_entry *iso_dir(cd_source *s, uint32_t lba, uint32_t len, int *count) {
    int readable;
    iso_entry *list = dir_listing(s, lba, len, count, &readable);
    return list ? list : (iso_entry *)calloc(1, sizeof(iso_entry));
}

int iso_find(cd_source *s, const char *path, iso_entry *out) {
    if (!*path) return 1;  // the root directory; out is not written
    uint32_t lba = s->root_lba, len = s->root_size;
    const char *p = path;
    while (*p) {
        char part[64];
        size_t n = 0;
        while (*p && *p != '\\' && *p != '/' && n < 63) part[n++] = *p++;
        part[n] = 0;
        while (*p == '\\' || *p == '/') p++;
        int count;
        iso_entry *list = iso_dir(s, lba, len, &count);
        int found = -1;
        for (int i = 0; i < count && found < 0; i++)
            if (_stricmp(list[i].name, part) == 0) found = i;
        if (found < 0) {
            free(list);
            return 0;
        }
        *out = list[found];
        free(list);
        if (*p) {
            if (!out->directory) return 0;
            lba = out->lba;
            len = out->size;
        }
    }
    return 1;
}

// Every walk enters each directory extent once: directories that point back at an ancestor, or
// many entries sharing one extent, would otherwise make the walk endless or exponential.
typedef std::unordered_set<uint32_t> extent_set;

static uint64_t total_walk(cd_source *s, uint32_t lba, uint32_t len, int depth, extent_set *entered) {
    int count, readable;
    iso_entry *list = dir_listing(s, lba, len, &count, &readable);
    uint64_t sum = 0;
    for (int i = 0; i < count; i++) {
        const iso_entry *e = &list[i];
        if (!name_is_safe(e->name)) continue;
        if (!e->directory)
            sum += e->size;
        else if (depth < MAX_DEPTH && entered->insert(e->lba).second)
            sum += total_walk(s, e->lba, e->size, depth + 1, entered);
    }
    free(list);
    return sum;
}

uint64_t iso_total(cd_source *s, uint32_t lba, uint32_t len, int depth) {
    extent_set entered;
    entered.insert(lba);
    return total_walk(s, lba, len, depth, &entered);
}

static void list_walk(cd_source *s, uint32_t lba, uint32_t len, const char *rel, int depth,
                      extent_set *entered, const cd_lister *l) {
    int count, readable;
    iso_entry *list = dir_listing(s, lba, len, &count, &readable);
    for (int i = 0; i < count; i++) {
        const iso_entry *e = &list[i];
        if (!name_is_safe(e->name)) continue;
        char path[PATH_TEXT];
        fmt_cut(path, sizeof path, "%s%s%s", rel, *rel ? "\\" : "", e->name);
        if (!e->directory) {
            uint64_t size = e->size;
            // The parts of a multi-extent file are one file.
            while (list[i].continued && i + 1 < count && strcmp(list[i + 1].name, e->name) == 0)
                size += list[++i].size;
            l->file(l->user, path, size);
        } else if (depth < MAX_DEPTH && entered->insert(e->lba).second) {
            l->dir(l->user, path);
            list_walk(s, e->lba, e->size, path, depth + 1, entered, l);
        }
    }
    free(list);
}

void iso_list(cd_source *s, const cd_lister *l) {
    extent_set entered;
    entered.insert(s->root_lba);
    list_walk(s, s->root_lba, s->root_size, "", 0, &entered, l);
}

// Appends one extent's data to an open file, 32 sectors at a time.
static int copy_extent(cd_source *s, HANDLE out, const iso_entry *e, progress *p) {
    static uint8_t block[ISO_COPY_SECTORS * ISO_SECTOR];
    uint32_t left = e->size, next = e->lba;
    while (left > 0) {
        uint32_t n = iso_sectors(left);
        if (n > ISO_COPY_SECTORS) n = ISO_COPY_SECTORS;
        if (!read_sectors(s, next, n, block)) {
            setup_log("read error in %s", e->name);
            return 0;
        }
        DWORD want = n * ISO_SECTOR < left ? n * ISO_SECTOR : left, put = 0;
        if (!WriteFile(out, block, want, &put, NULL) || put != want) return 0;
        left -= want;
        next += n;
        if (p) progress_add(p, want);
    }
    return 1;
}

static int copy_walk(cd_source *s, uint32_t lba, uint32_t len, const char *name, const char *dest,
                     progress *p, int depth, extent_set *entered) {
    int count, readable;
    iso_entry *list = dir_listing(s, lba, len, &count, &readable);
    make_dirs(dest);
    if (!readable) {
        free(list);
        setup_log("read error in %s", name);
        return 0;
    }
    int ok = 1;
    for (int i = 0; i < count && ok; i++) {
        const iso_entry *e = &list[i];
        if (!name_is_safe(e->name)) continue;
        char path[PATH_TEXT];
        fmt_cut(path, sizeof path, "%s\\%s", dest, e->name);
        if (e->directory) {
            if (depth < MAX_DEPTH && entered->insert(e->lba).second)
                ok = copy_walk(s, e->lba, e->size, e->name, path, p, depth + 1, entered);
            continue;
        }
        handle_guard out(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
        if (!out.ok()) {
            setup_log("cannot write %s", path);
            ok = 0;
            break;
        }
        ok = copy_extent(s, out.h, e, p);
        // The further parts of a multi-extent file go on where the previous part ended.
        while (ok && list[i].continued && i + 1 < count && strcmp(list[i + 1].name, e->name) == 0)
            ok = copy_extent(s, out.h, &list[++i], p);
    }
    free(list);
    return ok;
}

int iso_copy(cd_source *s, uint32_t lba, uint32_t len, const char *dest, progress *p, int depth) {
    extent_set entered;
    entered.insert(lba);
    return copy_walk(s, lba, len, "the root directory", dest, p, depth, &entered);
}
