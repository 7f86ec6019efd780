// cue_table SHEET: the track table that the cue reader makes of a sheet, in discinfo's "track"
// lines, and the data file it names, whether or not that file holds a volume. For comparisons
// with other readers of the same sheet.
#include <stdio.h>
#include <stdlib.h>

#include "cdsrc/cdsrc.h"
#include "cdsrc/readers.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: cue_table SHEET\n", stderr);
        return 2;
    }
    cd_source *s = (cd_source *)calloc(1, sizeof *s);
    if (!s) return 1;
    s->image = INVALID_HANDLE_VALUE;
    char path[PATH_TEXT];
    fmt_cut(path, sizeof path, "%s", argv[1]);
    cue_read_sheet(s, path);
    printf("data: %s\n", path);
    for (int i = 0; i < s->track_count; i++) {
        const cd_track *t = &s->tracks[i];
        printf("track %d %s start=%u sectors=%u sector_size=%u offset=%llu file=%s\n", t->number,
               t->audio ? "audio" : "data", t->start_lba, t->sectors, t->sector_size,
               (unsigned long long)t->file_offset, t->file);
    }
    cd_close(s);
    return 0;
}
