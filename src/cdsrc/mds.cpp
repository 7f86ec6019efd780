#include "cdsrc/mds.h"

#include <string.h>

#include "util/bytes.h"

enum {
    MDS_HEADER = 88,
    MDS_SESSION = 24,
    MDS_BLOCK = 80,
    MDS_EXTRA = 8,
    MDS_FOOTER = 16,
    MDS_NAME_MAX = 255,  // characters of a data file name
};

static int fits(size_t len, uint64_t at, uint64_t n) { return at <= len && n <= len - at; }

// The NUL-terminated name at off, 8-bit or UTF-16 (only its ASCII characters are kept: a name
// with others is refused, since it could not be matched to a file here).
static int read_name(const uint8_t *d, size_t len, uint32_t off, int wide, char *out) {
    size_t step = wide ? 2 : 1, i = 0;
    for (;; i++) {
        if (i >= MDS_NAME_MAX || !fits(len, off + (uint64_t)i * step, step)) return 0;
        uint32_t c = wide ? le16(d + off + i * step) : d[off + i];
        if (c == 0) break;
        if (c < 0x20 || c > 0x7E) return 0;
        out[i] = (char)c;
    }
    out[i] = 0;
    return i > 0;
}

static int track_sector_size(int audio, uint32_t size) {
    if (size == RAW_SECTOR || size == RAW_SUB_SECTOR) return 1;
    return !audio && size == ISO_SECTOR;
}

int mds_parse(const uint8_t *d, size_t len, cd_track *tracks, char *data_name) {
    data_name[0] = 0;
    if (len < MDS_HEADER || memcmp(d, "MEDIA DESCRIPTOR", 16) != 0) return 0;
    if (le16(d + 20) < 1) return 0;
    uint32_t session = le32(d + 80);
    if (!fits(len, session, MDS_SESSION)) return 0;
    int blocks = d[session + 10];
    uint32_t first = le32(d + session + 20);
    if (!fits(len, first, (uint64_t)blocks * MDS_BLOCK)) return 0;

    int count = 0;
    for (int b = 0; b < blocks; b++) {
        const uint8_t *k = d + first + (size_t)b * MDS_BLOCK;
        int point = k[4];
        if (point < 1 || point > TRACK_LIMIT) continue;  // lead-in entries
        int kind = k[0] & 0x0F;
        int audio;
        if (kind == 0x9 || kind == 0x1)
            audio = 1;
        else if ((kind >= 0xA && kind <= 0xC) || (kind >= 0x2 && kind <= 0x4))
            audio = 0;
        else
            return 0;  // Mode 2 Form 2 and unknown modes hold no data we can read
        uint32_t size = le16(k + 16);
        if (!track_sector_size(audio, size)) return 0;
        uint32_t start = le32(k + 36);
        if (count > 0 && (point <= tracks[count - 1].number || start <= tracks[count - 1].start_lba)) return 0;
        uint32_t extra = le32(k + 12);
        if (!fits(len, extra, MDS_EXTRA)) return 0;
        if (count >= TRACK_LIMIT) return 0;
        cd_track *t = &tracks[count++];
        memset(t, 0, sizeof *t);
        t->number = point;
        t->audio = audio;
        t->start_lba = start;
        t->sectors = le32(d + extra + 4);
        t->sector_size = size;
        t->file_offset = (uint64_t)le32(k + 40) | (uint64_t)le32(k + 44) << 32;
        if (count == 1) {
            uint32_t footer = le32(k + 52);
            if (!fits(len, footer, MDS_FOOTER)) return 0;
            if (!read_name(d, len, le32(d + footer), le32(d + footer + 4) == 1, data_name)) return 0;
        }
    }
    return count;
}
