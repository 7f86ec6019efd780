// The track table of a disc source: what the cue sheet and Nero readers fill and the CD audio
// extraction reads. No platform headers, so the readers that fill it build natively.
#pragma once
#include <stdint.h>

enum { ISO_SECTOR = 2048, RAW_SECTOR = 2352, MAX_TRACKS = 100, TRACK_LIMIT = 99 };
enum { TRACK_FILE_TEXT = 520 };  // PATH_TEXT, which lives beside windows.h (util/state.h)

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
    char file[TRACK_FILE_TEXT];  // the file that holds the track's sectors
    uint64_t file_offset;        // byte position of the track's first sector in file
    uint32_t sector_size;        // bytes per sector of this track in file
};
