// Builds small title pictures in memory, chunk by chunk, so a test can damage one field: the byte
// helpers, and IFF PBM pictures (FORM "PBM " with BMHD, CMAP and BODY chunks, big-endian sizes).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>

std::string le16s(unsigned v);
std::string le32s(uint32_t v);
std::string be16s(unsigned v);
std::string be32s(uint32_t v);
std::string bytes(std::initializer_list<int> v);
void put16(std::string *s, size_t at, unsigned v);  // little-endian, over the bytes at `at`
void put32(std::string *s, size_t at, uint32_t v);

// One IFF chunk: id, big-endian length, the data and a fill byte when the length is odd.
std::string ichunk(const char *id, const std::string &data);
// A BMHD chunk of an 8-plane picture of w x h with the given compression (0 stored, 1 ByteRun1).
std::string bmhd(int w, int h, int compression);
// The FORM around the chunks of a PBM picture.
std::string pbm(const std::string &chunks);
