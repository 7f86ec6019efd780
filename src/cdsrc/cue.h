// Cue sheet text to track table; no platform calls, so it also builds natively. The sheet file
// itself, and the files it names, are read by descriptors.h.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/tracks.h"

enum {
    CUE_MAX_BYTES = 1048576,  // a sheet is a few hundred lines; anything larger is not one
    CUE_FRAMES = 75,          // frames (sectors) per second of an mm:ss:ff position
};

// What the reader needs of a file the sheet names (on disk: audio_measure, audio_stream.h).
struct cue_file {
    int32_t kind;    // track_kind by the file's content: TRACK_RAW for a file of no audio format
    uint64_t bytes;  // its size; an audio file's are those of its decoded sectors
};
// 1 when the file is there and can be read.
typedef int (*cue_file_fn)(void *user, const char *path, cue_file *out);

// Reads the sheet's text (len bytes, no terminator needed; a NUL byte ends the text) and fills
// tracks (room for MAX_TRACKS, at most TRACK_LIMIT used). Returns the number of tracks.
//
// Lines end at CR or LF; leading blanks and tabs are skipped, and a UTF-8 byte order mark before
// the first line; keywords match case-sensitively:
//   FILE "name" [type]       name relative to the sheet's folder unless it starts with a drive
//                            ("X:\"); a name that is not UTF-8 is converted from the system's
//                            8-bit code page first (text_from_disc); a name that is not a local
//                            path (path_is_local) is missing. What the file holds is its
//                            content's say (cue_file.kind); the type word, in any case, speaks
//                            only for a file of no audio format: BINARY, MOTOROLA or none for raw
//                            sectors, any other (WAVE, MP3, AIFF, ...) for audio that its audio
//                            tracks cannot be decoded from (TRACK_UNKNOWN)
//   TRACK nn type            "AUDIO" anywhere marks audio; "/2048" or "/2336" sets the sector size,
//                            except in an audio file, whose sectors are its decoded 2352 bytes
//   INDEX 01 mm:ss:ff        where the track's sectors start, counted in the file's sectors
// A track's start LBA counts the sectors of all earlier files; its length runs to the next
// track's INDEX 01 in the same file, or to the end of its file. An audio track without a file, or
// whose file cannot be read, is TRACK_MISSING, without sectors. A data track in such a file, or in
// an audio file, refuses the sheet (0 tracks, no data file): its sectors cannot be had.
//
// data_file (PATH_TEXT bytes) receives the path of the first file named in double quotes
// on a FILE line, or the empty text when there is none: the file that holds the data track.
int cue_parse(const char *text, size_t len, const char *sheet_path, cue_file_fn measure, void *user,
              cd_track *tracks, char *data_file);
