// Audio files to CD sectors: the decoder its content calls for, the span of its
// output that is the audio, speexdsp's resampler for rates other than 44,100 Hz, and the sectors.
#include "cdsrc/audio_stream.h"

#include <speex/speex_resampler.h>
#include <stdlib.h>
#include <string.h>

#include "cdsrc/audio_decoders.h"
#include "cdsrc/audio_file.h"

enum {
    RESAMPLE_IN = 4096,      // frames handed to the resampler at a time
    SCRATCH_FRAMES = 16384,  // frames read and dropped at a time, passing over audio before a read
    // speexdsp's quality (0 to 10). Measured on Opus-coded noise against ffmpeg's soxr: 4, its
    // default, agrees to 39 dB (its passband ends early), 6 to 55 dB, 10 to 60 dB at three
    // times the time of 6 (10 minutes of 48 kHz stereo: 4 s at 6, 13 s at 10, under Wine).
    RESAMPLE_QUALITY = 6,
};

// --- the resampler -----------------------------------------------------------------------------

// Exactly total frames at 44,100 Hz from the span at its own rate. The filter's delay is skipped at
// the start (speex_resampler_skip_zeros), and silence after the span's end brings out its tail.
struct resampler {
    SpeexResamplerState *st;
    pcm_span *span;
    int16_t in[2 * RESAMPLE_IN];
    uint32_t in_at, in_len;
    int span_ended;
    uint64_t total, made;
};

static long resample_pull(void *user, int16_t *out, size_t max) {
    resampler *r = (resampler *)user;
    uint64_t left = r->total - r->made;
    size_t want = max < left ? max : (size_t)left, done = 0;
    while (done < want) {
        if (r->in_at == r->in_len) {
            long n = r->span_ended ? 0 : pcm_span_pull(r->span, r->in, RESAMPLE_IN);
            if (n < 0) return -1;
            if (n == 0) {
                r->span_ended = 1;
                memset(r->in, 0, sizeof r->in);
                n = RESAMPLE_IN;
            }
            r->in_at = 0;
            r->in_len = (uint32_t)n;
        }
        spx_uint32_t in_len = r->in_len - r->in_at, out_len = (spx_uint32_t)(want - done);
        if (speex_resampler_process_interleaved_int(r->st, r->in + 2 * r->in_at, &in_len, out + 2 * done, &out_len) !=
            RESAMPLER_ERR_SUCCESS)
            return -1;
        r->in_at += in_len;
        done += out_len;
    }
    r->made += done;
    return (long)done;
}

// --- the stream --------------------------------------------------------------------------------

struct audio_stream {
    char path[PATH_TEXT];
    int kind;
    audio_file file;
    audio_decoder dec;
    pcm_span span;
    resampler rs;  // rs.st is null at 44,100 Hz
    pcm_sectors sectors;
    int failed;    // a read failed: the decoder's state is no longer the file's
    int16_t scratch[2 * SCRATCH_FRAMES];
};

static void stream_stop(audio_stream *a) {
    if (a->dec.close) a->dec.close(a->dec.state);
    memset(&a->dec, 0, sizeof a->dec);
    if (a->rs.st) speex_resampler_destroy(a->rs.st);
    a->rs.st = NULL;
    audio_file_close(&a->file);
}

static int open_decoder(audio_file *f, int kind, audio_decoder *d) {
    switch (kind) {
    case TRACK_WAV: return wav_decoder(f, d);
    case TRACK_FLAC: return flac_decoder(f, d);
    case TRACK_VORBIS: return vorbis_decoder(f, d);
    case TRACK_OPUS: return opus_decoder(f, d);
    case TRACK_MP3: return mp3_decoder(f, d);
    }
    return 0;
}

enum start_result { START_OK, START_UNREADABLE, START_UNDECODABLE };

