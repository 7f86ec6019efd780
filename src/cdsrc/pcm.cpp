#include "cdsrc/pcm.h"

#include <math.h>
#include <string.h>

unsigned pcm_sample_bytes(int encoding) {
    switch (encoding) {
    case PCM_U8: return 1;
    case PCM_S16: return 2;
    case PCM_S24: return 3;
    case PCM_S32: return 4;
    case PCM_F32: return 4;
    case PCM_F64: return 8;
    }
    return 0;
}

static int16_t clip16(int64_t v) { return (int16_t)(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// A sample of bits bits (17 to 32) to 16, rounded half up: (v + half a step) >> the steps.
static int16_t narrow(int64_t v, unsigned bits) {
    unsigned shift = bits - 16;
    return clip16((v + ((int64_t)1 << (shift - 1))) >> shift);
}

static int16_t from_float(double x) {
    double v = x * 32768.0;
    if (v != v) return 0;  // NaN
    if (v <= -32768.0) return -32768;
    if (v >= 32767.0) return 32767;
    return (int16_t)lrint(v);
}

static int16_t sample16(const uint8_t *p, int encoding) {
    switch (encoding) {
    case PCM_U8: return (int16_t)((p[0] - 128) * 256);
    case PCM_S16: return (int16_t)(p[0] | p[1] << 8);
    case PCM_S24: return narrow((int32_t)((uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24) >> 8, 24);
    case PCM_S32: return narrow((int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                                          (uint32_t)p[3] << 24), 32);
    case PCM_F32: {
        uint32_t u = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
        float f;
        memcpy(&f, &u, sizeof f);
        return from_float(f);
    }
    case PCM_F64: {
        uint64_t u = 0;
        for (int i = 7; i >= 0; i--) u = u << 8 | p[i];
        double d;
        memcpy(&d, &u, sizeof d);
        return from_float(d);
    }
    }
    return 0;
}

void pcm_to_stereo16(const uint8_t *in, size_t frames, int encoding, unsigned channels, int16_t *out) {
    size_t bytes = pcm_sample_bytes(encoding);
    if (encoding == PCM_S16 && channels == 2) {  // CD's own layout: only the byte order matters
        for (size_t i = 0; i < 2 * frames; i++) out[i] = (int16_t)(in[2 * i] | in[2 * i + 1] << 8);
        return;
    }
    for (size_t i = 0; i < frames; i++, in += bytes * channels) {
        out[2 * i] = sample16(in, encoding);
        out[2 * i + 1] = channels == 2 ? sample16(in + bytes, encoding) : out[2 * i];
    }
}

void pcm_planar_to_stereo16(const int32_t *const planes[], unsigned channels, unsigned bits, size_t frames,
                            int16_t *out) {
    const int32_t *l = planes[0], *r = channels == 2 ? planes[1] : planes[0];
    if (bits <= 16) {
        unsigned shift = 16 - bits;
        for (size_t i = 0; i < frames; i++) {
            out[2 * i] = clip16((int64_t)l[i] * (1 << shift));
            out[2 * i + 1] = clip16((int64_t)r[i] * (1 << shift));
        }
        return;
    }
    for (size_t i = 0; i < frames; i++) {
        out[2 * i] = narrow(l[i], bits);
        out[2 * i + 1] = narrow(r[i], bits);
    }
}

void pcm_span_init(pcm_span *s, pcm_pull_fn pull, void *user, uint64_t skip, uint64_t keep, uint64_t slack) {
    s->pull = pull;
    s->user = user;
    s->skip = skip;
    s->keep = keep;
    s->slack = slack;
    s->made = 0;
    s->ended = 0;
}

long pcm_span_pull(void *span, int16_t *out, size_t max) {
    pcm_span *s = (pcm_span *)span;
    uint64_t left = s->keep - s->made;
    if (max > left) max = (size_t)left;
    if (max == 0) return 0;
    // The frames before the span are read into out and dropped.
    while (s->skip && !s->ended) {
        long n = s->pull(s->user, out, s->skip < max ? (size_t)s->skip : max);
        if (n < 0) return -1;
        if (n == 0) s->ended = 1;
        s->skip -= (uint64_t)n;
    }
    long n = 0;
    if (!s->ended) {
        n = s->pull(s->user, out, max);
        if (n < 0) return -1;
        if (n == 0) s->ended = 1;
    }
    if (s->ended) {
        // Ended before its audio did: only a short end within the slack is the decoder's delay.
        if (s->skip || left > s->slack) return -1;
        memset(out, 0, max * 4);
        n = (long)max;
    }
    s->made += (uint64_t)n;
    return n;
}

uint64_t pcm_sectors_of(uint64_t frames) { return frames / SECTOR_FRAMES + (frames % SECTOR_FRAMES != 0); }

// Up to max frames of the stream from the position on, silence past its end. -1 when it fails or
// ends before total.
static long sectors_pull(pcm_sectors *s, int16_t *out, size_t max) {
    if (s->pos >= s->total) {
        memset(out, 0, max * 4);
        return (long)max;
    }
    uint64_t left = s->total - s->pos;
    long n = s->pull(s->user, out, max < left ? max : (size_t)left);
    return n <= 0 ? -1 : n;
}

int pcm_sectors_seek(pcm_sectors *s, uint64_t at, int16_t *scratch, size_t scratch_frames) {
    if (at < s->pos) return 0;
    while (s->pos < at) {
        uint64_t gap = at - s->pos;
        long n = sectors_pull(s, scratch, gap < scratch_frames ? (size_t)gap : scratch_frames);
        if (n < 0) return 0;
        s->pos += (uint64_t)n;
    }
    return 1;
}

int pcm_sectors_read(pcm_sectors *s, uint32_t count, int16_t *out) {
    size_t want = (size_t)count * SECTOR_FRAMES, done = 0;
    while (done < want) {
        long n = sectors_pull(s, out + 2 * done, want - done);
        if (n < 0) return 0;
        done += (size_t)n;
        s->pos += (uint64_t)n;
    }
    return 1;
}

uint64_t pcm_cd_frames(uint64_t frames, uint32_t rate) {
    if (rate == CD_RATE) return frames;
    if (rate == 0 || frames > UINT64_MAX / CD_RATE) return UINT64_MAX;
    return (frames * CD_RATE + rate - 1) / rate;
}
