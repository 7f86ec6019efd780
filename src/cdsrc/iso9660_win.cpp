// The ISO 9660 volume of an image source: sectors read from the image file, and the copy's
// files written to disk. The walks themselves are iso9660.cpp.
#include <stdlib.h>

#include "iso9660_win.h"
#include "util/paths.h"

int probe(cd_source *s, uint32_t sector_size, uint32_t data_offset) {
    s->sector_size = sector_size;
    s->data_offset = data_offset;
    uint8_t pvd[ISO_SECTOR];
    if (!read_sectors(s, 16, 1, pvd)) return 0;
    return iso_read_pvd(pvd, &s->root_lba, &s->root_size);
}

// One seek and one 2048-byte read per sector, whatever the layout.
int read_sectors(cd_source *s, uint32_t first, uint32_t count, void *buf) {
    uint8_t *out = (uint8_t *)buf;
    for (uint32_t i = 0; i < count; i++) {
        uint64_t at = s->base_offset + (uint64_t)(uint32_t)(first + i) * s->sector_size + s->data_offset;
        if (!read_at(s->image, at, out + (size_t)i * ISO_SECTOR, ISO_SECTOR)) return 0;
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
    int readable;
    return iso_vol_dir(&v, lba, len, count, &readable);
}

int iso_find(cd_source *s, const char *path, iso_entry *out) {
    iso_volume v = volume_of(s);
    return iso_vol_find(&v, path, out);
}

uint64_t iso_total(cd_source *s, uint32_t lba, uint32_t len, int depth) {
    iso_volume v = volume_of(s);
    return iso_vol_total(&v, lba, len, depth);
}

int iso_list(cd_source *s, const cd_lister *l) {
    iso_volume v = volume_of(s);
    return iso_vol_list(&v, l);
}

static void disk_make_dir(void *, const char *path) { make_dirs(path); }

static void *disk_create(void *, const char *path) {
    HANDLE h = create_checked(path, 0);
    return h == INVALID_HANDLE_VALUE ? NULL : h;
}

static int disk_write(void *, void *file, const void *data, uint32_t len) {
    DWORD put = 0;
    return WriteFile((HANDLE)file, data, len, &put, NULL) && put == len;
}

static void disk_close(void *, void *file) { CloseHandle((HANDLE)file); }

int iso_copy(cd_source *s, uint32_t lba, uint32_t len, const char *dest, progress *p, int depth) {
    iso_volume v = volume_of(s);
    iso_sink disk = {disk_make_dir, disk_create, disk_write, disk_close, NULL};
    return iso_vol_copy(&v, lba, len, depth, dest, &disk, p);
}
