// The content probe and the headers we read ourselves, on small hand-made files: each row changes
// one thing of a valid file. Whole files made by the real encoders are the end-to-end tests'.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "cdsrc/audio_format.h"

namespace {

std::string le16s(uint16_t v) { return std::string{(char)v, (char)(v >> 8)}; }
std::string le32s(uint32_t v) { return le16s((uint16_t)v) + le16s((uint16_t)(v >> 16)); }
std::string be32s(uint32_t v) { return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v}; }

std::string chunk(const char *id, const std::string &body) {
    std::string c = std::string(id, 4) + le32s((uint32_t)body.size()) + body;
    if (body.size() & 1) c += '\0';  // chunks are padded to an even size
    return c;
}

std::string fmt_body(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, int align_fix = 0) {
    uint16_t align = (uint16_t)(channels * bits / 8 + align_fix);
    return le16s(format) + le16s(channels) + le32s(rate) + le32s(rate * align) + le16s(align) + le16s(bits);
}

// The WAVE_FORMAT_EXTENSIBLE form: the sub-format GUID carries the format.
std::string extensible_body(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t valid) {
    static const char tail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    return fmt_body(0xFFFE, channels, rate, bits) + le16s(22) + le16s(valid) + le32s(3) + le16s(format) +
           std::string(tail, 14);
}

std::string riff(const std::string &chunks) { return "RIFF" + le32s((uint32_t)chunks.size() + 4) + "WAVE" + chunks; }

const std::string k_pcm = chunk("fmt ", fmt_body(1, 2, 44100, 16));
const std::string k_data = chunk("data", std::string(4 * 10, '\x11'));

// An MPEG-1 Layer III header: 128 kbit/s at 44.1 kHz, 417 bytes a frame (418 padded).
std::string mp3_header(uint8_t b1 = 0xFB, uint8_t b2 = 0x90, uint8_t b3 = 0x00) {
    return std::string{'\xFF', (char)b1, (char)b2, (char)b3};
}

std::string frame_bytes(uint8_t b1 = 0xFB, uint8_t b2 = 0x90, uint8_t b3 = 0x00, size_t bytes = 417) {
    return mp3_header(b1, b2, b3) + std::string(bytes - 4, '\x55');
}

std::string frames(int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += frame_bytes();
    return s;
}

std::string id3(size_t size) {
    std::string h = "ID3\x03" + std::string(2, '\0');
    h += std::string{(char)((size >> 21) & 127), (char)((size >> 14) & 127), (char)((size >> 7) & 127), (char)(size & 127)};
    return h + std::string(size, '\0');
}

// An Ogg page whose first (one-segment) packet is the given bytes.
std::string ogg_page(const std::string &packet) {
    std::string h = "OggS" + std::string(1, '\0') + std::string(1, '\x02') + std::string(8 + 4 + 4 + 4, '\0');
    return h + std::string(1, '\x01') + std::string(1, (char)packet.size()) + packet;
}

// An information frame ("Info" at the main data, after 32 bytes of side information): flags 15,
// the frame count, bytes, a table of 100 and a quality, then a LAME tag with delay and padding.
std::string info_frame(uint32_t count, uint32_t delay, uint32_t padding, const char *encoder = "LAME3.100",
                       uint32_t flags = 15) {
    std::string b = mp3_header() + std::string(32, '\0') + "Info" + be32s(flags);
    if (flags & 1) b += be32s(count);
    if (flags & 2) b += be32s(100000);
    if (flags & 4) b += std::string(100, '\x01');
    if (flags & 8) b += be32s(50);
    std::string tag = std::string(encoder) + std::string(12, '\0');
    tag += std::string{(char)(delay >> 4), (char)((delay & 15) << 4 | padding >> 8), (char)(padding & 255)};
    b += tag;
    return b + std::string(417 - b.size(), '\0');
}

