// The cue sheet file: read from disk and parsed with the sizes of the files it names.
#pragma once
#include "cue.h"

// Fills tracks (room for MAX_TRACKS) and returns the track count, or 0 with no tracks when the
// sheet cannot be read or is too large to be one. data_file (PATH_TEXT bytes) receives the sheet's
// data file, or the empty text when it names none or was not read.
int cue_read_sheet(const char *sheet, cd_track *tracks, char *data_file);
