// The libraries the readers build on, linked statically into a Windows program and run under Wine
// on what the real tools made (make-testdata.sh, testdata\deps): one strong check each. Lossless
// decodes must give the source bytes; lossy ones must agree with ffmpeg's own decoders.
#include <gtest/gtest.h>
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>

#include <FLAC/stream_decoder.h>
#include <lzma.h>
#include <math.h>
#include <opusfile.h>
#include <speex/speex_resampler.h>
#include <stdint.h>
#include <string.h>
#include <vorbis/vorbisfile.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support.h"

namespace {

std::string data(const char *name) { return testdata((std::string("deps\\") + name).c_str()); }

std::vector<int16_t> samples(const std::string &bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// Signal-to-noise ratio in dB of got[off..] against ref, over the samples both have.
double snr_db(const std::vector<int16_t> &ref, const std::vector<int16_t> &got, size_t off = 0) {
    double sig = 0, err = 0;
    for (size_t i = 0; i < ref.size() && off + i < got.size(); i++) {
        double d = (double)got[off + i] - ref[i];
        sig += (double)ref[i] * ref[i];
        err += d * d;
    }
    return err == 0 ? 200 : 10 * log10(sig / err);
}

}  // namespace

// --- compression: what gzip, xz and zstd wrote, unpacked to the same bytes --------------------

TEST(deps, zlib_inflates_gzip) {
    std::string blob = slurp(data("blob")), gz = slurp(data("blob.gz"));
    ASSERT_FALSE(gz.empty());
    std::string out(blob.size() + 1, '\0');
    z_stream z = {};
    ASSERT_EQ(inflateInit2(&z, 15 + 16), Z_OK);  // +16: the gzip wrapper, whose CRC-32 inflate checks
    z.next_in = (Bytef *)gz.data();
    z.avail_in = (uInt)gz.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    EXPECT_TRUE(out == blob);
}

// The raw LZMA1 stream, without a container: the form of a CHD's LZMA hunks.
TEST(deps, lzma_decodes_raw_lzma1) {
    std::string blob = slurp(data("blob")), packed = slurp(data("blob.lzma1"));
    ASSERT_FALSE(packed.empty());
    lzma_options_lzma opt;
    ASSERT_FALSE(lzma_lzma_preset(&opt, 6));
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, NULL}};
    lzma_stream s = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_raw_decoder(&s, filters), LZMA_OK);
    std::string out(blob.size() + 1, '\0');
    s.next_in = (const uint8_t *)packed.data();
    s.avail_in = packed.size();
    s.next_out = (uint8_t *)&out[0];
    s.avail_out = out.size();
    EXPECT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
    out.resize(s.total_out);
    lzma_end(&s);
    EXPECT_TRUE(out == blob);
}

TEST(deps, zstd_decompresses_cli_output) {
    std::string blob = slurp(data("blob")), packed = slurp(data("blob.zst"));
    ASSERT_FALSE(packed.empty());
    EXPECT_EQ(ZSTD_getFrameContentSize(packed.data(), packed.size()), blob.size());
    std::string out(blob.size() + 1, '\0');
    ZSTD_DCtx *d = ZSTD_createDCtx();
    size_t n = ZSTD_decompressDCtx(d, &out[0], out.size(), packed.data(), packed.size());
    ZSTD_freeDCtx(d);
    ASSERT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
    out.resize(n);
    EXPECT_TRUE(out == blob);
}

// --- audio decoders -------------------------------------------------------------------------

struct flac_sink {
    std::vector<int16_t> pcm;
    unsigned channels = 0, bits = 0;
};

static FLAC__StreamDecoderWriteStatus flac_write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                 const FLAC__int32 *const buffer[], void *user) {
    flac_sink *sink = (flac_sink *)user;
    sink->channels = frame->header.channels;
    sink->bits = frame->header.bits_per_sample;
    for (unsigned i = 0; i < frame->header.blocksize; i++)
        for (unsigned c = 0; c < frame->header.channels; c++) sink->pcm.push_back((int16_t)buffer[c][i]);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

static void flac_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *) {}