struct memory_file {
    std::string bytes;
    int fail = 0;  // every read fails
};

int64_t memory_read(void *user, uint64_t at, void *buf, size_t n) {
    const memory_file *m = (const memory_file *)user;
    if (m->fail) return -1;
    if (at >= m->bytes.size()) return 0;
    size_t k = n < m->bytes.size() - at ? n : (size_t)(m->bytes.size() - at);
    memcpy(buf, m->bytes.data() + at, k);
    return (int64_t)k;
}

audio_bytes bytes_of(memory_file *m) { return {memory_read, m, m->bytes.size()}; }

}  // namespace

TEST(audio_probe, kinds_by_content) {
    const std::string pcm_wave = riff(k_pcm + k_data);
    const struct {
        const char *name;
        std::string bytes;
        int kind;
    } cases[] = {
        {"wave_of_pcm", pcm_wave, TRACK_WAV},
        {"wave_chunks_in_any_order_odd_ones_padded", riff(chunk("LIST", "abc") + k_data + chunk("JUNK", "") + k_pcm),
         TRACK_WAV},
        {"wave_of_extensible_float", riff(chunk("fmt ", extensible_body(3, 2, 48000, 32, 32)) + k_data), TRACK_WAV},
        {"wave_of_adpcm", riff(chunk("fmt ", fmt_body(2, 2, 44100, 4)) + k_data), TRACK_UNKNOWN},
        {"wave_without_data", riff(k_pcm), TRACK_UNKNOWN},
        {"wave_of_three_channels", riff(chunk("fmt ", fmt_body(1, 3, 44100, 16)) + k_data), TRACK_UNKNOWN},
        {"wave_whose_block_align_lies", riff(chunk("fmt ", fmt_body(1, 2, 44100, 16, 2)) + k_data), TRACK_UNKNOWN},
        {"riff_of_another_form", "RIFF" + le32s(4) + "CDXA" + std::string(100, '\0'), TRACK_RAW},
        {"aiff", "FORM" + le32s(4) + "AIFF" + std::string(100, '\0'), TRACK_UNKNOWN},
        {"flac", "fLaC" + std::string(100, '\0'), TRACK_FLAC},
        {"flac_behind_an_id3_tag", id3(20) + "fLaC" + std::string(100, '\0'), TRACK_FLAC},
        {"ogg_vorbis", ogg_page("\x01vorbis" + std::string(23, '\0')), TRACK_VORBIS},
        {"ogg_opus", ogg_page("OpusHead" + std::string(11, '\0')), TRACK_OPUS},
        {"ogg_of_another_codec", ogg_page("\x7F" "FLAC" + std::string(20, '\0')), TRACK_UNKNOWN},
        {"id3_tag", id3(30) + "\x11\x22\x33", TRACK_MP3},
        {"three_chained_frames", frames(3), TRACK_MP3},
        {"three_chained_frames_one_padded", frames(1) + frame_bytes(0xFB, 0x92, 0, 418) + frames(1), TRACK_MP3},
        {"two_chained_frames", frames(2) + std::string(500, '\0'), TRACK_RAW},
        {"frames_a_byte_apart_from_where_they_chain", frame_bytes() + std::string(1, '\0') + frames(2), TRACK_RAW},
        {"frames_of_two_rates", frames(2) + frame_bytes(0xFB, 0x94, 0, 384), TRACK_RAW},
        {"layer_ii_frames", frame_bytes(0xFD) + frame_bytes(0xFD) + frame_bytes(0xFD), TRACK_RAW},
        {"a_data_track", std::string("\x00", 1) + std::string(10, '\xFF') + std::string(2341, '\0'), TRACK_RAW},
        {"cd_audio_that_starts_like_a_frame", mp3_header() + std::string(3000, '\x01'), TRACK_RAW},
        {"empty", "", TRACK_RAW},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        memory_file m{c.bytes};
        audio_bytes b = bytes_of(&m);
        EXPECT_EQ(audio_probe(&b), c.kind);
    }
    memory_file unreadable{pcm_wave, 1};
    audio_bytes b = bytes_of(&unreadable);
    EXPECT_EQ(audio_probe(&b), -1);
}

