#include "cdsrc/ccd.h"

#include <string.h>

enum { CCD_LEADOUT = 0xA2, CCD_DATA_CONTROL = 0x04 };

struct ccd_entry {
    int64_t point, adr, control, plba;
    int has_point, has_plba;
};

static int is_blank(char c) { return c == ' ' || c == '\t'; }

// ASCII letters folded to lower case: keys compare without regard to case.
static int same_key(const char *p, size_t n, const char *key) {
    if (strlen(key) != n) return 0;
    for (size_t i = 0; i < n; i++) {
        char a = p[i], b = key[i];
        if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
        if (a != b) return 0;
    }
    return 1;
}

// A decimal or 0x-hexadecimal number with an optional sign, in [p, e); 0 when there is none.
// The value stops growing at 2^40, far past any sector count, so digits cannot overflow it.
static int number(const char *p, const char *e, int64_t *out) {
    const int64_t cap = (int64_t)1 << 40;
    while (p < e && is_blank(*p)) p++;
    int neg = 0;
    if (p < e && (*p == '-' || *p == '+')) neg = *p++ == '-';
    int base = 10;
    if (e - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    int64_t v = 0;
    int any = 0;
    for (; p < e; p++) {
        int d;
        if (*p >= '0' && *p <= '9') d = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f') d = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F') d = *p - 'A' + 10;
        else break;
        any = 1;
        v = v * base + d;
        if (v > cap) v = cap;
    }
    if (!any) return 0;
    *out = neg ? -v : v;
    return 1;
}

// Reads the entries of the text into e (at most CCD_MAX_ENTRIES); returns how many.
static int read_entries(const char *text, size_t len, ccd_entry *e) {
    const char *p = text, *end = text + len;
    const char *nul = len ? (const char *)memchr(text, 0, len) : NULL;
    if (nul) end = nul;
    int count = 0;
    ccd_entry *cur = NULL;
    while (p < end) {
        const char *q = p;
        while (q < end && *q != '\r' && *q != '\n') q++;
        const char *line = p, *line_end = q;
        p = q < end ? q + 1 : q;
        while (line < line_end && is_blank(*line)) line++;
        if (line < line_end && *line == '[') {
            cur = NULL;
            if (line_end - line >= 6 && same_key(line + 1, 5, "entry") && count < CCD_MAX_ENTRIES) {
                cur = &e[count++];
                memset(cur, 0, sizeof *cur);
                cur->adr = 1;  // an entry without ADR gives a position, as ADR 1 does
            }
            continue;
        }
        if (!cur) continue;
        const char *eq = (const char *)memchr(line, '=', (size_t)(line_end - line));
        if (!eq) continue;
        const char *k = line, *ke = eq;
        while (ke > k && is_blank(ke[-1])) ke--;
        size_t kn = (size_t)(ke - k);
        int64_t v;
        if (!number(eq + 1, line_end, &v)) continue;
        if (same_key(k, kn, "point")) {
            cur->point = v;
            cur->has_point = 1;
        } else if (same_key(k, kn, "adr")) {
            cur->adr = v;
        } else if (same_key(k, kn, "control")) {
            cur->control = v;
        } else if (same_key(k, kn, "plba")) {
            cur->plba = v;
            cur->has_plba = 1;
        }
    }
    return count;
}

int ccd_parse(const char *text, size_t len, uint64_t img_size, cd_track *tracks) {
    ccd_entry entries[CCD_MAX_ENTRIES];
    int n = read_entries(text, len, entries);
    const ccd_entry *by_point[TRACK_LIMIT + 1] = {};
    const ccd_entry *leadout = NULL;
    for (int i = 0; i < n; i++) {
        const ccd_entry *x = &entries[i];
        if (!x->has_point || !x->has_plba || x->adr != 1) continue;
        if (x->point >= 1 && x->point <= TRACK_LIMIT && !by_point[x->point]) by_point[x->point] = x;
        if (x->point == CCD_LEADOUT && !leadout) leadout = x;
    }
    const uint64_t img_sectors = img_size / RAW_SECTOR;
    int count = 0;
    for (int point = 1; point <= TRACK_LIMIT; point++) {
        const ccd_entry *x = by_point[point];
        if (!x) continue;
        if (x->plba < 0 || (uint64_t)x->plba > img_sectors) return 0;
        if (count > 0 && (uint32_t)x->plba <= tracks[count - 1].start_lba) return 0;
        cd_track *t = &tracks[count++];
        memset(t, 0, sizeof *t);
        t->number = point;
        t->audio = !(x->control & CCD_DATA_CONTROL);
        t->start_lba = (uint32_t)x->plba;
        t->sector_size = RAW_SECTOR;
        t->file_offset = (uint64_t)t->start_lba * RAW_SECTOR;
    }
    for (int i = 0; i < count; i++) {
        uint64_t end = img_sectors;
        if (i + 1 < count)
            end = tracks[i + 1].start_lba;
        else if (leadout && leadout->plba > (int64_t)tracks[i].start_lba && (uint64_t)leadout->plba < end)
            end = (uint64_t)leadout->plba;
        if (end > img_sectors) end = img_sectors;
        tracks[i].sectors = (uint32_t)(end - tracks[i].start_lba);
    }
    return count;
}
