// The decoders behind audio_stream.h, each over a file read through audio_file. FLAC, Ogg Vorbis
// and Opus decode in their libraries; WAV samples are converted here; MP3 frames are found here
// (audio_format.h) and decoded by the platform's ACM codec (mp3_acm.cpp).
#pragma once
#include <windows.h>

#include "cdsrc/audio_format.h"

enum { AUDIO_FILE_WINDOW = 65536 };

// A file read through a window of its bytes: the libraries ask for a few KiB at a time, and a
// system call for each would cost more than the decoding.
struct audio_file {
    HANDLE h;
    uint64_t size;
    uint64_t pos;      // where the next read starts
    uint8_t *window;   // AUDIO_FILE_WINDOW bytes, of which [window_at, window_at + window_len) hold the file's
    uint64_t window_at;
    size_t window_len;
    int failed;        // a read failed: to its decoder the file ends there, and the stream is refused
};

// Up to n bytes at at: how many (fewer only at the end), -1 when the file cannot be read.
int64_t audio_file_read_at(void *file, uint64_t at, void *out, size_t n);
// Up to n bytes from pos on, moving pos past them; 0 at the end or on a failed read.
size_t audio_file_read(audio_file *f, void *out, size_t n);
audio_bytes audio_file_bytes(audio_file *f);

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
