// A cue sheet's audio files: the content probe with the WAVE and MPEG headers it reads, and the
// glue from decoded samples to CD sectors (the decoders are libraries, fuzzed upstream).
// Input: the file's bytes. The same bytes, after 8 bytes of settings, are also a decoder's output
// (samples of one of the layouts a WAV file can have) handed out in pieces; the span and the
// sectors made of it must be exactly those samples, converted, cut and filled with silence.
#include <string.h>

#include <vector>

#include "cdsrc/audio_format.h"
#include "fuzz_check.h"

namespace {

struct memory_file {
    const uint8_t *p;
    size_t n;
};

int64_t memory_read(void *user, uint64_t at, void *buf, size_t n) {
    const memory_file *m = (const memory_file *)user;
    if (at >= m->n) return 0;
    size_t k = n < m->n - at ? n : (size_t)(m->n - at);
    memcpy(buf, m->p + at, k);
    return (int64_t)k;
}

void check_headers(const uint8_t *data, size_t size) {
    memory_file m = {data, size};
    audio_bytes f = {memory_read, &m, size};
    int kind = audio_probe(&f);
    FUZZ_CHECK(kind >= TRACK_RAW && kind <= TRACK_UNKNOWN, "kind %d", kind);
    wav_format w;
    int wav = wav_read_format(&f, &w);
    FUZZ_CHECK(wav == (kind == TRACK_WAV), "a WAVE format read %d for kind %d", wav, kind);
    if (wav) {
        unsigned bytes = pcm_sample_bytes(w.encoding);
        FUZZ_CHECK(bytes && (w.channels == 1 || w.channels == 2) && w.block == bytes * w.channels && w.rate > 0,
                   "format %d, %u channels, block %u, rate %u", w.encoding, w.channels, w.block, w.rate);
        FUZZ_CHECK(w.data_at <= size, "samples at %llu of %zu bytes", (unsigned long long)w.data_at, size);
    }
    mp3_stream s;
    if (mp3_read_stream(&f, &s)) {
        const mp3_frame *fr = &s.frame;
        FUZZ_CHECK(s.first < size && fr->bytes <= size - s.first, "a frame of %u bytes at %llu of %zu", fr->bytes,
                   (unsigned long long)s.first, size);
        FUZZ_CHECK(fr->bytes > fr->side && fr->bytes <= MP3_MAX_FRAME && (fr->samples == 1152 || fr->samples == 576) &&
                       (fr->channels == 1 || fr->channels == 2),
                   "frame: %u bytes, side %u, %u samples, %u channels", fr->bytes, fr->side, fr->samples, fr->channels);
        FUZZ_CHECK(s.delay < 4096 && s.padding < 4096, "delay %u, padding %u", s.delay, s.padding);
        int64_t count = mp3_count_frames(&f, &s);
        // The shortest Layer III frame is 24 bytes (8 kbit/s at 24 kHz), and the counted ones lie in the file.
        FUZZ_CHECK(count >= -1 && (count < 0 || (uint64_t)count * 24 <= size - s.first), "%lld frames in %zu bytes",
                   (long long)count, size);
    }
}

// A decoder's output: the samples converted a piece at a time, the pieces' sizes from the settings.
struct fake_decoder {
    const uint8_t *p;
    size_t frames, pos;
    int encoding;
    unsigned channels, block;
    size_t piece;
};

long fake_pull(void *user, int16_t *out, size_t max) {
    fake_decoder *d = (fake_decoder *)user;
    size_t n = d->frames - d->pos;
    if (n > d->piece) n = d->piece;
    if (n > max) n = max;
    pcm_to_stereo16(d->p + d->pos * d->block, n, d->encoding, d->channels, out);
    d->pos += n;
    return (long)n;
}

void check_glue(const uint8_t *data, size_t size) {
    if (size < 8) return;
    int encoding = data[0] % 6;
    unsigned channels = 1 + (data[1] & 1);
    uint64_t skip = data[2] | (data[3] & 15) << 8, keep = data[4] | (data[5] & 31) << 8, slack = data[6] % 64;
    size_t piece = 1 + (data[7] & 63) * 17;
    data += 8;
    size -= 8;
    unsigned block = pcm_sample_bytes(encoding) * channels;
    fake_decoder d = {data, size / block, 0, encoding, channels, block, piece};

    // What must come out: every frame converted at once, frames skip to skip + keep, silence after.
    std::vector<int16_t> all(2 * d.frames + 2);
    pcm_to_stereo16(data, d.frames, encoding, channels, all.data());
    uint64_t sectors = pcm_sectors_of(keep);
    std::vector<int16_t> want(2 * sectors * SECTOR_FRAMES, 0);
    for (uint64_t i = 0; i < keep && skip + i < d.frames; i++) {
        want[2 * i] = all[2 * (skip + i)];
        want[2 * i + 1] = all[2 * (skip + i) + 1];
    }
    // It fails when the output ends before the span's start, or more than slack frames before its end.
    bool fails = keep > 0 && (d.frames < skip || skip + keep - d.frames > slack) && d.frames < skip + keep;

    pcm_span span;
    pcm_span_init(&span, fake_pull, &d, skip, keep, slack);
    pcm_sectors out = {pcm_span_pull, &span, keep, 0};
    std::vector<int16_t> got(want.size() + 2 * SECTOR_FRAMES, 0x5A5A), scratch(2 * 50);
    // Reads of 1 to 4 sectors, and now and then a passage read and dropped by a seek.
    bool ok = true;
    uint64_t at = 0;
    for (size_t k = 0; ok && at < sectors; k++) {
        uint32_t n = 1 + (uint32_t)(k * 7 + piece) % 4;
        if (n > sectors - at) n = (uint32_t)(sectors - at);
        if (k % 5 == 4) {
            ok = pcm_sectors_seek(&out, (at + n) * SECTOR_FRAMES, scratch.data(), 50);
            at += n;
            continue;
        }
        ok = pcm_sectors_read(&out, n, got.data() + 2 * at * SECTOR_FRAMES);
        if (ok)
            FUZZ_CHECK(memcmp(got.data() + 2 * at * SECTOR_FRAMES, want.data() + 2 * at * SECTOR_FRAMES,
                              (size_t)n * SECTOR_FRAMES * 4) == 0,
                       "sectors %llu to %llu differ", (unsigned long long)at, (unsigned long long)(at + n));
        at += n;
    }
    FUZZ_CHECK(ok != fails, "%s with %zu frames, skip %llu, keep %llu, slack %llu", ok ? "read" : "failed", d.frames,
               (unsigned long long)skip, (unsigned long long)keep, (unsigned long long)slack);
    FUZZ_CHECK(!ok || out.pos == at * SECTOR_FRAMES, "at frame %llu after %llu sectors", (unsigned long long)out.pos,
               (unsigned long long)at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_quiet_log();
    check_headers(data, size);
    check_glue(data, size);
    return 0;
}
