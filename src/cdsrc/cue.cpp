#include <stdlib.h>

#include "cue_sheet.h"
#include "readers.h"

static int file_size(void *, const char *path, uint64_t *size) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a)) return 0;
    *size = (uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    return 1;
}

// A sheet that cannot be read, is too large to be one, or names no data file leaves path alone:
// cd_open then tries the sheet itself as a plain image, which fails on text.
void cue_read_sheet(cd_source *s, char *path) {
    uint64_t size = 0;
    if (!file_size(NULL, path, &size) || size > CUE_MAX_BYTES) return;
    char *text = (char *)read_file(path, &size);
    if (!text) return;
    char data[PATH_TEXT];
    // The file may have grown since its size was taken.
    if (size <= CUE_MAX_BYTES) {
        s->track_count = cue_parse(text, (size_t)size, path, file_size, NULL, s->tracks, data);
        if (data[0]) fmt_cut(path, PATH_TEXT, "%s", data);
    }
    free(text);
}
