// The hunk codecs of a CHD (chd_codecs.h) over zlib, liblzma, libzstd and libFLAC.
//
// A CD hunk is frames of 2352 bytes of sector data and 96 of subcode. The CD codecs store:
//   [0] one bit a frame (frame n in byte n / 8, bit n % 8): its sync and P/Q parity were left out
//   [ecc bytes] length of the compressed sector data: 2 bytes (3 for a hunk of 64 KiB or more)
//   then the sector data of all frames compressed as one, then their subcode compressed as one.
// cdfl has no such head: FLAC (big-endian 16-bit stereo samples, no stream header) of the sector
// data, then the subcode deflated from the byte where the FLAC frames end.
#include "cdsrc/chd_codecs.h"

#include <stdlib.h>
#include <string.h>

#include <FLAC/stream_decoder.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include "cdsrc/chd_huffman.h"
#include "cdsrc/chd_tag.h"
#include "cdsrc/tracks.h"

enum {
    CD_SUBCODE = 96,
    CD_FRAME = RAW_SECTOR + CD_SUBCODE,
    FLAC_HEADER = 42,  // "fLaC" and a STREAMINFO block: what cdfl leaves out
};

struct chd_codecs {
    uint32_t hunk_bytes;
    uint8_t *scratch;  // a CD hunk's sector data, then its subcode, as the codecs keep them apart
    z_stream z;
    int z_ready;
    ZSTD_DCtx *zstd;
    FLAC__StreamDecoder *flac;
    chd_huffman huff;
    // The FLAC stream being decoded: the made-up header, then the compressed bytes.
    uint8_t flac_header[FLAC_HEADER];
    const uint8_t *flac_src;
    uint32_t flac_len, flac_pos;  // flac_pos counts the header too
    uint8_t *flac_out;
    uint32_t flac_samples, flac_done;  // stereo samples wanted and written
    int flac_big_endian, flac_failed;
};

int chd_codec_known(uint32_t tag) {
    static const char *const known[] = {"zlib", "lzma", "zstd", "flac", "huff", "cdzl", "cdlz", "cdzs", "cdfl"};
    for (const char *k : known)
        if (tag == chd_tag(k)) return 1;
    return 0;
}

chd_codecs *chd_codecs_new(uint32_t hunk_bytes) {
    chd_codecs *k = (chd_codecs *)calloc(1, sizeof *k);
    if (!k) return NULL;
    k->hunk_bytes = hunk_bytes;
    k->scratch = (uint8_t *)malloc(hunk_bytes);
    k->z_ready = inflateInit2(&k->z, -MAX_WBITS) == Z_OK;
    k->zstd = ZSTD_createDCtx();
    k->flac = FLAC__stream_decoder_new();
    k->huff.lookup = (uint16_t *)malloc(sizeof(uint16_t) << HUFF_BITS_MAX);
    if (!k->scratch || !k->z_ready || !k->zstd || !k->flac || !k->huff.lookup) {
        chd_codecs_free(k);
        return NULL;
    }
    return k;
}

void chd_codecs_free(chd_codecs *k) {
    if (!k) return;
    if (k->z_ready) inflateEnd(&k->z);
    ZSTD_freeDCtx(k->zstd);
    if (k->flac) FLAC__stream_decoder_delete(k->flac);
    free(k->huff.lookup);
    free(k->scratch);
    free(k);
}

// Raw deflate, exactly out_len bytes.
static int inflate_all(chd_codecs *k, const uint8_t *src, uint32_t len, uint8_t *out, uint32_t out_len) {
    if (inflateReset(&k->z) != Z_OK) return 0;
    k->z.next_in = (Bytef *)src;
    k->z.avail_in = len;
    k->z.next_out = out;
    k->z.avail_out = out_len;
    int r = inflate(&k->z, Z_FINISH);
    return (r == Z_STREAM_END || r == Z_OK || r == Z_BUF_ERROR) && k->z.total_out == out_len;
}

