#include "cdsrc/audio_format.h"

#include <string.h>

#include "util/bytes.h"

enum {
    WAV_MAX_CHUNKS = 1024,  // chunks looked at for fmt and data: real files have a handful
    WAV_MAX_RATE = 768000,
    ID3_HEADER = 10,
    MP3_JUNK = 4096,        // bytes after an ID3v2 tag that its size may leave out (padding)
    OGG_HEAD = 27,          // a page header up to its segment table
};

const char *track_kind_name(int kind) {
    static const char *const names[TRACK_KINDS] = {"raw",     "wav",     "flac", "vorbis", "opus",
                                                   "mp3",     "unknown", "missing", "chd"};
    return kind >= 0 && kind < TRACK_KINDS ? names[kind] : "unknown";
}

// Reads up to n bytes at at: how many, 0 past the end; a file that cannot be read sets *failed.
static size_t get(const audio_bytes *f, uint64_t at, void *buf, size_t n, int *failed) {
    int64_t got = f->read(f->user, at, buf, n);
    if (got < 0) {
        *failed = 1;
        return 0;
    }
    return (size_t)got;
}

static int get_all(const audio_bytes *f, uint64_t at, void *buf, size_t n, int *failed) {
    return get(f, at, buf, n, failed) == n;
}

// --- RIFF WAVE -------------------------------------------------------------------------------

static const uint8_t k_subformat_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

static int wav_encoding(uint32_t format, uint32_t bits) {
    if (format == 1 && bits == 8) return PCM_U8;
    if (format == 1 && bits == 16) return PCM_S16;
    if (format == 1 && bits == 24) return PCM_S24;
    if (format == 1 && bits == 32) return PCM_S32;
    if (format == 3 && bits == 32) return PCM_F32;
    if (format == 3 && bits == 64) return PCM_F64;
    return -1;
}

// The fmt chunk's body (n bytes, at least 16).
static int wav_fmt(const uint8_t *fmt, size_t n, wav_format *out) {
    uint32_t format = le16(fmt), channels = le16(fmt + 2), rate = le32(fmt + 4);
    uint32_t align = le16(fmt + 12), bits = le16(fmt + 14);
    if (format == 0xFFFE) {
        // The bits are the container's: 24 valid bits in 32 are the top 24, scaled like 32.
        if (n < 40 || memcmp(fmt + 26, k_subformat_tail, sizeof k_subformat_tail) != 0) return 0;
        format = le16(fmt + 24);
    }
    int encoding = wav_encoding(format, bits);
    if (encoding < 0 || channels < 1 || channels > 2 || rate < 1 || rate > WAV_MAX_RATE ||
        align != channels * pcm_sample_bytes(encoding))
        return 0;
    out->encoding = encoding;
    out->channels = channels;
    out->rate = rate;
    out->block = align;
    return 1;
}

static int wav_format_of(const audio_bytes *f, wav_format *out, int *error) {
    int failed = 0;
    uint8_t h[12];
    if (!get_all(f, 0, h, sizeof h, &failed) || memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVE", 4) != 0) {
        *error = failed;
        return 0;
    }
    int have_fmt = 0, have_data = 0;
    uint64_t data_bytes = 0, at = 12;
    for (int i = 0; i < WAV_MAX_CHUNKS && !(have_fmt && have_data); i++) {
        uint8_t c[8];
        if (!get_all(f, at, c, sizeof c, &failed)) break;
        uint32_t size = le32(c + 4);
        uint64_t body = at + 8;
        if (memcmp(c, "fmt ", 4) == 0 && !have_fmt) {
            uint8_t fmt[40];
            size_t n = size < sizeof fmt ? size : sizeof fmt;
            if (n < 16 || !get_all(f, body, fmt, n, &failed) || !wav_fmt(fmt, n, out)) {
                *error = failed;
                return 0;
            }
            have_fmt = 1;
        } else if (memcmp(c, "data", 4) == 0 && !have_data) {
            out->data_at = body;
            data_bytes = size == 0xFFFFFFFFu ? (f->size > body ? f->size - body : 0) : size;
            have_data = 1;
        }
        at = body + size + (size & 1);
    }
    *error = failed;
    if (failed || !have_fmt || !have_data) return 0;
    out->frames = data_bytes / out->block;
    return 1;
}

