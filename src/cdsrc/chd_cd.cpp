// A CD kept in a CHD (chd_cd.h): the CD metadata read into a track table, and the image of 2352-byte
// sectors read from the hunks.
#include "cdsrc/chd_cd.h"

#include <stdlib.h>
#include <string.h>

#include "util/bytes.h"
#include "util/util.h"

enum {
    CD_FRAME = RAW_SECTOR + 96,
    CD_PADDING = 4,        // every track's frames in the CHD run to a multiple of this
    CD_META_TEXT = 256,    // bytes of a track's text entry that are read; chdman writes about 90
    CD_FRAMES_MAX = 450000 * 2,  // frames of all tracks: twice a CD of 99 minutes
};

struct chd_cd_track {
    int32_t number;
    int32_t audio;
    uint32_t chd_frame;  // its first frame in the CHD
    uint32_t bin_frame;  // its first frame in the image
    uint32_t frames;     // stored, a stored pregap included
    uint32_t index01;    // frames from its first to its INDEX 01: a stored pregap
};

struct chd_cd {
    chd_file *chd;
    chd_cd_track tracks[MAX_TRACKS];
    int count;
    uint32_t bin_frames;
    uint32_t frames_per_hunk;
};

static void say(char *why, size_t size, const char *text) { fmt_cut(why, size, "%s", text); }

// The value after "KEY:" among the text's blank-separated fields, into out; 0 when the key is
// missing.
static int field(const char *text, const char *key, char *out, size_t size) {
    size_t k = strlen(key);
    for (const char *p = text; *p;) {
        while (*p == ' ') p++;
        const char *end = p;
        while (*end && *end != ' ') end++;
        if ((size_t)(end - p) > k && memcmp(p, key, k) == 0 && p[k] == ':') {
            size_t n = (size_t)(end - p) - k - 1;
            if (n >= size) return 0;
            memcpy(out, p + k + 1, n);
            out[n] = 0;
            return 1;
        }
        p = end;
    }
    return 0;
}

// A decimal number of up to 9 digits: more is no CD's.
static int number_field(const char *text, const char *key, uint32_t *out) {
    char v[16];
    if (!field(text, key, v, sizeof v) || !v[0] || strlen(v) > 9) return 0;
    uint32_t n = 0;
    for (const char *p = v; *p; p++) {
        if (*p < '0' || *p > '9') return 0;
        n = n * 10 + (uint32_t)(*p - '0');
    }
    *out = n;
    return 1;
}

// The types a CD image's tracks may have; audio is told apart, the rest is data.
static int known_type(const char *type, int *audio) {
    static const char *const data[] = {"MODE1", "MODE1/2048", "MODE1_RAW", "MODE1/2352", "MODE2", "MODE2/2336",
                                       "MODE2_FORM1", "MODE2/2048", "MODE2_FORM2", "MODE2/2324",
                                       "MODE2_FORM_MIX", "MODE2_RAW", "MODE2/2352", "CDI/2352"};
    *audio = strcmp(type, "AUDIO") == 0;
    if (*audio) return 1;
    for (const char *d : data)
        if (strcmp(type, d) == 0) return 1;
    return 0;
}

// One text entry (CHT2, or CHTR without the pregap fields) into t.
static int read_text_track(const char *text, int index, int with_pregap, chd_cd_track *t, uint32_t *frames) {
    char type[24], pgtype[24];
    uint32_t number, pregap = 0;
    if (!number_field(text, "TRACK", &number) || number != (uint32_t)index + 1 ||
        !field(text, "TYPE", type, sizeof type) || !known_type(type, &t->audio) ||
        !number_field(text, "FRAMES", frames))
        return 0;
    if (with_pregap && number_field(text, "PREGAP", &pregap) && field(text, "PGTYPE", pgtype, sizeof pgtype) &&
        pgtype[0] == 'V') {
        if (pregap > *frames) return 0;
        t->index01 = pregap;
    }
    t->number = (int32_t)number;
    return 1;
}

// The binary entry of the oldest CHDs: padding as it gives it.
static int read_binary_tracks(chd_cd *cd, const uint8_t *m, uint32_t len, uint32_t *frames, uint32_t *padding) {
    rd r = rd_make(m, len);
    uint32_t count = rd_be32(&r);
    if (!r.ok || count == 0 || count > TRACK_LIMIT) return 0;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t type = rd_be32(&r);
        rd_skip(&r, 12);  // subtype, data and subcode bytes
        frames[i] = rd_be32(&r);
        padding[i] = rd_be32(&r);
        if (!r.ok || type > 7 || padding[i] > CD_FRAMES_MAX) return 0;
        cd->tracks[i].number = (int32_t)i + 1;
        cd->tracks[i].audio = type == 7;
    }
    cd->count = (int)count;
    return 1;
}

