// The descriptor files of images, read from disk (descriptors.cpp): a cue sheet with the kinds and
// lengths of the files it names (audio_stream.h), a CloneCD control file (.ccd) with the .img (or
// .bin) of the same name beside it, and an Alcohol media descriptor (.mds) with the data file it
// names.
#pragma once
#include "cdsrc/ccd.h"
#include "cdsrc/cue.h"
#include "cdsrc/mds.h"

// Each fills tracks (room for MAX_TRACKS) and returns the track count; 0 (no tracks) when the file
// cannot be read, is too large to be one, or is refused. data_file (PATH_TEXT bytes) receives the
// path of the file that holds the data track, or the empty text.
int cue_read_sheet(const char *sheet, cd_track *tracks, char *data_file);
// Every track's file is set to the data file; a missing data file is named in the log.
int ccd_read(const char *ccd, cd_track *tracks, char *data_file);
int mds_read(const char *mds, cd_track *tracks, char *data_file);
