// Cue sheets: the track table and the data file, for a sheet in a folder and for one without.
// Input: the sheet's text. A file's kind and length follow from its name, so a name that comes
// back keeps them; about one name in seven cannot be read (a missing file), one in four is an
// audio file of some kind.
#include <string.h>
#include <strings.h>

#include <vector>

#include "cdsrc/cue.h"
#include "fuzz_check.h"

static int measure_name(void *, const char *path, cue_file *out) {
    FUZZ_CHECK(strnlen(path, PATH_TEXT) < PATH_TEXT, "an unterminated file name");
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (const char *p = path; *p; p++) h = (h ^ (uint8_t)*p) * 1099511628211ull;
    if (h % 7 == 0) return 0;
    out->kind = (h >> 3) % 4 == 0 ? TRACK_WAV + (int)((h >> 5) % (TRACK_UNKNOWN - TRACK_WAV + 1)) : TRACK_RAW;
    out->bytes = (h >> 8) % (1ull << 33);
    return 1;
}

static void check_table(const cd_track *t, int count, const char *data_file) {
    FUZZ_CHECK(count >= 0 && count <= TRACK_LIMIT, "%d tracks", count);
    FUZZ_CHECK(strnlen(data_file, PATH_TEXT) < PATH_TEXT, "an unterminated data file");
    for (int i = 0; i < count; i++) {
        FUZZ_CHECK(strnlen(t[i].file, PATH_TEXT) < PATH_TEXT, "track %d: an unterminated file", i);
        FUZZ_CHECK(t[i].sector_size == 2048 || t[i].sector_size == 2336 || t[i].sector_size == 2352,
                   "track %d: sector size %u", i, t[i].sector_size);
        cue_file info = {TRACK_RAW, 0};
        int have = t[i].file[0] && measure_name(NULL, t[i].file, &info);
        // The kind is the content's; the type word can only make raw content of an audio track
        // undecodable; a data track in an audio file, or in one that cannot be read, refuses the
        // whole sheet.
        int kind = t[i].kind;
        FUZZ_CHECK(have ? kind == info.kind || (info.kind == TRACK_RAW && kind == TRACK_UNKNOWN && t[i].audio)
                        : kind == TRACK_MISSING,
                   "track %d: kind %d, the file's %d (read: %d)", i, kind, info.kind, have);
        FUZZ_CHECK(t[i].audio || kind == TRACK_RAW, "track %d: data of kind %d", i, kind);
        FUZZ_CHECK(t[i].file_bytes == (have ? info.bytes : 0), "track %d: file of %llu bytes, measured %llu", i,
                   (unsigned long long)t[i].file_bytes, (unsigned long long)info.bytes);
        FUZZ_CHECK(kind == TRACK_RAW || kind == TRACK_MISSING || t[i].sector_size == 2352,
                   "track %d: an audio file's sectors of %u bytes", i, t[i].sector_size);
        uint64_t span = 0;
        if (!t[i].file[0]) {
            span = 0;
        } else if (i + 1 < count && strcasecmp(t[i].file, t[i + 1].file) == 0) {
            span = t[i + 1].file_offset > t[i].file_offset ? t[i + 1].file_offset - t[i].file_offset : 0;
        } else if (have) {
            span = info.bytes > t[i].file_offset ? info.bytes - t[i].file_offset : 0;
        }
        FUZZ_CHECK((uint64_t)t[i].sectors * t[i].sector_size <= span, "track %d: %u sectors in %llu bytes", i,
                   t[i].sectors, (unsigned long long)span);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    static const char *const sheets[] = {"C:\\images\\game.cue", "game.cue", "C:/images/game.cue"};
    std::vector<cd_track> tracks(MAX_TRACKS);
    std::vector<char> data_file(PATH_TEXT);
    for (const char *sheet : sheets) {
        memset(tracks.data(), 0xA5, tracks.size() * sizeof tracks[0]);
        int count = cue_parse((const char *)data, size, sheet, measure_name, NULL, tracks.data(), data_file.data());
        check_table(tracks.data(), count, data_file.data());
    }
    return 0;
}