static int read_toc(chd_cd *cd, char *why, size_t why_size) {
    uint32_t frames[MAX_TRACKS], padding[MAX_TRACKS];
    char text[CD_META_TEXT + 1];
    uint32_t len;
    int with_pregap = 1;
    uint32_t tag = chd_tag("CHT2");
    if (!chd_metadata(cd->chd, tag, 0, (uint8_t *)text, CD_META_TEXT, &len)) {
        with_pregap = 0;
        tag = chd_tag("CHTR");
    }
    for (int i = 0; i < TRACK_LIMIT && chd_metadata(cd->chd, tag, (uint32_t)i, (uint8_t *)text, CD_META_TEXT, &len);
         i++) {
        text[len < (uint32_t)CD_META_TEXT ? len : (uint32_t)CD_META_TEXT] = 0;
        if (!read_text_track(text, i, with_pregap, &cd->tracks[i], &frames[i]))
            return say(why, why_size, "is damaged: its track list is not one"), 0;
        padding[i] = (CD_PADDING - frames[i] % CD_PADDING) % CD_PADDING;
        cd->count = i + 1;
    }
    if (!cd->count) {
        uint8_t m[4 + TRACK_LIMIT * 24];
        if (chd_metadata(cd->chd, chd_tag("CHCD"), 0, m, sizeof m, &len)) {
            if (!read_binary_tracks(cd, m, len < sizeof m ? len : (uint32_t)sizeof m, frames, padding))
                return say(why, why_size, "is damaged: its track list is not one"), 0;
        } else if (chd_metadata(cd->chd, chd_tag("CHGD"), 0, m, sizeof m, &len)) {
            return say(why, why_size, "holds a GD-ROM, not a CD"), 0;
        } else {
            return say(why, why_size, "holds no CD: it has no track list"), 0;
        }
    }
    // Where each track lies in the CHD and in the image; all of it inside the CHD's data.
    uint64_t chd_at = 0, bin_at = 0;
    for (int i = 0; i < cd->count; i++) {
        chd_cd_track *t = &cd->tracks[i];
        if (!frames[i]) return say(why, why_size, "is damaged: a track has no frames"), 0;
        t->chd_frame = (uint32_t)chd_at;
        t->bin_frame = (uint32_t)bin_at;
        t->frames = frames[i];
        chd_at += (uint64_t)frames[i] + padding[i];
        bin_at += frames[i];
        if (chd_at > CD_FRAMES_MAX || chd_at - padding[i] > chd_logical_bytes(cd->chd) / CD_FRAME)
            return say(why, why_size, "is damaged: its tracks run past its data"), 0;
    }
    cd->bin_frames = (uint32_t)bin_at;
    return 1;
}

int chd_cd_open(const chd_io *io, chd_cd **out, char *why, size_t why_size) {
    *out = NULL;
    chd_cd *cd = (chd_cd *)calloc(1, sizeof *cd);
    if (!cd) return say(why, why_size, "cannot be read: not enough memory"), 0;
    if (!chd_open(io, &cd->chd, why, why_size)) {
        free(cd);
        return 0;
    }
    if (chd_unit_bytes(cd->chd) != CD_FRAME || chd_hunk_bytes(cd->chd) % CD_FRAME) {
        say(why, why_size, "holds no CD: its units are not CD frames");
        chd_cd_close(cd);
        return 0;
    }
    cd->frames_per_hunk = chd_hunk_bytes(cd->chd) / CD_FRAME;
    if (!read_toc(cd, why, why_size)) {
        chd_cd_close(cd);
        return 0;
    }
    *out = cd;
    return 1;
}

void chd_cd_close(chd_cd *cd) {
    if (!cd) return;
    chd_close(cd->chd);
    free(cd);
}

int chd_cd_tracks(const chd_cd *cd, cd_track *tracks) {
    for (int i = 0; i < cd->count; i++) {
        const chd_cd_track *t = &cd->tracks[i];
        uint32_t start = t->bin_frame + t->index01;
        uint32_t next = i + 1 < cd->count ? cd->tracks[i + 1].bin_frame + cd->tracks[i + 1].index01 : cd->bin_frames;
        cd_track *o = &tracks[i];
        memset(o, 0, sizeof *o);
        o->number = t->number;
        o->audio = t->audio;
        o->start_lba = start;
        o->sectors = next - start;
        o->file_offset = (uint64_t)start * RAW_SECTOR;
        o->sector_size = RAW_SECTOR;
        o->kind = TRACK_CHD;
    }
    return cd->count;
}

uint64_t chd_cd_bytes(const chd_cd *cd) { return (uint64_t)cd->bin_frames * RAW_SECTOR; }

// The track that holds frame f of the image.
static const chd_cd_track *track_at(const chd_cd *cd, uint32_t f) {
    int i = cd->count - 1;
    while (i > 0 && cd->tracks[i].bin_frame > f) i--;
    return &cd->tracks[i];
}

int chd_cd_read(chd_cd *cd, uint64_t pos, void *buf, uint32_t len) {
    uint8_t *out = (uint8_t *)buf;
    if (pos > chd_cd_bytes(cd) || len > chd_cd_bytes(cd) - pos) return 0;
    while (len) {
        uint32_t f = (uint32_t)(pos / RAW_SECTOR), at = (uint32_t)(pos % RAW_SECTOR);
        uint32_t n = RAW_SECTOR - at < len ? RAW_SECTOR - at : len;
        const chd_cd_track *t = track_at(cd, f);
        uint32_t frame = t->chd_frame + (f - t->bin_frame);
        const uint8_t *hunk = chd_read_hunk(cd->chd, frame / cd->frames_per_hunk);
        if (!hunk) return 0;
        const uint8_t *sector = hunk + (size_t)(frame % cd->frames_per_hunk) * CD_FRAME;
        if (t->audio) {
            // Stored big-endian: each sample's two bytes change places.
            for (uint32_t i = 0; i < n; i++) out[i] = sector[(at + i) ^ 1];
        } else {
            memcpy(out, sector + at, n);
        }
        out += n;
        pos += n;
        len -= n;
    }
    return 1;
}