TEST(wav_read_format, layouts) {
    const std::string data = chunk("data", std::string(30, '\0'));
    const struct {
        const char *name;
        std::string bytes;
        int encoding;
        uint32_t channels, rate, block;
        uint64_t data_at, frames;
    } cases[] = {
        {"pcm_16_stereo", riff(k_pcm + data), PCM_S16, 2, 44100, 4, 44, 7},
        {"pcm_8_mono", riff(chunk("fmt ", fmt_body(1, 1, 22050, 8)) + data), PCM_U8, 1, 22050, 1, 44, 30},
        {"pcm_24_stereo", riff(chunk("fmt ", fmt_body(1, 2, 96000, 24)) + data), PCM_S24, 2, 96000, 6, 44, 5},
        {"pcm_32_mono", riff(chunk("fmt ", fmt_body(1, 1, 44100, 32)) + data), PCM_S32, 1, 44100, 4, 44, 7},
        {"float_64_stereo", riff(chunk("fmt ", fmt_body(3, 2, 44100, 64)) + data), PCM_F64, 2, 44100, 16, 44, 1},
        {"extensible_24_bits_in_32", riff(chunk("fmt ", extensible_body(1, 2, 44100, 32, 24)) + data), PCM_S32, 2,
         44100, 8, 68, 3},
        {"data_first", riff(data + k_pcm), PCM_S16, 2, 44100, 4, 20, 7},
        {"size_of_a_writer_that_could_not_go_back", riff(k_pcm + "data" + le32s(0xFFFFFFFF) + std::string(41, '\0')),
         PCM_S16, 2, 44100, 4, 44, 10},
        {"size_beyond_the_end_is_kept", riff(k_pcm + "data" + le32s(400) + std::string(40, '\0')), PCM_S16, 2, 44100,
         4, 44, 100},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        memory_file m{c.bytes};
        audio_bytes b = bytes_of(&m);
        wav_format w;
        ASSERT_EQ(wav_read_format(&b, &w), 1);
        EXPECT_EQ(w.encoding, c.encoding);
        EXPECT_EQ(w.channels, c.channels);
        EXPECT_EQ(w.rate, c.rate);
        EXPECT_EQ(w.block, c.block);
        EXPECT_EQ(w.data_at, c.data_at);
        EXPECT_EQ(w.frames, c.frames);
    }
}