TEST(deps, flac_decodes_bit_exact) {
    FLAC__StreamDecoder *dec = FLAC__stream_decoder_new();
    ASSERT_TRUE(dec);
    FLAC__stream_decoder_set_md5_checking(dec, true);
    flac_sink sink;
    ASSERT_EQ(FLAC__stream_decoder_init_file(dec, data("sweep.flac").c_str(), flac_write, NULL, flac_error, &sink),
              FLAC__STREAM_DECODER_INIT_STATUS_OK);
    EXPECT_TRUE(FLAC__stream_decoder_process_until_end_of_stream(dec));
    EXPECT_TRUE(FLAC__stream_decoder_finish(dec));  // false when the stream's MD5 does not match
    FLAC__stream_decoder_delete(dec);
    EXPECT_EQ(sink.channels, 2u);
    EXPECT_EQ(sink.bits, 16u);
    EXPECT_TRUE(sink.pcm == samples(slurp(data("sweep44100.raw"))));
}

TEST(deps, vorbisfile_agrees_with_ffmpeg) {
    OggVorbis_File vf;
    ASSERT_EQ(ov_fopen(data("sweep.ogg").c_str(), &vf), 0);
    vorbis_info *vi = ov_info(&vf, -1);
    EXPECT_EQ(vi->rate, 44100);
    EXPECT_EQ(vi->channels, 2);
    std::string pcm;
    char buf[8192];
    int section;
    long n;
    while ((n = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &section)) > 0) pcm.append(buf, n);
    EXPECT_EQ(n, 0);
    ov_clear(&vf);
    // The granule positions trim the encoder's padding: exactly the source's length.
    std::vector<int16_t> ref = samples(slurp(data("sweep.ogg.ffmpeg")));
    EXPECT_EQ(pcm.size(), slurp(data("sweep44100.raw")).size());
    EXPECT_EQ(pcm.size(), ref.size() * 2);
    EXPECT_GT(snr_db(ref, samples(pcm)), 40);
}

TEST(deps, opusfile_agrees_with_ffmpeg) {
    int err = 0;
    OggOpusFile *of = op_open_file(data("sweep.opus").c_str(), &err);
    ASSERT_TRUE(of) << err;
    std::vector<int16_t> pcm;
    opus_int16 buf[2 * 5760];
    int n;
    while ((n = op_read_stereo(of, buf, sizeof buf / sizeof buf[0])) > 0) pcm.insert(pcm.end(), buf, buf + 2 * n);
    EXPECT_EQ(n, 0);
    op_free(of);
    // The pre-skip and the end trimming give back the source's length, at 48 kHz.
    std::vector<int16_t> ref = samples(slurp(data("sweep.opus.ffmpeg")));
    EXPECT_EQ(pcm.size() * 2, slurp(data("sweep48000.raw")).size());
    EXPECT_EQ(pcm.size(), ref.size());
    EXPECT_GT(snr_db(ref, pcm), 40);
}

