#include "cue_win.h"

#include <stdlib.h>

static int size_on_disk(void *, const char *path, uint64_t *size) { return file_size(path, size); }

int cue_read_sheet(const char *sheet, cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    uint64_t size = 0;
    if (!file_size(sheet, &size) || size > CUE_MAX_BYTES) return 0;
    char *text = (char *)read_file(sheet, &size);
    if (!text) return 0;
    int count = 0;
    // The file may have grown since its size was taken.
    if (size <= CUE_MAX_BYTES) count = cue_parse(text, (size_t)size, sheet, size_on_disk, NULL, tracks, data_file);
    free(text);
    return count;
}