TEST(mp3_frame_header, fields) {
    const struct {
        const char *name;
        std::string h;
        uint32_t bytes, samples, rate, channels, side;  // bytes 0: refused
    } cases[] = {
        {"mpeg1_128k_44k1_stereo", mp3_header(), 417, 1152, 44100, 2, 36},
        {"padded", mp3_header(0xFB, 0x92), 418, 1152, 44100, 2, 36},
        {"with_crc_mono", mp3_header(0xFA, 0x90, 0xC0), 417, 1152, 44100, 1, 23},
        {"mpeg1_320k_32k", mp3_header(0xFB, 0xE8), 1440, 1152, 32000, 2, 36},
        {"mpeg2_64k_22k05_mono", mp3_header(0xF3, 0x80, 0xC0), 208, 576, 22050, 1, 13},
        {"mpeg2_5_8k_160k", mp3_header(0xE3, 0xE8), 1440, 576, 8000, 2, 21},
        {"free_format", mp3_header(0xFB, 0x00), 0, 0, 0, 0, 0},
        {"bad_bitrate", mp3_header(0xFB, 0xF0), 0, 0, 0, 0, 0},
        {"reserved_rate", mp3_header(0xFB, 0x9C), 0, 0, 0, 0, 0},
        {"reserved_version", mp3_header(0xEB), 0, 0, 0, 0, 0},
        {"layer_i", mp3_header(0xFF), 0, 0, 0, 0, 0},
        {"reserved_emphasis", mp3_header(0xFB, 0x90, 0x02), 0, 0, 0, 0, 0},
        {"no_sync", std::string("\xFF\x1B\x90\x00", 4), 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        mp3_frame f;
        int ok = mp3_frame_header((const uint8_t *)c.h.data(), &f);
        ASSERT_EQ(ok, c.bytes != 0);
        if (!ok) continue;
        EXPECT_EQ(f.bytes, c.bytes);
        EXPECT_EQ(f.samples, c.samples);
        EXPECT_EQ(f.rate, c.rate);
        EXPECT_EQ(f.channels, c.channels);
        EXPECT_EQ(f.side, c.side);
    }
}

TEST(mp3_read_stream, information_frame_and_gapless_figures) {
    const struct {
        const char *name;
        std::string bytes;
        int ok;
        uint64_t first;
        uint32_t frames;
        int gapless;
        uint32_t delay, padding;
    } cases[] = {
        {"lame_info_frame", info_frame(78, 576, 1080) + frames(3), 1, 417, 78, 1, 576, 1080},
        {"ffmpeg_info_frame", info_frame(5, 1105, 3000, "Lavf58.76") + frames(3), 1, 417, 5, 1, 1105, 3000},
        {"info_frame_without_the_encoders_tag", info_frame(9, 0, 0, "XXXX") + frames(3), 1, 417, 9, 0, 0, 0},
        {"info_frame_without_a_count", info_frame(9, 576, 600, "LAME3.100", 14) + frames(3), 1, 417, 0, 1, 576, 600},
        {"no_information_frame", frames(3), 1, 0, 0, 0, 0, 0},
        {"behind_an_id3_tag", id3(100) + info_frame(2, 576, 1000) + frames(2), 1, 110 + 417, 2, 1, 576, 1000},
        {"behind_an_id3_tag_and_padding_it_leaves_out", id3(100) + std::string(300, '\0') + frames(3), 1, 410, 0, 0,
         0, 0},
        {"an_information_frame_alone", info_frame(0, 576, 1000), 0, 0, 0, 0, 0, 0},
        {"id3_tag_and_noise", id3(10) + std::string(5000, '\x13'), 0, 0, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        memory_file m{c.bytes};
        audio_bytes b = bytes_of(&m);
        mp3_stream s;
        ASSERT_EQ(mp3_read_stream(&b, &s), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(s.first, c.first);
        EXPECT_EQ(s.frame.bytes, 417u);
        EXPECT_EQ(s.frames, c.frames);
        EXPECT_EQ(s.gapless, c.gapless);
        EXPECT_EQ(s.delay, c.delay);
        EXPECT_EQ(s.padding, c.padding);
    }
}

TEST(mp3_count_frames, end_at_the_files_end_or_a_tag) {
    const struct {
        const char *name;
        std::string bytes;
        int64_t count;
    } cases[] = {
        {"to_the_end", frames(5), 5},
        {"then_an_id3v1_tag", frames(5) + "TAG" + std::string(125, ' '), 5},
        {"then_an_ape_tag", frames(5) + "APETAGEX" + std::string(200, '\0'), 5},
        {"then_noise", frames(5) + std::string(200, '\x13'), -1},
        {"the_last_one_cut", frames(5) + frame_bytes().substr(0, 300), -1},
        {"a_frame_of_another_rate", frames(2) + frame_bytes(0xFB, 0x94, 0, 384) + frames(2), -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        memory_file m{c.bytes};
        audio_bytes b = bytes_of(&m);
        mp3_stream s;
        ASSERT_EQ(mp3_read_stream(&b, &s), 1);
        EXPECT_EQ(mp3_count_frames(&b, &s), c.count);
    }
}
