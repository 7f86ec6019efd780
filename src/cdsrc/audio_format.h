// What the files of a cue sheet hold, by their content and never by their name or the sheet's type
// word: the audio format a file is in, and the headers our own code reads, namely a RIFF WAVE
// file's format and data chunks, MPEG audio frame headers and the encoder's information frame with
// its gapless figures. The decoders themselves are libraries (audio_stream.h). No platform headers,
// so the fuzzer builds it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cdsrc/pcm.h"
#include "cdsrc/tracks.h"

// A file's bytes: read reads up to n bytes at position at and returns how many (fewer only at the
// end of the file), or -1 when the file cannot be read.
struct audio_bytes {
    int64_t (*read)(void *user, uint64_t at, void *buf, size_t n);
    void *user;
    uint64_t size;
};

// The kind of a file (track_kind) by its first bytes, -1 when they cannot be read:
//   "RIFF" size "WAVE"      TRACK_WAV when wav_read_format takes it
//   "fLaC"                  TRACK_FLAC, also behind an ID3v2 tag
//   "OggS" page             TRACK_VORBIS or TRACK_OPUS when its first packet starts "\x01vorbis" or
//                           "OpusHead"
//   "ID3" tag, or three MPEG Layer III frame headers each where the one before ends: TRACK_MP3
// An audio file of another kind (a WAVE file of other samples or broken chunks, another codec in
// Ogg, AIFF) is TRACK_UNKNOWN; anything else is TRACK_RAW. A raw sector file cannot pass for audio
// by chance: a data track starts with its sync bytes, and CD audio does not chain frame headers.
int audio_probe(const audio_bytes *f);

struct wav_format {
    int32_t encoding;   // pcm_encoding
    uint32_t channels;  // 1 or 2
    uint32_t rate;      // frames per second
    uint32_t block;     // bytes of one frame
    uint64_t data_at;   // byte position of the first sample
    uint64_t frames;    // frames the data chunk holds by its size (a file cut short holds fewer)
};

// 1 for a RIFF WAVE file with samples we convert. Chunks in any order, each padded to an even size:
//   0 "RIFF" 4 size 8 "WAVE" 12 chunks, each 0 id 4 size (le32) 8 body
//   "fmt ": 0 format (le16: 1 integer, 3 float, 0xFFFE extensible) 2 channels 4 rate (le32)
//           8 bytes a second 12 block align (le16) 14 bits a sample; extensible adds 16 extra size
//           18 valid bits 20 channel mask 24 sub-format GUID, whose first two bytes are the format
//   "data": the samples; a size of 0xFFFFFFFF (a writer that could not go back) runs to the end
// Integer samples of 8, 16, 24 or 32 bits and floats of 32 or 64; one or two channels; a block
// align of channels * bytes a sample.
int wav_read_format(const audio_bytes *f, wav_format *out);

enum {
    MP3_MAX_FRAME = 1441,  // the longest Layer III frame: 320 kbit/s at 32 kHz, or 160 at 8 kHz
    // The delay of the standard decoder's filter bank (the LAME tag's figures assume it): its
    // output starts this many samples after the encoder's input.
    MP3_DECODER_DELAY = 529,
};

struct mp3_frame {
    uint32_t bytes;     // the whole frame, header included
    uint32_t samples;   // per channel: 1152 (MPEG-1) or 576 (MPEG-2, MPEG-2.5)
    uint32_t rate;
    uint32_t channels;  // 1 or 2
    uint32_t bitrate;   // bits a second
    uint32_t side;      // bytes before the frame's main data: header, CRC, side information
    uint8_t head[2];    // the header's first two bytes less the CRC bit: equal in every frame of a stream
};

// A Layer III frame header (4 bytes): 0xFFE sync (11 bits), version (2: 0 MPEG-2.5, 2 MPEG-2,
// 3 MPEG-1), layer (2: 1 is III), no-CRC bit; bitrate index (4), rate index (2), padding bit,
// private bit; channel mode (2: 3 is mono), mode extension (2), copyright, original, emphasis (2).
// Free format, reserved values and other layers are refused.
int mp3_frame_header(const uint8_t h[4], mp3_frame *out);

struct mp3_stream {
    uint64_t first;     // byte position of the first frame of audio
    mp3_frame frame;    // that frame's header: what the decoder is told of the stream
    uint32_t frames;    // frames of audio the information frame counts; 0 without one
    int32_t gapless;    // 1 when the encoder recorded its delay and padding
    uint32_t delay;     // samples the encoder put before the audio
    uint32_t padding;   // and after it
};

// The start of an MPEG audio file. An ID3v2 tag is passed over (0 "ID3" 3 version (2) 5 flags
// (0x10: a 10-byte footer follows) 6 size in four 7-bit bytes); the first frame may be an
// information frame, which is not audio: at its main data "Xing" or "Info", flags (be32: 1 frames,
// 2 bytes, 4 table, 8 quality), the fields the flags name (4, 4, 100, 4 bytes), then the encoder's
// tag: a 9-byte name ("LAME", "Lavf" or "Lavc" first), and from its byte 21 the delay (12 bits) and
// the padding (12 bits). 1 when a frame of audio follows.
int mp3_read_stream(const audio_bytes *f, mp3_stream *out);
// The frame at byte position at when it belongs to the stream and lies within the file.
int mp3_frame_at(const audio_bytes *f, uint64_t at, const mp3_stream *s, mp3_frame *out);
// Frames of audio from the stream's first one, each where the one before ends, up to the file's end
// or a tag there (ID3v1, APEv2, Lyrics3). -1 when they stop anywhere else (damage, a file cut inside
// a frame) or the file cannot be read.
int64_t mp3_count_frames(const audio_bytes *f, const mp3_stream *s);
