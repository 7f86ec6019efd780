// A CD kept in a CHD (chd.h): its tracks from the CD metadata and its sectors from the hunks. No
// platform headers.
//
// Each frame of the CHD is 2352 bytes of sector data and 96 of subcode (unit bytes 2448); a track
// of 2048- or 2336-byte sectors keeps them at the start of its frames, and audio is stored
// big-endian. Every track is followed by frames of padding up to a multiple of 4. The metadata
// gives one entry a track, in order:
//   "CHT2" text  TRACK:n TYPE:t SUBTYPE:s FRAMES:n PREGAP:n PGTYPE:t PGSUB:s POSTGAP:n
//                (a PGTYPE that starts with 'V' says the pregap's frames are stored, at the
//                start of the track's FRAMES)
//   "CHTR" text  TRACK:n TYPE:t SUBTYPE:s FRAMES:n
//   "CHCD" one binary entry (big-endian): track count, then per track type, subtype, data bytes,
//                subcode bytes, frames, padding frames (4 bytes each; types MODE1 0, MODE1_RAW 1,
//                MODE2 2, FORM1 3, FORM2 4, FORM_MIX 5, MODE2_RAW 6, AUDIO 7)
//
// The reader shows the CD as one image of 2352-byte sectors laid out as the single BIN of the cue
// sheet that chdman's extractcd writes: the tracks' frames one after the other without padding,
// audio little-endian, and a track of shorter sectors with its bytes at the start of each sector.
// A track runs from its INDEX 01 (its first frame, or the one after a stored pregap) to the next
// track's INDEX 01, as that sheet's tracks do.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/chd.h"
#include "cdsrc/tracks.h"

struct chd_cd;

// Opens the CHD and reads its track table. 0 with the reason in why when it cannot be read, holds
// no CD, or the CD is of no form that is read; *out is then null.
int chd_cd_open(const chd_io *io, chd_cd **out, char *why, size_t why_size);
void chd_cd_close(chd_cd *cd);

// The track table (at most TRACK_LIMIT entries): number, audio, start_lba and sectors as the
// extracted sheet gives them, file_offset where the track's INDEX 01 lies in the image of 2352-byte
// sectors, sector_size RAW_SECTOR and kind TRACK_CHD; file is left to the caller. Returns the count.
int chd_cd_tracks(const chd_cd *cd, cd_track *tracks);

// Bytes of that image.
uint64_t chd_cd_bytes(const chd_cd *cd);

// len bytes of that image from pos. 1 when all of them could be read from hunks that match their
// CRC.
int chd_cd_read(chd_cd *cd, uint64_t pos, void *buf, uint32_t len);
