// The branches of cd_open for the forms that carry a track table.
#pragma once
#include "cdsrc.h"

// Opens the image file at path as the source's image and reads its size. 0 when it cannot be opened.
int cd_open_image_file(cd_source *s, const char *path);

// Cue sheet: fills the track table and replaces path (PATH_TEXT bytes) by the sheet's first data file.
void cue_read_sheet(cd_source *s, char *path);

// Nero image: the finished source, or null with the record freed and every file closed.
cd_source *nrg_open(cd_source *s, const char *path);
