// The disc copiers' descriptor files, read from disk: a CloneCD control file (.ccd) with the .img of
// the same name beside it, and an Alcohol media descriptor (.mds) with the data file it names.
#pragma once
#include "ccd.h"
#include "mds.h"

// Each fills tracks (room for MAX_TRACKS) with every track's file set to the data file, and returns
// the track count; 0 when the descriptor cannot be read, is too large to be one, or is refused.
// data_file (PATH_TEXT bytes) receives the path of the data file.
int ccd_read(const char *ccd, cd_track *tracks, char *data_file);
int mds_read(const char *mds, cd_track *tracks, char *data_file);
