// Nero image footer and chunk list; no platform calls, so it also builds natively. cd_open reads
// the footer and the area from the image it opened.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/tracks.h"

enum {
    NRG_FOOTER = 12,
    // Real chunk lists are a few hundred bytes to a few KiB (99 DAOX entries take 4 KiB, CD-TEXT a
    // few KiB more); a larger area comes from a damaged offset pointing back into the track data.
    NRG_AREA_MAX = 16 * 1024 * 1024,
    NRG_PREGAP = 150,  // the start_lba of a track is counted from the end of the first 2-second pregap
};

// Where the chunk area lies in a file of file_size bytes whose last 12 bytes are footer.
// Footer, all big-endian:  version 2: [0..3] "NER5", [4..11] 64-bit offset of the chunk list;
//                          version 1: [0..3] not read, [4..7] "NERO", [8..11] 32-bit offset.
// The area runs from the offset to the end of the file, footer included. 0 for an unknown footer,
// an offset outside the file, or an area larger than NRG_AREA_MAX.
int nrg_chunk_area(const uint8_t *footer, uint64_t file_size, uint64_t *offset, uint32_t *len);

// Walks the chunk area and fills tracks (room for MAX_TRACKS; at most TRACK_LIMIT are filled) from
// its "DAOX" and "DAOI" chunks; returns the number of tracks. The file of each track is left empty.
// Chunk: [0..3] id, [4..7] data length, then the data. "END!" ends the list.
// DAO chunk data: [20] number of its first track, track entries from byte 22, of 18 + 3w bytes
// (w = 8 for DAOX, 4 for DAOI): [12..13] sector size (0: skip the entry), [14] mode (7: audio),
// [18] index 0, [18+w] index 1, [18+2w] end, as w-byte file positions.
int nrg_read_chunks(const uint8_t *area, size_t len, cd_track *tracks);