int wav_read_format(const audio_bytes *f, wav_format *out) {
    int failed = 0;
    return wav_format_of(f, out, &failed);
}

// --- MPEG audio Layer III ----------------------------------------------------------------------

int mp3_frame_header(const uint8_t h[4], mp3_frame *out) {
    static const uint16_t kbits[2][15] = {
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},       // MPEG-2 and 2.5
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},  // MPEG-1
    };
    static const uint32_t rates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    unsigned version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3, crc = !(h[1] & 1);
    unsigned rate_index = (h[2] >> 2) & 3, bit_index = h[2] >> 4, pad = (h[2] >> 1) & 1;
    unsigned mono = (h[3] >> 6) == 3;
    if (version == 1 || layer != 1 || bit_index == 0 || bit_index == 15 || rate_index == 3 || (h[3] & 3) == 2)
        return 0;
    int mpeg1 = version == 3;
    out->rate = rates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    out->bitrate = kbits[mpeg1][bit_index] * 1000u;
    out->samples = mpeg1 ? 1152 : 576;
    out->bytes = (mpeg1 ? 144 : 72) * out->bitrate / out->rate + pad;
    out->channels = mono ? 1 : 2;
    out->side = 4 + (crc ? 2 : 0) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    out->head[0] = h[0];
    out->head[1] = (uint8_t)(h[1] & 0xFE);
    return 1;
}

// Frames of one stream share version, layer, rate and the number of channels.
static int same_stream(const mp3_frame *a, const mp3_frame *b) {
    return memcmp(a->head, b->head, 2) == 0 && a->rate == b->rate && a->channels == b->channels;
}

static int frame_at(const audio_bytes *f, uint64_t at, mp3_frame *out, int *failed) {
    uint8_t h[4];
    return get_all(f, at, h, 4, failed) && mp3_frame_header(h, out) && out->bytes <= f->size - at;
}

int mp3_frame_at(const audio_bytes *f, uint64_t at, const mp3_stream *s, mp3_frame *out) {
    int failed = 0;
    return at < f->size && frame_at(f, at, out, &failed) && same_stream(out, &s->frame);
}

// Frames of one stream chained from at: n of them, each where the one before ends.
static int chained(const audio_bytes *f, uint64_t at, int n, int *failed) {
    mp3_frame first, next;
    if (at >= f->size || !frame_at(f, at, &first, failed)) return 0;
    next = first;
    for (int i = 1; i < n; i++) {
        at += next.bytes;
        if (at >= f->size || !frame_at(f, at, &next, failed) || !same_stream(&next, &first)) return 0;
    }
    return 1;
}

// Where the ID3v2 tag at the file's start ends; 0 without one.
static uint64_t id3_end(const audio_bytes *f, int *failed) {
    uint8_t h[ID3_HEADER];
    if (!get_all(f, 0, h, sizeof h, failed) || memcmp(h, "ID3", 3) != 0) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;  // not a size of 7-bit bytes
    uint64_t size = (uint64_t)h[6] << 21 | (uint64_t)h[7] << 14 | (uint64_t)h[8] << 7 | h[9];
    return ID3_HEADER + size + (h[5] & 0x10 ? ID3_HEADER : 0);
}

// The information frame's figures: frames, and the encoder's delay and padding.
static void info_frame(const uint8_t *b, size_t n, mp3_stream *s) {
    rd r = rd_make(b, n);
    rd_skip(&r, 4);
    uint32_t flags = rd_be32(&r);
    uint32_t frames = flags & 1 ? rd_be32(&r) : 0;
    if (flags & 2) rd_skip(&r, 4);
    if (flags & 4) rd_skip(&r, 100);
    if (flags & 8) rd_skip(&r, 4);
    if (!r.ok) return;
    s->frames = frames;
    const uint8_t *tag = b + r.pos;
    if (rd_need(&r, 24) && (memcmp(tag, "LAME", 4) == 0 || memcmp(tag, "Lavf", 4) == 0 || memcmp(tag, "Lavc", 4) == 0)) {
        s->gapless = 1;
        s->delay = (uint32_t)tag[21] << 4 | tag[22] >> 4;
        s->padding = (uint32_t)(tag[22] & 15) << 8 | tag[23];
    }
}

