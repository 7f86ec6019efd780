#include "cdsrc/nrg.h"

#include <string.h>

#include "util/bytes.h"

enum { CHUNK_HEAD = 8, DAO_HEAD = 22, DAO_FIRST_TRACK = 20, ENTRY_FIXED = 18, MODE_AUDIO = 7 };

int nrg_chunk_area(const uint8_t *footer, uint64_t file_size, uint64_t *offset, uint32_t *len) {
    uint64_t at;
    if (memcmp(footer, "NER5", 4) == 0)
        at = be64(footer + 4);
    else if (memcmp(footer + 4, "NERO", 4) == 0)
        at = be32(footer + 8);
    else
        return 0;
    if (at >= file_size || file_size - at > NRG_AREA_MAX) return 0;
    *offset = at;
    *len = (uint32_t)(file_size - at);
    return 1;
}

struct dao_walk {
    cd_track *tracks;
    int count;
    uint32_t total;  // sectors so far, pregaps included; runs on across chunks, modulo 2^32
};

static uint64_t rd_pos(rd *r, int w) { return w == 8 ? rd_be64(r) : rd_be32(r); }

static void read_dao(dao_walk *d, const uint8_t *data, uint32_t len, int w) {
    size_t entry = ENTRY_FIXED + 3 * (size_t)w;
    if (len < DAO_HEAD + entry) return;
    int first = data[DAO_FIRST_TRACK], taken = 0;
    for (size_t at = DAO_HEAD; entry <= len - at && d->count < TRACK_LIMIT; at += entry) {
        rd r = rd_make(data + at, entry);
        rd_skip(&r, 12);
        uint32_t size = rd_be16(&r);
        int audio = rd_u8(&r) == MODE_AUDIO;
        rd_skip(&r, 3);
        uint64_t index0 = rd_pos(&r, w), index1 = rd_pos(&r, w), end = rd_pos(&r, w);
        if (size == 0) continue;
        // Positions that run backwards would wrap into a track of about 2^32 sectors.
        if (index1 < index0 || end < index1) continue;
        cd_track *t = &d->tracks[d->count++];
        memset(t, 0, sizeof *t);
        // Each chunk numbers its tracks from its own first-track byte: adding the tracks of earlier
        // chunks as well would count them twice.
        t->number = first + taken++;
        t->audio = audio;
        d->total += (uint32_t)((index1 - index0) / size);
        t->start_lba = d->total - NRG_PREGAP;
        t->sectors = (uint32_t)((end - index1) / size);
        d->total += t->sectors;
        t->file_offset = index1;
        t->sector_size = size;
    }
}

int nrg_read_chunks(const uint8_t *area, size_t len, cd_track *tracks) {
    dao_walk d = {tracks, 0, 0};
    size_t at = 0;
    while (len - at >= CHUNK_HEAD) {
        const uint8_t *id = area + at;
        uint32_t size = be32(area + at + 4);
        at += CHUNK_HEAD;
        if (memcmp(id, "END!", 4) == 0) break;
        // A length that claims more than remains is damage: nothing after it can be trusted.
        if (size > len - at) break;
        if (memcmp(id, "DAOX", 4) == 0) read_dao(&d, area + at, size, 8);
        if (memcmp(id, "DAOI", 4) == 0) read_dao(&d, area + at, size, 4);
        at += size;
    }
    return d.count;
}
