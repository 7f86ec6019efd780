// ISO 9660 directory records and CD-side names; no platform calls, so it also builds natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct iso_entry {
    char name[64];     // identifier without ";version" and without one final '.'
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
};

// Lists the records of one directory's data. Returns a heap array (the caller frees it, also when
// count is 0), or null with count 0 when memory runs out.
// Layout of a record: [0] length, [2..5] extent LBA (LE), [10..13] data length (LE), [25] flags,
// [32] identifier length, [33..] identifier. A zero length byte pads to the next 2048-byte sector.
iso_entry *iso_parse_dir(const uint8_t *data, uint32_t len, int *count);

// 1 for a name that may become a file or folder in the destination (see cdsrc.h).
int name_is_safe(const char *name);

// Sectors needed for len bytes, without the overflow of (len + 2047) / 2048.
static inline uint32_t iso_sectors(uint32_t len) { return len / 2048 + (len % 2048 != 0); }
