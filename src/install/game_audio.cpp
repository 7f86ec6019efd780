#include "install/game_install.h"

#include <string.h>

#include "cdsrc/forms.h"
#include "util/bytes.h"
#include "util/handles.h"
#include "util/checked.h"
#include "util/paths.h"

uint64_t game_audio_bytes(cd_source *s) {
    track_info t[MAX_TRACKS];
    int n = cd_tracks(s, t, MAX_TRACKS);
    uint64_t sum = 0;
    for (int i = 0; i < n; i++)
        if (t[i].audio) sum += (uint64_t)t[i].sectors * RAW_SECTOR + WAV_HEADER;
    return sum;
}

// RIFF/WAVE header for 16-bit stereo at 44,100 Hz, the format of CD audio sectors.
static void wav_header(uint8_t h[WAV_HEADER], uint32_t data_bytes) {
    memcpy(h, "RIFF", 4);
    put_le32(h + 4, data_bytes + 36);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le32(h + 16, 16);
    put_le16(h + 20, 1);
    put_le16(h + 22, 2);
    put_le32(h + 24, 44100);
    put_le32(h + 28, 176400);
    put_le16(h + 32, 4);
    put_le16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    put_le32(h + 40, data_bytes);
}

static int write_all(HANDLE h, const void *data, DWORD n) {
    DWORD put = 0;
    BOOL wrote = WriteFile(h, data, n, &put, NULL);
    if (wrote && put == n) return 1;
    note_reason(wrote ? ERROR_DISK_FULL : GetLastError());
    return 0;
}

enum rip_result { RIP_DONE, RIP_READ_FAILED, RIP_WRITE_FAILED };

// The WAV header and the track's sectors into the open file.
static rip_result rip_into(HANDLE out, cd_source *s, int index, const track_info *t, progress *p) {
    // A drive's raw reads go straight into it: a page-aligned buffer gets the adapter's longest
    // transfers, and ATAPI adapters refuse one that is not even word-aligned.
    alignas(4096) static uint8_t block[AUDIO_BLOCK_SECTORS * RAW_SECTOR];
    uint8_t header[WAV_HEADER];
    wav_header(header, t->sectors * RAW_SECTOR);
    if (!write_all(out, header, sizeof header)) return RIP_WRITE_FAILED;
    for (uint32_t f = 0; f < t->sectors; f += AUDIO_BLOCK_SECTORS) {
        uint32_t n = t->sectors - f < (uint32_t)AUDIO_BLOCK_SECTORS ? t->sectors - f : (uint32_t)AUDIO_BLOCK_SECTORS;
        if (!cd_read_raw(s, index, f, (int)n, block)) return RIP_READ_FAILED;
        if (!write_all(out, block, n * RAW_SECTOR)) return RIP_WRITE_FAILED;
        if (p) progress_add(p, (uint64_t)n * RAW_SECTOR);
    }
    return RIP_DONE;
}

// Writes one track's WAV file; logs its own failure, once the file is closed.
static int rip_track(cd_source *s, int index, const track_info *t, const char *path, progress *p) {
    // A track too long for the header's 32-bit sizes would get a header that lies. A track whose
    // file is gone, or cannot be decoded, has 0 sectors in the table: unchecked, it would pass as an
    // empty track and the music would be lost without a word. Neither gets a WAV begun.
    rip_result r = RIP_READ_FAILED;
    if (t->sectors <= WAV_MAX_SECTORS && cd_track_ready(s, index)) {
        handle_guard out(create_checked(path, 0));
        if (!out.ok()) note_reason(GetLastError());
        r = out.ok() ? rip_into(out.h, s, index, t, p) : RIP_WRITE_FAILED;
        if (!out.close() && r == RIP_DONE) {
            note_reason(GetLastError());
            r = RIP_WRITE_FAILED;
        }
    }
    if (r == RIP_READ_FAILED) setup_error("reading audio track %d failed", t->number);
    if (r == RIP_WRITE_FAILED) setup_error("cannot write %s", path);
    return r == RIP_DONE;
}

int game_install_audio(cd_source *s, const char *game_dir, progress *p) {
    track_info t[MAX_TRACKS];
    int n = cd_tracks(s, t, MAX_TRACKS);
    int audio = 0;
    for (int i = 0; i < n; i++) audio += t[i].audio;
    if (n <= 0 || audio == 0) {
        char forms[LONG_TEXT];
        setup_log("No CD audio tracks in this source - the game's music needs a form of the CD that keeps "
                  "them: %s.", cd_form_names(forms, sizeof forms, FORM_MUSIC));
        return 1;
    }
    char dir[PATH_TEXT];
    if (!path_join(dir, sizeof dir, game_dir, "cdaudio")) {
        setup_error("cannot write %s\\cdaudio", game_dir);
        return 0;
    }
    make_dirs(dir);

    // At most 100 lines of at most 35 characters, the header and the lead-out: 4096 bytes suffice.
    char toc[4096];
    size_t len = 0;
    uint32_t leadout = 0;
    len += snprintf(toc + len, sizeof toc - len, "# track start_lba sectors (track 1 = data)\r\n");
    for (int i = 0; i < n; i++) {
        len += snprintf(toc + len, sizeof toc - len, "%d %u %u\r\n", t[i].number, t[i].start_lba, t[i].sectors);
        if (t[i].audio) {
            char name[32], path[PATH_TEXT];
            fmt_cut(name, sizeof name, "track%02d.wav", t[i].number);
            if (!path_join(path, sizeof path, dir, name)) {
                setup_error("cannot write %s\\%s", dir, name);
                return 0;
            }
            if (!rip_track(s, i, &t[i], path, p)) return 0;
        }
        uint32_t end = t[i].start_lba + t[i].sectors;
        if (end > leadout) leadout = end;
    }
    len += snprintf(toc + len, sizeof toc - len, "leadout %u\r\n", leadout);
    setup_log("CD music: %d tracks", audio);
    char toc_path[PATH_TEXT];
    if (path_join(toc_path, sizeof toc_path, dir, "toc.txt") && write_file(toc_path, toc, len)) return 1;
    setup_error("cannot write %s\\toc.txt", dir);
    return 0;
}
