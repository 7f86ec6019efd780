// CloneCD control file (.ccd) to track table; no platform calls, so it also builds natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/tracks.h"

enum {
    CCD_MAX_BYTES = 1048576,  // a control file is a few KiB; anything larger is not one
    CCD_MAX_ENTRIES = 400,    // [Entry N] sections read: a full single-session TOC has 102
};

// Reads the control file's text (len bytes, no terminator needed) and fills tracks (room for
// MAX_TRACKS, at most TRACK_LIMIT used) for an image of img_size bytes: raw 2352-byte sectors from
// sector 0, the .img of the same name. Returns the number of tracks; 0 refuses the file.
//
// Lines end at CR or LF; "[Entry N]" starts a TOC entry whose keys (any letter case) are read:
//   Point=0x01 .. 0x63   a track;  Point=0xa2  the lead-out
//   ADR=1                positions (other ADRs are skipped);  Control  bit 2 set: a data track
//   PLBA=n               where the track starts, in sectors from the start of the image
// Values are decimal or 0x hexadecimal. Tracks are taken in the order of their points; a start
// that does not follow the one before refuses the file. A track runs to the next track's start,
// the last one to the lead-out, and none past the end of the image. Each track's file is left empty.
int ccd_parse(const char *text, size_t len, uint64_t img_size, cd_track *tracks);
