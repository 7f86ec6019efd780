// The track table of a disc source: what the cue sheet and Nero readers fill and the CD audio
// extraction reads, and the sector sizes of disc images. No platform headers, so the readers that
// fill it build natively.
#pragma once
#include <stdint.h>

#include "../util/util.h"

enum {
    ISO_SECTOR = 2048,    // user data of a sector
    MODE2_SECTOR = 2336,  // a Mode 2 sector without sync and header
    RAW_SECTOR = 2352,    // a whole sector: sync, header and user data, or CD audio
    MAX_TRACKS = 100,
    TRACK_LIMIT = 99,
};

// The public head of a track-table entry, as cd_tracks hands it out.
struct track_info {
    int32_t number;
    int32_t audio;       // 1 for an audio track
    uint32_t start_lba;  // the track's INDEX 01 address, counted from 0
    uint32_t sectors;
};

struct cd_track {
    int32_t number;
    int32_t audio;
    uint32_t start_lba;
    uint32_t sectors;
    char file[PATH_TEXT];  // the file that holds the track's sectors
    uint64_t file_offset;  // byte position of the track's first sector in file
    uint32_t sector_size;  // bytes per sector of this track in file
};
