#include <vector>

#include "../util/handles.h"
#include "iso9660.h"
#include "nrg_chunks.h"
#include "readers.h"

static int read_at(HANDLE h, uint64_t at, void *buf, DWORD len) {
    LARGE_INTEGER pos;
    pos.QuadPart = (LONGLONG)at;
    DWORD got = 0;
    return SetFilePointerEx(h, pos, NULL, FILE_BEGIN) && ReadFile(h, buf, len, &got, NULL) && got == len;
}

// The chunk area of the image at path, read whole; 0 when it is not a Nero image or cannot be read.
static int read_chunk_area(const char *path, std::vector<uint8_t> *area) {
    handle_guard h(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
    if (!h.ok()) return 0;
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a)) return 0;
    uint64_t size = (uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    uint8_t footer[NRG_FOOTER];
    if (size < NRG_FOOTER || !read_at(h.h, size - NRG_FOOTER, footer, NRG_FOOTER)) return 0;
    uint64_t offset;
    uint32_t len;
    if (!nrg_chunk_area(footer, size, &offset, &len)) return 0;
    area->resize(len);
    // An area that cannot be read in full fails the image: bytes never read are not walked.
    return read_at(h.h, offset, area->data(), len);
}

// Fills the track table from the image's chunk list; the chunk area is freed on return.
static int read_track_table(cd_source *s, const char *path) {
    std::vector<uint8_t> area;
    if (!read_chunk_area(path, &area)) return 0;
    s->track_count = nrg_read_chunks(area.data(), area.size(), s->tracks);
    return 1;
}

cd_source *nrg_open(cd_source *s, const char *path) {
    if (!read_track_table(s, path) || s->track_count == 0 || s->tracks[0].audio) {
        cd_close(s);
        return NULL;
    }
    for (int i = 0; i < s->track_count; i++) fmt_cut(s->tracks[i].file, sizeof s->tracks[i].file, "%s", path);

    const cd_track *first = &s->tracks[0];
    s->base_offset = first->file_offset;
    if (cd_open_image_file(s, path)) {
        // Raw sectors carry their user data after a 16-byte (Mode 1) or 24-byte (Mode 2 Form 1) head.
        static const uint32_t data_offsets[] = {0, 16, 24};
        int tries = first->sector_size == RAW_SECTOR ? 3 : 1;
        for (int i = 0; i < tries; i++) {
            if (probe(s, first->sector_size, data_offsets[i])) {
                s->is_image = 1;
                fmt_cut(s->root, sizeof s->root, "%s", path);
                fmt_cut(s->description, sizeof s->description, "Nero image %s (%d tracks)", path, s->track_count);
                return s;
            }
        }
    }
    cd_close(s);
    return NULL;
}
