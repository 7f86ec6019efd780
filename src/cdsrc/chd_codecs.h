// The hunk codecs of a CHD: the plain ones ("zlib" raw deflate, "lzma" raw LZMA, "zstd", "flac",
// "huff" bytes in a Huffman code, chd_huffman.h)
// and the CD ones ("cdzl", "cdlz", "cdzs", "cdfl"), which compress a hunk's sector data and its
// subcode apart and leave out the sync and ECC of sectors whose ECC was valid. Decompression by
// zlib, liblzma, libzstd and libFLAC; no platform headers.
#pragma once
#include <stdint.h>

struct chd_codecs;

// The decoders' state for hunks of hunk_bytes, kept from one hunk to the next; null when memory
// runs out.
chd_codecs *chd_codecs_new(uint32_t hunk_bytes);
void chd_codecs_free(chd_codecs *k);

// 1 for a codec tag this reader decompresses.
int chd_codec_known(uint32_t tag);

// Decompresses one hunk (len bytes of src) with the codec into dst (the hunk bytes given to
// chd_codecs_new). 1 when it came out whole.
int chd_decompress(chd_codecs *k, uint32_t tag, const uint8_t *src, uint32_t len, uint8_t *dst);

// A raw Mode 1 sector's sync and P/Q parity made again from its header, data and EDC (2352 bytes).
void cd_sector_regenerate(uint8_t *sector);