// Opens the file and, when its content is still of the stream's kind (any kind when it is -1, which
// is then set), its decoder and the stages after it. A file of no audio format opens no decoder.
static start_result stream_start(audio_stream *a) {
    if (!audio_file_open(&a->file, a->path)) return START_UNREADABLE;
    audio_bytes b = audio_file_bytes(&a->file);
    int kind = audio_probe(&b);
    if (kind < 0) return START_UNREADABLE;
    if (a->kind < 0) a->kind = kind;
    if (kind != a->kind || kind == TRACK_RAW || kind == TRACK_UNKNOWN) return START_UNDECODABLE;
    if (!open_decoder(&a->file, kind, &a->dec)) return a->file.failed ? START_UNREADABLE : START_UNDECODABLE;
    pcm_span_init(&a->span, a->dec.pull, a->dec.state, a->dec.skip, a->dec.frames, a->dec.slack);
    uint64_t total = pcm_cd_frames(a->dec.frames, a->dec.rate);
    // A track's sectors are counted in 32 bits.
    if (pcm_sectors_of(total) > UINT32_MAX) return START_UNDECODABLE;
    pcm_sectors s = {pcm_span_pull, &a->span, total, 0};
    if (a->dec.rate != CD_RATE) {
        int err = 0;
        a->rs.st = speex_resampler_init(2, a->dec.rate, CD_RATE, RESAMPLE_QUALITY, &err);
        if (!a->rs.st) return START_UNDECODABLE;
        speex_resampler_skip_zeros(a->rs.st);
        a->rs.span = &a->span;
        a->rs.in_at = a->rs.in_len = 0;
        a->rs.span_ended = 0;
        a->rs.total = total;
        a->rs.made = 0;
        s.pull = resample_pull;
        s.user = &a->rs;
    }
    a->sectors = s;
    a->failed = 0;
    return START_OK;
}

static audio_stream *stream_new(const char *path, int kind) {
    if (strlen(path) >= PATH_TEXT) return NULL;
    audio_stream *a = (audio_stream *)calloc(1, sizeof *a);
    if (!a) return NULL;
    strcpy(a->path, path);
    a->kind = kind;
    return a;
}

int audio_measure(const char *path, int *kind, uint64_t *bytes) {
    audio_stream *a = stream_new(path, -1);
    if (!a) return 0;
    start_result r = stream_start(a);
    *kind = a->kind < 0 ? TRACK_RAW : a->kind;
    *bytes = r == START_OK ? audio_bytes_of(a) : 0;
    if (a->kind == TRACK_RAW) *bytes = a->file.size;
    audio_close(a);
    return r != START_UNREADABLE;
}

audio_stream *audio_open(const char *path, int kind) {
    audio_stream *a = stream_new(path, kind);
    start_result r = a ? stream_start(a) : START_UNDECODABLE;
    if (r == START_OK) return a;
    setup_log(r == START_UNREADABLE ? "cannot read %s" : "cannot decode %s", path);
    audio_close(a);
    return NULL;
}

int audio_is(const audio_stream *a, const char *path) { return ascii_same(a->path, path); }

uint64_t audio_bytes_of(const audio_stream *a) { return pcm_sectors_of(a->sectors.total) * RAW_SECTOR; }

int audio_read(audio_stream *a, uint64_t first, uint32_t count, void *buf) {
    if (a->failed || first > pcm_sectors_of(a->sectors.total) || count > pcm_sectors_of(a->sectors.total) - first)
        return 0;
    uint64_t at = first * SECTOR_FRAMES;
    if (at < a->sectors.pos) {
        stream_stop(a);
        if (stream_start(a) != START_OK) a->failed = 1;
    }
    if (!a->failed && pcm_sectors_seek(&a->sectors, at, a->scratch, SCRATCH_FRAMES) &&
        pcm_sectors_read(&a->sectors, count, (int16_t *)buf))
        return 1;
    a->failed = 1;
    setup_log(a->file.failed ? "cannot read %s" : "cannot decode %s", a->path);
    return 0;
}

void audio_close(audio_stream *a) {
    if (!a) return;
    stream_stop(a);
    free(a);
}
