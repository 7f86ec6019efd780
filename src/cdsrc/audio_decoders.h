// The decoders behind audio_stream.h, each over a file read through audio_file. FLAC, Ogg Vorbis
// and Opus decode in their libraries; WAV samples are converted here; MP3 frames are found here
// (audio_format.h) and decoded by the platform's ACM codec (mp3_acm.cpp).
#pragma once
#include "cdsrc/audio_file.h"
#include "cdsrc/audio_format.h"

// An open decoder: 16-bit stereo frames at rate, of which frames skip to skip + frames are the
// file's audio; its output may end up to slack frames short of that (pcm_span).
struct audio_decoder {
    uint32_t rate;
    uint64_t skip, frames, slack;
    pcm_pull_fn pull;
    void (*close)(void *state);
    void *state;
};

// Each opens its decoder on the file (positioned at 0) and fills d: 1 when it can decode the file.
int wav_decoder(audio_file *f, audio_decoder *d);
int flac_decoder(audio_file *f, audio_decoder *d);
int vorbis_decoder(audio_file *f, audio_decoder *d);
int opus_decoder(audio_file *f, audio_decoder *d);
int mp3_decoder(audio_file *f, audio_decoder *d);
