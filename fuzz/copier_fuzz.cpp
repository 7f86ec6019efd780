// The disc copiers' descriptors: CloneCD control files (.ccd text) and Alcohol media descriptors
// (.mds). The input is read as both, each from a heap block of its exact length; the image size the
// control file is checked against comes from the input's first bytes.
#include <string.h>

#include <vector>

#include "cdsrc/ccd.h"
#include "cdsrc/mds.h"
#include "fuzz_check.h"

static void check_table(const cd_track *tracks, int count, uint64_t file_limit) {
    FUZZ_CHECK(count >= 0 && count <= TRACK_LIMIT, "%d tracks", count);
    for (int i = 0; i < count; i++) {
        const cd_track *t = &tracks[i];
        FUZZ_CHECK(t->number >= 1 && t->number <= TRACK_LIMIT, "track %d numbered %d", i, t->number);
        FUZZ_CHECK(i == 0 || t->number > tracks[i - 1].number, "track %d out of order", i);
        FUZZ_CHECK(i == 0 || t->start_lba > tracks[i - 1].start_lba, "track %d starts before the one before", i);
        FUZZ_CHECK(t->audio == 0 || t->audio == 1, "track %d: audio %d", i, t->audio);
        FUZZ_CHECK(t->sector_size == 2048 || t->sector_size == 2352 || t->sector_size == 2448,
                   "track %d: sector size %u", i, t->sector_size);
        FUZZ_CHECK(t->file[0] == 0, "track %d: a file set by the parser", i);
        if (file_limit) {
            FUZZ_CHECK(t->file_offset + (uint64_t)t->sectors * t->sector_size <= file_limit,
                       "track %d ends past the image", i);
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    std::vector<uint8_t> copy(data, data + size);
    std::vector<cd_track> tracks(MAX_TRACKS);

    uint64_t img_size = 0;
    for (size_t i = 0; i < 3 && i < size; i++) img_size = img_size << 8 | data[i];
    img_size *= RAW_SECTOR;
    memset(tracks.data(), 0xA5, tracks.size() * sizeof tracks[0]);
    int n = ccd_parse((const char *)copy.data(), copy.size(), img_size, tracks.data());
    check_table(tracks.data(), n, img_size);
    for (int i = 0; i < n; i++) FUZZ_CHECK(tracks[i].sector_size == RAW_SECTOR, "ccd track %d not raw", i);

    char name[PATH_TEXT];
    memset(tracks.data(), 0xA5, tracks.size() * sizeof tracks[0]);
    n = mds_parse(copy.data(), copy.size(), tracks.data(), name);
    check_table(tracks.data(), n, 0);
    FUZZ_CHECK(n == 0 || (name[0] && strlen(name) < sizeof name), "%d tracks without a data file name", n);
    return 0;
}
