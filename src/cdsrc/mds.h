// Media descriptor file (.mds) to track table; no platform calls, so it also builds natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/tracks.h"

enum {
    MDS_MAX_BYTES = 1048576,  // a descriptor is a few KiB; anything larger is not one
};

// Reads the descriptor (len bytes) of a single-session CD and fills tracks (room for MAX_TRACKS, at
// most TRACK_LIMIT used). data_name (PATH_TEXT bytes) receives the data file's name as the
// descriptor gives it ("*.mdf" stands for the .mdf of the descriptor's own name). Returns the
// number of tracks; 0 refuses the descriptor. All numbers are little-endian:
//   header      [0..15] "MEDIA DESCRIPTOR", [20..21] sessions, [80..83] offset of the first session
//   session     [10] blocks, [20..23] offset of its blocks (24 bytes a session)
//   block       [0] mode (low half: 1 or 9 audio; 2, 3, 4 or A, B, C data; any other, Mode 2
//               Form 2 among them, refuses the descriptor), [4] point (1-99 a track; A0-A2 lead-in
//               entries, skipped), [12..15] offset of the extra block, [16..17] sector size (2048,
//               2352, or 2448 with subchannel), [36..39] start sector, [40..47] byte offset in the
//               data file, [52..55] offset of the footer (80 bytes a block)
//   extra       [4..7] sectors in the track
//   footer      [0..3] offset of the file name, [4..7] 1 when the name is UTF-16
// Every offset and count is checked against len; tracks are taken in the order of their points,
// each start after the one before. Each track's file is left empty.
int mds_parse(const uint8_t *d, size_t len, cd_track *tracks, char *data_name);
