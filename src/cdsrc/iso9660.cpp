#include "iso9660.h"

#include <stdlib.h>
#include <string.h>

#include "../util/handles.h"

int probe(cd_source *s, uint32_t sector_size, uint32_t data_offset) {
    s->sector_size = sector_size;
    s->data_offset = data_offset;
    uint8_t pvd[ISO_SECTOR];
    if (!read_sectors(s, 16, 1, pvd)) return 0;
    return iso_read_pvd(pvd, &s->root_lba, &s->root_size);
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

static int read_image(void *ctx, uint32_t first, uint32_t count, void *buf) {
    return read_sectors((cd_source *)ctx, first, count, buf);
}

// The walks see the image through read_sectors; an extent that would end past the image file is
// refused before its buffer is allocated.
static iso_volume volume_of(cd_source *s) {
    uint64_t room = s->image_size > s->base_offset ? s->image_size - s->base_offset : 0;
    iso_volume v = {read_image, s, s->sector_size ? room / s->sector_size : 0, s->root_lba, s->root_size};
    return v;
}

iso_entry *iso_dir(cd_source *s, uint32_t lba, uint32_t len, int *count) {
    iso_volume v = volume_of(s);
    return iso_vol_dir(&v, lba, len, count);
}

int iso_find(cd_source *s, const char *path, iso_entry *out) {
    iso_volume v = volume_of(s);
    return iso_vol_find(&v, path, out);
}

uint64_t iso_total(cd_source *s, uint32_t lba, uint32_t len, int depth) {
    iso_volume v = volume_of(s);
    return iso_vol_total(&v, lba, len, depth);
}

void iso_list(cd_source *s, const cd_lister *l) {
    iso_volume v = volume_of(s);
    iso_vol_list(&v, l);
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

static int copy_walk(cd_source *s, const iso_volume *v, uint32_t lba, uint32_t len, const char *name,
                     const char *dest, progress *p, int depth, iso_entered *entered) {
    int count, readable;
    iso_entry *list = iso_listing(v, lba, len, &count, &readable);
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
            if (depth < MAX_DEPTH && iso_enter(entered, e->lba, e->size))
                ok = copy_walk(s, v, e->lba, e->size, e->name, path, p, depth + 1, entered);
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
        while (ok && iso_next_part(list, count, i)) ok = copy_extent(s, out.h, &list[++i], p);
    }
    free(list);
    return ok;
}

int iso_copy(cd_source *s, uint32_t lba, uint32_t len, const char *dest, progress *p, int depth) {
    iso_volume v = volume_of(s);
    iso_entered entered;
    iso_enter(&entered, lba, len);
    return copy_walk(s, &v, lba, len, "the root directory", dest, p, depth, &entered);
}
