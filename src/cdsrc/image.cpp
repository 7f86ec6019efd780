// The image half of the disc source: an image file opened in whichever form it comes, its ISO 9660
// volume found in its data track, the walks of iso9660.h over its sectors, and the reads of its
// audio tracks, raw or decoded from a cue sheet's audio files (audio_stream.h). The copy's files are
// written to disk here (the walks' sink).
#include "cdsrc/image.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "cdsrc/audio_stream.h"
#include "cdsrc/chd_cd.h"
#include "cdsrc/descriptors.h"
#include "cdsrc/nrg.h"
#include "util/handles.h"
#include "util/checked.h"
#include "util/paths.h"

static int open_image_file(cd_source *s, const char *path) {
    s->image = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (s->image == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(s->image, &size)) return 0;
    s->image_size = (uint64_t)size.QuadPart;
    return 1;
}

// One seek and one 2048-byte read per sector, whatever the layout. A CHD's sectors come from its
// image of 2352-byte sectors, a hunk decompressed once for all the sectors it holds.
static int read_sectors(cd_source *s, uint32_t first, uint32_t count, void *buf) {
    uint8_t *out = (uint8_t *)buf;
    for (uint32_t i = 0; i < count; i++) {
        uint64_t at = s->base_offset + (uint64_t)(uint32_t)(first + i) * s->sector_size + s->data_offset;
        uint8_t *to = out + (size_t)i * ISO_SECTOR;
        if (!(s->chd ? chd_cd_read(s->chd, at, to, ISO_SECTOR) : read_at(s->image, at, to, ISO_SECTOR))) return 0;
    }
    return 1;
}

