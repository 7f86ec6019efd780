// MP3 through the platform's own MPEG Layer-3 codec behind the ACM API (msacm32): Windows has one,
// and so has Wine (l3codeca.acm). No MP3 decoder under a permissive licence is packaged in Debian.
//
// The codec gets whole frames that we find (audio_format.h), never the information frame: decoded,
// that is a frame of silence. Its output is not trimmed: the encoder's delay and the decoder's own
// (MP3_DECODER_DELAY) come first, then the audio, then the encoder's padding. The LAME tag gives
// the delay and the padding, which the span cuts (pcm_span); without it only the decoder's delay
// is cut. The codec's output may end short of the padding's end by its own delay, which nothing
// flushes: the span makes that up with silence.
#include "cdsrc/audio_decoders.h"

#include <mmreg.h>
#include <msacm.h>
#include <stdlib.h>
#include <string.h>

enum {
    FEED_FRAMES = 16,  // frames handed to the codec at a time
    // What the codec may give back for them: their samples and those of a frame it held back.
    PCM_BYTES = (FEED_FRAMES + 2) * 1152 * 2 * 2,
};

struct mp3_state {
    audio_file *f;
    audio_bytes bytes;
    mp3_stream s;
    uint64_t at;        // where the next frame starts
    uint32_t fed;       // frames read so far
    uint32_t frames;    // frames of audio the stream has
    int fed_all;        // no frame is left to read
    int flushed;        // the codec was told that the stream ended
    HACMSTREAM acm;
    int prepared;
    ACMSTREAMHEADER hdr;
    uint8_t src[FEED_FRAMES * MP3_MAX_FRAME];
    size_t src_len;     // bytes in src, the codec's leftovers first
    uint8_t pcm[PCM_BYTES];
    size_t pcm_len, pcm_at;
};

// Appends the next frames to src, up to FEED_FRAMES of them, as many as it has room for, or up to the
// stream's end.
static int feed(mp3_state *m) {
    for (int i = 0; i < FEED_FRAMES; i++) {
        mp3_frame fr;
        if (m->fed == m->frames || !mp3_frame_at(&m->bytes, m->at, &m->s, &fr)) {
            m->fed_all = 1;
            break;
        }
        if (fr.bytes > sizeof m->src - m->src_len) break;
        m->f->pos = m->at;
        if (audio_file_read(m->f, m->src + m->src_len, fr.bytes) != fr.bytes) return 0;
        m->src_len += fr.bytes;
        m->at += fr.bytes;
        m->fed++;
    }
    return 1;
}

// One conversion of what src holds; at the stream's end, with the codec told so.
static int convert(mp3_state *m) {
    DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (m->fed_all) {
        flags = ACM_STREAMCONVERTF_END;
        m->flushed = 1;
    }
    m->hdr.cbSrcLength = (DWORD)m->src_len;
    m->hdr.cbDstLength = sizeof m->pcm;
    if (acmStreamConvert(m->acm, &m->hdr, flags) != MMSYSERR_NOERROR || m->hdr.cbSrcLengthUsed > m->src_len ||
        m->hdr.cbDstLengthUsed > sizeof m->pcm)
        return 0;
    // What the codec did not take (a frame cut by its block alignment) goes first next time.
    m->src_len -= m->hdr.cbSrcLengthUsed;
    memmove(m->src, m->src + m->hdr.cbSrcLengthUsed, m->src_len);
    m->pcm_len = m->hdr.cbDstLengthUsed;
    m->pcm_at = 0;
    return 1;
}

static long mp3_pull(void *state, int16_t *out, size_t max) {
    mp3_state *m = (mp3_state *)state;
    size_t frame_bytes = 2 * m->s.frame.channels;
    while (m->pcm_len - m->pcm_at < frame_bytes) {
        if (m->flushed) return 0;
        size_t before = m->src_len;
        if (!feed(m) || !convert(m)) return -1;
        // A codec that takes nothing and gives nothing for what it was handed would never end.
        if (!m->fed_all && m->src_len == before && m->hdr.cbSrcLengthUsed == 0 && m->pcm_len == 0) return -1;
    }
    size_t n = (m->pcm_len - m->pcm_at) / frame_bytes;
    if (n > max) n = max;
    pcm_to_stereo16(m->pcm + m->pcm_at, n, PCM_S16, m->s.frame.channels, out);
    m->pcm_at += n * frame_bytes;
    return (long)n;
}

static void mp3_close(void *state) {
    mp3_state *m = (mp3_state *)state;
    if (m->prepared) {
        // The header is unprepared with the lengths it was prepared with.
        m->hdr.cbSrcLength = sizeof m->src;
        m->hdr.cbDstLength = sizeof m->pcm;
        acmStreamUnprepareHeader(m->acm, &m->hdr, 0);
    }
    if (m->acm) acmStreamClose(m->acm, 0);
    free(m);
}

static int open_codec(mp3_state *m) {
    const mp3_frame *fr = &m->s.frame;
    MPEGLAYER3WAVEFORMAT in = {};
    in.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    in.wfx.nChannels = (WORD)fr->channels;
    in.wfx.nSamplesPerSec = fr->rate;
    in.wfx.nAvgBytesPerSec = fr->bitrate / 8;
    in.wfx.nBlockAlign = 1;
    in.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    in.wID = MPEGLAYER3_ID_MPEG;
    in.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    in.nBlockSize = (WORD)fr->bytes;
    in.nFramesPerBlock = 1;
    WAVEFORMATEX out = {WAVE_FORMAT_PCM, (WORD)fr->channels, fr->rate, fr->rate * fr->channels * 2,
                        (WORD)(fr->channels * 2), 16, 0};
    if (acmStreamOpen(&m->acm, NULL, &in.wfx, &out, NULL, 0, 0, ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR) {
        m->acm = NULL;
        return 0;
    }
    m->hdr.cbStruct = sizeof m->hdr;
    m->hdr.pbSrc = m->src;
    m->hdr.cbSrcLength = sizeof m->src;
    m->hdr.pbDst = m->pcm;
    m->hdr.cbDstLength = sizeof m->pcm;
    m->prepared = acmStreamPrepareHeader(m->acm, &m->hdr, 0) == MMSYSERR_NOERROR;
    return m->prepared;
}

int mp3_decoder(audio_file *f, audio_decoder *d) {
    mp3_state *m = (mp3_state *)calloc(1, sizeof *m);
    if (!m) return 0;
    m->f = f;
    m->bytes = audio_file_bytes(f);
    int64_t frames = 0;
    if (mp3_read_stream(&m->bytes, &m->s)) frames = m->s.frames ? m->s.frames : mp3_count_frames(&m->bytes, &m->s);
    if (frames <= 0 || !open_codec(m)) {
        mp3_close(m);
        return 0;
    }
    m->frames = (uint32_t)frames;
    m->at = m->s.first;
    uint64_t total = (uint64_t)m->frames * m->s.frame.samples, skip = MP3_DECODER_DELAY, cut = MP3_DECODER_DELAY;
    if (m->s.gapless) {
        skip += m->s.delay;
        cut = m->s.delay + m->s.padding;
    }
    *d = {m->s.frame.rate, skip, total > cut ? total - cut : 0, MP3_DECODER_DELAY, mp3_pull, mp3_close, m};
    return 1;
}