// Raw LZMA without an end mark, as the encoder's level 9 leaves it (lc 3, lp 0, pb 2); the
// dictionary only has to hold what one hunk refers back to.
static int unlzma_all(const uint8_t *src, uint32_t len, uint8_t *out, uint32_t out_len) {
    lzma_options_lzma opt;
    if (lzma_lzma_preset(&opt, 9)) return 0;
    opt.dict_size = out_len < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : out_len;
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    opt.ext_flags = 0;
    opt.ext_size_low = out_len;
    opt.ext_size_high = 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, NULL}};
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&s, filters) != LZMA_OK) return 0;
    s.next_in = src;
    s.avail_in = len;
    s.next_out = out;
    s.avail_out = out_len;
    lzma_ret r = lzma_code(&s, LZMA_FINISH);
    int ok = (r == LZMA_STREAM_END || r == LZMA_OK) && s.avail_out == 0;
    lzma_end(&s);
    return ok;
}

static int unzstd_all(chd_codecs *k, const uint8_t *src, uint32_t len, uint8_t *out, uint32_t out_len) {
    size_t n = ZSTD_decompressDCtx(k->zstd, out, out_len, src, len);
    return !ZSTD_isError(n) && n == out_len;
}

// Bytes in a Huffman code of their own, which comes first.
static int unhuff(chd_codecs *k, const uint8_t *src, uint32_t len, uint8_t *out, uint32_t out_len) {
    chd_bits b = {src, len, 0};
    k->huff.codes = HUFF_CODES_MAX;
    k->huff.max_bits = HUFF_BITS_MAX;
    if (!huff_read_huffman(&k->huff, &b)) return 0;
    for (uint32_t i = 0; i < out_len; i++) {
        int v = huff_next(&k->huff, &b);
        if (v < 0) return 0;
        out[i] = (uint8_t)v;
    }
    return !chd_bits_overrun(&b);
}

// --- FLAC: a stream whose STREAMINFO the codec leaves out, made up here (44.1 kHz, 2 channels, 16
// bits, the block size the encoder used) ---------------------------------------------------------

static FLAC__StreamDecoderReadStatus flac_read(const FLAC__StreamDecoder *, FLAC__byte buffer[], size_t *bytes,
                                               void *user) {
    chd_codecs *k = (chd_codecs *)user;
    size_t n = 0;
    while (n < *bytes && k->flac_pos < FLAC_HEADER + k->flac_len) {
        uint32_t at = k->flac_pos;
        buffer[n++] = at < FLAC_HEADER ? k->flac_header[at] : k->flac_src[at - FLAC_HEADER];
        k->flac_pos++;
    }
    *bytes = n;
    return n ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}

