// Samples on their way from a decoder to CD sectors: every sample layout we read converted to 16-bit
// stereo, the span of a decoder's output that is the file's audio (the encoder's delay and padding
// cut, a short end made up), and CD sectors of 588 stereo frames, the last one filled with silence.
// No platform headers, so the fuzzer builds it.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    CD_RATE = 44100,     // samples per second and channel of CD audio
    SECTOR_FRAMES = 588  // stereo frames of 16-bit samples in one 2352-byte sector
};

// Interleaved little-endian samples as files store them.
enum pcm_encoding { PCM_U8, PCM_S16, PCM_S24, PCM_S32, PCM_F32, PCM_F64 };

// Bytes of one sample of the encoding; 0 for none.
unsigned pcm_sample_bytes(int encoding);

// frames of interleaved samples of 1 or 2 channels to 16-bit stereo: a single channel is doubled;
// 8-bit samples are unsigned (128 is silence); wider ones are rounded to 16 bits; floats run from
// -1 to 1 (x * 32768, rounded); what lies outside is clipped, and a NaN is silence.
void pcm_to_stereo16(const uint8_t *in, size_t frames, int encoding, unsigned channels, int16_t *out);
// The same from one array per channel (1 or 2) of samples of bits bits (4 to 32), as FLAC gives them.
void pcm_planar_to_stereo16(const int32_t *const planes[], unsigned channels, unsigned bits, size_t frames,
                            int16_t *out);

// Hands out up to max stereo frames into out: how many, 0 at the end, -1 when decoding failed.
typedef long (*pcm_pull_fn)(void *user, int16_t *out, size_t max);

// The audio of a decoder's output: from its frame skip on, exactly keep frames. An output that ends
// at most slack frames short is made up with silence (a decoder's own delay, which the end of the
// stream never flushes); one that ends earlier is a damaged or cut file (-1).
struct pcm_span {
    pcm_pull_fn pull;
    void *user;
    uint64_t skip, keep, slack;
    uint64_t made;  // frames handed out
    int ended;      // the decoder said it has no more
};
void pcm_span_init(pcm_span *s, pcm_pull_fn pull, void *user, uint64_t skip, uint64_t keep, uint64_t slack);
long pcm_span_pull(void *span, int16_t *out, size_t max);

// CD sectors from a stream of exactly total frames at 44,100 Hz (a span, or a resampler after one),
// read front to back; past total, silence.
struct pcm_sectors {
    pcm_pull_fn pull;
    void *user;
    uint64_t total;  // frames of the stream
    uint64_t pos;    // frames handed out or passed over
};
// Sectors that hold frames: the last one partly silence.
uint64_t pcm_sectors_of(uint64_t frames);
// Moves on to frame at, reading what lies between into scratch (room for scratch_frames) and
// dropping it. 0 when at lies behind the position (the stream is read again from its start) or
// the stream fails.
int pcm_sectors_seek(pcm_sectors *s, uint64_t at, int16_t *scratch, size_t scratch_frames);
// The next count sectors (count * 588 stereo frames) into out. 0 when the stream fails or ends
// before total.
int pcm_sectors_read(pcm_sectors *s, uint32_t count, int16_t *out);

// Frames at 44,100 Hz for frames at rate: rounded up, so that the last sample's time is covered.
uint64_t pcm_cd_frames(uint64_t frames, uint32_t rate);
