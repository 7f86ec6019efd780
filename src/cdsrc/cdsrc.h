// One view of the game CD, whatever form it comes in: a folder or drive, a plain image
// (2048-byte or raw 2352-byte sectors), a cue sheet with its BIN files, or a Nero image.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "../util/util.h"
#include "iso9660.h"
#include "tracks.h"

struct cd_source {
    int32_t is_image;
    char root[PATH_TEXT];  // folder source: the folder; image source: the image file
    HANDLE image;          // the image file; INVALID_HANDLE_VALUE for a folder source
    uint32_t sector_size;  // bytes per sector in the image file: 2048 or 2352 (Nero: the first track's)
    uint32_t data_offset;  // where the 2048 bytes of user data begin inside a sector: 0, 16 or 24
    uint64_t base_offset;  // byte position of the data track's sector 0 (nonzero only for Nero images)
    uint32_t root_lba;
    uint32_t root_size;
    char description[552];
    cd_track tracks[MAX_TRACKS];
    int32_t track_count;
    uint64_t image_size;     // bytes in the image file: reads beyond it are refused before allocating
    char skip[PATH_TEXT];    // full path of a folder that folder walks never enter (the copy's destination)
};

// An empty source: no image, no tracks, for a caller to fill; cd_close frees it. Null when memory
// runs out.
cd_source *cd_new(void);
cd_source *cd_open(const char *path);
void cd_close(cd_source *s);
const char *cd_describe(cd_source *s);
// The folder of a folder source or drive; null for an image.
const char *cd_folder(cd_source *s);
// Bytes in the image file that holds the data track; 0 for a folder source.
uint64_t cd_image_bytes(cd_source *s);

// Owns a source, as handle_guard owns a handle: closed on every path, never copied.
struct cd_guard {
    cd_source *s;
    explicit cd_guard(cd_source *v) : s(v) {}
    ~cd_guard() { close(); }
    cd_guard(const cd_guard &) = delete;
    void operator=(const cd_guard &) = delete;
    void close() {
        cd_close(s);
        s = NULL;
    }
};
int cd_exists(cd_source *s, const char *path);
void *cd_read(cd_source *s, const char *path, uint64_t *size);
uint64_t cd_total_bytes(cd_source *s);
int cd_copy_all(cd_source *s, const char *dest, progress *p);
int cd_tracks(cd_source *s, track_info *out, int capacity);
int cd_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf);
// 1 when the file that holds the track (index in the table) can be opened for reading.
int cd_track_file_ok(cd_source *s, int track);

// Folder walks (total, copy and listing) never enter this folder: a CD copied into the install
// folder must not copy itself. The folders that hold it are CD content and are entered.
void cd_skip_folder(cd_source *s, const char *folder);

// Every directory and file of the source through the lister (iso9660.h), in the copy's order. 1
// when every folder could be read; one that cannot is named in the log and left out.
int cd_list(cd_source *s, const cd_lister *l);
