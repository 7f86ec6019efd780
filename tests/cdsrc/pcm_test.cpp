// From decoded samples to CD sectors: the conversions at their edges, the span that cuts a
// decoder's delay and padding, and the sectors' silent end.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "cdsrc/pcm.h"

namespace {

std::string f32(float v) {
    std::string s(4, '\0');
    memcpy(&s[0], &v, 4);
    return s;
}

std::string f64(double v) {
    std::string s(8, '\0');
    memcpy(&s[0], &v, 8);
    return s;
}

}  // namespace

// Each row: interleaved input samples and the 16-bit stereo frames they must become.
TEST(pcm_to_stereo16, encodings) {
    const struct {
        const char *name;
        int encoding;
        unsigned channels;
        std::string in;
        std::vector<int16_t> out;
    } cases[] = {
        {"u8_mono_doubled", PCM_U8, 1, std::string("\x00\x80\xFF\x81", 4), {-32768, -32768, 0, 0, 32512, 32512, 256, 256}},
        {"s16_stereo_little_endian", PCM_S16, 2, std::string("\x01\x02\xFF\x7F\x00\x80\xFE\xFF", 8), {0x0201, 32767, -32768, -2}},
        {"s16_mono", PCM_S16, 1, std::string("\x34\x12", 2), {0x1234, 0x1234}},
        // 24 bits: rounded half up, the top clipped.
        {"s24_stereo", PCM_S24, 2, std::string("\x7F\x00\x00\x80\x00\x00\x00\x00\x80\xFF\xFF\x7F", 12), {0, 1, -32768, 32767}},
        {"s24_negative_half_steps", PCM_S24, 2, std::string("\x80\xFF\xFF\x7F\xFF\xFF", 6), {0, -1}},
        {"s32_stereo", PCM_S32, 2, std::string("\x00\x80\x00\x00\xFF\x7F\x00\x00\x00\x00\x00\x80\xFF\xFF\xFF\x7F", 16),
         {1, 0, -32768, 32767}},
        {"f32_mono", PCM_F32, 1, f32(0.5f) + f32(-0.25f), {16384, 16384, -8192, -8192}},
        {"f32_clipped", PCM_F32, 2, f32(1.0f) + f32(-1.0f) + f32(3.0f) + f32(-7.5f), {32767, -32768, 32767, -32768}},
        {"f32_nan_is_silence", PCM_F32, 2, f32(NAN) + f32(INFINITY), {0, 32767}},
        {"f64_stereo", PCM_F64, 2, f64(0.1) + f64(-0.99999), {3277, -32768}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        size_t frames = c.in.size() / (pcm_sample_bytes(c.encoding) * c.channels);
        ASSERT_EQ(frames * 2, c.out.size());
        std::vector<int16_t> out(frames * 2, 0x5A5A);
        pcm_to_stereo16((const uint8_t *)c.in.data(), frames, c.encoding, c.channels, out.data());
        EXPECT_EQ(out, c.out);
    }
}

TEST(pcm_planar_to_stereo16, bits) {
    const struct {
        const char *name;
        unsigned bits, channels;
        std::vector<int32_t> left, right;
        std::vector<int16_t> out;
    } cases[] = {
        {"8_bits", 8, 2, {127, -128}, {1, 0}, {32512, 256, -32768, 0}},
        {"16_bits_mono", 16, 1, {-32768, 32767}, {}, {-32768, -32768, 32767, 32767}},
        {"20_bits", 20, 2, {7, 8}, {-8, 524287}, {0, 0, 1, 32767}},
        {"24_bits", 24, 2, {-8388608, 128}, {8388607, -129}, {-32768, 32767, 1, -1}},
        {"32_bits", 32, 2, {2147483647, -2147483647 - 1}, {32768, 32767}, {32767, 1, -32768, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t *planes[2] = {c.left.data(), c.right.data()};
        std::vector<int16_t> out(c.left.size() * 2, 0x5A5A);
        pcm_planar_to_stereo16(planes, c.channels, c.bits, c.left.size(), out.data());
        EXPECT_EQ(out, c.out);
    }
}

namespace {

// A decoder's output: frame i is (i, -i), handed out at most chunk frames a pull; it ends after
// frames, or fails at frame fail_at.
struct ramp {
    int64_t frames, chunk, fail_at, pos = 0;
};

long ramp_pull(void *user, int16_t *out, size_t max) {
    ramp *r = (ramp *)user;
    if (r->pos >= r->fail_at) return -1;
    int64_t n = r->frames - r->pos;
    if (n > r->chunk) n = r->chunk;
    if (n > (int64_t)max) n = (int64_t)max;
    for (int64_t i = 0; i < n; i++) {
        out[2 * i] = (int16_t)(r->pos + i);
        out[2 * i + 1] = (int16_t)-(r->pos + i);
    }
    r->pos += n;
    return (long)n;
}

// Everything a span hands out, pulled max frames at a time; empty when it fails.
std::vector<int16_t> drain(pcm_span *s, size_t max, bool *failed) {
    std::vector<int16_t> all, buf(2 * max);
    *failed = false;
    for (;;) {
        long n = pcm_span_pull(s, buf.data(), max);
        if (n < 0) {
            *failed = true;
            return {};
        }
        if (n == 0) return all;
        all.insert(all.end(), buf.begin(), buf.begin() + 2 * n);
    }
}

std::vector<int16_t> ramp_frames(int64_t from, int64_t count, int64_t silent_after = INT64_MAX) {
    std::vector<int16_t> v;
    for (int64_t i = from; i < from + count; i++) {
        v.push_back(i < silent_after ? (int16_t)i : 0);
        v.push_back(i < silent_after ? (int16_t)-i : 0);
    }
    return v;
}

}  // namespace

TEST(pcm_span, cuts_delay_and_padding_and_makes_up_a_short_end) {
    const struct {
        const char *name;
        int64_t frames, chunk, fail_at;
        uint64_t skip, keep, slack;
        size_t max;
        bool fails;
    } cases[] = {
        {"whole", 1000, 1000, INT64_MAX, 0, 1000, 0, 4096, false},
        {"delay_and_padding_cut", 1000, 1152, INT64_MAX, 105, 700, 0, 4096, false},
        {"skip_over_many_small_pulls", 1000, 7, INT64_MAX, 529, 400, 0, 33, false},
        {"pulls_smaller_than_the_skip", 1000, 1000, INT64_MAX, 529, 400, 0, 10, false},
        {"short_end_within_the_slack", 1000, 64, INT64_MAX, 100, 929, 29, 50, false},
        {"short_end_past_the_slack", 1000, 64, INT64_MAX, 100, 930, 29, 50, true},
        {"ends_before_the_skip", 50, 64, INT64_MAX, 100, 10, 529, 50, true},
        {"decoder_fails", 1000, 64, 500, 0, 1000, 0, 4096, true},
        {"nothing_kept", 1000, 64, INT64_MAX, 100, 0, 0, 4096, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ramp r{c.frames, c.chunk, c.fail_at};
        pcm_span s;
        pcm_span_init(&s, ramp_pull, &r, c.skip, c.keep, c.slack);
        bool failed;
        std::vector<int16_t> got = drain(&s, c.max, &failed);
        EXPECT_EQ(failed, c.fails);
        if (!c.fails) {
            EXPECT_EQ(got, ramp_frames((int64_t)c.skip, (int64_t)c.keep, c.frames));
        }
    }
}

TEST(pcm_sectors, whole_sectors_with_a_silent_end) {
    ramp r{1000, 300, INT64_MAX};
    pcm_span span;
    pcm_span_init(&span, ramp_pull, &r, 0, 1000, 0);
    pcm_sectors s = {pcm_span_pull, &span, 1000, 0};
    EXPECT_EQ(pcm_sectors_of(1000), 2u);
    EXPECT_EQ(pcm_sectors_of(1176), 2u);
    EXPECT_EQ(pcm_sectors_of(1177), 3u);
    std::vector<int16_t> scratch(2 * 100), out(2 * SECTOR_FRAMES);
    ASSERT_EQ(pcm_sectors_seek(&s, 10, scratch.data(), 100), 1);  // passed over, dropped
    ASSERT_EQ(pcm_sectors_seek(&s, SECTOR_FRAMES, scratch.data(), 100), 1);
    ASSERT_EQ(pcm_sectors_read(&s, 1, out.data()), 1);
    EXPECT_EQ(out, ramp_frames(SECTOR_FRAMES, SECTOR_FRAMES, 1000));  // 412 frames, then silence
    EXPECT_EQ(pcm_sectors_seek(&s, 0, scratch.data(), 100), 0);       // behind: read from the start again
    EXPECT_EQ(s.pos, 2u * SECTOR_FRAMES);

    // A stream that ends before its total: the read fails rather than passing silence for audio.
    ramp short_ramp{900, 300, INT64_MAX};
    pcm_span short_span;
    pcm_span_init(&short_span, ramp_pull, &short_ramp, 0, 900, 0);
    pcm_sectors t = {pcm_span_pull, &short_span, 1000, 0};
    std::vector<int16_t> two(4 * SECTOR_FRAMES);
    EXPECT_EQ(pcm_sectors_read(&t, 2, two.data()), 0);
}

TEST(pcm_cd_frames, rounds_up_to_cover_the_last_sample) {
    EXPECT_EQ(pcm_cd_frames(123, 44100), 123u);
    EXPECT_EQ(pcm_cd_frames(48000, 48000), 44100u);
    EXPECT_EQ(pcm_cd_frames(48001, 48000), 44101u);  // 44100.92 frames
    EXPECT_EQ(pcm_cd_frames(1, 22050), 2u);
    EXPECT_EQ(pcm_cd_frames(7, 8000), 39u);  // 38.59
    EXPECT_EQ(pcm_cd_frames(UINT64_MAX / 1000, 48000), UINT64_MAX);  // too long to count
}
