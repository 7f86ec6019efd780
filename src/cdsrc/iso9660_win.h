// The ISO 9660 volume of an image source: the walks of iso9660.h over the image file's sectors.
#pragma once
#include "cdsrc.h"

int probe(cd_source *s, uint32_t sector_size, uint32_t data_offset);
int read_sectors(cd_source *s, uint32_t first, uint32_t count, void *buf);
// Never null but when memory runs out; count 0 for an empty or unreadable directory. The caller frees.
iso_entry *iso_dir(cd_source *s, uint32_t lba, uint32_t len, int *count);
int iso_find(cd_source *s, const char *path, iso_entry *out);
uint64_t iso_total(cd_source *s, uint32_t lba, uint32_t len, int depth);
int iso_copy(cd_source *s, uint32_t lba, uint32_t len, const char *dest, progress *p, int depth);
int iso_list(cd_source *s, const cd_lister *l);
