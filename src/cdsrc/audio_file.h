// An audio file read through a window of its bytes, by the decoders (audio_decoders.h) and the
// stream that opens them (audio_stream.h): the libraries ask for a few KiB at a time, and a system
// call for each would cost more than the decoding.
#pragma once
#include <windows.h>

#include "cdsrc/audio_format.h"

enum { AUDIO_FILE_WINDOW = 65536 };

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

// Opens the file for reading, positioned at 0; 0 when it cannot be opened, its size read or its
// window allocated. audio_file_close frees what was had either way.
int audio_file_open(audio_file *f, const char *path);
void audio_file_close(audio_file *f);
