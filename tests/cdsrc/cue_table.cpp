// cue_table SHEET: the track table that the cue reader makes of a sheet, in discinfo's "track"
// lines, and the data file it names, whether or not that file holds a volume. For comparisons
// with other readers of the same sheet.
#include <stdio.h>

#include "cdsrc/descriptors.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: cue_table SHEET\n", stderr);
        return 2;
    }
    static cd_track tracks[MAX_TRACKS];
    char data[PATH_TEXT];
    int count = cue_read_sheet(argv[1], tracks, data);
    // A sheet that names no data file is itself what the setup then tries as an image.
    printf("data: %s\n", data[0] ? data : argv[1]);
    for (int i = 0; i < count; i++) {
        const cd_track *t = &tracks[i];
        printf("track %d %s start=%u sectors=%u sector_size=%u offset=%llu kind=%s file=%s\n", t->number,
               t->audio ? "audio" : "data", t->start_lba, t->sectors, t->sector_size,
               (unsigned long long)t->file_offset, track_kind_name(t->kind), t->file);
    }
    return 0;
}
