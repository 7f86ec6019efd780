// Cue sheet text to track table; no platform calls, so it also builds natively. The sheet file
// itself is read by cue_win.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/tracks.h"

enum {
    CUE_MAX_BYTES = 1048576,  // a sheet is a few hundred lines; anything larger is not one
    CUE_FRAMES = 75,          // frames (sectors) per second of an mm:ss:ff position
};

// Size in bytes of the file at path. 1 when it is known, 0 when the file cannot be read.
typedef int (*cue_size_fn)(void *user, const char *path, uint64_t *size);

// Reads the sheet's text (len bytes, no terminator needed; a NUL byte ends the text) and fills
// tracks (room for MAX_TRACKS, at most TRACK_LIMIT used). Returns the number of tracks.
//
// Lines end at CR or LF; leading blanks and tabs are skipped, and a UTF-8 byte order mark before
// the first line; keywords match case-sensitively:
//   FILE "name" ...          name relative to the sheet's folder unless it starts with a drive
//                            ("X:\"); a name that is not UTF-8 is converted from the system's
//                            8-bit code page first (text_from_disc); a name that is not a local
//                            path (path_is_local) is missing
//   TRACK nn type            "AUDIO" anywhere marks audio; "/2048" or "/2336" sets the sector size
//   INDEX 01 mm:ss:ff        where the track's sectors start, counted in the file's sectors
// A track's start LBA counts the sectors of all earlier files; its length runs to the next
// track's INDEX 01 in the same file, or to the end of its file.
//
// data_file (PATH_TEXT bytes) receives the path of the first file named in double quotes
// on a FILE line, or the empty text when there is none: the file that holds the data track.
int cue_parse(const char *text, size_t len, const char *sheet_path, cue_size_fn size, void *user,
              cd_track *tracks, char *data_file);
