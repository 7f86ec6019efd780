// The decoders of WAV (our own conversion), FLAC, Ogg Vorbis and Opus (their libraries), each
// reading its file through audio_file. A decoder's error ends its stream, never the process: the
// libraries report through return values and callbacks, which end here as -1.
#include <FLAC/stream_decoder.h>
#include <ogg/ogg.h>
#include <opusfile.h>
#include <stdlib.h>
#include <string.h>
#include <vorbis/vorbisfile.h>

#include "cdsrc/audio_decoders.h"

enum {
    WAV_READ_FRAMES = 4096,  // frames of the file read at a time
    FLAC_MAX_BLOCK = 65535,  // the largest block a FLAC frame can have
};

// The part of a decoder's output a pull hands on: up to max frames of what is buffered.
static size_t take(size_t have, size_t max) { return have < max ? have : max; }

// --- WAV ---------------------------------------------------------------------------------------

struct wav_state {
    audio_file *f;
    wav_format w;
    uint64_t left;  // frames the data chunk still holds
    uint8_t bytes[WAV_READ_FRAMES * 16];
};

static long wav_pull(void *state, int16_t *out, size_t max) {
    wav_state *s = (wav_state *)state;
    size_t n = take((size_t)(s->left < WAV_READ_FRAMES ? s->left : (uint64_t)WAV_READ_FRAMES), max);
    // Whole frames only: a file cut inside one ends before it.
    size_t got = audio_file_read(s->f, s->bytes, n * s->w.block) / s->w.block;
    if (s->f->failed) return -1;
    pcm_to_stereo16(s->bytes, got, s->w.encoding, s->w.channels, out);
    s->left = got < n ? 0 : s->left - got;
    return (long)got;
}

static void wav_close(void *state) { free(state); }

int wav_decoder(audio_file *f, audio_decoder *d) {
    wav_state *s = (wav_state *)calloc(1, sizeof *s);
    audio_bytes b = audio_file_bytes(f);
    if (!s || !wav_read_format(&b, &s->w)) {
        free(s);
        return 0;
    }
    s->f = f;
    s->left = s->w.frames;
    f->pos = s->w.data_at;
    *d = {s->w.rate, 0, s->w.frames, 0, wav_pull, wav_close, s};
    return 1;
}

// --- FLAC --------------------------------------------------------------------------------------

struct flac_state {
    audio_file *f;
    FLAC__StreamDecoder *dec;
    unsigned channels, rate;
    uint64_t total;     // samples a channel, as the stream information says (0: not known)
    int16_t *block;     // the last frame's samples as 16-bit stereo
    size_t block_len, block_at;
    int counting;       // only count the samples (a stream whose information does not say)
    uint64_t counted;
    int failed;         // the library reported damage
};

static FLAC__StreamDecoderReadStatus flac_read(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes,
                                               void *user) {
    flac_state *s = (flac_state *)user;
    *bytes = audio_file_read(s->f, buffer, *bytes);
    if (s->f->failed) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    return *bytes ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}

