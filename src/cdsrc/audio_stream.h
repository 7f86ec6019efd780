// A cue sheet's audio files as CD sectors: WAV, FLAC, Ogg Vorbis, Opus and MP3 decoded to 44,100 Hz
// 16-bit stereo (other rates resampled, one channel doubled), without the silence the encoder
// added where the file records it (the LAME tag, Ogg granule positions, Opus pre-skip). Each file
// is decoded once, front to back, by a decoder kept open between reads; what a file holds is
// decided by its content (audio_format.h). Used by the cue reader (descriptors.h) and by the
// image half's reads of audio tracks (image.h).
#pragma once
#include <stdint.h>

struct audio_stream;

// A sheet's file as the track table counts it: its kind by content (track_kind: TRACK_RAW for a
// file of no audio format) and its length in bytes; an audio file's bytes are those of its decoded
// sectors, the last one partly silence, and 0 when it cannot be decoded. 0 when the file cannot
// be opened or read.
int audio_measure(const char *path, int *kind, uint64_t *bytes);

// A decoder of the file, which must still hold audio of that kind; null, with "cannot read %s" or
// "cannot decode %s" in the log, when it cannot be opened or decoded.
audio_stream *audio_open(const char *path, int kind);
// 1 when the stream decodes that file (names compared as the file system compares them).
int audio_is(const audio_stream *a, const char *path);
// The bytes of the file's decoded sectors, as audio_measure counts them.
uint64_t audio_bytes_of(const audio_stream *a);
// count decoded sectors from sector first on into buf (count * 2352 bytes, 2-byte aligned). A read
// where the last one ended decodes only its own sectors; one that starts further back decodes the
// file again from its start. 0 when the sectors lie past the file's end, or, with "cannot decode %s"
// ("cannot read %s") in the log, when the file turns out damaged or cut short.
int audio_read(audio_stream *a, uint64_t first, uint32_t count, void *buf);
void audio_close(audio_stream *a);
