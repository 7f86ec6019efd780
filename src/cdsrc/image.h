// The image half of the disc source (image.cpp): every form but a folder. The walks themselves are
// iso9660.h's; here they read the image file's sectors and write the copy to disk.
#pragma once
#include "cdsrc/cdsrc.h"

// Opens the image at path into s, by its extension: ".nrg" Nero, ".ccd" CloneCD, ".mds" Alcohol,
// ".chd" CHD, anything else a plain image or a cue sheet (".cue"). 1 when its data track holds a volume.
int image_open(cd_source *s, const char *path);
// The entry at path below the root (see iso_vol_find).
int iso_find(cd_source *s, const char *path, iso_entry *out);
// The whole file at path in a heap block with one spare byte; null when it is missing, a folder,
// or lies outside the image. The caller frees it.
void *iso_read(cd_source *s, const char *path, uint64_t *size);
uint64_t iso_total(cd_source *s);
int iso_copy(cd_source *s, const char *dest, progress *p);
int iso_list(cd_source *s, const cd_lister *l);
// Raw sectors of the track at index track (in range) from its file: cd_read_raw for an image.
int image_read_raw(cd_source *s, int track, uint32_t first, int count, void *buf);
// cd_track_ready for an image's track (index in range).
int image_track_ready(cd_source *s, int track);