static FLAC__StreamDecoderSeekStatus flac_seek(const FLAC__StreamDecoder *, FLAC__uint64 at, void *user) {
    flac_state *s = (flac_state *)user;
    if (at > s->f->size) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    s->f->pos = at;
    return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

static FLAC__StreamDecoderTellStatus flac_tell(const FLAC__StreamDecoder *, FLAC__uint64 *at, void *user) {
    *at = ((flac_state *)user)->f->pos;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

static FLAC__StreamDecoderLengthStatus flac_length(const FLAC__StreamDecoder *, FLAC__uint64 *len, void *user) {
    *len = ((flac_state *)user)->f->size;
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

static FLAC__bool flac_eof(const FLAC__StreamDecoder *, void *user) {
    flac_state *s = (flac_state *)user;
    return s->f->pos >= s->f->size;
}

static FLAC__StreamDecoderWriteStatus flac_write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                 const FLAC__int32 *const buffer[], void *user) {
    flac_state *s = (flac_state *)user;
    unsigned n = frame->header.blocksize, bits = frame->header.bits_per_sample;
    if (frame->header.channels != s->channels || bits < 4 || bits > 32 || n > FLAC_MAX_BLOCK) {
        s->failed = 1;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (s->counting) {
        s->counted += n;
    } else {
        pcm_planar_to_stereo16(buffer, s->channels, bits, n, s->block);
        s->block_len = n;
        s->block_at = 0;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

static void flac_metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *m, void *user) {
    flac_state *s = (flac_state *)user;
    if (m->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    s->channels = m->data.stream_info.channels;
    s->rate = m->data.stream_info.sample_rate;
    s->total = m->data.stream_info.total_samples;
}

static void flac_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *user) {
    ((flac_state *)user)->failed = 1;
}

static long flac_pull(void *state, int16_t *out, size_t max) {
    flac_state *s = (flac_state *)state;
    while (s->block_at == s->block_len) {
        if (FLAC__stream_decoder_get_state(s->dec) == FLAC__STREAM_DECODER_END_OF_STREAM) return 0;
        if (!FLAC__stream_decoder_process_single(s->dec) || s->failed) return -1;
    }
    size_t n = take(s->block_len - s->block_at, max);
    memcpy(out, s->block + 2 * s->block_at, n * 4);
    s->block_at += n;
    return (long)n;
}

static void flac_close(void *state) {
    flac_state *s = (flac_state *)state;
    if (s->dec) FLAC__stream_decoder_delete(s->dec);
    free(s->block);
    free(s);
}

// Starts the library on the file from its first byte and reads the stream information.
static int flac_start(flac_state *s) {
    s->f->pos = 0;
    s->channels = s->rate = 0;
    return FLAC__stream_decoder_init_stream(s->dec, flac_read, flac_seek, flac_tell, flac_length, flac_eof,
                                            flac_write, flac_metadata, flac_error,
                                            s) == FLAC__STREAM_DECODER_INIT_STATUS_OK &&
           FLAC__stream_decoder_process_until_end_of_metadata(s->dec) && !s->failed && s->channels >= 1 &&
           s->channels <= 2 && s->rate > 0;
}

int flac_decoder(audio_file *f, audio_decoder *d) {
    flac_state *s = (flac_state *)calloc(1, sizeof *s);
    if (!s) return 0;
    s->f = f;
    s->dec = FLAC__stream_decoder_new();
    s->block = (int16_t *)malloc(FLAC_MAX_BLOCK * 4);
    int ok = s->dec && s->block && flac_start(s);
    if (ok && s->total == 0) {
        // A stream written without its length (a pipe) is decoded once to count its samples.
        s->counting = 1;
        ok = FLAC__stream_decoder_process_until_end_of_stream(s->dec) && !s->failed;
        s->total = s->counted;
        s->counting = 0;
        ok = ok && FLAC__stream_decoder_finish(s->dec) && flac_start(s);
    }
    if (!ok) {
        flac_close(s);
        return 0;
    }
    *d = {s->rate, 0, s->total, 0, flac_pull, flac_close, s};
    return 1;
}

// --- Ogg ---------------------------------------------------------------------------------------

// 1 when the file is nothing but whole Ogg pages with their checksums right. The libraries pass over
// a damaged page as if it were not there: in the middle of a stream they then report a hole, but
// a damaged last page, or a file cut inside one, leaves a shorter stream that decodes without a word.
static int ogg_intact(audio_file *f) {
    ogg_sync_state oy;
    ogg_sync_init(&oy);
    uint64_t whole = 0;  // bytes of whole, sound pages
    int ok = 1;
    f->pos = 0;
    for (;;) {
        ogg_page og;
        long r;
        while (ok && (r = ogg_sync_pageseek(&oy, &og)) != 0) {
            if (r < 0) ok = 0;  // bytes passed over: no page, or a page whose checksum is wrong
            else whole += (uint64_t)r;
        }
        char *buf = ok ? ogg_sync_buffer(&oy, AUDIO_FILE_WINDOW) : NULL;
        size_t n = buf ? audio_file_read(f, buf, AUDIO_FILE_WINDOW) : 0;
        if (n == 0 || ogg_sync_wrote(&oy, (long)n) != 0) break;
    }
    ogg_sync_clear(&oy);
    f->pos = 0;
    return ok && !f->failed && whole == f->size;
}

// --- Ogg Vorbis --------------------------------------------------------------------------------

struct vorbis_state {
    audio_file *f;
    OggVorbis_File vf;
    int open;
    int channels;
    int16_t mono[WAV_READ_FRAMES];
};

static size_t ogg_read(void *ptr, size_t size, size_t count, void *user) {
    audio_file *f = ((vorbis_state *)user)->f;
    return size ? audio_file_read(f, ptr, size * count) / size : 0;
}

// A position from the start, the current one or the end; 0 when it lies in the file.
static int seek_to(audio_file *f, int64_t offset, int whence) {
    int64_t base = whence == SEEK_CUR ? (int64_t)f->pos : whence == SEEK_END ? (int64_t)f->size : 0;
    if (offset < -base || offset > (int64_t)f->size - base) return -1;
    f->pos = (uint64_t)(base + offset);
    return 0;
}

static int ogg_seek(void *user, ogg_int64_t offset, int whence) {
    return seek_to(((vorbis_state *)user)->f, offset, whence);
}

// The library's position is a long, 32 bits on Windows: beyond that the file cannot be sought in.
static long ogg_tell(void *user) {
    uint64_t pos = ((vorbis_state *)user)->f->pos;
    return pos <= 0x7FFFFFFF ? (long)pos : -1;
}

static long vorbis_pull(void *state, int16_t *out, size_t max) {
    vorbis_state *s = (vorbis_state *)state;
    int section;
    // Little-endian, 16-bit, signed; the library rounds and clips its floats.
    if (s->channels == 2) {
        long n = ov_read(&s->vf, (char *)out, (int)take(max, WAV_READ_FRAMES) * 4, 0, 2, 1, &section);
        return n < 0 ? -1 : n / 4;
    }
    long n = ov_read(&s->vf, (char *)s->mono, (int)take(max, WAV_READ_FRAMES) * 2, 0, 2, 1, &section);
    if (n < 0) return -1;
    pcm_to_stereo16((const uint8_t *)s->mono, (size_t)n / 2, PCM_S16, 1, out);
    return n / 2;
}

static void vorbis_close(void *state) {
    vorbis_state *s = (vorbis_state *)state;
    if (s->open) ov_clear(&s->vf);
    free(s);
}

int vorbis_decoder(audio_file *f, audio_decoder *d) {
    vorbis_state *s = (vorbis_state *)calloc(1, sizeof *s);
    if (!s) return 0;
    s->f = f;
    ov_callbacks cb = {ogg_read, ogg_seek, NULL, ogg_tell};
    s->open = ogg_intact(f) && ov_open_callbacks(s, &s->vf, NULL, 0, cb) == 0;
    vorbis_info *first = s->open ? ov_info(&s->vf, 0) : NULL;
    ogg_int64_t total = s->open ? ov_pcm_total(&s->vf, -1) : -1;
    int ok = first && total >= 0 && first->channels >= 1 && first->channels <= 2 && first->rate > 0;
    // Chained streams must agree: the resampler and the conversion are set up once.
    for (long i = 1; ok && i < ov_streams(&s->vf); i++) {
        vorbis_info *vi = ov_info(&s->vf, (int)i);
        ok = vi && vi->channels == first->channels && vi->rate == first->rate;
    }
    if (!ok) {
        vorbis_close(s);
        return 0;
    }
    s->channels = first->channels;
    *d = {(uint32_t)first->rate, 0, (uint64_t)total, 0, vorbis_pull, vorbis_close, s};
    return 1;
}

// --- Ogg Opus ----------------------------------------------------------------------------------

enum { OPUS_RATE = 48000 };  // an Opus decoder's output rate, whatever the input's was

struct opus_state {
    audio_file *f;
    OggOpusFile *of;
};

static int opus_read(void *user, unsigned char *ptr, int n) {
    audio_file *f = ((opus_state *)user)->f;
    size_t got = audio_file_read(f, ptr, n > 0 ? (size_t)n : 0);
    return f->failed ? -1 : (int)got;
}

static int opus_seek(void *user, opus_int64 offset, int whence) {
    return seek_to(((opus_state *)user)->f, offset, whence);
}

static opus_int64 opus_tell(void *user) { return (opus_int64)((opus_state *)user)->f->pos; }

static long opus_pull(void *state, int16_t *out, size_t max) {
    // Stereo whatever the stream's channels: the library doubles one, mixes more down.
    int n = op_read_stereo(((opus_state *)state)->of, out, (int)take(max, WAV_READ_FRAMES) * 2);
    return n < 0 ? -1 : n;
}

static void opus_close(void *state) {
    opus_state *s = (opus_state *)state;
    if (s->of) op_free(s->of);
    free(s);
}

int opus_decoder(audio_file *f, audio_decoder *d) {
    opus_state *s = (opus_state *)calloc(1, sizeof *s);
    if (!s) return 0;
    s->f = f;
    OpusFileCallbacks cb = {opus_read, opus_seek, opus_tell, NULL};
    int err = 0;
    s->of = ogg_intact(f) ? op_open_callbacks(s, &cb, NULL, 0, &err) : NULL;
    // The total leaves out the pre-skip and the end trimming that the granule positions give.
    ogg_int64_t total = s->of ? op_pcm_total(s->of, -1) : -1;
    if (total < 0) {
        opus_close(s);
        return 0;
    }
    *d = {OPUS_RATE, 0, (uint64_t)total, 0, opus_pull, opus_close, s};
    return 1;
}
