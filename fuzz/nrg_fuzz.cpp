// Nero images: the footer and the chunk walk. Input: a whole image (its chunk area found through
// the footer, as the setup finds it), and the same bytes walked as a chunk area of their own.
#include <string.h>

#include <vector>

#include "cdsrc/nrg.h"
#include "fuzz_check.h"

static void walk(const uint8_t *area, size_t len) {
    // A heap block of the area's exact size: a read past it is a finding.
    std::vector<uint8_t> copy(area, area + len);
    std::vector<cd_track> tracks(MAX_TRACKS);
    memset(tracks.data(), 0xA5, tracks.size() * sizeof tracks[0]);
    int count = nrg_read_chunks(copy.data(), copy.size(), tracks.data());
    FUZZ_CHECK(count >= 0 && count <= TRACK_LIMIT, "%d tracks", count);
    for (int i = 0; i < count; i++) {
        const cd_track *t = &tracks[i];
        FUZZ_CHECK(t->sector_size != 0, "track %d without a sector size", i);
        FUZZ_CHECK(t->number >= 0 && t->number <= 255 + TRACK_LIMIT, "track %d numbered %d", i, t->number);
        FUZZ_CHECK(t->audio == 0 || t->audio == 1, "track %d: audio %d", i, t->audio);
        FUZZ_CHECK(t->file[0] == 0, "track %d: a file set by the walk", i);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    if (size >= NRG_FOOTER) {
        uint64_t offset = 0;
        uint32_t len = 0;
        if (nrg_chunk_area(data + size - NRG_FOOTER, size, &offset, &len)) {
            FUZZ_CHECK(offset < size && len == size - offset && len <= NRG_AREA_MAX, "area %llu+%u in %zu bytes",
                       (unsigned long long)offset, len, size);
            walk(data + offset, len);
        }
    }
    walk(data, size);
    return 0;
}