static int probe(cd_source *s, uint32_t sector_size, uint32_t data_offset) {
    s->sector_size = sector_size;
    s->data_offset = data_offset;
    uint8_t pvd[ISO_SECTOR];
    if (!read_sectors(s, 16, 1, pvd)) return 0;
    return iso_read_pvd(pvd, &s->root_lba, &s->root_size);
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
    {RAW_SUB_SECTOR, 16, 0},  // the same with 96 bytes of subchannel after each sector (Alcohol)
    {RAW_SUB_SECTOR, 24, 0},
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
    if (!open_image_file(s, path) || !read_nero_tracks(s) || s->track_count == 0 || s->tracks[0].audio) return 0;
    for (int i = 0; i < s->track_count; i++) fmt_cut(s->tracks[i].file, sizeof s->tracks[i].file, "%s", path);
    s->base_offset = s->tracks[0].file_offset;
    if (!probe_layouts(s, s->tracks[0].sector_size)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", path);
    fmt_cut(s->description, sizeof s->description, "Nero image %s (%d tracks)", path, s->track_count);
    return 1;
}

// A CloneCD or Alcohol image: the descriptor's track table, its data file, and the first track's
// sectors probed for the volume.
static int open_copier(cd_source *s, const char *path, int (*read_table)(const char *, cd_track *, char *),
                       const char *kind) {
    char data[PATH_TEXT];
    s->track_count = read_table(path, s->tracks, data);
    if (s->track_count == 0 || s->tracks[0].audio || !open_image_file(s, data)) return 0;
    s->base_offset = s->tracks[0].file_offset;
    if (!probe_layouts(s, s->tracks[0].sector_size)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", data);
    fmt_cut(s->description, sizeof s->description, "%s image %s (%d tracks)", kind, path, s->track_count);
    return 1;
}

static int read_chd_file(void *ctx, uint64_t pos, void *buf, uint32_t len) {
    return read_at(((cd_source *)ctx)->image, pos, buf, len);
}

// A CHD image: its container and track table, then its data track probed as raw sectors (Mode 1,
// Mode 1 as user data, Mode 2 Form 1). A CHD that cannot be read says why.
static int open_chd(cd_source *s, const char *path) {
    if (!open_image_file(s, path)) return 0;
    chd_io io = {read_chd_file, s, s->image_size};
    char why[160];
    if (!chd_cd_open(&io, &s->chd, why, sizeof why)) {
        setup_log("cannot read %s: it %s", path, why);
        return 0;
    }
    s->track_count = chd_cd_tracks(s->chd, s->tracks);
    for (int i = 0; i < s->track_count; i++) fmt_cut(s->tracks[i].file, sizeof s->tracks[i].file, "%s", path);
    s->image_size = chd_cd_bytes(s->chd);
    if (s->tracks[0].audio || !probe_layouts(s, RAW_SECTOR)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", path);
    fmt_cut(s->description, sizeof s->description, "CHD image %s (%d tracks)", path, s->track_count);
    return 1;
}

// A plain image, or the data file of a cue sheet. A sheet that cannot be read, is too large to be
// one, or names no data file is tried as a plain image itself, which fails on text.
static int open_plain(cd_source *s, const char *path) {
    char data[PATH_TEXT] = "";
    const char *ext = strrchr(path, '.');
    if (ext && ascii_same(ext, ".cue")) s->track_count = cue_read_sheet(path, s->tracks, data);
    const char *image = data[0] ? data : path;
    if (!open_image_file(s, image) || !probe_layouts(s, 0)) return 0;
    fmt_cut(s->root, sizeof s->root, "%s", image);
    fmt_cut(s->description, sizeof s->description, "image %s", image);
    return 1;
}

int image_open(cd_source *s, const char *path) {
    const char *ext = strrchr(path, '.');
    if (ext && ascii_same(ext, ".nrg")) return open_nero(s, path);
    if (ext && ascii_same(ext, ".ccd")) return open_copier(s, path, ccd_read, "CloneCD");
    if (ext && ascii_same(ext, ".mds")) return open_copier(s, path, mds_read, "Alcohol");
    if (ext && ascii_same(ext, ".chd")) return open_chd(s, path);
    return open_plain(s, path);
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

int iso_find(cd_source *s, const char *path, iso_entry *out) {
    iso_volume v = volume_of(s);
    return iso_vol_find(&v, path, out);
}

uint64_t iso_total(cd_source *s) {
    iso_volume v = volume_of(s);
    return iso_vol_total(&v, s->root_lba, s->root_size, 0);
}

int iso_list(cd_source *s, const cd_lister *l) {
    iso_volume v = volume_of(s);
    return iso_vol_list(&v, l);
}

static void disk_make_dir(void *, const char *path) { make_dirs(path); }

// The copy's failures are the install's: each notes the system's reason for its ERROR line.
static void *disk_create(void *, const char *path) {
    HANDLE h = create_checked(path, 0);
    if (h != INVALID_HANDLE_VALUE) return h;
    note_reason(GetLastError());
    return NULL;
}

static int disk_write(void *, void *file, const void *data, uint32_t len) {
    DWORD put = 0;
    BOOL wrote = WriteFile((HANDLE)file, data, len, &put, NULL);
    if (wrote && put == len) return 1;
    note_reason(wrote ? ERROR_DISK_FULL : GetLastError());
    return 0;
}

static int disk_close(void *, void *file) {
    if (CloseHandle((HANDLE)file)) return 1;
    note_reason(GetLastError());
    return 0;
}

int iso_copy(cd_source *s, const char *dest, progress *p) {
    iso_volume v = volume_of(s);
    iso_sink disk = {disk_make_dir, disk_create, disk_write, disk_close, NULL};
    return iso_vol_copy(&v, s->root_lba, s->root_size, 0, dest, &disk, p);
}

void *iso_read(cd_source *s, const char *path, uint64_t *size) {
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

// The decoder of a track's file: the open one when it decodes that file, kept from one read to the
// next and across the tracks of one file, so that the file is decoded once, front to back. A file
// whose length is not the one the track table was made with is refused: it changed since, or it
// could not be measured then (its tracks' sectors were counted from nothing).
static audio_stream *stream_for(cd_source *s, const cd_track *t) {
    if (s->audio && audio_is(s->audio, t->file)) return s->audio;
    audio_close(s->audio);
    s->audio = audio_open(t->file, t->kind);
    if (s->audio && audio_bytes_of(s->audio) != t->file_bytes) {
        setup_log("cannot decode %s", t->file);
        audio_close(s->audio);
        s->audio = NULL;
    }
    return s->audio;
}

int image_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf) {
    if (count < 0) return 0;
    const cd_track *t = &s->tracks[track];
    if (t->kind == TRACK_MISSING) return 0;
    if (t->kind == TRACK_CHD)
        return s->chd &&
               chd_cd_read(s->chd, t->file_offset + (uint64_t)first * RAW_SECTOR, buf, (uint32_t)count * RAW_SECTOR);
    if (track_decoded(t->kind)) {
        audio_stream *a = t->audio ? stream_for(s, t) : NULL;
        return a && audio_read(a, t->file_offset / RAW_SECTOR + first, (uint32_t)count, buf);
    }
    if (t->sector_size != RAW_SECTOR && t->sector_size != RAW_SUB_SECTOR) return 0;
    handle_guard h(CreateFileA(t->file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    if (!h.ok()) return 0;
    if (t->sector_size == RAW_SECTOR)
        return read_at(h.h, t->file_offset + (uint64_t)first * RAW_SECTOR, buf, (uint32_t)count * RAW_SECTOR);
    // Sectors followed by their subchannel: the 2352 bytes of each, one read a sector.
    for (int i = 0; i < count; i++)
        if (!read_at(h.h, t->file_offset + (uint64_t)(first + i) * RAW_SUB_SECTOR, (uint8_t *)buf + (size_t)i * RAW_SECTOR,
                     RAW_SECTOR))
            return 0;
    return 1;
}

int image_track_ready(cd_source *s, int track) {
    const cd_track *t = &s->tracks[track];
    // A file that could not be read when the sheet was: its track has no sectors in the table
    // (that it can be read now does not give them back).
    if (t->kind == TRACK_MISSING) return 0;
    if (t->kind == TRACK_CHD) return s->chd != NULL;
    if (track_decoded(t->kind)) return stream_for(s, t) != NULL;
    handle_guard h(CreateFileA(t->file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    return h.ok();
}
