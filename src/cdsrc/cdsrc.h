// One view of the game CD, whatever form it comes in. The forms, and who reads them:
//   a folder or a drive: its files as its root folder                      cdsrc.cpp
//   a CD-ROM drive's disc: its table of contents and audio sectors         drive.h
//   a plain image: 2048-byte sectors, or raw 2352-byte ones (Mode 1, Mode 2 Form 1)   image.cpp
//   a cue sheet (.cue) with its BIN files, raw or 2048/2336-byte tracks,    cue.h
//     and audio tracks in WAV, FLAC, Ogg Vorbis, Opus or MP3 files          audio_stream.h
//   a Nero image (.nrg)                                                     nrg.h
//   a CloneCD image (.ccd with the .img, or .bin, of its name)              ccd.h
//   an Alcohol image (.mds with its data file; 2048-, 2352- or 2448-byte sectors)   mds.h
//   a CHD image (.chd, version 5), its hunks compressed or not                  chd_cd.h
// The images' descriptor files are read from disk by descriptors.h, their volumes through image.h
// by the walks of iso9660.h (a CHD's through chd_cd.h). Every form but a folder has a track table
// (tracks.h); a CD-ROM drive whose device answers a table of contents has one too. A cue sheet,
// Nero, CloneCD, Alcohol and CHD image, and a drive, also carry audio tracks. The forms as the player meets them (the
// picker's filter, the search beside the setup, the notice without music) are listed in forms.h.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "cdsrc/iso9660.h"
#include "cdsrc/tracks.h"
#include "util/util.h"

struct cd_source {
    int32_t is_image;
    char root[PATH_TEXT];  // folder source: the folder; image source: the image file
    HANDLE image;          // the image file; INVALID_HANDLE_VALUE for a folder source
    uint32_t sector_size;  // bytes per sector of the data track in the image file: 2048, 2352 or 2448
    uint32_t data_offset;  // where the 2048 bytes of user data begin inside a sector: 0, 16 or 24
    uint64_t base_offset;  // byte position of the data track's sector 0 (Nero, CloneCD, Alcohol)
    uint32_t root_lba;
    uint32_t root_size;
    char description[552];
    cd_track tracks[MAX_TRACKS];
    int32_t track_count;
    uint64_t image_size;     // bytes in the image file (a CHD: in its image of 2352-byte sectors):
                             // reads beyond it are refused before allocating
    char skip[PATH_TEXT];    // full path of a folder that folder walks never enter (the copy's destination)
    struct audio_stream *audio;  // the decoder of the audio file last read, kept open for the next read
    struct chd_cd *chd;  // a CHD image: image is its file, and the sectors come from its hunks
    HANDLE drive;            // a CD-ROM drive's device, when it gave the track table; else INVALID_HANDLE_VALUE
    uint32_t drive_block;    // most sectors one raw read of the drive asks for (drive.h)
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
// count whole 2352-byte sectors of an audio track (index in the table) from its sector first on,
// into buf (2-byte aligned). A track of an audio file is decoded (audio_stream.h), best read front
// to back: its decoder stays open between reads.
int cd_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf);
// 1 when the track's (index in the table) sectors can be had: for a drive's track, when its device
// is open; else its file opens and, for an audio file, a decoder starts on it ("cannot read %s" or
// "cannot decode %s" is logged when not).
int cd_track_ready(cd_source *s, int track);

// Folder walks (total, copy and listing) never enter this folder: a CD copied into the install
// folder must not copy itself. The folders that hold it are CD content and are entered.
void cd_skip_folder(cd_source *s, const char *folder);

// Every directory and file of the source through the lister (iso9660.h), in the copy's order. 1
// when every folder could be read; one that cannot is named in the log and left out.
int cd_list(cd_source *s, const cd_lister *l);