int mp3_read_stream(const audio_bytes *f, mp3_stream *out) {
    memset(out, 0, sizeof *out);
    int failed = 0;
    uint64_t at = id3_end(f, &failed);
    if (at) {
        // The first frame is the first of two chained ones within the padding a tag may leave out.
        uint64_t limit = at + MP3_JUNK;
        while (at < limit && at < f->size && !chained(f, at, 2, &failed) && !failed) at++;
    }
    mp3_frame first;
    if (failed || at >= f->size || !frame_at(f, at, &first, &failed)) return 0;
    out->frame = first;
    uint8_t b[MP3_MAX_FRAME];
    size_t n = get(f, at, b, first.bytes, &failed);
    if (n == first.bytes && first.side + 8 <= n &&
        (memcmp(b + first.side, "Xing", 4) == 0 || memcmp(b + first.side, "Info", 4) == 0)) {
        info_frame(b + first.side, n - first.side, out);
        at += first.bytes;
    }
    out->first = at;
    mp3_frame audio;  // of the same stream as the first frame, information frame or not
    if (failed || !mp3_frame_at(f, at, out, &audio)) return 0;
    out->frame = audio;
    return 1;
}

// What may follow the last frame: an ID3v1 tag, an APEv2 tag, Lyrics3.
static int tag_at(const audio_bytes *f, uint64_t at, int *failed) {
    uint8_t b[11] = {0};
    get(f, at, b, sizeof b, failed);
    return memcmp(b, "TAG", 3) == 0 || memcmp(b, "APETAGEX", 8) == 0 || memcmp(b, "LYRICSBEGIN", 11) == 0;
}

int64_t mp3_count_frames(const audio_bytes *f, const mp3_stream *s) {
    int failed = 0;
    int64_t count = 0;
    mp3_frame fr;
    uint64_t at = s->first;
    for (; at < f->size && count < INT32_MAX; at += fr.bytes, count++)
        if (!frame_at(f, at, &fr, &failed) || !same_stream(&fr, &s->frame)) break;
    // The frames end at the file's end or at a tag; anywhere else they end at damage.
    if (at < f->size && !tag_at(f, at, &failed)) return -1;
    return failed ? -1 : count;
}

// --- the probe ---------------------------------------------------------------------------------

static int ogg_kind(const audio_bytes *f, int *failed) {
    uint8_t b[OGG_HEAD + 255 + 8];
    size_t n = get(f, 0, b, sizeof b, failed);
    if (n < OGG_HEAD || b[4] != 0) return TRACK_UNKNOWN;
    size_t packet = OGG_HEAD + b[26];
    if (packet + 8 > n) return TRACK_UNKNOWN;
    if (memcmp(b + packet, "\x01vorbis", 7) == 0) return TRACK_VORBIS;
    if (memcmp(b + packet, "OpusHead", 8) == 0) return TRACK_OPUS;
    return TRACK_UNKNOWN;
}

int audio_probe(const audio_bytes *f) {
    int failed = 0;
    uint8_t h[12] = {0};
    get(f, 0, h, sizeof h, &failed);
    int kind = TRACK_RAW;
    if (memcmp(h, "RIFF", 4) == 0 && memcmp(h + 8, "WAVE", 4) == 0) {
        wav_format w;
        kind = wav_format_of(f, &w, &failed) ? TRACK_WAV : TRACK_UNKNOWN;
    } else if (memcmp(h, "FORM", 4) == 0 && (memcmp(h + 8, "AIFF", 4) == 0 || memcmp(h + 8, "AIFC", 4) == 0)) {
        kind = TRACK_UNKNOWN;
    } else if (memcmp(h, "fLaC", 4) == 0) {
        kind = TRACK_FLAC;
    } else if (memcmp(h, "OggS", 4) == 0) {
        kind = ogg_kind(f, &failed);
    } else if (uint64_t tag = id3_end(f, &failed)) {
        uint8_t m[4] = {0};
        get(f, tag, m, sizeof m, &failed);
        kind = memcmp(m, "fLaC", 4) == 0 ? TRACK_FLAC : TRACK_MP3;
    } else if (chained(f, 0, 3, &failed)) {
        kind = TRACK_MP3;
    }
    return failed ? -1 : kind;
}
