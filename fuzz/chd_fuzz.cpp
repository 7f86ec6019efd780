// CHD images: the header, the hunk map, the CD metadata and the hunks through their codecs and
// CRCs. Input: a whole CHD file, read through chd_io from memory.
#include <string.h>

#include <vector>

#include "cdsrc/chd_cd.h"
#include "fuzz_check.h"

static int read_mem(void *ctx, uint64_t pos, void *buf, uint32_t len) {
    const std::vector<uint8_t> *file = (const std::vector<uint8_t> *)ctx;
    FUZZ_CHECK(pos <= file->size() && len <= file->size() - pos, "a read of %u bytes at %llu in %zu", len,
               (unsigned long long)pos, file->size());
    memcpy(buf, file->data() + pos, len);
    return 1;
}

enum { SECTORS_READ = 64 };  // of each track: its start, and its end

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    // A heap block of the file's exact size: a read past it is a finding.
    std::vector<uint8_t> file(data, data + size);
    chd_io io = {read_mem, &file, file.size()};
    chd_cd *cd = NULL;
    char why[160] = "";
    if (!chd_cd_open(&io, &cd, why, sizeof why)) {
        FUZZ_CHECK(!cd && why[0], "refused without a reason");
        return 0;
    }
    std::vector<cd_track> tracks(MAX_TRACKS);
    int count = chd_cd_tracks(cd, tracks.data());
    FUZZ_CHECK(count >= 1 && count <= TRACK_LIMIT, "%d tracks", count);
    uint64_t bytes = chd_cd_bytes(cd), end = 0;
    std::vector<uint8_t> sector(RAW_SECTOR);
    for (int i = 0; i < count; i++) {
        const cd_track *t = &tracks[i];
        FUZZ_CHECK(t->file_offset == (uint64_t)t->start_lba * RAW_SECTOR, "track %d at %llu", i,
                   (unsigned long long)t->file_offset);
        FUZZ_CHECK(t->file_offset >= end && t->file_offset + (uint64_t)t->sectors * RAW_SECTOR <= bytes,
                   "track %d: %u sectors from %u in %llu bytes", i, t->sectors, t->start_lba, (unsigned long long)bytes);
        end = t->file_offset + (uint64_t)t->sectors * RAW_SECTOR;
        for (uint32_t s = 0; s < t->sectors && s < SECTORS_READ; s++) {
            chd_cd_read(cd, t->file_offset + (uint64_t)s * RAW_SECTOR, sector.data(), RAW_SECTOR);
            chd_cd_read(cd, end - (uint64_t)(s + 1) * RAW_SECTOR, sector.data(), RAW_SECTOR);
        }
    }
    FUZZ_CHECK(end == bytes, "the tracks end at %llu of %llu", (unsigned long long)end, (unsigned long long)bytes);
    FUZZ_CHECK(!chd_cd_read(cd, bytes - 1, sector.data(), 2), "a read past the image");
    chd_cd_close(cd);
    return 0;
}
