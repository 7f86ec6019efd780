// The track table of a disc source and the rules its readers and walks share: sector sizes, the
// depth limit of every walk, and the lister that hands out a source's tree. No platform headers, so
// the readers that fill it build natively. Which reader fills it for which form: cdsrc.h.
#pragma once
#include <stdint.h>

#include "util/util.h"

enum {
    ISO_SECTOR = 2048,      // user data of a sector
    MODE2_SECTOR = 2336,    // a Mode 2 sector without sync and header
    RAW_SECTOR = 2352,      // a whole sector: sync, header and user data, or CD audio
    RAW_SUB_SECTOR = 2448,  // a whole sector followed by its 96 bytes of subchannel
    MAX_TRACKS = 100,
    TRACK_LIMIT = 99,
    MAX_DEPTH = 16,  // walks do not enter the subfolders of a folder at this depth (the root is 0)
};

// The public head of a track-table entry, as cd_tracks hands it out.
struct track_info {
    int32_t number;
    int32_t audio;       // 1 for an audio track
    uint32_t start_lba;  // the track's INDEX 01 address, counted from 0
    uint32_t sectors;
};

// How a track's sectors are kept in its file. A raw file stores them; any other kind is a file whose
// sectors a decoder makes (the audio formats of a cue sheet, audio_stream.h): there file_offset
// counts in the decoded sectors, 2352 bytes each, and the file is read front to back.
enum track_kind {
    TRACK_RAW = 0,
    TRACK_WAV,      // RIFF WAVE, PCM or floating-point samples
    TRACK_FLAC,
    TRACK_VORBIS,   // Ogg Vorbis
    TRACK_OPUS,     // Ogg Opus
    TRACK_MP3,      // MPEG audio Layer III
    TRACK_UNKNOWN,  // an audio file of no format we decode: its sectors cannot be had
    TRACK_MISSING,  // no file, or one that could not be opened or read when the sheet was read
    TRACK_CHD,      // a CHD's hunks (chd_cd.h): file_offset counts in its image of 2352-byte sectors
    TRACK_KINDS
};

struct cd_track {
    int32_t number;
    int32_t audio;
    uint32_t start_lba;
    uint32_t sectors;
    char file[PATH_TEXT];  // the file that holds the track's sectors
    uint64_t file_offset;  // byte position of the track's first sector in file (decoded: in its sectors)
    uint32_t sector_size;  // bytes per sector of this track in file: 2048, 2336, 2352 or 2448
    int32_t kind;          // track_kind: TRACK_RAW for every form but a cue sheet's audio files and a CHD
    // A cue sheet's: the bytes of the file when the sheet was read (an audio file's decoded sectors'):
    // a decoder that finds other than these decodes another file, or could not measure this one.
    uint64_t file_bytes;
};

// 1 for a kind whose sectors a decoder makes (or would, for TRACK_UNKNOWN): 2352 bytes each, read front
// to back. A CHD's hunks are read where they lie (chd_cd.h).
static inline int track_decoded(int kind) {
    return kind != TRACK_RAW && kind != TRACK_MISSING && kind != TRACK_CHD;
}

// "raw", "wav", "flac", "vorbis", "opus", "mp3", "unknown", "missing" or "chd", as discinfo names
// the kinds.
const char *track_kind_name(int kind);

// Every directory and file of a source in the copy's order, with paths relative to its root.
struct cd_lister {
    void (*dir)(void *user, const char *rel);
    void (*file)(void *user, const char *rel, uint64_t size);
    void *user;
};
