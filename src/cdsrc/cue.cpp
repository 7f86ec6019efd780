#include "cdsrc/cue.h"

#include <stdio.h>
#include <string.h>

#include "util/text.h"

// One line of the sheet, [p, e): the text is never terminated, so every look stays below e.
struct cue_line {
    const char *p, *e;
};

static int line_starts(const cue_line *l, const char *word) {
    size_t n = strlen(word);
    return (size_t)(l->e - l->p) >= n && memcmp(l->p, word, n) == 0;
}

static int line_has(const cue_line *l, const char *word) {
    size_t n = strlen(word);
    for (const char *q = l->p; (size_t)(l->e - q) >= n; q++)
        if (memcmp(q, word, n) == 0) return 1;
    return 0;
}

static const char *skip_blanks(const char *q, const char *e) {
    while (q < e && (*q == ' ' || *q == '\t')) q++;
    return q;
}

// Decimal digits. The value stops growing at 2^31, enough to saturate any 32-bit field, so a
// sheet full of digits cannot overflow it.
static int64_t digits(const char **q, const char *e, int *any) {
    const int64_t cap = 2147483648LL;
    int64_t v = 0;
    *any = 0;
    for (; *q < e && **q >= '0' && **q <= '9'; (*q)++) {
        *any = 1;
        v = v * 10 + (**q - '0');
        if (v > cap) v = cap;
    }
    return v;
}

// One number of a position as formatted decimal input reads it: blanks, a sign, digits.
// Values beyond 32 bits saturate at the limits instead of overflowing.
static int scan_int(const char **q, const char *e, int32_t *out) {
    const char *r = *q;
    while (r < e && (*r == ' ' || *r == '\t' || *r == '\v' || *r == '\f')) r++;
    int neg = 0;
    if (r < e && (*r == '+' || *r == '-')) neg = *r++ == '-';
    int any;
    int64_t v = digits(&r, e, &any);
    if (!any) return 0;
    if (neg)
        *out = (int32_t)-v;
    else
        *out = v > 2147483647 ? 2147483647 : (int32_t)v;
    *q = r;
    return 1;
}

// mm:ss:ff in frames. A number that is missing, and every one after it, counts as 0. The sum is
// taken modulo 2^32: a sheet's nonsense positions wrap instead of being refused.
static uint32_t position(const char *q, const char *e) {
    int32_t v[3] = {0, 0, 0};
    for (int i = 0; i < 3; i++) {
        if (i > 0) {
            if (q >= e || *q != ':') break;
            q++;
        }
        if (!scan_int(&q, e, &v[i])) break;
    }
    return ((uint32_t)v[0] * 60u + (uint32_t)v[1]) * (uint32_t)CUE_FRAMES + (uint32_t)v[2];
}

// The text between the line's first two double quotes.
static int quoted(const cue_line *l, const char **name, size_t *n) {
    const char *a = (const char *)memchr(l->p, '"', (size_t)(l->e - l->p));
    if (!a) return 0;
    const char *b = (const char *)memchr(a + 1, '"', (size_t)(l->e - a - 1));
    if (!b) return 0;
    *name = a + 1;
    *n = (size_t)(b - a - 1);
    return 1;
}

// A name with a drive ("X:\...") stands alone; any other is looked for beside the sheet. A sheet
// is untrusted: a name that is not a local file (a network share, a device, a stream) is refused
// before anything opens it, as is one whose path does not fit, and the file counts as missing ("").
// A name in an 8-bit code page is converted first (text_from_disc), and the rules hold for what it
// became.
static void file_path(char *out, const char *folder, size_t folder_len, const char *name, size_t n) {
    char given[PATH_TEXT];
    out[0] = 0;
    if (memchr(name, 0, n) || !text_from_disc(name, n, given, sizeof given)) return;
    if (!path_is_local(given)) return;
    if (given[0] && given[1] == ':') folder_len = 0;
    int k = snprintf(out, PATH_TEXT, "%.*s%s", (int)folder_len, folder, given);
    if (k < 0 || k >= PATH_TEXT) out[0] = 0;
}

// The type word after a FILE line's name: BINARY, MOTOROLA or none are raw sectors.
static int raw_type_word(const cue_line *l, const char *name_end) {
    const char *q = skip_blanks(name_end + 1, l->e), *w = q;
    while (q < l->e && *q != ' ' && *q != '\t') q++;
    size_t n = (size_t)(q - w);
    char word[9] = "";
    if (n >= sizeof word) return 0;
    for (size_t i = 0; i < n; i++) word[i] = (char)(w[i] >= 'a' && w[i] <= 'z' ? w[i] - ('a' - 'A') : w[i]);
    word[n] = 0;
    return n == 0 || strcmp(word, "BINARY") == 0 || strcmp(word, "MOTOROLA") == 0;
}