// MP3 goes through the platform's own ACM codec (msacm32), not a linked library. Its output is not
// trimmed: the encoder's information frame, its delay and its padding come out as samples, so the
// comparison finds where ffmpeg's (trimmed) decode starts in it.
TEST(deps, acm_mp3_agrees_with_ffmpeg) {
    std::string mp3 = slurp(data("sweep.mp3"));
    ASSERT_GT(mp3.size(), 10u);
    MPEGLAYER3WAVEFORMAT in = {};
    in.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    in.wfx.nChannels = 2;
    in.wfx.nSamplesPerSec = 44100;
    in.wfx.nAvgBytesPerSec = 192000 / 8;
    in.wfx.nBlockAlign = 1;
    in.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    in.wID = MPEGLAYER3_ID_MPEG;
    in.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    in.nBlockSize = 626;  // 144 * 192000 / 44100: one frame
    in.nFramesPerBlock = 1;
    WAVEFORMATEX out = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
    HACMSTREAM s;
    ASSERT_EQ(acmStreamOpen(&s, NULL, &in.wfx, &out, NULL, 0, 0, 0), 0u);
    std::string pcm;
    std::vector<BYTE> src(4096), dst(65536);
    for (size_t pos = 0; pos < mp3.size();) {
        DWORD k = (DWORD)std::min<size_t>(src.size(), mp3.size() - pos);
        memcpy(src.data(), mp3.data() + pos, k);
        ACMSTREAMHEADER h = {};
        h.cbStruct = sizeof h;
        h.pbSrc = src.data();
        h.cbSrcLength = k;
        h.pbDst = dst.data();
        h.cbDstLength = (DWORD)dst.size();
        ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), 0u);
        ASSERT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
        pcm.append((const char *)dst.data(), h.cbDstLengthUsed);
        acmStreamUnprepareHeader(s, &h, 0);
        if (h.cbSrcLengthUsed == 0) break;
        pos += h.cbSrcLengthUsed;
    }
    acmStreamClose(s, 0);
    std::vector<int16_t> got = samples(pcm), ref = samples(slurp(data("sweep.mp3.ffmpeg")));
    ASSERT_GT(got.size(), ref.size());
    // The sweeps make one offset (in stereo frames) stand out; every 7th sample is enough to find it.
    size_t best = 0;
    double best_err = -1;
    for (size_t off = 0; off <= 4 * 1152 && 2 * off + ref.size() <= got.size(); off++) {
        double err = 0;
        for (size_t i = 0; i < ref.size(); i += 7) {
            double d = (double)got[2 * off + i] - ref[i];
            err += d * d;
        }
        if (best_err < 0 || err < best_err) best_err = err, best = off;
    }
    EXPECT_GT(snr_db(ref, got, 2 * best), 40) << "at frame offset " << best;
}

// --- the resampler --------------------------------------------------------------------------

// Two tones at 48 kHz to 44.1 kHz: past the filter's start, the output is the same tones sampled
// at the new rate, later by the filter's delay (half its length, in input samples).
TEST(deps, speexdsp_resamples_48k_to_44k1) {
    const int in_rate = 48000, out_rate = 44100, frames = in_rate / 2;
    auto tone = [](double t) { return 8000 * sin(2 * M_PI * 1000 * t) + 6000 * sin(2 * M_PI * 5000 * t); };
    std::vector<int16_t> in(2 * frames);
    for (int i = 0; i < frames; i++) in[2 * i] = in[2 * i + 1] = (int16_t)lrint(tone((double)i / in_rate));
    int err = 0;
    SpeexResamplerState *rs = speex_resampler_init(2, in_rate, out_rate, SPEEX_RESAMPLER_QUALITY_DEFAULT, &err);
    ASSERT_TRUE(rs) << err;
    std::vector<int16_t> out(2 * frames);
    spx_uint32_t in_len = frames, out_len = frames;
    ASSERT_EQ(speex_resampler_process_interleaved_int(rs, in.data(), &in_len, out.data(), &out_len), 0);
    double delay = (double)speex_resampler_get_input_latency(rs) / in_rate;
    int settle = 2 * speex_resampler_get_output_latency(rs);
    speex_resampler_destroy(rs);
    EXPECT_EQ(in_len, (spx_uint32_t)frames);
    EXPECT_EQ(out_len, (spx_uint32_t)((long long)frames * out_rate / in_rate));
    std::vector<int16_t> ref;
    for (int i = settle; i < (int)out_len; i++)
        for (int c = 0; c < 2; c++) ref.push_back((int16_t)lrint(tone((double)i / out_rate - delay)));
    EXPECT_GT(snr_db(ref, out, 2 * settle), 60);
}
