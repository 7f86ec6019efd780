// discinfo: what the setup reads from a CD source, as a stable plain-text report.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "cdsrc/cdsrc.h"
#include "install/game_install.h"

static const char usage[] =
    "usage: discinfo SOURCE\n"
    "       discinfo --copy DIR SOURCE\n"
    "       discinfo --audio GAMEDIR SOURCE\n"
    "\n"
    "SOURCE is a drive (D: or D:\\), a folder, a plain image (2048-byte or raw 2352-byte\n"
    "sectors), a cue sheet (its audio tracks in BIN, WAV, FLAC, Ogg Vorbis, Opus or MP3 files),\n"
    "a Nero image (.nrg), a CloneCD image (.ccd, with the .img of the same name beside it), an\n"
    "Alcohol image (.mds, with the data file it names, usually the .mdf of the same name) or a CHD\n"
    "image (.chd), opened exactly as the setup opens it. A CD-ROM drive's tracks come from its\n"
    "device's table of contents (their file is the device, \\\\.\\D:).\n"
    "\n"
    "The report has one item per line, in this order:\n"
    "  source: <description>\n"
    "  layout: sector_size=<n> data_offset=<n> base_offset=<n> root_lba=<n> root_size=<n>\n"
    "          (image sources only)\n"
    "  tracks: <count>\n"
    "  track <number> <audio|data> start=<lba> sectors=<n> sector_size=<n> offset=<byte>\n"
    "        kind=<kind> file=<path>   (on one line) kind says how the file holds the sectors, by\n"
    "        its content: raw, or decoded from an audio file (wav, flac, vorbis, opus, mp3; unknown\n"
    "        when it cannot be); missing when it could not be read; an audio file's offset counts\n"
    "        in its decoded 2352-byte sectors; chd for a CHD's hunks, whose offset counts in the\n"
    "        CHD's CD laid out as one BIN of 2352-byte sectors\n"
    "  total: <bytes of all files>\n"
    "  dir <path>            every folder, relative to the CD root, in copy order\n"
    "  file <size> <path>    every file, likewise\n"
    "\n"
    "--copy DIR copies the whole CD into DIR as the install does, with a progress line on stderr.\n"
    "--audio GAMEDIR writes every audio track as GAMEDIR\\cdaudio\\trackNN.wav with the track list\n"
    "toc.txt, as the install does, with a progress line on stderr.\n"
    "Exit code 0 when the source opened and every folder was read (and the copy succeeded), 1\n"
    "otherwise; the reason and the setup's own log lines go to stderr.\n";

static void print_dir(void *, const char *rel) { printf("dir %s\n", rel); }
static void print_file(void *, const char *rel, uint64_t size) {
    printf("file %llu %s\n", (unsigned long long)size, rel);
}

// 0 when a folder of the CD (its root included) could not be read: a listing without it is no
// listing of the CD.
static int report(cd_source *s) {
    printf("source: %s\n", cd_describe(s));
    if (s->is_image)
        printf("layout: sector_size=%u data_offset=%u base_offset=%llu root_lba=%u root_size=%u\n",
               s->sector_size, s->data_offset, (unsigned long long)s->base_offset, s->root_lba, s->root_size);
    printf("tracks: %d\n", s->track_count);
    for (int i = 0; i < s->track_count; i++) {
        const cd_track *t = &s->tracks[i];
        printf("track %d %s start=%u sectors=%u sector_size=%u offset=%llu kind=%s file=%s\n", t->number,
               t->audio ? "audio" : "data", t->start_lba, t->sectors, t->sector_size,
               (unsigned long long)t->file_offset, track_kind_name(t->kind), t->file);
    }
    printf("total: %llu\n", (unsigned long long)cd_total_bytes(s));
    cd_lister l = {print_dir, print_file, NULL};
    if (cd_list(s, &l)) return 1;
    fprintf(stderr, "discinfo: some folders of %s cannot be read\n", cd_describe(s));
    return 0;
}

struct copy_meter {
    const char *what;
    DWORD start;
    int last_percent;
};

static void show_progress(uint64_t done, uint64_t expected, void *user) {
    copy_meter *m = (copy_meter *)user;
    int percent = expected ? (int)(done * 100 / expected) : 100;
    if (percent == m->last_percent) return;
    m->last_percent = percent;
    double seconds = (GetTickCount() - m->start) / 1000.0;
    double mbs = seconds > 0 ? done / 1048576.0 / seconds : 0;
    fprintf(stderr, "%s %3d%% %.1f MB/s\n", m->what, percent, mbs);
}

int main(int argc, char **argv) {
    logf = stderr;  // the setup's log lines
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(usage, stdout);
        return 0;
    }
    const char *dest = NULL, *path = NULL;
    int audio = 0;
    if (argc == 4 && (strcmp(argv[1], "--copy") == 0 || strcmp(argv[1], "--audio") == 0)) {
        audio = strcmp(argv[1], "--audio") == 0;
        dest = argv[2];
        path = argv[3];
    } else if (argc == 2 && argv[1][0] != '-') {
        path = argv[1];
    } else {
        fputs(usage, stderr);
        return 1;
    }
    cd_source *s = cd_open(path);
    if (!s) {
        fprintf(stderr, "discinfo: %s is not a readable disc, image or folder\n", path);
        return 1;
    }
    int ok = 1;
    if (audio) {
        copy_meter m = {"audio", GetTickCount(), -1};
        // The counter sees the sectors, not the 44-byte WAV headers.
        track_info t[MAX_TRACKS];
        int n = cd_tracks(s, t, MAX_TRACKS);
        uint64_t headers = 0;
        for (int i = 0; i < n; i++) headers += t[i].audio ? WAV_HEADER : 0;
        progress p = {0, game_audio_bytes(s) - headers, show_progress, &m};
        ok = game_install_audio(s, dest, &p);
        if (!ok) fprintf(stderr, "discinfo: extracting the audio of %s failed\n", cd_describe(s));
    } else if (dest) {
        copy_meter m = {"copy", GetTickCount(), -1};
        cd_skip_folder(s, dest);  // before the sum, which leaves the destination out as the copy does
        progress p = {0, cd_total_bytes(s), show_progress, &m};
        ok = cd_copy_all(s, dest, &p);
        if (!ok) fprintf(stderr, "discinfo: copying %s to %s failed\n", cd_describe(s), dest);
    } else {
        ok = report(s);
    }
    cd_close(s);
    fflush(stdout);
    return ok ? 0 : 1;
}