static FLAC__StreamDecoderTellStatus flac_tell(const FLAC__StreamDecoder *, FLAC__uint64 *at, void *user) {
    *at = ((chd_codecs *)user)->flac_pos;
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

static FLAC__StreamDecoderWriteStatus flac_write(const FLAC__StreamDecoder *, const FLAC__Frame *frame,
                                                 const FLAC__int32 *const buffer[], void *user) {
    chd_codecs *k = (chd_codecs *)user;
    if (frame->header.channels != 2 || frame->header.bits_per_sample != 16) {
        k->flac_failed = 1;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    for (uint32_t i = 0; i < frame->header.blocksize && k->flac_done < k->flac_samples; i++, k->flac_done++)
        for (int ch = 0; ch < 2; ch++) {
            uint16_t v = (uint16_t)buffer[ch][i];
            uint8_t *p = k->flac_out + (size_t)k->flac_done * 4 + ch * 2;
            p[0] = (uint8_t)(k->flac_big_endian ? v >> 8 : v);
            p[1] = (uint8_t)(k->flac_big_endian ? v : v >> 8);
        }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

static void flac_metadata(const FLAC__StreamDecoder *, const FLAC__StreamMetadata *, void *) {}

static void flac_error(const FLAC__StreamDecoder *, FLAC__StreamDecoderErrorStatus, void *user) {
    ((chd_codecs *)user)->flac_failed = 1;
}

// Decodes out_len bytes of samples; *used is where in src the FLAC frames ended.
static int unflac(chd_codecs *k, uint32_t block, const uint8_t *src, uint32_t len, uint8_t *out, uint32_t out_len,
                  int big_endian, uint32_t *used) {
    static const uint8_t streaminfo[FLAC_HEADER] = {
        'f', 'L', 'a', 'C', 0x80, 0x00, 0x00, 0x22,  // the last metadata block: STREAMINFO, 34 bytes
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0,               // block sizes (set below), frame sizes unknown
        0x0A, 0xC4, 0x42, 0xF0, 0, 0, 0, 0,          // 44,100 Hz, 2 channels, 16 bits, length unknown
    };
    memcpy(k->flac_header, streaminfo, sizeof streaminfo);
    k->flac_header[8] = k->flac_header[10] = (uint8_t)(block >> 8);
    k->flac_header[9] = k->flac_header[11] = (uint8_t)block;
    k->flac_src = src;
    k->flac_len = len;
    k->flac_pos = 0;
    k->flac_out = out;
    k->flac_samples = out_len / 4;
    k->flac_done = 0;
    k->flac_big_endian = big_endian;
    k->flac_failed = 0;
    if (FLAC__stream_decoder_init_stream(k->flac, flac_read, NULL, flac_tell, NULL, NULL, flac_write, flac_metadata,
                                         flac_error, k) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return 0;
    int ok = FLAC__stream_decoder_process_until_end_of_metadata(k->flac);
    while (ok && !k->flac_failed && k->flac_done < k->flac_samples &&
           FLAC__stream_decoder_get_state(k->flac) != FLAC__STREAM_DECODER_END_OF_STREAM)
        ok = FLAC__stream_decoder_process_single(k->flac);
    FLAC__uint64 at = 0;
    ok = ok && !k->flac_failed && k->flac_done == k->flac_samples &&
         FLAC__stream_decoder_get_decode_position(k->flac, &at) && at >= FLAC_HEADER && at - FLAC_HEADER <= len;
    FLAC__stream_decoder_finish(k->flac);
    *used = ok ? (uint32_t)(at - FLAC_HEADER) : 0;
    return ok;
}

// The block size of the encoder: a quarter of the bytes (stereo 16-bit samples), halved down to limit.
static uint32_t flac_block(uint32_t bytes, uint32_t limit) {
    uint32_t block = bytes / 4;
    while (block > limit) block /= 2;
    return block;
}

// --- the CD codecs ---------------------------------------------------------------------------

// The sector data and subcode, decoded apart into scratch, woven back into frames.
static void cd_weave(chd_codecs *k, uint8_t *dst, uint32_t frames) {
    const uint8_t *sub = k->scratch + (size_t)frames * RAW_SECTOR;
    for (uint32_t f = 0; f < frames; f++) {
        memcpy(dst + (size_t)f * CD_FRAME, k->scratch + (size_t)f * RAW_SECTOR, RAW_SECTOR);
        memcpy(dst + (size_t)f * CD_FRAME + RAW_SECTOR, sub + (size_t)f * CD_SUBCODE, CD_SUBCODE);
    }
}

enum cd_base { BASE_DEFLATE, BASE_LZMA, BASE_ZSTD };

static int cd_decompress(chd_codecs *k, cd_base base, const uint8_t *src, uint32_t len, uint8_t *dst) {
    uint32_t frames = k->hunk_bytes / CD_FRAME;
    uint32_t ecc_bytes = (frames + 7) / 8, size_bytes = k->hunk_bytes < 65536 ? 2 : 3;
    uint32_t head = ecc_bytes + size_bytes;
    if (len < head) return 0;
    uint32_t base_len = (uint32_t)src[ecc_bytes] << 8 | src[ecc_bytes + 1];
    if (size_bytes == 3) base_len = base_len << 8 | src[ecc_bytes + 2];
    if (base_len > len - head) return 0;
    const uint8_t *sub = src + head + base_len;
    uint32_t sub_len = len - head - base_len;
    uint8_t *data_out = k->scratch, *sub_out = k->scratch + (size_t)frames * RAW_SECTOR;
    uint32_t data_size = frames * RAW_SECTOR, sub_size = frames * CD_SUBCODE;
    int ok;
    switch (base) {
    case BASE_DEFLATE:
        ok = inflate_all(k, src + head, base_len, data_out, data_size) && inflate_all(k, sub, sub_len, sub_out, sub_size);
        break;
    case BASE_LZMA:
        ok = unlzma_all(src + head, base_len, data_out, data_size) && inflate_all(k, sub, sub_len, sub_out, sub_size);
        break;
    default:
        ok = unzstd_all(k, src + head, base_len, data_out, data_size) && unzstd_all(k, sub, sub_len, sub_out, sub_size);
    }
    if (!ok) return 0;
    cd_weave(k, dst, frames);
    for (uint32_t f = 0; f < frames; f++)
        if (src[f / 8] >> (f % 8) & 1) cd_sector_regenerate(dst + (size_t)f * CD_FRAME);
    return 1;
}

static int cdfl_decompress(chd_codecs *k, const uint8_t *src, uint32_t len, uint8_t *dst) {
    uint32_t frames = k->hunk_bytes / CD_FRAME, used;
    uint32_t data_size = frames * RAW_SECTOR, sub_size = frames * CD_SUBCODE;
    if (!unflac(k, flac_block(data_size, RAW_SECTOR), src, len, k->scratch, data_size, 1, &used) ||
        !inflate_all(k, src + used, len - used, k->scratch + data_size, sub_size))
        return 0;
    cd_weave(k, dst, frames);
    return 1;
}

int chd_decompress(chd_codecs *k, uint32_t tag, const uint8_t *src, uint32_t len, uint8_t *dst) {
    uint32_t n = k->hunk_bytes;
    if (tag == chd_tag("zlib")) return inflate_all(k, src, len, dst, n);
    if (tag == chd_tag("lzma")) return unlzma_all(src, len, dst, n);
    if (tag == chd_tag("zstd")) return unzstd_all(k, src, len, dst, n);
    if (tag == chd_tag("huff")) return unhuff(k, src, len, dst, n);
    if (tag == chd_tag("flac")) {
        // The first byte says the samples' byte order: 'L'ittle or 'B'ig endian.
        uint32_t used;
        return len >= 1 && (src[0] == 'L' || src[0] == 'B') &&
               unflac(k, flac_block(n, 2048), src + 1, len - 1, dst, n, src[0] == 'B', &used);
    }
    // The CD codecs need whole frames.
    if (n % CD_FRAME) return 0;
    if (tag == chd_tag("cdzl")) return cd_decompress(k, BASE_DEFLATE, src, len, dst);
    if (tag == chd_tag("cdlz")) return cd_decompress(k, BASE_LZMA, src, len, dst);
    if (tag == chd_tag("cdzs")) return cd_decompress(k, BASE_ZSTD, src, len, dst);
    if (tag == chd_tag("cdfl")) return cdfl_decompress(k, src, len, dst);
    return 0;
}

// --- a raw sector's parity ---------------------------------------------------------------------
// Reed-Solomon over GF(2^8) (x^8 + x^4 + x^3 + x^2 + 1) on the 2340 bytes from the header on, as
// 1170 words of two bytes: P protects 86 columns of 24 words (2 parity words each, at 0x81C), Q
// 52 diagonals of 43 words (at 0x8C8, over the data and P).

enum { ECC_FROM = 12, ECC_P = 0x81C, ECC_Q = 0x8C8 };

static void ecc_block(uint8_t *sector, uint32_t majors, uint32_t minors, uint32_t major_step, uint32_t minor_step,
                      uint32_t dest) {
    static uint8_t mul2[256], div3[256];
    if (!mul2[1])
        for (int i = 0; i < 256; i++) {
            int j = (i << 1) ^ (i & 0x80 ? 0x11D : 0);
            mul2[i] = (uint8_t)j;
            div3[i ^ j] = (uint8_t)i;  // i * 3 = i ^ 2i, so this undoes a multiplication by 3
        }
    const uint8_t *src = sector + ECC_FROM;
    uint32_t size = majors * minors;
    for (uint32_t major = 0; major < majors; major++) {
        uint32_t at = (major >> 1) * major_step + (major & 1);
        uint8_t a = 0, b = 0;
        for (uint32_t minor = 0; minor < minors; minor++) {
            uint8_t v = src[at];
            at += minor_step;
            if (at >= size) at -= size;
            a = mul2[a ^ v];
            b ^= v;
        }
        a = div3[mul2[a] ^ b];
        sector[dest + major] = a;
        sector[dest + major + majors] = a ^ b;
    }
}

void cd_sector_regenerate(uint8_t *sector) {
    static const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    memcpy(sector, sync, sizeof sync);
    ecc_block(sector, 86, 24, 2, 86, ECC_P);
    ecc_block(sector, 52, 43, 86, 88, ECC_Q);
}
