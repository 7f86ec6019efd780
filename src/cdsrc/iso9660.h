// ISO 9660 volumes over any sector reader: the directory records, the one walk over the tree and
// its visitors (total, listing, copy). No platform calls, so it also builds natively. In the setup
// the volume's reads land in image.cpp (sectors of the image file) and the copy's sink writes files
// there (below the install folder, never through a link); in the fuzzer both are memory.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/tracks.h"

enum {
    ISO_NAME_MAX = 63,  // bytes of an entry's name: a longer identifier is cut, between characters
};

struct iso_entry {
    char name[ISO_NAME_MAX + 1];  // identifier without ";version" and without one final '.', in the
                                  // process's code page (util/text.h)
    uint32_t lba;      // first sector of the extent
    uint32_t size;     // data length in bytes
    int32_t directory; // 1 for a directory
    int32_t continued; // 1 when the multi-extent flag joins this record to the next of the same name
};

enum {
    ISO_RECORD_MIN = 34,                  // fixed part of a directory record with a 1-byte identifier
    ISO_DIR_MAX = 16 * 1024 * 1024,       // a directory's data beyond this is damage, not a real volume
    ISO_FLAG_DIRECTORY = 2,
    ISO_FLAG_MULTI_EXTENT = 0x80,
    ISO_COPY_SECTORS = 32, // the copy reads and writes files 64 KiB at a time
};

// Sectors needed for len bytes, without the overflow of (len + 2047) / 2048.
static inline uint32_t iso_sectors(uint32_t len) { return len / ISO_SECTOR + (len % ISO_SECTOR != 0); }

// Lists the records of one directory's data. Returns a heap array (the caller frees it, also when
// count is 0), or null with count 0 when memory runs out.
// Layout of a record: [0] length, [2..5] extent LBA (LE), [10..13] data length (LE), [25] flags,
// [32] identifier length, [33..] identifier. A zero length byte pads to the next 2048-byte sector.
iso_entry *iso_parse_dir(const uint8_t *data, uint32_t len, int *count);


// Primary volume descriptor (volume sector 16): [0] type 1, [1..5] "CD001", root directory record
// at 156 with its extent at 158 and its length at 166 (LE). 1 with the root's extent when it is one.
int iso_read_pvd(const uint8_t *pvd, uint32_t *root_lba, uint32_t *root_size);

// Where a walk reads the volume. read fills buf with count 2048-byte user-data blocks from volume
// sector first and returns 1 when all were read. A directory extent that does not end within the
// first sectors sectors is refused before its buffer is allocated.
struct iso_volume {
    int (*read)(void *ctx, uint32_t first, uint32_t count, void *buf);
    void *ctx;
    uint64_t sectors;
    uint32_t root_lba, root_size;
};

// One directory's entries: never null but when memory runs out. *readable is 0 when its data could
// not be read (count 0 then too), so that callers can tell an unreadable directory from an empty one.
iso_entry *iso_vol_dir(const iso_volume *v, uint32_t lba, uint32_t len, int *count, int *readable);
// The entry at path below the root ('\' or '/' between names, letter case ignored). The empty path
// is the root: 1, and out is not written.
int iso_vol_find(const iso_volume *v, const char *path, iso_entry *out);

// What the walk hands out. A callback left null goes on; one that returns 0 stops the walk.
struct iso_visitor {
    // A folder about to be walked; rel is its path below the walk's root ('\'-joined).
    int (*folder)(void *user, const char *rel);
    // A folder whose records could not be read: its own name, or "the root directory".
    int (*unreadable)(void *user, const char *name);
    // A file with all of its extents: the parts of a multi-extent file are one file.
    int (*file)(void *user, const char *rel, const iso_entry *parts, int count);
    void *user;
};

// The one walk over a directory tree, in the copy's order. It passes over names that are not safe
// and files whose path (letter case and trailing dots and blanks aside) came before, enters no
// folder below MAX_DEPTH, and reads each sector of directory data once at most. 1 when it ran to
// its end, 0 when a visitor stopped it.
int iso_walk(const iso_volume *v, uint32_t lba, uint32_t len, int depth, const iso_visitor *vis);

// Bytes of all files below the directory: the progress total of the copy.
uint64_t iso_vol_total(const iso_volume *v, uint32_t lba, uint32_t len, int depth);

// 1 when every folder could be read; one that cannot is named in the log ("read error in NAME")
// and the listing goes on without it.
int iso_vol_list(const iso_volume *v, const cd_lister *l);

// Where the copy puts what it reads: the file system in the setup, memory in a fuzzer.
struct iso_sink {
    void (*make_dir)(void *ctx, const char *path);
    void *(*create)(void *ctx, const char *path);  // a new, empty file; null when it cannot be
    int (*write)(void *ctx, void *file, const void *data, uint32_t len);  // 1 when all was written
    int (*close)(void *ctx, void *file);  // 0 when what was written could not be kept
    void *ctx;
};
// Copies the tree into the folder dest, the file data ISO_COPY_SECTORS at a time, adding each block
// to p (may be null). Stops at the first failure, logging "read error in NAME" or "cannot write PATH"
// (a short write is left to the caller's own message).
int iso_vol_copy(const iso_volume *v, uint32_t lba, uint32_t len, int depth, const char *dest,
                 const iso_sink *sink, progress *p);
