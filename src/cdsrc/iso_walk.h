// ISO 9660 directory walks over any sector reader: the image file in the setup (iso9660.cpp), a
// block of memory in a fuzzer. No platform calls, so it also builds natively.
#pragma once
#include <stdint.h>

#include <map>

#include "iso_records.h"

enum {
    MAX_DEPTH = 16,       // walks do not enter the subfolders of a folder at this depth (the root is 0)
    WALK_PATH_TEXT = 520, // PATH_TEXT, which lives beside windows.h (util/state.h)
};

// Where a walk reads the volume. read fills buf with count 2048-byte user-data blocks from volume
// sector first and returns 1 when all were read. An extent that does not end within the first
// sectors sectors is refused before its buffer is allocated.
struct iso_volume {
    int (*read)(void *ctx, uint32_t first, uint32_t count, void *buf);
    void *ctx;
    uint64_t sectors;
    uint32_t root_lba, root_size;
};

// Primary volume descriptor (volume sector 16): [0] type 1, [1..5] "CD001", root directory record
// at 156 with its extent at 158 and its length at 166 (LE). 1 with the root's extent when it is one.
int iso_read_pvd(const uint8_t *pvd, uint32_t *root_lba, uint32_t *root_size);

// One directory's entries; *readable is 0 when its data could not be read (count 0 then too), so
// that callers can tell an unreadable directory from an empty one. Null when memory runs out.
iso_entry *iso_listing(const iso_volume *v, uint32_t lba, uint32_t len, int *count, int *readable);

// The directory extents one walk has entered, as sector ranges [first, end) that never overlap.
struct iso_entered {
    std::map<uint32_t, uint64_t> ranges;
};
// 1 when a directory at lba of len bytes may be entered, which marks its extent entered; 0 when it
// shares a sector with an extent entered before (an extent of length 0 counts as its first sector).
int iso_enter(iso_entered *e, uint32_t lba, uint32_t len);

// 1 when entry i + 1 of a listing is the next part of the multi-extent file at i: a file record of
// the same name. A folder of that name is a folder of its own, which the size total enters too.
int iso_next_part(const iso_entry *list, int count, int i);

// iso_dir, iso_find and iso_total (iso9660.h) over a volume.
iso_entry *iso_vol_dir(const iso_volume *v, uint32_t lba, uint32_t len, int *count);
int iso_vol_find(const iso_volume *v, const char *path, iso_entry *out);
uint64_t iso_vol_total(const iso_volume *v, uint32_t lba, uint32_t len, int depth);

// Every directory and file of a source in the copy's order, with paths relative to its root.
struct cd_lister {
    void (*dir)(void *user, const char *rel);
    void (*file)(void *user, const char *rel, uint64_t size);
    void *user;
};
void iso_vol_list(const iso_volume *v, const cd_lister *l);
