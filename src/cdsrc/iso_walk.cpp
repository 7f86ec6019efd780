#include "iso_walk.h"

#include <stdlib.h>
#include <string.h>

#include <iterator>

#include "../util/bytes.h"
#include "../util/util.h"
#include "tracks.h"

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

iso_entry *iso_listing(const iso_volume *v, uint32_t lba, uint32_t len, int *count, int *readable) {
    *count = 0;
    *readable = 0;
    if (!extent_in_volume(v, lba, len)) return NULL;
    uint32_t secs = iso_sectors(len);
    uint8_t *data = (uint8_t *)malloc((size_t)secs * ISO_SECTOR + 1);
    if (!data) return NULL;
    if (!v->read(v->ctx, lba, secs, data)) {
        free(data);
        return NULL;
    }
    iso_entry *list = iso_parse_dir(data, len, count);
    free(data);
    *readable = list != NULL;
    return list;
}

int iso_enter(iso_entered *e, uint32_t lba, uint32_t len) {
    uint32_t secs = iso_sectors(len);
    uint64_t end = (uint64_t)lba + (secs ? secs : 1);
    auto next = e->ranges.lower_bound(lba);  // the first range that starts at lba or later
    if (next != e->ranges.end() && next->first < end) return 0;
    if (next != e->ranges.begin() && std::prev(next)->second > lba) return 0;
    e->ranges.emplace_hint(next, lba, end);
    return 1;
}

int iso_next_part(const iso_entry *list, int count, int i) {
    return list[i].continued && i + 1 < count && !list[i + 1].directory && strcmp(list[i + 1].name, list[i].name) == 0;
}

iso_entry *iso_vol_dir(const iso_volume *v, uint32_t lba, uint32_t len, int *count) {
    int readable;
    iso_entry *list = iso_listing(v, lba, len, count, &readable);
    return list ? list : (iso_entry *)calloc(1, sizeof(iso_entry));
}

// Names on the CD are compared as the file system would: ASCII letters without regard to case.
static int same_name(const char *a, const char *b) {
    for (;; a++, b++) {
        int x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'a' && x <= 'z') x -= 'a' - 'A';
        if (y >= 'a' && y <= 'z') y -= 'a' - 'A';
        if (x != y) return 0;
        if (!x) return 1;
    }
}

int iso_vol_find(const iso_volume *v, const char *path, iso_entry *out) {
    if (!*path) return 1;  // the root directory; out is not written
    uint32_t lba = v->root_lba, len = v->root_size;
    const char *p = path;
    while (*p) {
        char part[64];
        size_t n = 0;
        while (*p && *p != '\\' && *p != '/' && n < 63) part[n++] = *p++;
        part[n] = 0;
        while (*p == '\\' || *p == '/') p++;
        int count;
        iso_entry *list = iso_vol_dir(v, lba, len, &count);
        int found = -1;
        for (int i = 0; i < count && found < 0; i++)
            if (same_name(list[i].name, part)) found = i;
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

// Every walk reads each sector of directory data once at most: directories that point back at an
// ancestor, entries sharing one extent, or extents that overlap (each starting a sector further
// into the same data) would otherwise make a walk endless, or read a small image's directories
// over and over (a 4 MiB image: 4 GiB of reads, growing with the square of its size).
static uint64_t total_walk(const iso_volume *v, uint32_t lba, uint32_t len, int depth, iso_entered *entered) {
    int count, readable;
    iso_entry *list = iso_listing(v, lba, len, &count, &readable);
    uint64_t sum = 0;
    for (int i = 0; i < count; i++) {
        const iso_entry *e = &list[i];
        if (!name_is_safe(e->name)) continue;
        if (!e->directory)
            sum += e->size;
        else if (depth < MAX_DEPTH && iso_enter(entered, e->lba, e->size))
            sum += total_walk(v, e->lba, e->size, depth + 1, entered);
    }
    free(list);
    return sum;
}

uint64_t iso_vol_total(const iso_volume *v, uint32_t lba, uint32_t len, int depth) {
    iso_entered entered;
    iso_enter(&entered, lba, len);
    return total_walk(v, lba, len, depth, &entered);
}

static void list_walk(const iso_volume *v, uint32_t lba, uint32_t len, const char *rel, int depth,
                      iso_entered *entered, const cd_lister *l) {
    int count, readable;
    iso_entry *list = iso_listing(v, lba, len, &count, &readable);
    for (int i = 0; i < count; i++) {
        const iso_entry *e = &list[i];
        if (!name_is_safe(e->name)) continue;
        char path[WALK_PATH_TEXT];
        fmt_cut(path, sizeof path, "%s%s%s", rel, *rel ? "\\" : "", e->name);
        if (!e->directory) {
            uint64_t size = e->size;
            // The parts of a multi-extent file are one file.
            while (iso_next_part(list, count, i)) size += list[++i].size;
            l->file(l->user, path, size);
        } else if (depth < MAX_DEPTH && iso_enter(entered, e->lba, e->size)) {
            l->dir(l->user, path);
            list_walk(v, e->lba, e->size, path, depth + 1, entered, l);
        }
    }
    free(list);
}

void iso_vol_list(const iso_volume *v, const cd_lister *l) {
    iso_entered entered;
    iso_enter(&entered, v->root_lba, v->root_size);
    list_walk(v, v->root_lba, v->root_size, "", 0, &entered, l);
}