int cue_parse(const char *text, size_t len, const char *sheet_path, cue_file_fn measure, void *user,
              cd_track *tracks, char *data_file) {
    data_file[0] = 0;
    // Editors that save UTF-8 may put a byte order mark before the first keyword.
    if (len >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        len -= 3;
    }
    const char *end = text + len;
    const char *nul = (const char *)memchr(text, 0, len);
    if (nul) end = nul;

    // The folder ends at the last backslash or slash: "C:/images/game.cue" has one too.
    size_t folder_len = 0;
    for (size_t i = 0; sheet_path[i]; i++)
        if (sheet_path[i] == '\\' || sheet_path[i] == '/') folder_len = i + 1;

    char file[PATH_TEXT] = "";
    cue_file info = {TRACK_RAW, 0};  // the current file's, when have_info
    int have_info = 0, raw_word = 1;
    int have_data = 0, count = 0;
    uint32_t base = 0;  // sectors in all files before the current one, modulo 2^32
    uint32_t sector_size = RAW_SECTOR;
    cd_track *cur = NULL;

    for (const char *p = text; p < end;) {
        if (*p == '\r' || *p == '\n') {
            p++;
            continue;
        }
        cue_line l;
        l.p = p;
        while (p < end && *p != '\r' && *p != '\n') p++;
        l.e = p;
        l.p = skip_blanks(l.p, l.e);

        if (line_starts(&l, "FILE")) {
            if (file[0] && have_info)
                base += (uint32_t)(info.bytes / (info.kind == TRACK_RAW ? sector_size : (uint32_t)RAW_SECTOR));
            const char *name;
            size_t n;
            if (quoted(&l, &name, &n)) {
                file_path(file, sheet_path, folder_len, name, n);
                raw_word = raw_type_word(&l, name + n);
                // The data track is looked for in the first file the tracks can name, never in
                // a quoted text of a comment or a CD-Text line.
                if (!have_data) memcpy(data_file, file, sizeof file);
                have_data = 1;
            }
            // Measured once, when named: an audio file's length takes its decoder to tell.
            have_info = file[0] && measure(user, file, &info);
        } else if (line_starts(&l, "TRACK")) {
            if (count >= TRACK_LIMIT) continue;  // the INDEX lines that follow land on the last track
            cur = &tracks[count++];
            memset(cur, 0, sizeof *cur);
            const char *q = skip_blanks(l.p + 5, l.e);
            int any;
            int64_t number = digits(&q, l.e, &any);
            cur->number = number > 2147483647 ? 2147483647 : (int32_t)number;
            cur->audio = line_has(&l, "AUDIO");
            sector_size = line_has(&l, "/2048")   ? ISO_SECTOR
                          : line_has(&l, "/2336") ? MODE2_SECTOR
                                                  : RAW_SECTOR;
            memcpy(cur->file, file, sizeof file);
            int kind = have_info ? info.kind : TRACK_MISSING;
            // A data track must be raw sectors that can be read: a table without them would be
            // taken for the CD's, and an audio file's decoded sectors are no data.
            if (kind != TRACK_RAW && !cur->audio) {
                if (kind == TRACK_MISSING)
                    setup_log("cannot read data track %d: %s cannot be read", cur->number, file[0] ? file : "its file");
                else
                    setup_log("cannot read data track %d: %s is an audio file", cur->number, file);
                data_file[0] = 0;
                return 0;
            }
            if (kind == TRACK_RAW && cur->audio && have_info && !raw_word) kind = TRACK_UNKNOWN;
            if (track_decoded(kind)) sector_size = RAW_SECTOR;
            cur->kind = kind;
            cur->sector_size = sector_size;
            cur->file_bytes = have_info ? info.bytes : 0;
        } else if (line_starts(&l, "INDEX 01") && cur) {
            uint32_t f = position(l.p + 8, l.e);
            cur->start_lba = f + base;
            cur->file_offset = (uint64_t)f * cur->sector_size;
        }
    }

    // A track runs to the next track's INDEX 01 in the same file (the next pregap included), or
    // to the end of its file. A track without a file, or whose file cannot be read, has no sectors.
    for (int i = 0; i < count; i++) {
        cd_track *t = &tracks[i];
        uint64_t stop = 0;
        // File names in sheets rarely match the letter case on disk, and the file system ignores it.
        if (t->file[0] && i + 1 < count && ascii_same(t->file, tracks[i + 1].file))
            stop = tracks[i + 1].file_offset;
        else if (t->kind != TRACK_MISSING)
            stop = t->file_bytes;
        t->sectors = stop > t->file_offset ? (uint32_t)((stop - t->file_offset) / t->sector_size) : 0;
    }
    return count;
}
